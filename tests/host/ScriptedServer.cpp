#include "ScriptedServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace udra::hosttest {

std::string ScriptedRequest::Header(const std::string& name) const {
  size_t at = head.find("\r\n");
  while (at != std::string::npos) {
    const size_t begin = at + 2;
    const size_t end = head.find("\r\n", begin);
    const std::string line = head.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    const size_t colon = line.find(':');
    if (colon == name.size() && strncasecmp(line.c_str(), name.c_str(), name.size()) == 0) {
      size_t v = colon + 1;
      while (v < line.size() && line[v] == ' ') ++v;
      return line.substr(v);
    }
    at = end;
  }
  return {};
}

bool ScriptedConnection::Send(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    if (server_.stopping()) return false;
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ScriptedConnection::Answer(int status, const std::string& headers, const std::string& body) {
  return Send("HTTP/1.1 " + std::to_string(status) + " Scripted\r\n" + headers + "Connection: close\r\n\r\n" + body);
}

void ScriptedConnection::Hold() {
  char buffer[256];
  while (!server_.stopping()) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return;
  }
}

ScriptedServer::ScriptedServer(Handler handler) : handler_(std::move(handler)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(listenFd_, 64) == 0 &&
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  acceptor_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mu_);
    workers.swap(workers_);
  }
  for (std::thread& w : workers) w.join();
  close(listenFd_);
}

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::vector<ScriptedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mu_);
  return requests_;
}

std::vector<ScriptedRequest> ScriptedServer::RequestsFor(const std::string& path) const {
  std::vector<ScriptedRequest> out;
  for (const ScriptedRequest& r : Requests())
    if (r.path == path) out.push_back(r);
  return out;
}

void ScriptedServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mu_);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedServer::Serve(int fd) {
  std::string head;
  char buffer[4096];
  while (!stop_ && head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<size_t>(n));
  }
  const size_t end = head.find("\r\n\r\n");
  if (end != std::string::npos) {
    ScriptedRequest request;
    request.head = head.substr(0, end + 2);
    request.at = std::chrono::steady_clock::now();
    const size_t sp1 = head.find(' '), sp2 = head.find(' ', sp1 + 1);
    if (sp1 != std::string::npos && sp2 != std::string::npos) request.path = head.substr(sp1 + 2, sp2 - sp1 - 2);
    int index;
    {
      std::lock_guard<std::mutex> lock(mu_);
      index = static_cast<int>(requests_.size());
      requests_.push_back(request);
    }
    ScriptedConnection connection(fd, *this);
    handler_(request, index, connection);
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace udra::hosttest
