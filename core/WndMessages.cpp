// The hidden window's handler and the manager's side of the pipe client:
// host records, the connect result, the timers and host recovery.
#include "core/ResourceManager.h"
#include "hostlink/HostSupervisor.h"
#include "hostlink/PipeMsg.h"

namespace udra {

void ResourceManager::OnWndMsg(platform::WindowHandle, uint32_t msg, uintptr_t wParam, intptr_t) {
  switch (msg) {
    case MSG_PIPE_MESSAGE: {
      // Only a copy the pipe client made and nobody has freed yet is a
      // record; whatever else arrives here is ignored, never read or freed.
      const std::unique_ptr<PipeMsg> record = TakePipeMsgCopy(wParam);
      if (!record) return;
      switch (PipeMsgCmd(*record)) {
        case CMD_SYNC_RETURN: {
          // A completed download replaced whatever was known of the old entry.
          const SyncReturnFields fields = ReadSyncReturn(*record);
          if (fields.ok) m_entryChecks.Forget(fields.name);
          m_syncs.OnSyncReturn(*record);
          break;
        }
        case CMD_HOST_VALUES:
          m_hostValue1 = ReadInt32At(*record, 6);
          m_hostValue2 = ReadInt32At(*record, 10);
          break;
        case CMD_HOST_EVENT:
          if (UDRA_HWND callback = m_hCallbackHWnd.load())
            platform::PostWindowMessage(callback, WM_HOST_EVENT, uintptr_t(uint32_t(ReadInt32At(*record, 6))), 0);
          break;
        default:
          break;
      }
      return;
    }
    case platform::kWmTimer:
      if (wParam == kTickTimer) {
        m_stats.SetHostValue2(m_hostValue2);
        m_stats.SetHostValue1(m_hostValue1);
        SendMsg(MakeTick());
      } else if (wParam == kHostProbeTimer) {
        m_log.Format(Logger::T, "IsUDRAHostAlive() == %d", IsUDRAHostAlive() ? 1 : 0);
      }
      return;
    case MSG_PIPE_CONNECTED: {
      m_log.Format(Logger::T, "MSG_PIPE_CONNECTED succ = %d", int(wParam));
      // The background connect reports once; a connected notice that no
      // connect of this start is waiting for (sent by anyone else, or a
      // second one) must not bring the manager up again.
      const bool awaited = m_connectPending.exchange(false);
      if (wParam == 1) {
        if (awaited) FinishInitialize();
      } else if (awaited || !m_up) {
        PostInitResult(0);
      }
      return;
    }
    default:
      return;
  }
}

void ResourceManager::OnRecvMsg(const PipeMsg& msg) {
  if (m_wnd && platform::IsWindowAlive(m_wnd)) {
    const uintptr_t copy = NewPipeMsgCopy(msg);
    m_log.Format(Logger::V, "OnRecvMsg CMD:%d", PipeMsgCmd(msg));
    if (!copy) return;  // out of memory: the record is lost, as a dropped post would be
    // A copy the window will never see is freed here, not lost.
    if (!platform::PostWindowMessage(m_wnd, MSG_PIPE_MESSAGE, copy, 0)) FreePipeMsgCopy(copy);
    return;
  }
  m_log.Format(Logger::E, "OnRecvMsg CMD:%d hWnd %d is wrong!!", PipeMsgCmd(msg),
               int(reinterpret_cast<intptr_t>(m_wnd)));
}

bool ResourceManager::SendMsg(const PipeMsg& msg) { return m_udraClient.SendMsg(msg); }

// Runs on the listen thread with m_lock held: waits (bounded) for the old
// host, fails the running syncs and launches a new host.
bool ResourceManager::RestartHostApp() {
  std::lock_guard<std::mutex> guard(m_hostProcessLock);
  if (m_hostProcess) RetireHostProcess(m_hostProcess);
  m_log.Write(Logger::T, "准备重启进程");
  m_syncs.OnHostLost();
  return LaunchUDRAHostApp(m_hostProcess);
}

bool ResourceManager::HostLaunchEnded() {
  std::lock_guard<std::mutex> guard(m_hostProcessLock);
  return m_hostProcess && m_hostProcess->Wait(0) && !IsUDRAHostAlive();
}

}  // namespace udra
