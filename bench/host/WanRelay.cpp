#include "WanRelay.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <map>
#include <random>
#include <string>

namespace udra::wanbench {
namespace {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::duration<double>;

constexpr size_t kReadSize = 16384;
constexpr double kPacket = 1448;

Clock::duration ToDuration(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(Duration(seconds));
}

struct Chunk {
  Clock::time_point due;
  std::string data;  // empty: the sender's end of stream
  size_t sent = 0;
};

// One direction of one connection: bytes read from `from`, written to `to`.
struct Direction {
  int from = -1, to = -1;
  std::deque<Chunk> queue;
  size_t queued = 0;
  bool readEnded = false;   // `from` reached its end (its end chunk is queued)
  bool writeEnded = false;  // the end was passed on to `to`
  bool blocked = false;     // `to` would block: waiting for EPOLLOUT
  Clock::time_point lastDue{};
};

struct Connection {
  Direction up, down;  // client to server, server to client
  Clock::time_point openedAt;
  uint32_t maskClient = 0, maskServer = 0;
};

}  // namespace

struct WanRelay::Loop {
  LinkModel model;
  int listener = -1, wake = -1, epoll = -1, upstreamPort = 0;
  std::atomic<bool> stop{false};
  std::map<uint64_t, std::unique_ptr<Connection>> connections;  // by id
  uint64_t nextId = 1;
  Clock::time_point linkFree[2]{};  // per direction: 0 up, 1 down
  std::mt19937_64 rng;
  std::uniform_real_distribution<double> uniform{0.0, 1.0};
  std::atomic<uint64_t> nConnections{0}, bytesUp{0}, bytesDown{0}, lost{0};

  // epoll data: connection id << 1 | 1 for its server side.
  static uint64_t Tag(uint64_t id, bool server) { return id << 1 | (server ? 1 : 0); }

