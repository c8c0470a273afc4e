// What the host's integration tests run against: a private nginx on
// 127.0.0.1, an installation folder holding the staged host and store, a
// pipe client that plays the library's part, and a reader of the store.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/IZav.h"
#include "hostlink/PipeMsg.h"
#include "platform/MessagePipe.h"
#include "platform/Module.h"
#include "platform/Process.h"
#include "support/TempDir.h"

namespace udra::hosttest {

// nginx with its own configuration, prefix, logs and a free port; serves
// `root`. /err500/ always answers 500; /slow/ sends 2 MiB/s per connection.
class Nginx {
 public:
  explicit Nginx(const std::string& workFolder);
  ~Nginx();
  // Before Start: also serve the root over https with HTTP/2 on a second
  // port, with this certificate and key (PEM files).
  void EnableTls(const std::string& certFile, const std::string& keyFile);
  bool Start();
  void Stop();
  int port() const { return port_; }
  int tlsPort() const { return tlsPort_; }
  std::string Url(const std::string& path) const;
  std::string TlsUrl(const std::string& path) const;
  // The https server's log: "protocol connection-number uri status" per line.
  std::string TlsLog() const;
  std::string root() const { return work_ + "/www"; }
  std::string AccessLog() const;
  // Writes a file below the root and returns its MD5 in hexadecimal.
  std::string Put(const std::string& path, const std::string& content) const;

 private:
  std::string work_;
  int port_ = 0;
  int tlsPort_ = 0;
  std::string certFile_, keyFile_;
  pid_t pid_ = -1;
};

// Writes a self-signed certificate for 127.0.0.1 (and localhost), valid for
// a day, and its key into `folder` as cert.pem and key.pem; false when
// OpenSSL could not make them.
bool MakeSelfSignedCertificate(const std::string& folder, std::string& certFile, std::string& keyFile);

// A port on 127.0.0.1 that accepts connections into its backlog but never
// answers: every request to it stalls.
class StalledPort {
 public:
  StalledPort();
  ~StalledPort();
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

std::string RandomBytes(size_t size, uint32_t seed);
std::string Md5Hex(const std::string& data);
// Process id of a running process whose executable is `path`, -1 when none.
int RunningPidOf(const std::string& path);

// An installation folder with UDRAHostApp.exe, ZAV.dll and LZMA.DLL copied
// from the staging folder and a UDRAHostApp.ini of the test's choosing.
class Installation {
 public:
  explicit Installation(const std::string& ini);
  ~Installation();
  std::string folder() const { return dir_.path(); }
  std::string key() const { return key_; }
  // Starts the host; false when it could not be started.
  bool StartHost();
  platform::Process* host() { return host_.get(); }
  void KillHost();

 private:
  test::TempDir dir_;
  std::string key_;
  std::unique_ptr<platform::Process> host_;
};

// The library's side of the pipe.
class PipeClient {
 public:
  // Connects, retrying for up to `timeoutMs` while the host comes up, and
  // sends CMD_HELLO with `pid` (0: this process; -1: no CMD_HELLO, as after
  // a host restart).
  bool Connect(const std::string& key, uint32_t timeoutMs = 5000, int32_t pid = 0);
  void Disconnect() { pipe_.reset(); }
  bool Send(const PipeMsg& msg);
  bool SendSync(int32_t id, const std::string& name, const std::string& url, int32_t size,
                const std::string& digest, int32_t priority = 0);
  // Receives one record within `timeoutMs`; false on timeout or a broken pipe.
  bool Receive(PipeMsg& out, uint32_t timeoutMs);
  // Collects CMD_SYNC_RETURN records until `count` have arrived; others are
  // kept in `other`.
  std::vector<SyncReturnFields> WaitReturns(size_t count, uint32_t timeoutMs);
  std::vector<PipeMsg> other;

 private:
  std::unique_ptr<platform::MessagePipe> pipe_;
  bool reading_ = false;
};

// The installation's store opened through the staged ZAV.dll.
class StoreReader {
 public:
  explicit StoreReader(const std::string& installFolder);
  ~StoreReader();
  bool ok() const { return zav_ != nullptr; }
  bool Read(const std::string& name, std::string& out);

 private:
  platform::ModuleHandle module_ = nullptr;
  IZav* zav_ = nullptr;
  ReleaseZavFn release_ = nullptr;
};

// doneBytes of `name` in the installation's downloading-file table, -1 when
// it has no entry; `offset` receives the entry's offset.
int32_t TableDoneBytes(const std::string& key, const std::string& name, uint32_t* offset = nullptr);

}  // namespace udra::hosttest
