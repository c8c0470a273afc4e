// Winsock 2.
#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

namespace udra::platform {
namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  return sa;
}

int Clamp(size_t n) { return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n); }

long IoResult(int n) {
  if (n != SOCKET_ERROR) return n;
  int err = WSAGetLastError();
  if (err == WSAEWOULDBLOCK || err == WSAEINTR) return kSocketWouldBlock;
  return -1;
}

WaitResult SelectResult(int n) {
  if (n > 0) return WaitResult::Ready;
  if (n == 0) return WaitResult::Timeout;
  return WSAGetLastError() == WSAEINTR ? WaitResult::Interrupted : WaitResult::Failed;
}

timeval* MakeTimeout(int timeoutMs, timeval& tv) {
  if (timeoutMs < 0) return nullptr;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  return &tv;
}

}  // namespace

bool SocketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void SocketCleanup() { WSACleanup(); }

SocketHandle SocketCreate(SocketKind kind) {
  SOCKET s = kind == SocketKind::Stream ? socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)
                                        : socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  return static_cast<SocketHandle>(s);
}

bool SocketSetNonBlocking(SocketHandle s) {
  u_long on = 1;
  return ioctlsocket(Sock(s), FIONBIO, &on) == 0;
}

void SocketClose(SocketHandle s) {
  if (s != kInvalidSocket) closesocket(Sock(s));
}

bool SocketParseDotted(const char* text, uint32_t& address) {
  unsigned long a = inet_addr(text);
  if (a == INADDR_NONE) return false;
  address = static_cast<uint32_t>(a);
  return true;
}

bool SocketResolve(const char* host, uint32_t& address) {
  hostent* he = gethostbyname(host);
  if (!he || he->h_addrtype != AF_INET || he->h_length != 4 || !he->h_addr_list[0]) return false;
  in_addr a;
  memcpy(&a, he->h_addr_list[0], 4);
  address = a.s_addr;
  return true;
}

void SocketFormatAddress(uint32_t address, char* text, size_t size) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&address);
  std::snprintf(text, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  if (connect(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0) {
    return ConnectResult::Connected;
  }
  int err = WSAGetLastError();
  if (err == WSAEISCONN) return ConnectResult::Connected;
  if (err == WSAEWOULDBLOCK || err == WSAEINPROGRESS || err == WSAEALREADY) return ConnectResult::Pending;
  return ConnectResult::Failed;
}

int SocketPendingError(SocketHandle s) {
  int err = 0;
  int len = sizeof(err);
  if (getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) {
    return WSAGetLastError();
  }
  return err;
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  return bind(Sock(s), reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) == 0;
}

bool SocketLocalPort(SocketHandle s, uint16_t& port) {
  sockaddr_in sa{};
  int len = sizeof(sa);
  if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return false;
  port = ntohs(sa.sin_port);
  return true;
}

WaitResult SocketWait(SocketHandle s, bool forWrite, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(s), &set);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(Sock(s), &errors);
  timeval tv;
  // A failed non-blocking connect is reported in the exception set.
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors,
                 MakeTimeout(timeoutMs, tv));
  return SelectResult(n);
}

WaitResult SocketWaitAnyReadable(const SocketHandle* sockets, size_t count, int timeoutMs,
                                 bool* ready) {
  fd_set set;
  FD_ZERO(&set);
  for (size_t i = 0; i < count && i < FD_SETSIZE; ++i) FD_SET(Sock(sockets[i]), &set);
  timeval tv;
  WaitResult r = SelectResult(select(0, &set, nullptr, nullptr, MakeTimeout(timeoutMs, tv)));
  for (size_t i = 0; i < count; ++i) {
    ready[i] = r == WaitResult::Ready && FD_ISSET(Sock(sockets[i]), &set);
  }
  return r;
}

long SocketSend(SocketHandle s, const void* data, size_t length) {
  return IoResult(send(Sock(s), static_cast<const char*>(data), Clamp(length), 0));
}

long SocketReceive(SocketHandle s, void* buffer, size_t size) {
  return IoResult(recv(Sock(s), static_cast<char*>(buffer), Clamp(size), 0));
}

long SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port) {
  sockaddr_in sa = MakeAddress(address, port);
  return IoResult(sendto(Sock(s), static_cast<const char*>(data), Clamp(length), 0,
                         reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)));
}

long SocketReceiveFrom(SocketHandle s, void* buffer, size_t size, uint32_t& address, uint16_t& port) {
  sockaddr_in sa{};
  int len = sizeof(sa);
  int n = recvfrom(Sock(s), static_cast<char*>(buffer), Clamp(size), 0, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n != SOCKET_ERROR) {
    address = sa.sin_addr.s_addr;
    port = ntohs(sa.sin_port);
  }
  return IoResult(n);
}

}  // namespace udra::platform