  void Run();
  void Accept();
  void Close(uint64_t id);
  bool ReadSide(Connection& c, Direction& d, bool downward);
  bool WriteDue(Direction& d, Clock::time_point now);
  void UpdateInterest(uint64_t id, Connection& c);
  Clock::time_point Schedule(Connection& c, size_t size, bool downward);
};

WanRelay::WanRelay(int upstreamPort, const LinkModel& model) : upstreamPort_(upstreamPort), model_(model) {}

WanRelay::~WanRelay() { Stop(); }

bool WanRelay::Start() {
  loop_ = std::make_unique<Loop>();
  Loop& l = *loop_;
  l.model = model_;
  l.upstreamPort = upstreamPort_;
  l.rng.seed(model_.seed);
  l.listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (l.listener < 0 || bind(l.listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(l.listener, 512) != 0 || getsockname(l.listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    return false;
  port_ = ntohs(addr.sin_port);
  l.wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  l.epoll = epoll_create1(EPOLL_CLOEXEC);
  if (l.wake < 0 || l.epoll < 0) return false;
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = 0;  // the listener (connection ids start at 1)
  epoll_ctl(l.epoll, EPOLL_CTL_ADD, l.listener, &ev);
  ev.data.u64 = 1;  // the wake-up
  epoll_ctl(l.epoll, EPOLL_CTL_ADD, l.wake, &ev);
  thread_ = std::thread([&l] { l.Run(); });
  return true;
}

void WanRelay::Stop() {
  if (!loop_) return;
  loop_->stop = true;
  if (loop_->wake >= 0) {
    const uint64_t one = 1;
    (void)!write(loop_->wake, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  for (auto& [id, c] : loop_->connections) {
    close(c->up.from);
    close(c->up.to);
  }
  for (int fd : {loop_->listener, loop_->wake, loop_->epoll})
    if (fd >= 0) close(fd);
  loop_.reset();
}

WanRelay::Counters WanRelay::counters() const {
  Counters out;
  if (!loop_) return out;
  out.connections = loop_->nConnections;
  out.bytesUp = loop_->bytesUp;
  out.bytesDown = loop_->bytesDown;
  out.lostChunks = loop_->lost;
  return out;
}

void WanRelay::Loop::Accept() {
  for (;;) {
    const int client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return;
    const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(upstreamPort));
    if (server < 0 || connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      close(client);
      if (server >= 0) close(server);
      continue;
    }
    fcntl(server, F_SETFL, fcntl(server, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->up.from = c->down.to = client;
    c->up.to = c->down.from = server;
    c->openedAt = Clock::now();
    const uint64_t id = nextId++;
    epoll_event ev{};
    ev.data.u64 = Tag(id, false);
    epoll_ctl(epoll, EPOLL_CTL_ADD, client, &ev);
    ev.data.u64 = Tag(id, true);
    epoll_ctl(epoll, EPOLL_CTL_ADD, server, &ev);
    UpdateInterest(id, *c);
    connections[id] = std::move(c);
    ++nConnections;
  }
}

void WanRelay::Loop::Close(uint64_t id) {
  auto it = connections.find(id);
  if (it == connections.end()) return;
  close(it->second->up.from);
  close(it->second->up.to);
  connections.erase(it);
}

// When a chunk of `size` bytes read now arrives at the other side.
Clock::time_point WanRelay::Loop::Schedule(Connection& c, size_t size, bool downward) {
  const Clock::time_point now = Clock::now();
  Direction& d = downward ? c.down : c.up;
  Clock::time_point& free = linkFree[downward ? 1 : 0];
  const Clock::duration serial = ToDuration(static_cast<double>(size) / model.bytesPerSecond);
  const Clock::duration oneWay = ToDuration(model.roundTripSeconds / 2);
  free = std::max(free, now) + serial;
  Clock::time_point due = free + oneWay;
  if (!downward) due = std::max(due, c.openedAt + ToDuration(model.roundTripSeconds) + oneWay);
  if (size > 0 && model.lossRate > 0) {
    const double packets = std::ceil(static_cast<double>(size) / kPacket);
    if (uniform(rng) < 1.0 - std::pow(1.0 - model.lossRate, packets)) {
      due += ToDuration(model.roundTripSeconds);
      free += serial;
      ++lost;
    }
  }
  due = std::max(due, d.lastDue);
  d.lastDue = due;
  return due;
}

// Reads what `d.from` has, up to the queue's cap; false when the connection
// is to be closed.
bool WanRelay::Loop::ReadSide(Connection& c, Direction& d, bool downward) {
  char buffer[kReadSize];
  while (!d.readEnded && d.queued < WanRelay::kQueueCap) {
    const ssize_t n = read(d.from, buffer, sizeof buffer);
    if (n > 0) {
      Chunk chunk;
      chunk.data.assign(buffer, static_cast<size_t>(n));
      chunk.due = Schedule(c, chunk.data.size(), downward);
      d.queued += chunk.data.size();
      d.queue.push_back(std::move(chunk));
      (downward ? bytesDown : bytesUp) += static_cast<uint64_t>(n);
    } else if (n == 0) {
      Chunk end;
      end.due = Schedule(c, 0, downward);
      d.queue.push_back(std::move(end));
      d.readEnded = true;
    } else {
      return errno == EAGAIN || errno == EINTR;
    }
  }
  return true;
}

// Writes the chunks that are due; false when the connection is to be closed.
bool WanRelay::Loop::WriteDue(Direction& d, Clock::time_point now) {
  while (!d.queue.empty() && d.queue.front().due <= now) {
    Chunk& front = d.queue.front();
    if (front.data.empty()) {
      shutdown(d.to, SHUT_WR);
      d.writeEnded = true;
      d.queue.pop_front();
      continue;
    }
    const ssize_t n = send(d.to, front.data.data() + front.sent, front.data.size() - front.sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) {
        d.blocked = true;
        return true;
      }
      return false;
    }
    front.sent += static_cast<size_t>(n);
    if (front.sent < front.data.size()) {
      d.blocked = true;
      return true;
    }
    d.queued -= front.data.size();
    d.queue.pop_front();
  }
  d.blocked = false;
  return true;
}

void WanRelay::Loop::UpdateInterest(uint64_t id, Connection& c) {
  auto mask = [](const Direction& reading, const Direction& writing) {
    uint32_t m = 0;
    if (!reading.readEnded && reading.queued < WanRelay::kQueueCap) m |= EPOLLIN;
    if (writing.blocked) m |= EPOLLOUT;
    return m;
  };
  const uint32_t client = mask(c.up, c.down), server = mask(c.down, c.up);
  epoll_event ev{};
  if (client != c.maskClient) {
    ev.events = client;
    ev.data.u64 = Tag(id, false);
    epoll_ctl(epoll, EPOLL_CTL_MOD, c.up.from, &ev);
    c.maskClient = client;
  }
  if (server != c.maskServer) {
    ev.events = server;
    ev.data.u64 = Tag(id, true);
    epoll_ctl(epoll, EPOLL_CTL_MOD, c.down.from, &ev);
    c.maskServer = server;
  }
}

void WanRelay::Loop::Run() {
  epoll_event events[64];
  while (!stop) {
    // Sleep until the earliest chunk is due (rounded up to the millisecond).
    int timeout = -1;
    const Clock::time_point now = Clock::now();
    for (auto& [id, c] : connections) {
      for (Direction* d : {&c->up, &c->down}) {
        if (d->queue.empty() || d->blocked) continue;
        const double wait = Duration(d->queue.front().due - now).count();
        const int ms = wait <= 0 ? 0 : static_cast<int>(std::ceil(wait * 1000));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
      }
    }
    const int n = epoll_wait(epoll, events, 64, timeout);
    for (int i = 0; i < n; ++i) {
      const uint64_t tag = events[i].data.u64;
      if (tag == 0) {
        Accept();
        continue;
      }
      if (tag == 1) continue;  // stop
      const uint64_t id = tag >> 1;
      auto it = connections.find(id);
      if (it == connections.end()) continue;
      Connection& c = *it->second;
      const bool server = (tag & 1) != 0;
      Direction& reading = server ? c.down : c.up;
      Direction& writing = server ? c.up : c.down;
      bool alive = true;
      if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) alive = ReadSide(c, reading, server);
      if (alive && (events[i].events & EPOLLOUT)) {
        writing.blocked = false;
        alive = WriteDue(writing, Clock::now());
      }
      // A side that hung up keeps being reported; once all of it has been
      // read it is of no more interest (or, when its bytes can no longer be
      // delivered, the connection is over).
      if (alive && (events[i].events & (EPOLLHUP | EPOLLERR)) && reading.readEnded) {
        if (!writing.writeEnded) alive = false;
        else epoll_ctl(epoll, EPOLL_CTL_DEL, reading.from, nullptr);
      }
      if (alive)
        UpdateInterest(id, c);
      else
        Close(id);
    }
    const Clock::time_point later = Clock::now();
    for (auto it = connections.begin(); it != connections.end();) {
      Connection& c = *it->second;
      const uint64_t id = it->first;
      ++it;
      bool alive = true;
      for (Direction* d : {&c.up, &c.down})
        if (alive && !d->blocked) alive = WriteDue(*d, later);
      if (!alive || (c.up.writeEnded && c.down.writeEnded)) {
        Close(id);
        continue;
      }
      // A queue that drained below its cap lets its side be read again.
      UpdateInterest(id, c);
    }
  }
}

}  // namespace udra::wanbench
