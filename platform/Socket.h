// IPv4 sockets (BSD sockets / Winsock 2): just what the QoS transport and its
// collector tool need. Every socket here is non-blocking once
// SocketSetNonBlocking has been called; results never throw.
#pragma once

#include <cstddef>
#include <cstdint>

namespace udra::platform {

using SocketHandle = intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts and stops the platform's socket library (Winsock 2.0; nothing on
// POSIX). Calls nest.
bool SocketStartup();
void SocketCleanup();

enum class SocketKind { Stream, Datagram };

SocketHandle SocketCreate(SocketKind kind);
bool SocketSetNonBlocking(SocketHandle s);
void SocketClose(SocketHandle s);

// IPv4 addresses are in network byte order.
// A dotted-number text ("a.b.c.d" in inet_addr's forms); 255.255.255.255 and
// malformed text are refused.
bool SocketParseDotted(const char* text, uint32_t& address);
// The first IPv4 address of a host name.
bool SocketResolve(const char* host, uint32_t& address);
// "a.b.c.d"
void SocketFormatAddress(uint32_t address, char* text, size_t size);

enum class ConnectResult { Connected, Pending, Failed };
ConnectResult SocketConnect(SocketHandle s, uint32_t address, uint16_t port);
// The socket's pending error after a connect completed (0: none).
int SocketPendingError(SocketHandle s);

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port);
// The local port a bound socket got.
bool SocketLocalPort(SocketHandle s, uint16_t& port);

enum class WaitResult { Ready, Timeout, Interrupted, Failed };
// Waits until the socket is readable (or writable). timeoutMs < 0: no limit.
WaitResult SocketWait(SocketHandle s, bool forWrite, int timeoutMs);
// Waits until any of `count` sockets is readable; ready[i] tells which.
WaitResult SocketWaitAnyReadable(const SocketHandle* sockets, size_t count, int timeoutMs,
                                 bool* ready);

// One send or receive. Returns the byte count (possibly 0), kSocketWouldBlock
// when the call would block, or -1 on error (a refused datagram included).
constexpr long kSocketWouldBlock = -2;
long SocketSend(SocketHandle s, const void* data, size_t length);
long SocketReceive(SocketHandle s, void* buffer, size_t size);
long SocketSendTo(SocketHandle s, const void* data, size_t length, uint32_t address, uint16_t port);
long SocketReceiveFrom(SocketHandle s, void* buffer, size_t size, uint32_t& address, uint16_t& port);

}  // namespace udra::platform
