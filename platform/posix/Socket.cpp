// BSD sockets.
#include "platform/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace udra::platform {
namespace {

int Fd(SocketHandle s) { return static_cast<int>(s); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

bool WouldBlock(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

long IoResult(ssize_t n) {
  if (n >= 0) return static_cast<long>(n);
  if (WouldBlock(errno) || errno == EINTR) return kSocketWouldBlock;
  return -1;
}

WaitResult PollResult(int n) {
  if (n > 0) return WaitResult::Ready;
  if (n == 0) return WaitResult::Timeout;
  return errno == EINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

}  // namespace

bool SocketStartup() { return true; }
void SocketCleanup() {}

SocketHandle SocketCreate(SocketKind kind) {
  int fd = ::socket(AF_INET, kind == SocketKind::Stream ? SOCK_STREAM : SOCK_DGRAM, 0);
  if (fd < 0) return kInvalidSocket;
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  return fd;
}

bool SocketSetNonBlocking(SocketHandle s) {
  int flags = ::fcntl(Fd(s), F_GETFL, 0);
  return flags >= 0 && ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

void SocketClose(SocketHandle s) {
  if (s != kInvalidSocket) ::close(Fd(s));
}

bool SocketParseDotted(const char* text, uint32_t& address) {
  in_addr_t a = ::inet_addr(text);
  if (a == INADDR_NONE) return false;
  address = a;
  return true;
}

bool SocketResolve(const char* host, uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &list) != 0 || !list) return false;
  bool found = false;
  for (addrinfo* ai = list; ai; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addr) {
      address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  ::freeaddrinfo(list);
  return found;
}

void SocketFormatAddress(uint32_t address, char* text, size_t size) {
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
  std::snprintf(text, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  if (::connect(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0) {
    return ConnectResult::Connected;
  }
  if (errno == EISCONN) return ConnectResult::Connected;
  if (errno == EINPROGRESS || errno == EALREADY || WouldBlock(errno)) return ConnectResult::Pending;
  return ConnectResult::Failed;
}

int SocketPendingError(SocketHandle s) {
  int err = 0;
  socklen_t len = sizeof(err);
  if (::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno ? errno : -1;
  return err;
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  return ::bind(Fd(s), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool SocketLocalPort(SocketHandle s, uint16_t& port) {
  sockaddr_in sa{};
  socklen_t len = sizeof(sa);
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  port = ntohs(sa.sin_port);
  return true;
}

WaitResult SocketWait(SocketHandle s, bool forWrite, int timeoutMs) {
  pollfd p{};
  p.fd = Fd(s);
  p.events = forWrite ? POLLOUT : POLLIN;
  return PollResult(::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs));
}

WaitResult SocketWaitAnyReadable(const SocketHandle* sockets, size_t count, int timeoutMs,
                                 bool* ready) {
  std::vector<pollfd> fds(count);
  for (size_t i = 0; i < count; ++i) {
    fds[i].fd = Fd(sockets[i]);
    fds[i].events = POLLIN;
  }
  WaitResult r = PollResult(::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs));
  for (size_t i = 0; i < count; ++i) {
    ready[i] = r == WaitResult::Ready && (fds[i].revents & (POLLIN | POLLERR | POLLHUP)) != 0;
  }
  return r;
}

long SocketSend(SocketHandle s, const void* data, size_t length) {
  return IoResult(::send(Fd(s), data, length, MSG_NOSIGNAL));
}

long SocketReceive(SocketHandle s, void* buffer, size_t size) {
  return IoResult(::recv(Fd(s), buffer, size, 0));
}

long SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  return IoResult(::sendto(Fd(s), data, length, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&sa),
                           sizeof(sa)));
}

long SocketReceiveFrom(SocketHandle s, void* buffer, size_t size, uint32_t& address, uint16_t& port) {
  sockaddr_in sa{};
  socklen_t len = sizeof(sa);
  ssize_t n = ::recvfrom(Fd(s), buffer, size, 0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n >= 0) {
    address = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
  }
  return IoResult(n);
}

}  // namespace udra::platform
