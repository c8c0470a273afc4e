// The staged host against servers that misbehave: redirects, refused and
// ignored ranges, bodies in an encoding nobody asked for, Retry-After,
// endless bodies and silence. The servers are scripted on 127.0.0.1 (nginx
// where a real server shows the case).
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>

#include "HostTestEnv.h"
#include "ScriptedServer.h"
#include "host/HostErrors.h"
#include "util/Md5.h"

namespace udra::hosttest {
namespace {
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kIni[] =
    "[Host]\nMaxParallel=8\nMaxRetries=3\nRetryDelay=50\nConnectTimeout=2\n"
    "LowSpeedTimeout=2\nLowSpeedLimit=1\nResumeMinSize=65536\n";

std::string Gzip(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Chunked(const std::string& body) {
  char size[32];
  snprintf(size, sizeof size, "%zx\r\n", body.size());
  return size + body + "\r\n0\r\n\r\n";
}

std::string HttpDate(time_t when) {
  char text[64];
  tm parts{};
  gmtime_r(&when, &parts);
  strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

struct Timed {
  SyncReturnFields r;
  double seconds = 0;  // from the request to its answer
};

class HostileServerTest : public ::testing::Test {
 protected:
  void StartHost(const std::string& ini = kIni) {
    install = std::make_unique<Installation>(ini);
    ASSERT_TRUE(install->StartHost());
    ASSERT_TRUE(client.Connect(install->key()));
    // A first round trip: the store exists once the host answers.
    ASSERT_TRUE(client.Send(MakeTick()));
    PipeMsg values;
    ASSERT_TRUE(client.Receive(values, 5000));
  }
  std::string HostTemp() const { return install->folder() + "/UDRADownload/HostTemp"; }
  // Where the host keeps the partial file of `name` requested with `digest`.
  std::string PartPath(const std::string& name, const std::string& digest) const {
    const std::string id = LowerCase(name) + "|" + Upper(digest);
    return HostTemp() + "/" + Md5::HexDigest(id.data(), id.size()) + ".part";
  }
  void PutPart(const std::string& name, const std::string& digest, const std::string& bytes) {
    fs::create_directories(HostTemp());
    std::ofstream(PartPath(name, digest), std::ios::binary) << bytes;
  }
  void Sync(int32_t id, const std::string& name, const std::string& url, size_t size, const std::string& digest) {
    sent[id] = Clock::now();
    ASSERT_TRUE(client.SendSync(id, name, url, static_cast<int32_t>(size), digest));
  }
  std::map<int32_t, Timed> Wait(size_t count, uint32_t timeoutMs) {
    std::map<int32_t, Timed> out;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && Clock::now() < deadline) {
      for (const SyncReturnFields& r : client.WaitReturns(1, 200)) {
        out[r.syncId].r = r;
        out[r.syncId].seconds = std::chrono::duration<double>(Clock::now() - sent[r.syncId]).count();
      }
    }
    return out;
  }
  bool Stored(const std::string& name, std::string* bytes = nullptr) {
    StoreReader store(install->folder());
    std::string out;
    const bool ok = store.ok() && store.Read(name, out);
    if (bytes) *bytes = out;
    return ok;
  }

  test::TempDir work;
  std::unique_ptr<Installation> install;
  PipeClient client;
  std::map<int32_t, Clock::time_point> sent;
};

#define EXPECT_FAILED(t, code, kind)                                         \
  do {                                                                        \
    EXPECT_FALSE((t).r.ok);                                                   \
    EXPECT_EQ((t).r.errCode, code) << (t).r.errorText;                        \
    EXPECT_EQ((t).r.errKind, kind) << (t).r.errorText;                        \
  } while (0)

TEST_F(HostileServerTest, RedirectsAreFollowedToHttpButNeverToFile) {
  Nginx nginx(work.path() + "/nginx");
  ASSERT_TRUE(nginx.Start());
  const std::string body = RandomBytes(5000, 1);
  const std::string digest = nginx.Put("ok.bin", body);
  const std::string local = "file://" + nginx.root() + "/ok.bin";
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    if (q.path == "to-http") c.Answer(302, "Location: " + nginx.Url("ok.bin") + "\r\nContent-Length: 0\r\n", "");
    if (q.path == "to-file") c.Answer(302, "Location: " + local + "\r\nContent-Length: 0\r\n", "");
    if (q.path == "loop") c.Answer(302, "Location: /loop\r\nContent-Length: 0\r\n", "");
  });
  StartHost();
  Sync(1, "viahttp", server.Url("to-http"), body.size(), digest);
  Sync(2, "viafile", server.Url("to-file"), body.size(), digest);
  Sync(3, "loop", server.Url("loop"), body.size(), digest);
  auto r = Wait(3, 20000);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_TRUE(r[1].r.ok) << r[1].r.errorText;
  std::string stored;
  EXPECT_TRUE(Stored("viahttp", &stored) && stored == body);
  // A server must not make the host read the player's own files.
  EXPECT_FAILED(r[2], CURLE_UNSUPPORTED_PROTOCOL, host::kKindNetwork);
  EXPECT_FALSE(Stored("viafile"));
  EXPECT_EQ(server.RequestsFor("to-file").size(), 1u);  // not retried either
  EXPECT_FAILED(r[3], CURLE_TOO_MANY_REDIRECTS, host::kKindNetwork);
  EXPECT_LE(server.RequestsFor("loop").size(), 6u);  // the first request and at most five redirects
}

// A resumed request that the server does not continue must never add its
// answer to the partial file: the host throws the partial file away and
// fetches the whole file once more. The partial files here hold bytes that
// are not the file's, so anything kept of them would fail the MD5 check.
TEST_F(HostileServerTest, APartialFileTheServerDoesNotContinueStartsOver) {
  const std::string body = RandomBytes(300000, 2);
  const std::string digest = Md5Hex(body);
  const std::string wholeHead = "Content-Length: " + std::to_string(body.size()) + "\r\n";
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    const bool ranged = !q.Header("Range").empty();
    if (!ranged || q.path == "ignores") {
      c.Answer(200, wholeHead, body);  // "ignores" answers every request with the whole file
    } else if (q.path == "refuses") {
      c.Answer(416, "Content-Range: bytes */300000\r\nContent-Length: 19\r\n", "<html>416</html>\r\n");
    } else if (q.path == "refuses-empty") {
      c.Answer(416, "Content-Length: 0\r\n", "");
    } else if (q.path == "wrong-part") {
      c.Answer(206, "Content-Range: bytes 0-299999/300000\r\n" + wholeHead, body);
    }
  });
  StartHost();
  const std::vector<std::string> paths{"refuses", "refuses-empty", "ignores", "wrong-part"};
  for (size_t i = 0; i < paths.size(); ++i) PutPart(paths[i], digest, RandomBytes(100000, 100 + i));
  for (size_t i = 0; i < paths.size(); ++i) Sync(int32_t(i + 1), paths[i], server.Url(paths[i]), body.size(), digest);
  auto r = Wait(paths.size(), 20000);
  ASSERT_EQ(r.size(), paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    SCOPED_TRACE(paths[i]);
    EXPECT_TRUE(r[int32_t(i + 1)].r.ok) << r[int32_t(i + 1)].r.errorText;
    std::string stored;
    EXPECT_TRUE(Stored(paths[i], &stored) && stored == body);
    const auto requests = server.RequestsFor(paths[i]);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Range"), "bytes=100000-");
    EXPECT_EQ(requests[1].Header("Range"), "");
    EXPECT_FALSE(fs::exists(PartPath(paths[i], digest)));
  }
}

