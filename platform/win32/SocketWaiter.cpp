// select over the watched sockets plus a datagram socket connected to itself
// for the wake-up. select rather than WSAPoll: WSAPoll of older Windows
// versions never reports a connect that failed, which would hold such a
// transfer until its connect timeout; select reports it in the error set.
#define FD_SETSIZE 1024  // Winsock's sets are arrays of this many sockets
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/SocketWaiter.h"

namespace udra::platform {
namespace {

// The sets are filled directly: FD_SET searches the set for a duplicate on
// every call, which is quadratic in the number of sockets.
void Add(fd_set& set, SOCKET s) {
  if (set.fd_count < FD_SETSIZE) set.fd_array[set.fd_count++] = s;
}

class SelectWaiter final : public SocketWaiter {
 public:
  explicit SelectWaiter(SOCKET wake) : wake_(wake), sets_(new Sets) {}
  ~SelectWaiter() override {
    closesocket(wake_);
    delete sets_;
    WSACleanup();
  }

  void Wake() override {
    const char one = 1;
    send(wake_, &one, 1, 0);  // a full queue wakes all the same
  }

  void Wait(const std::vector<WatchedSocket>& watched, int timeoutMs, std::vector<ReadySocket>& ready) override {
    fd_set& reads = sets_->reads;
    fd_set& writes = sets_->writes;
    fd_set& errors = sets_->errors;
    reads.fd_count = writes.fd_count = errors.fd_count = 0;
    Add(reads, wake_);
    // Beyond the set's size a socket is not watched this turn; libcurl's own
    // timeouts still end its transfer. The host keeps far fewer open.
    for (const WatchedSocket& w : watched) {
      const SOCKET s = static_cast<SOCKET>(w.socket);
      if (w.read) Add(reads, s);
      if (w.write) Add(writes, s);
      Add(errors, s);
    }
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = select(0, &reads, writes.fd_count ? &writes : nullptr, &errors, timeoutMs < 0 ? nullptr : &tv);
    if (n == SOCKET_ERROR) {
      // A socket closed without being taken out makes the whole call fail:
      // find it alone, so the others are still served.
      if (WSAGetLastError() == WSAENOTSOCK) ReportInvalid(watched, ready);
      return;
    }
    if (n == 0) return;
    // select leaves only the ready sockets in each set: walk those, not the
    // watched list (FD_ISSET is a search of the set).
    for (u_int i = 0; i < reads.fd_count; ++i) {
      if (reads.fd_array[i] == wake_)
        Drain();
      else
        Mark(ready, reads.fd_array[i]).readable = true;
    }
    for (u_int i = 0; i < writes.fd_count; ++i) Mark(ready, writes.fd_array[i]).writable = true;
    for (u_int i = 0; i < errors.fd_count; ++i) Mark(ready, errors.fd_array[i]).failed = true;
  }

 private:
  struct Sets {
    fd_set reads, writes, errors;  // 12 KiB together: kept off the stack
  };

  // The entry of `s` among this wait's ready sockets (which are few).
  static ReadySocket& Mark(std::vector<ReadySocket>& ready, SOCKET s) {
    for (size_t i = ready.size(); i-- > 0;)
      if (ready[i].socket == static_cast<SocketHandle>(s)) return ready[i];
    ready.push_back({static_cast<SocketHandle>(s), false, false, false, false});
    return ready.back();
  }

  void Drain() {
    char buffer[64];
    while (recv(wake_, buffer, sizeof buffer, 0) > 0) {
    }
  }

  static void ReportInvalid(const std::vector<WatchedSocket>& watched, std::vector<ReadySocket>& ready) {
    for (const WatchedSocket& w : watched) {
      int type = 0;
      int length = sizeof type;
      if (getsockopt(static_cast<SOCKET>(w.socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) ==
              SOCKET_ERROR &&
          WSAGetLastError() == WSAENOTSOCK)
        ready.push_back({w.socket, false, false, false, true});
    }
  }

  SOCKET wake_;
  Sets* sets_;
};

// A datagram socket on the loopback address, connected to itself.
SOCKET MakeWakeSocket() {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  u_long nonBlocking = 1;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

}  // namespace

std::unique_ptr<SocketWaiter> SocketWaiter::Create() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;
  const SOCKET wake = MakeWakeSocket();
  if (wake == INVALID_SOCKET) {
    WSACleanup();
    return nullptr;
  }
  return std::make_unique<SelectWaiter>(wake);
}

}  // namespace udra::platform
