#include "HostTestEnv.h"

#include <netinet/in.h>
#include <signal.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#include "platform/SharedMemory.h"
#include "platform/Sync.h"
#include "util/Md5.h"
#include "util/Paths.h"


namespace udra::hosttest {
namespace fs = std::filesystem;

namespace {

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  close(fd);
  return port;
}

bool PortAnswers(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

std::string Md5Hex(const std::string& data) { return Md5::HexDigest(data.data(), data.size()); }

namespace {

std::string ExecutableOf(int pid) {
  char target[4096];
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, size_t(n)) : std::string();
}

int ParentOf(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // "pid (comm) state ppid ...": the name may hold spaces and parentheses.
  const size_t close = text.rfind(')');
  int parent = -1;
  if (close != std::string::npos) std::sscanf(text.c_str() + close + 1, " %*c %d", &parent);
  return parent;
}

}  // namespace

int RunningPidOf(const std::string& path) {
  std::error_code error;
  const std::string wanted = std::filesystem::canonical(path, error).string();
  if (error) return -1;
  DIR* proc = opendir("/proc");
  int found = -1;
  while (dirent* entry = proc ? readdir(proc) : nullptr) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0 || ExecutableOf(pid) != wanted) continue;
    // A clone of the program is not another instance of it: the leak
    // checker of a sanitizer build forks one at exit, and killing that one
    // leaves its parent waiting for it for ever.
    if (ExecutableOf(ParentOf(pid)) == wanted) continue;
    found = pid;
  }
  if (proc) closedir(proc);
  return found;
}

Nginx::Nginx(const std::string& workFolder) : work_(workFolder) {}

Nginx::~Nginx() { Stop(); }

std::string Nginx::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::string Nginx::TlsUrl(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(tlsPort_) + "/" + path;
}

void Nginx::EnableTls(const std::string& certFile, const std::string& keyFile) {
  certFile_ = certFile;
  keyFile_ = keyFile;
}

