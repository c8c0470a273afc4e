// The staged udra-qosd collector beside a test: a free UDP port on
// 127.0.0.1 to give it, and the wait for the line it prints once it listens.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Socket.h"

namespace udra::test {

// 0 when no port could be had.
inline uint16_t FreeUdpPort() {
  platform::SocketHandle s = platform::SocketCreate(platform::SocketKind::Datagram);
  uint32_t loopback = 0;
  platform::SocketParseDotted("127.0.0.1", loopback);
  uint16_t port = 0;
  if (!platform::SocketBind(s, loopback, 0) || !platform::SocketLocalPort(s, port)) port = 0;
  platform::SocketClose(s);
  return port;
}

// Waits up to `timeoutMs` for "listening" in the collector's standard error,
// which goes to `errFile`; `text` gets what the file holds by then.
inline bool WaitUntilListening(const std::string& errFile, int timeoutMs, std::string& text) {
  for (int waited = 0;; waited += 20) {
    platform::ReadWholeFile(errFile, text);
    if (text.find("listening") != std::string::npos) return true;
    if (waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace udra::test
