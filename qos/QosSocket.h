// Sockets opened from URL strings "proto://host:port?name=value&...".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/Socket.h"

namespace udra::qos {

using platform::SocketHandle;

// Protocol numbers by name: tcp 1, udp 2, unix 3, pipe 4, file 5, shm 6, thttp 7.
int ProtocolByName(const std::string& name);
// Socket type numbers by name: stream 1, dgram 2, raw 3, rdm 4, seqpacket 5.
int SocketTypeByName(const std::string& name);

struct SocketUrl {
  std::string protocol;  // "tcp" when the URL names none
  std::string address;   // up to the '?'
  std::vector<std::pair<std::string, std::string>> options;
};

// Protocol 1..15 characters, address at most 127, option names at most 31 and
// values at most 255 characters; parsing of options stops at an empty item.
bool ParseSocketUrl(const std::string& url, SocketUrl& out);

// "host:port": host at most 127 characters, port the decimal number after the
// first ':' (0 when absent). Dotted hosts are converted directly, other names
// resolved (first IPv4 address).
bool ParseSocketAddress(const std::string& text, uint32_t& address, uint16_t& port);

// Creates a non-blocking tcp or udp socket and connects it, waiting up to
// `timeoutMs` for a pending connect. Returns the socket or kInvalidSocket.
SocketHandle OpenSocket(const std::string& url, int timeoutMs);

// With a non-zero timeout, waits that long for the socket (-1: no limit) and
// returns 0 on expiry; then sends (receives) once. Returns the byte count, -1
// for an error or 0 bytes, 0 when the call would block (after a short pause
// when the timeout is non-zero).
long SendSome(SocketHandle s, const void* data, size_t length, int timeoutMs);
long ReceiveSome(SocketHandle s, void* buffer, size_t size, int timeoutMs);

void CloseSocket(SocketHandle s);

}  // namespace udra::qos
