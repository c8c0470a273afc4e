#include "qos/QosSocket.h"

#include <cstring>

#include "platform/System.h"

namespace udra::qos {
namespace {

struct Named {
  const char* name;
  int value;
};

constexpr Named kProtocols[] = {{"tcp", 1}, {"udp", 2},  {"unix", 3}, {"pipe", 4},
                                {"file", 5}, {"shm", 6}, {"thttp", 7}};
constexpr Named kTypes[] = {{"stream", 1}, {"dgram", 2}, {"seqpacket", 5}, {"raw", 3}, {"rdm", 4}};

template <size_t N>
int Lookup(const Named (&table)[N], const std::string& name) {
  for (const Named& n : table) {
    if (name == n.name) return n.value;
  }
  return 0;
}

constexpr size_t kMaxProtocol = 15;
constexpr size_t kMaxAddress = 127;
constexpr size_t kMaxOptionName = 31;
constexpr size_t kMaxOptionValue = 255;
constexpr size_t kMaxHost = 127;

bool AllDigitsAndDots(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || c == '.')) return false;
  }
  return true;
}

}  // namespace

int ProtocolByName(const std::string& name) { return Lookup(kProtocols, name); }
int SocketTypeByName(const std::string& name) { return Lookup(kTypes, name); }

bool ParseSocketUrl(const std::string& url, SocketUrl& out) {
  out = SocketUrl{};
  size_t rest = 0;
  const size_t sep = url.find("://");
  if (sep == std::string::npos) {
    out.protocol = "tcp";
  } else {
    if (sep == 0 || sep > kMaxProtocol) return false;
    out.protocol = url.substr(0, sep);
    rest = sep + 3;
  }
  const size_t query = url.find('?', rest);
  out.address = url.substr(rest, query == std::string::npos ? std::string::npos : query - rest);
  if (out.address.size() > kMaxAddress) return false;
  if (query == std::string::npos) return true;
  size_t pos = query + 1;
  while (pos < url.size()) {
    size_t amp = url.find('&', pos);
    std::string item = url.substr(pos, amp == std::string::npos ? std::string::npos : amp - pos);
    if (item.empty()) break;
    const size_t eq = item.find('=');
    std::string name = item.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    if (name.size() > kMaxOptionName || value.size() > kMaxOptionValue) return false;
    out.options.emplace_back(std::move(name), std::move(value));
    if (amp == std::string::npos) break;
    pos = amp + 1;
  }
  return true;
}

bool ParseSocketAddress(const std::string& text, uint32_t& address, uint16_t& port) {
  const size_t colon = text.find(':');
  const std::string host = text.substr(0, colon);
  if (host.empty() || host.size() > kMaxHost) return false;
  port = 0;
  if (colon != std::string::npos) {
    // Decimal digits after the first ':' (atoi-like: stops at the first non-digit).
    uint32_t value = 0;
    for (size_t i = colon + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      value = value * 10 + static_cast<uint32_t>(text[i] - '0');
      if (value > 65535) return false;
    }
    port = static_cast<uint16_t>(value);
  }
  if (AllDigitsAndDots(host)) return platform::SocketParseDotted(host.c_str(), address);
  return platform::SocketResolve(host.c_str(), address);
}

SocketHandle OpenSocket(const std::string& url, int timeoutMs) {
  SocketUrl parsed;
  if (!ParseSocketUrl(url, parsed)) return platform::kInvalidSocket;
  const int protocol = ProtocolByName(parsed.protocol);
  platform::SocketKind kind;
  if (protocol == 1) {
    kind = platform::SocketKind::Stream;
  } else if (protocol == 2) {
    kind = platform::SocketKind::Datagram;
  } else {
    return platform::kInvalidSocket;  // known names without a usable socket, or unknown
  }
  SocketHandle s = platform::SocketCreate(kind);
  if (s == platform::kInvalidSocket) return s;
  uint32_t address = 0;
  uint16_t port = 0;
  bool ok = platform::SocketSetNonBlocking(s) && ParseSocketAddress(parsed.address, address, port);
  if (ok) {
    switch (platform::SocketConnect(s, address, port)) {
      case platform::ConnectResult::Connected:
        break;
      case platform::ConnectResult::Pending:
        ok = platform::SocketWait(s, true, timeoutMs) == platform::WaitResult::Ready &&
             platform::SocketPendingError(s) == 0;
        break;
      case platform::ConnectResult::Failed:
        ok = false;
        break;
    }
  }
  if (!ok) {
    platform::SocketClose(s);
    return platform::kInvalidSocket;
  }
  return s;
}

long SendSome(SocketHandle s, const void* data, size_t length, int timeoutMs) {
  if (timeoutMs != 0) {
    platform::WaitResult w = platform::SocketWait(s, true, timeoutMs);
    if (w == platform::WaitResult::Timeout) return 0;
    if (w != platform::WaitResult::Ready) return -1;
  }
  long n = platform::SocketSend(s, data, length);
  if (n > 0) return n;
  if (n == platform::kSocketWouldBlock) {
    if (timeoutMs != 0) platform::SleepMs(200);
    return 0;
  }
  return -1;
}

long ReceiveSome(SocketHandle s, void* buffer, size_t size, int timeoutMs) {
  if (timeoutMs != 0) {
    platform::WaitResult w = platform::SocketWait(s, false, timeoutMs);
    if (w == platform::WaitResult::Timeout || w == platform::WaitResult::Interrupted) return 0;
    if (w != platform::WaitResult::Ready) return -1;
  }
  long n = platform::SocketReceive(s, buffer, size);
  if (n > 0) return n;
  if (n == platform::kSocketWouldBlock) {
    if (timeoutMs != 0) platform::SleepMs(100);
    return 0;
  }
  return -1;
}

void CloseSocket(SocketHandle s) { platform::SocketClose(s); }

}  // namespace udra::qos
