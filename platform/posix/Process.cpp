#include "platform/Process.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace udra::platform {
namespace {

// Called through syscall(): the C library's declarations are not usable
// from C++ on every version.
int PidfdOpen(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

int PidfdKill(int pidfd) {
  return static_cast<int>(syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0));
}

class PosixProcess : public Process {
 public:
  PosixProcess(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~PosixProcess() override {
    Reap();
    if (pidfd_ >= 0) close(pidfd_);
  }

  bool Wait(uint32_t timeoutMs) override {
    if (Reap()) return true;
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      const bool forever = timeoutMs == 0xFFFFFFFFu;
      if (pidfd_ >= 0) {
        pollfd fd{pidfd_, POLLIN, 0};
        const int r = poll(&fd, 1, forever ? -1 : static_cast<int>(left > 0 ? left : 0));
        if (r < 0 && errno == EINTR) continue;
      } else if (forever || left > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(forever || left > 5 ? 5 : left));
      }
      if (Reap()) return true;
      if (!forever && Clock::now() >= deadline) return false;
    }
  }

  bool Terminate() override {
    if (reaped_) return false;
    if (pidfd_ >= 0) return PidfdKill(pidfd_) == 0;
    return kill(pid_, SIGKILL) == 0;
  }

  uint32_t id() const override { return static_cast<uint32_t>(pid_); }
  int exitCode() const override { return exitCode_; }

 private:
  // Collects the ended child without waiting; true once it has ended.
  bool Reap() {
    if (reaped_) return true;
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    } else if (!(r < 0 && errno == ECHILD)) {
      return false;
    }
    // ECHILD: someone else (SIGCHLD ignored) collected it; the code is lost.
    reaped_ = true;
    return true;
  }

  pid_t pid_;
  int pidfd_;
  bool reaped_ = false;
  int exitCode_ = -1;
};

}  // namespace

std::unique_ptr<Process> Process::Launch(const std::string& path, const std::string& workingFolder) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return nullptr;
  if (!workingFolder.empty() && posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return nullptr;
  }
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = 0;
  const int r = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (r != 0) return nullptr;
  const int pidfd = PidfdOpen(pid);  // -1 on old kernels: then waitpid polling
  return std::make_unique<PosixProcess>(pid, pidfd);
}

bool ProcessRunning(int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // An ended child that its parent has not collected yet still answers kill.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;  // no /proc: trust kill
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() || (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

}  // namespace udra::platform