// The host never asks for an encoding and never undoes one: the bytes are
// checked and stored as they came. A compressed body fails the size or the
// MD5 check; a body merely labelled with an encoding is stored as it is.
TEST_F(HostileServerTest, BodiesInAnEncodingNobodyAskedForAreCheckedAsSent) {
  const std::string body = RandomBytes(50000, 3);
  const std::string packed = Gzip(body);
  const std::string digest = Md5Hex(body);
  const std::string text(40000, 'x');  // compresses well: its gzip is much shorter
  const std::string textPacked = Gzip(text);
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    const std::string gz = "Content-Encoding: gzip\r\n";
    if (q.path == "gz-length")
      c.Answer(200, gz + "Content-Length: " + std::to_string(packed.size()) + "\r\n", packed);
    if (q.path == "gz-chunked") c.Answer(200, gz + "Transfer-Encoding: chunked\r\n", Chunked(packed));
    if (q.path == "gz-same-size")
      c.Answer(200, gz + "Content-Length: " + std::to_string(textPacked.size()) + "\r\n", textPacked);
    if (q.path == "labelled") c.Answer(200, gz + "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
  });
  StartHost();
  Sync(1, "gzlength", server.Url("gz-length"), body.size(), digest);
  Sync(2, "gzchunked", server.Url("gz-chunked"), body.size(), digest);
  // The size asked for happens to be the compressed size: only the MD5 tells.
  Sync(3, "gzsamesize", server.Url("gz-same-size"), textPacked.size(), Md5Hex(text));
  Sync(4, "labelled", server.Url("labelled"), body.size(), digest);
  auto r = Wait(4, 20000);
  ASSERT_EQ(r.size(), 4u);
  EXPECT_FAILED(r[1], CURLE_WRITE_ERROR, host::kKindContent);
  EXPECT_FALSE(r[2].r.ok);
  EXPECT_EQ(r[2].r.errKind, host::kKindContent) << r[2].r.errorText;
  EXPECT_FAILED(r[3], 0, host::kKindContent);
  EXPECT_NE(r[3].r.errorText.find("MD5"), std::string::npos) << r[3].r.errorText;
  EXPECT_TRUE(r[4].r.ok) << r[4].r.errorText;
  std::string stored;
  EXPECT_TRUE(Stored("labelled", &stored) && stored == body);
  for (const char* name : {"gzlength", "gzchunked", "gzsamesize"}) EXPECT_FALSE(Stored(name)) << name;
  for (const ScriptedRequest& q : server.Requests()) EXPECT_EQ(q.Header("Accept-Encoding"), "") << q.path;
}

