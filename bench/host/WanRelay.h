// A TCP relay on 127.0.0.1 that makes loopback look like a wide-area link.
//
// Every connection accepted on port() is forwarded to the upstream port, and
// each chunk read on either side is delivered to the other after:
//   - the link's serialisation time: each direction is one link of
//     `bytesPerSecond` shared by all connections, and a chunk waits until the
//     chunks before it (of any connection) have passed;
//   - half the round trip of propagation;
//   - for the first bytes of a new connection, one more round trip (the TCP
//     handshake that loopback completes at once).
// Delivery within a connection stays in order. Each direction of a
// connection holds at most kQueueCap bytes; beyond that the relay stops
// reading, so the sender sees back-pressure as from a full bottleneck.
//
// Loss (lossRate > 0): each chunk is counted as ceil(size / 1448) packets,
// each lost with probability lossRate. A chunk with a lost packet is
// delivered one round trip late (the receiver notices the gap, the sender
// retransmits: fast retransmit), holds back everything behind it on that
// connection (head-of-line blocking), and takes the link for twice its
// serialisation time (sent twice). Not modelled: TCP's slow start and the
// halving of its window after a loss, retransmission timeouts, reordering.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

namespace udra::wanbench {

struct LinkModel {
  double roundTripSeconds = 0.040;
  double bytesPerSecond = 12.5e6;  // 100 Mbit/s
  double lossRate = 0;             // per 1448-byte packet
  uint32_t seed = 1;
};

class WanRelay {
 public:
  static constexpr size_t kQueueCap = 2 << 20;

  WanRelay(int upstreamPort, const LinkModel& model);
  ~WanRelay();
  WanRelay(const WanRelay&) = delete;
  WanRelay& operator=(const WanRelay&) = delete;

  // Listens on a free port of 127.0.0.1 and starts relaying; false on failure.
  bool Start();
  void Stop();
  int port() const { return port_; }

  struct Counters {
    uint64_t connections = 0;
    uint64_t bytesDown = 0;  // server to client
    uint64_t bytesUp = 0;
    uint64_t lostChunks = 0;
  };
  Counters counters() const;

 private:
  struct Loop;
  int upstreamPort_;
  LinkModel model_;
  int port_ = 0;
  std::unique_ptr<Loop> loop_;
  std::thread thread_;
};

}  // namespace udra::wanbench
