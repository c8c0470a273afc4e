// The listen thread of the pipe client: every pipe read and write, the
// records it receives handed to the listener, and the recovery when the
// pipe breaks. It waits with no lock held; each wake-up is handled with the
// listener's lock held from start to end, recovery included.
#include "hostlink/UDRAClient.h"
#include "hostlink/UDRAClientLink.h"
#include "log/Logger.h"

namespace udra {

class UDRAClient::ListenLoop {
 public:
  ListenLoop(UDRAClient& client, std::shared_ptr<Link> link) : client_(client), link_(std::move(link)) {}

  int Run() {
    const Logger& log = LibLogger();
    log.Write(Logger::T, "UDRAClientListenThread 管道线程开启");
    if (!link_->pipe) {
      log.Write(Logger::E, "UDRAClientListenThread 管道句柄有误, 线程退出");
      std::lock_guard<std::recursive_mutex> guard(*link_->lock);
      EndBySelf();
      return 0;
    }
    int result = 0;
    int w = 0;
    {
      // A first read the pipe refuses is a broken pipe like any other.
      std::lock_guard<std::recursive_mutex> guard(*link_->lock);
      if (!link_->detached && !ArmRead()) {
        EndBySelf();
        result = -1;
      }
    }
    if (result == 0) log.Write(Logger::T, "管道线程处理循环即将启动");
    while (result == 0) {
      // The pipe may have been replaced by a recovery: wait on the current one.
      // The completions of a replaced pipe went with it, so a stale result of
      // the old pipe can never start a second recovery.
      platform::MessagePipe& pipe = *link_->pipe;
      platform::Waitable* objects[] = {&link_->stopEvent, &link_->sendEvent, &pipe.readCompletion(),
                                       &pipe.writeCompletion()};
      w = platform::WaitForAny(objects, 4, platform::kInfinite);
      // A failed wait is logged as WAIT_FAILED reads with %d: -1.
      log.Format(Logger::V, "UDRAClientListenThread WaitForMultipleObjects return = %d", w < 0 ? -1 : w);
      if (w == 0) break;
      std::lock_guard<std::recursive_mutex> guard(*link_->lock);
      if (link_->detached) break;  // Stop let us go: touch nothing of the client any more
      bool ok = false;
      switch (w) {
        case 1:
          ok = writePending_ || Drain(false);
          break;
        case 2:
          ok = OnReadDone();
          break;
        case 3:
          ok = OnWriteDone();
          break;
        default:  // the wait itself failed
          break;
      }
      if (!ok) {
        EndBySelf();
        result = -1;
      }
    }
    log.Format(Logger::T, "管道线程退出了, waitResult = %d", w < 0 ? -1 : w);
    link_->pipe.reset();
    return result;
  }

 private:
  // Lock held. The thread ends by itself: nothing will write the queue, so
  // SendMsg refuses from now on and what was queued goes.
  void EndBySelf() {
    link_->listening = false;
    std::deque<PipeMsg>().swap(link_->queue);
  }

  // Lock held. Replaces a broken pipe; afterwards a read is armed on the new
  // pipe and no write is outstanding (the front record is written again).
  bool Recover() {
    if (!client_.ProcessHostAppCrush(*link_)) return false;
    writePending_ = false;
    return ArmRead();
  }

  // Lock held. Starts the read of the next record; a refused read is a
  // broken pipe.
  bool ArmRead() {
    while (!link_->pipe->StartRead()) {
      LibLogger().Format(Logger::E, "Read Unknown ERROR %d", link_->pipe->error());
      if (!client_.ProcessHostAppCrush(*link_)) return false;
      writePending_ = false;
    }
    return true;
  }

  // Lock held. Writes queued records until the queue is empty or a write is
  // pending. A record leaves the queue only once the pipe took all of it.
  bool Drain(bool afterWrite) {
    while (!link_->queue.empty()) {
      const PipeMsg& front = link_->queue.front();
      const platform::IoStatus status = link_->pipe->StartWrite(&front, PipeMsgLen(front));
      if (status == platform::IoStatus::Done) {
        link_->queue.pop_front();
        continue;
      }
      if (status == platform::IoStatus::Pending) {
        writePending_ = true;  // the write completion reports its end
        return true;
      }
      if (afterWrite)
        LibLogger().Format(Logger::E, "Write Unknown ERROR %d", link_->pipe->error());
      else
        LibLogger().Format(Logger::E, "Unknown ERROR %d", link_->pipe->error());
      if (!Recover()) return false;
    }
    return true;
  }

  // Lock held. A record arrived (or the read failed).
  bool OnReadDone() {
    const uint8_t* data = nullptr;
    size_t size = 0;
    const platform::IoStatus status = link_->pipe->ReadResult(&data, &size);
    if (status == platform::IoStatus::Pending) return true;
    PipeMsg msg;
    // Accepted only when the bytes delivered are exactly the record's len; a
    // short record or an over-long message is a broken connection.
    if (status == platform::IoStatus::Done && PipeMsgFromWire(data, size, msg)) {
      if (link_->listener) link_->listener->OnRecvMsg(msg);
      if (link_->detached) return true;  // the listener stopped the client
      if (!ArmRead()) return false;
    } else if (!Recover()) {
      return false;
    }
    // After a recovery the queue waits for the new pipe.
    return writePending_ || Drain(false);
  }

  // Lock held. The pending write ended.
  bool OnWriteDone() {
    writePending_ = false;
    size_t written = 0;
    const platform::IoStatus status = link_->pipe->WriteResult(&written);
    if (status == platform::IoStatus::Pending) {
      writePending_ = true;
      return true;
    }
    if (status == platform::IoStatus::Done && !link_->queue.empty() &&
        written == PipeMsgLen(link_->queue.front())) {
      link_->queue.pop_front();
    } else if (!Recover()) {
      return false;  // the front record stays queued only if a new pipe came
    }
    return Drain(true);
  }

  UDRAClient& client_;
  std::shared_ptr<Link> link_;
  bool writePending_ = false;
};

int UDRAClient::ListenThreadMain(const std::shared_ptr<Link>& link) {
  return ListenLoop(*this, link).Run();
}

}  // namespace udra