TEST_F(HostileServerTest, RetryAfterIsHonouredWithinItsBoundAndFailsAtOnceBeyondIt) {
  const std::string body = RandomBytes(4000, 4);
  const std::string digest = Md5Hex(body);
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    const bool first = server.RequestsFor(q.path).size() == 1;
    const std::string none = "Content-Length: 0\r\n";
    if ((q.path == "busy" || q.path == "busy-date") && !first) {
      c.Answer(200, "Content-Length: " + std::to_string(body.size()) + "\r\n", body);
    } else if (q.path == "busy") {
      c.Answer(503, "Retry-After: 2\r\n" + none, "");
    } else if (q.path == "busy-date") {
      c.Answer(429, "Retry-After: " + HttpDate(time(nullptr) + 3) + "\r\n" + none, "");
    } else if (q.path == "away") {
      c.Answer(503, "Retry-After: 3600\r\n" + none, "");
    } else if (q.path == "away-date") {
      c.Answer(429, "Retry-After: " + HttpDate(time(nullptr) + 3600) + "\r\n" + none, "");
    } else if (q.path == "plain") {
      c.Answer(503, none, "");
    }
  });
  StartHost();
  const std::vector<std::string> paths{"busy", "busy-date", "away", "away-date", "plain"};
  for (size_t i = 0; i < paths.size(); ++i) Sync(int32_t(i + 1), paths[i], server.Url(paths[i]), body.size(), digest);
  auto r = Wait(paths.size(), 30000);
  ASSERT_EQ(r.size(), paths.size());

  // Within the bound: waited for as long as asked, then fetched.
  for (int id : {1, 2}) {
    EXPECT_TRUE(r[id].r.ok) << paths[id - 1] << ": " << r[id].r.errorText;
    const auto requests = server.RequestsFor(paths[id - 1]);
    ASSERT_EQ(requests.size(), 2u) << paths[id - 1];
    const double gap = std::chrono::duration<double>(requests[1].at - requests[0].at).count();
    EXPECT_GE(gap, id == 1 ? 1.9 : 1.0) << paths[id - 1];  // a date counts in whole seconds
  }
  // Beyond it: one request, answered at once.
  for (int id : {3, 4}) {
    EXPECT_FAILED(r[id], CURLE_HTTP_RETURNED_ERROR, host::kKindNetwork);
    EXPECT_NE(r[id].r.errorText.find("retry after"), std::string::npos) << r[id].r.errorText;
    EXPECT_EQ(server.RequestsFor(paths[id - 1]).size(), 1u) << paths[id - 1];
    EXPECT_LT(r[id].seconds, 5.0) << paths[id - 1];
  }
  // Without the header: the usual back-off, MaxRetries more attempts.
  EXPECT_FAILED(r[5], CURLE_HTTP_RETURNED_ERROR, host::kKindNetwork);
  EXPECT_EQ(server.RequestsFor("plain").size(), 4u);
}