std::string Nginx::TlsLog() const {
  std::ifstream in(work_ + "/tls.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Nginx::AccessLog() const {
  std::ifstream in(work_ + "/access.log");
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Nginx::Put(const std::string& path, const std::string& content) const {
  const fs::path file = fs::path(root()) / path;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
  return Md5Hex(content);
}

bool Nginx::Start() {
  fs::create_directories(root());
  fs::create_directories(work_ + "/tmp");
  port_ = FreePort();
  const std::string t = work_ + "/tmp";
  std::ofstream conf(work_ + "/nginx.conf");
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << work_ << "/nginx.pid;\n"
       << "error_log " << work_ << "/error.log warn;\n"
       << "events { worker_connections 512; }\n"
       << "http {\n"
       << "  log_format ranges '$request_uri $status \"$http_range\" \"$http_user_agent\"';\n"
       << "  access_log " << work_ << "/access.log ranges;\n"
       << "  client_body_temp_path " << t << "/body; proxy_temp_path " << t << "/proxy;\n"
       << "  fastcgi_temp_path " << t << "/fcgi; uwsgi_temp_path " << t << "/uwsgi; scgi_temp_path " << t
       << "/scgi;\n"
       << "  keepalive_requests 100000;\n"
       << "  server {\n    listen 127.0.0.1:" << port_ << ";\n    root " << root() << ";\n"
       << "    location /err500/ { return 500; }\n"
       << "    location /slow/ { limit_rate 2m; }\n  }\n";
  if (!certFile_.empty()) {
    tlsPort_ = FreePort();
    conf << "  log_format tls '$server_protocol $connection $request_uri $status $msec $request_time';\n"
         << "  server {\n    listen 127.0.0.1:" << tlsPort_ << " ssl http2;\n    root " << root() << ";\n"
         << "    location /slow/ { limit_rate 256k; }\n"
         << "    ssl_certificate " << certFile_ << ";\n    ssl_certificate_key " << keyFile_ << ";\n"
         << "    access_log " << work_ << "/tls.log tls;\n  }\n";
  }
  conf << "}\n";
  conf.close();
  const std::string confPath = work_ + "/nginx.conf";
  const std::string errPath = work_ + "/error.log";
  std::vector<std::string> args{"/usr/sbin/nginx", "-p", work_, "-c", confPath, "-e", errPath};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    // The server goes with the test process, also when that one dies.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  for (int i = 0; i < 300; ++i) {
    if (PortAnswers(port_) && (tlsPort_ == 0 || PortAnswers(tlsPort_))) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

void Nginx::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool MakeSelfSignedCertificate(const std::string& folder, std::string& certFile, std::string& keyFile) {
  certFile = folder + "/cert.pem";
  keyFile = folder + "/key.pem";
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key && cert;
  if (ok) {
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair<int, const char*>{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                     {NID_basic_constraints, "critical,CA:TRUE"}}) {
      X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
      ok = ok && ext && X509_add_ext(cert, ext, -1) == 1;
      X509_EXTENSION_free(ext);
    }
    ok = ok && X509_sign(cert, key, EVP_sha256()) > 0;
  }
  if (ok) {
    FILE* c = fopen(certFile.c_str(), "w");
    FILE* k = fopen(keyFile.c_str(), "w");
    ok = c && k && PEM_write_X509(c, cert) == 1 &&
         PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (c) fclose(c);
    if (k) fclose(k);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

StalledPort::StalledPort() {
  fd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd_, 16) == 0 &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port_ = ntohs(addr.sin_port);
}

StalledPort::~StalledPort() { close(fd_); }

Installation::Installation(const std::string& ini) {
  for (const char* name : {"UDRAHostApp.exe", "ZAV.dll", "LZMA.DLL"}) {
    const fs::path from = fs::path(UDRA_STAGE_DIR) / name;
    std::error_code ec;
    if (fs::exists(from)) fs::copy_file(from, fs::path(dir_.path()) / name, ec);
  }
  dir_.Write("UDRAHostApp.ini", ini);
  key_ = InstanceKeyOf(fs::canonical(dir_.path()).string());
}

// An orderly end first (SIGTERM), so that the host's shutdown runs in every
// test; SIGKILL only for a host that does not end.
Installation::~Installation() {
  if (host_ && kill(static_cast<pid_t>(host_->id()), SIGTERM) == 0 && host_->Wait(5000)) host_.reset();
  KillHost();
}

bool Installation::StartHost() {
  const std::string folder = fs::canonical(dir_.path()).string();
  host_ = platform::Process::Launch(folder + "/UDRAHostApp.exe", folder);
  return host_ != nullptr;
}

void Installation::KillHost() {
  if (!host_) return;
  host_->Terminate();
  host_->Wait(5000);
  host_.reset();
}

bool PipeClient::Connect(const std::string& key, uint32_t timeoutMs, int32_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  reading_ = false;
  do {
    pipe_ = platform::MessagePipe::Connect(key);
    if (pipe_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  if (!pipe_) return false;
  if (pid < 0) return true;
  return Send(MakeHello(pid ? static_cast<uint32_t>(pid) : static_cast<uint32_t>(getpid())));
}

bool PipeClient::Send(const PipeMsg& msg) {
  if (!pipe_) return false;
  switch (pipe_->StartWrite(&msg, msg.len)) {
    case platform::IoStatus::Done:
      return true;
    case platform::IoStatus::Pending: {
      platform::Waitable* one[] = {&pipe_->writeCompletion()};
      size_t written = 0;
      return platform::WaitForAny(one, 1, 5000) == 0 && pipe_->WriteResult(&written) == platform::IoStatus::Done;
    }
    default:
      return false;
  }
}

bool PipeClient::SendSync(int32_t id, const std::string& name, const std::string& url, int32_t size,
                          const std::string& digest, int32_t priority) {
  return Send(MakeSyncFile(id, name.c_str(), url.c_str(), priority, 0, size, digest.c_str()));
}

bool PipeClient::Receive(PipeMsg& out, uint32_t timeoutMs) {
  if (!pipe_) return false;
  if (!reading_) {
    if (!pipe_->StartRead()) return false;
    reading_ = true;
  }
  platform::Waitable* one[] = {&pipe_->readCompletion()};
  if (platform::WaitForAny(one, 1, timeoutMs) != 0) return false;
  const uint8_t* data = nullptr;
  size_t size = 0;
  const platform::IoStatus status = pipe_->ReadResult(&data, &size);
  if (status == platform::IoStatus::Pending) return false;
  reading_ = false;
  return status == platform::IoStatus::Done && PipeMsgFromWire(data, size, out);
}

std::vector<SyncReturnFields> PipeClient::WaitReturns(size_t count, uint32_t timeoutMs) {
  std::vector<SyncReturnFields> got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < count) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    PipeMsg msg;
    if (left <= 0 || !Receive(msg, static_cast<uint32_t>(left))) break;
    if (msg.cmd == CMD_SYNC_RETURN)
      got.push_back(ReadSyncReturn(msg));
    else
      other.push_back(msg);
  }
  return got;
}

StoreReader::StoreReader(const std::string& installFolder) {
  module_ = platform::LoadModule(installFolder + "/ZAV.dll");
  auto get = reinterpret_cast<GetZavFn>(platform::ModuleSymbol(module_, kGetZavExport));
  release_ = reinterpret_cast<ReleaseZavFn>(platform::ModuleSymbol(module_, kReleaseZavExport));
  if (!get || !release_) return;
  zav_ = get();
  if (zav_ && !zav_->Load((installFolder + "/UDRADownload").c_str())) {
    release_(zav_);
    zav_ = nullptr;
  }
}

StoreReader::~StoreReader() {
  if (zav_) {
    zav_->Close();
    release_(zav_);
  }
  platform::FreeModule(module_);
}

bool StoreReader::Read(const std::string& name, std::string& out) {
  const int32_t size = zav_ ? zav_->GetEntrySizeByName(name.c_str()) : -1;
  if (size < 0) return false;
  const int32_t handle = zav_->OpenEntry(name.c_str(), 1, 0);
  if (handle < 0) return false;
  out.assign(static_cast<size_t>(size), '\0');
  uint32_t inout = static_cast<uint32_t>(size);
  if (!zav_->ReadEntry(handle, out.data(), &inout)) return false;
  out.resize(inout);
  return true;
}

int32_t TableDoneBytes(const std::string& key, const std::string& name, uint32_t* offset) {
  auto memory = platform::SharedMemory::Open("Global\\DownloadingFileInfos_" + key, false);
  if (!memory) return -1;
  const auto* base = static_cast<const uint8_t*>(memory->MapView(0, 10485760));
  if (!base) return -1;
  for (uint32_t at = 0; at + 12 <= 10485760;) {
    uint32_t length = 0;
    memcpy(&length, base + at, 4);
    if (length == 0) break;
    if (strcasecmp(reinterpret_cast<const char*>(base + at + 12), name.c_str()) == 0) {
      int32_t done = 0;
      memcpy(&done, base + at + 4, 4);
      if (offset) *offset = at;
      return done;
    }
    at += length;
  }
  return -1;
}

}  // namespace udra::hosttest
