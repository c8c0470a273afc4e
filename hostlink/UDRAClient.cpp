#include "hostlink/UDRAClient.h"

#include <algorithm>
#include <utility>

#include "hostlink/UDRAClientLink.h"
#include "log/Logger.h"
#include "platform/System.h"
#include "util/Paths.h"

namespace udra {

UDRAClient::UDRAClient() = default;

UDRAClient::UDRAClient(std::string pipeKey) : m_pipeKey(std::move(pipeKey)) {}

UDRAClient::~UDRAClient() {
  Stop();
  // A thread that outlived Stop's wait may still be about to take the
  // listener's lock once more (to see that it was let go); give it the time
  // to finish before the listener, which owns that lock, goes away.
  std::vector<std::shared_ptr<platform::Thread>> lingering;
  {
    std::lock_guard<std::mutex> state(m_stateMu);
    lingering.swap(m_lingering);
  }
  for (auto& thread : lingering) thread->Wait(kStopWaitMs);
}

bool UDRAClient::PipeKey(std::string& key) const {
  if (m_pipeKey) {
    key = *m_pipeKey;
    return true;
  }
  std::string folder;
  if (!ModuleFolder(folder)) return false;
  key = InstanceKeyOf(folder);
  return true;
}

bool UDRAClient::ConnectPipe(Link& link, int attempts, const std::function<bool()>& giveUp) {
  std::string key;
  if (!PipeKey(key)) return false;
  link.pipe.reset();
  // The attempts are the only wait: 500 of them give the host about 50 s to
  // create its pipe.
  for (int attempt = 1; attempt <= attempts && !link.cancel; ++attempt) {
    link.pipe = platform::MessagePipe::Connect(key);
    if (link.pipe || attempt == attempts || (giveUp && giveUp())) break;
    platform::SleepMs(kConnectIntervalMs);
  }
  return link.pipe != nullptr;
}

std::shared_ptr<UDRAClient::Link> UDRAClient::BeginStart(UDRAClientListener* listener) {
  if (!listener) return nullptr;
  std::lock_guard<std::mutex> state(m_stateMu);
  if (m_hListenThread || m_starting) return nullptr;
  auto link = std::make_shared<Link>();
  if (!link->stopEvent.valid() || !link->sendEvent.valid()) return nullptr;
  link->lock = &listener->m_lock;
  link->listener = listener;
  m_link = link;
  m_starting = true;
  return link;
}

bool UDRAClient::FinishStart(const std::shared_ptr<Link>& link, int attempts, const std::function<bool()>& giveUp) {
  if (!ConnectPipe(*link, attempts, giveUp)) {
    LibLogger().Write(Logger::T, "管道连接失败!!");
    std::lock_guard<std::mutex> state(m_stateMu);
    m_starting = false;
    return false;
  }
  {
    std::lock_guard<std::recursive_mutex> guard(*link->lock);
    link->listening = true;
  }
  bool started = false;
  {
    std::lock_guard<std::mutex> state(m_stateMu);
    m_starting = false;
    if (!link->cancel) {
      std::unique_ptr<platform::Thread> thread =
          platform::Thread::Start([this, link] { return ListenThreadMain(link); });
      m_hListenThread = std::move(thread);
      started = m_hListenThread != nullptr;
    }
  }
  if (!started) {
    std::lock_guard<std::recursive_mutex> guard(*link->lock);
    link->listening = false;
    link->queue.clear();
    link->pipe.reset();
    return false;
  }
  SendMsg(MakeHello(platform::CurrentProcessId()));
  return true;
}

bool UDRAClient::Start(int attempts, UDRAClientListener* listener) {
  const std::shared_ptr<Link> link = BeginStart(listener);
  return link && FinishStart(link, attempts);
}

bool UDRAClient::StartAsync(UDRAClientListener* listener, platform::WindowHandle window) {
  const std::shared_ptr<Link> link = BeginStart(listener);
  if (!link) return false;
  std::lock_guard<std::mutex> state(m_stateMu);
  m_hNotifyWnd = window;
  m_notifyMsg = MSG_PIPE_CONNECTED;
  const uint32_t message = m_notifyMsg;
  // The connect thread uses the client only inside FinishStart, which Stop
  // cuts short and waits for; after that it only sends the window message.
  std::unique_ptr<platform::Thread> thread = platform::Thread::Start([this, link, listener, window, message] {
    const bool ok = FinishStart(link, kAsyncConnectAttempts, [listener] {
      listener->WhileWaitingForPipe();
      return false;
    });
    if (ok)
      LibLogger().Write(Logger::T, "异步连接成功, 通知主窗口处理");
    else
      LibLogger().Write(Logger::E, "异步连接失败, 通知主窗口处理");
    // A connect cancelled by Stop reports nothing: the manager is shutting
    // down and its window thread may be the one waiting in Stop.
    if (!link->cancel) platform::SendWindowMessage(window, message, ok ? 1 : 0, 0);
    return 0;
  });
  m_hConnectThread = std::move(thread);
  if (!m_hConnectThread) {
    m_starting = false;
    return false;
  }
  return true;
}

bool UDRAClient::SendMsg(const PipeMsg& msg) {
  std::shared_ptr<Link> link;
  {
    std::lock_guard<std::mutex> state(m_stateMu);
    link = m_link;
  }
  const uint16_t len = PipeMsgLen(msg);
  if (link && len >= 6 && len <= kPipeMsgSize) {
    std::lock_guard<std::recursive_mutex> guard(*link->lock);
    if (link->listening) {
      link->queue.push_back(msg);
      link->sendEvent.Set();
      return true;
    }
  }
  LibLogger().Format(Logger::E, "SendMsg Error! msg.cmd = %d", PipeMsgCmd(msg));
  return false;
}

bool UDRAClient::Stop() {
  std::shared_ptr<Link> link;
  std::shared_ptr<platform::Thread> listen;
  std::shared_ptr<platform::Thread> connect;
  {
    std::lock_guard<std::mutex> state(m_stateMu);
    link = m_link;
    listen = std::move(m_hListenThread);
    connect = std::move(m_hConnectThread);
    m_hListenThread.reset();
    m_hConnectThread.reset();
    // Set under the state lock: a connect that finishes after this point
    // cannot start a listen thread any more.
    if (link) link->cancel = true;
  }
  if (link) link->stopEvent.Set();

  if (connect && !connect->Wait(kStopWaitMs)) {
    std::lock_guard<std::mutex> state(m_stateMu);
    m_lingering.push_back(connect);
  }
  if (!listen) {
    if (link) {
      std::lock_guard<std::recursive_mutex> guard(*link->lock);
      link->listening = false;
      link->queue.clear();
    }
    return true;
  }

  const bool ended = listen->Wait(kStopWaitMs);
  {
    // Waits for a recovery that still holds the lock.
    std::lock_guard<std::recursive_mutex> guard(*link->lock);
    std::deque<PipeMsg>().swap(link->queue);
    link->listening = false;
    link->detached = true;
    link->listener = nullptr;
  }
  std::lock_guard<std::mutex> state(m_stateMu);
  if (!ended) m_lingering.push_back(listen);
  if (m_link == link) m_link.reset();
  return true;
}

bool UDRAClient::WaitListenThread(uint32_t timeoutMs, int* exitCode) {
  std::shared_ptr<platform::Thread> thread;
  {
    std::lock_guard<std::mutex> state(m_stateMu);
    thread = m_hListenThread;
  }
  if (!thread || !thread->Wait(timeoutMs)) return false;
  if (exitCode) *exitCode = thread->exitCode();
  return true;
}

bool UDRAClient::WaitUnlocked(Link& link, uint32_t ms) {
  link.lock->unlock();
  const uint32_t start = platform::TickCount();
  while (!link.cancel && platform::TickCount() - start < ms)
    platform::SleepMs(std::min<uint32_t>(50, ms - (platform::TickCount() - start)));
  link.lock->lock();
  return !link.cancel && !link.detached;
}

bool UDRAClient::ProcessHostAppCrush(Link& link) {
  const Logger& log = LibLogger();
  log.Write(Logger::T, "ProcessHostAppCrush()");
  for (int launch = 1;; ++launch) {
    const uint32_t delay = m_launches.DelayBeforeLaunch(platform::TickCount());
    if (delay > 0) {
      log.Format(Logger::W, "UDRAHostApp.exe restarts too often: the next start in %u ms", delay);
      if (!WaitUnlocked(link, delay)) return false;
    }
    if (!link.listener || !link.listener->RestartHostApp()) {
      // The old pipe stays; the listen thread closes it when it ends.
      log.Write(Logger::E, "UDRAHostApp.exe异常断开连接。重新拉起UDRAHostApp.exe失败。");
      return false;
    }
    m_launches.Launched(platform::TickCount());
    log.Write(Logger::W, "UDRAHostApp.exe异常断开连接。重新拉起UDRAHostApp.exe成功。");
    link.pipe.reset();
    bool ended = false;
    UDRAClientListener* listener = link.listener;
    const bool connected = ConnectPipe(link, kReconnectAttempts, [&] { return ended = listener->HostLaunchEnded(); });
    if (connected) {
      log.Write(Logger::T, "重新连接UDRAHostApp.exe成功。");
      return true;
    }
    // A host that ended before its pipe appeared is started again, a few
    // times, as the budget allows.
    if (!ended || launch >= kLaunchesPerRecovery || link.cancel) break;
    log.Write(Logger::W, "UDRAHostApp.exe ended before it served the pipe");
  }
  log.Write(Logger::E, "重新连接UDRAHostApp.exe失败。");
  return false;
}

}  // namespace udra
