// A fresh installation folder for one measurement: the staged library and
// companions, the INI files and a catalogue, and a game session on top.
// The destructor shuts the session down and ends the installation's host,
// which would otherwise wait for this (still running) process to end.
#pragma once

#include <memory>
#include <string>

#include "GameSession.h"
#include "support/TempDir.h"

namespace udra::sysbench {

class Installation {
 public:
  // `catalogue` is linked (or copied) in as FileList.dat; `hostIni` holds
  // the [Host] settings.
  Installation(const std::string& catalogue, const std::string& hostIni);
  ~Installation();
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  bool ready() const { return ready_; }
  std::string folder() const { return dir_.path(); }
  // Loads the library and creates the game's callback window.
  bool Open(std::string& error);
  // Initialize, pumping until WM_INIT_RESULT; `seconds` is the time from the
  // call to the message's dispatch.
  bool Initialize(const std::string& urlRoot, double& seconds, std::string& error);
  tool::GameSession& session() { return *session_; }
  IResourceManager* manager() { return session_->manager(); }
  // CPU seconds (user + system) the installation's running host has used so
  // far, from /proc; -1 when no host runs. (The library does not start the
  // host as a child this process could reap, so its usage does not reach
  // RUSAGE_CHILDREN.)
  double HostCpuSeconds() const;
  // MD5 (hex) of a catalogued file read through the library; empty when it cannot be read.
  std::string ReadDigest(const std::string& path);

 private:
  int HostPid() const;
  void EndHost();

  test::TempDir dir_;
  std::unique_ptr<tool::GameSession> session_;
  bool ready_ = false;
};

}  // namespace udra::sysbench
