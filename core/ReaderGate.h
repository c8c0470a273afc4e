// Lets a few hot readers of shared state run without the manager's lock
// (which the listen thread may hold for seconds during a host recovery),
// while the rare writers that replace or free that state wait for the readers
// in flight and turn new ones away.
//
// A reader that finds the gate closed does not wait: it answers as if the
// state were empty. A writer closes the gate, which returns once no reader is
// inside, changes the state, and opens the gate again when there is something
// to read. Writers are serialised by the caller (they hold the manager's
// lock); a thread inside a read must not close the gate.
#pragma once

#include <atomic>
#include <thread>

namespace udra {

class ReaderGate {
 public:
  ReaderGate() = default;
  ReaderGate(const ReaderGate&) = delete;
  ReaderGate& operator=(const ReaderGate&) = delete;

  class Read {
   public:
    explicit Read(ReaderGate& gate) : gate_(gate) {
      // Count first, then look: with both in one total order, a writer that
      // closed the gate either sees this reader counted or the reader sees
      // the gate closed.
      gate_.readers_.fetch_add(1, std::memory_order_seq_cst);
      entered_ = gate_.open_.load(std::memory_order_seq_cst);
      if (!entered_) gate_.readers_.fetch_sub(1, std::memory_order_release);
    }
    ~Read() {
      if (entered_) gate_.readers_.fetch_sub(1, std::memory_order_release);
    }
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;
    // False: the state is being replaced or is gone; answer as if empty.
    explicit operator bool() const { return entered_; }

   private:
    ReaderGate& gate_;
    bool entered_ = false;
  };

  // Turns new readers away and waits until the readers inside have left.
  void Close() {
    open_.store(false, std::memory_order_seq_cst);
    while (readers_.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  }
  void Open() { open_.store(true, std::memory_order_seq_cst); }
  bool isOpen() const { return open_.load(std::memory_order_acquire); }

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> readers_{0};
};

}  // namespace udra
