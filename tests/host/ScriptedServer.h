// A small HTTP server on 127.0.0.1 whose answers a test writes byte by byte,
// for the misbehaviour a real server will not show: refused or ignored
// ranges, Retry-After, endless or falsely encoded bodies, silence. One
// request per connection; every request is recorded.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace udra::hosttest {

struct ScriptedRequest {
  std::string path;
  std::string head;  // the request line and headers as received
  std::chrono::steady_clock::time_point at;
  // The value of header `name` (case ignored), empty when absent.
  std::string Header(const std::string& name) const;
};

class ScriptedServer;

// One connection as the handler sees it.
class ScriptedConnection {
 public:
  ScriptedConnection(int fd, const ScriptedServer& server) : fd_(fd), server_(server) {}
  // False once the peer has gone or the server is stopping.
  bool Send(const std::string& bytes);
  // A status line, the headers given and Connection: close, then `body`.
  bool Answer(int status, const std::string& headers, const std::string& body);
  // Waits, sending nothing, until the peer closes or the server stops.
  void Hold();

 private:
  int fd_;
  const ScriptedServer& server_;
};

class ScriptedServer {
 public:
  // `handler` gets every request with its number (0 for the first the
  // server received) and answers it; the connection closes when it returns.
  using Handler = std::function<void(const ScriptedRequest&, int index, ScriptedConnection&)>;
  explicit ScriptedServer(Handler handler);
  ~ScriptedServer();
  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  std::vector<ScriptedRequest> Requests() const;
  std::vector<ScriptedRequest> RequestsFor(const std::string& path) const;
  bool stopping() const { return stop_; }

 private:
  void AcceptLoop();
  void Serve(int fd);

  Handler handler_;
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  mutable std::mutex mu_;
  std::vector<std::thread> workers_;
  std::vector<int> open_;
  std::vector<ScriptedRequest> requests_;
};

}  // namespace udra::hosttest