// A server that sends more than the file, without end, is cut off when the
// body passes the size asked for, in memory and in a partial file alike;
// nothing is kept of it.
TEST_F(HostileServerTest, EndlessBodiesStopAtTheExpectedSize) {
  std::atomic<int> ended{0};
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    const std::string chunk = RandomBytes(16384, 5);
    if (q.path == "chunked") {
      char size[16];
      snprintf(size, sizeof size, "%zx\r\n", chunk.size());
      if (c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"))
        while (c.Send(size + chunk + "\r\n")) {
        }
    } else {
      if (c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n"))
        while (c.Send(chunk)) {
        }
    }
    if (!server.stopping()) ++ended;  // the host closed the connection
  });
  StartHost();
  Sync(1, "endless-memory", server.Url("chunked"), 20000, std::string(32, 'a'));
  Sync(2, "endless-part", server.Url("unframed"), 200000, std::string(32, 'b'));
  auto r = Wait(2, 20000);
  ASSERT_EQ(r.size(), 2u);
  for (int id : {1, 2}) {
    EXPECT_FAILED(r[id], CURLE_WRITE_ERROR, host::kKindContent);
    EXPECT_LT(r[id].seconds, 20.0);
  }
  EXPECT_EQ(server.Requests().size(), 2u);  // not retried
  for (int i = 0; i < 50 && ended < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ended.load(), 2);
  EXPECT_FALSE(Stored("endless-memory"));
  EXPECT_FALSE(Stored("endless-part"));
  EXPECT_FALSE(fs::exists(PartPath("endless-part", std::string(32, 'b'))));
}

// A server that says nothing is tried twice, not MaxRetries + 1 times; one
// that makes progress before it stalls keeps every retry (and would resume).
// (One byte of progress: libcurl judges the speed over several seconds.)
TEST_F(HostileServerTest, SilentServersAreTriedTwiceAndProgressKeepsTheRetries) {
  ScriptedServer server([&](const ScriptedRequest& q, int, ScriptedConnection& c) {
    if (q.path == "trickle") c.Send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1, 't'));
    c.Hold();
  });
  StartHost("[Host]\nMaxRetries=3\nRetryDelay=50\nConnectTimeout=2\nLowSpeedTimeout=1\nLowSpeedLimit=1\n");
  Sync(1, "silent", server.Url("silent"), 5000, std::string(32, 'c'));
  Sync(2, "trickle", server.Url("trickle"), 5000, std::string(32, 'd'));
  auto r = Wait(2, 30000);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_FAILED(r[1], CURLE_OPERATION_TIMEDOUT, host::kKindNetwork);
  EXPECT_FAILED(r[2], CURLE_OPERATION_TIMEDOUT, host::kKindNetwork);
  EXPECT_EQ(server.RequestsFor("silent").size(), 2u);
  EXPECT_EQ(server.RequestsFor("trickle").size(), 4u);
  EXPECT_LT(r[1].seconds, 10.0);

}

// With the settings a player gets, a server that accepts and never answers
// holds a sync for about 20 s, not for minutes.
TEST_F(HostileServerTest, WithTheDefaultsASilentServerFailsWithinHalfAMinute) {
  ScriptedServer server([](const ScriptedRequest&, int, ScriptedConnection& c) { c.Hold(); });
  StartHost("");
  Sync(1, "silent", server.Url("silent"), 5000, std::string(32, 'e'));
  auto r = Wait(1, 60000);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_FAILED(r[1], CURLE_OPERATION_TIMEDOUT, host::kKindNetwork);
  EXPECT_LT(r[1].seconds, 30.0);
}

}  // namespace
}  // namespace udra::hosttest
