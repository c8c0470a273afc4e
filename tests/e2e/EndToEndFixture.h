// An installation served by a private nginx: published content, the staged
// library and companions, and a game session on top.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "GameSession.h"
#include "host/HostTestEnv.h"
#include "support/TempDir.h"

namespace udra::e2e {

class EndToEnd {
 public:
  // Publishes `files` (relative '/' paths → bytes) below the server's "v1"
  // folder, packaging `package` when it is not empty, and lays out the
  // installation with `hostIni` and `clientIni` as its INI files.
  EndToEnd(const std::map<std::string, std::string>& files, const std::string& package,
           const std::string& hostIni = "", const std::string& clientIni = "");
  ~EndToEnd();

  bool ready() const { return ready_; }
  // Publishes another content version below the server's `urlFolder` with
  // the real udra-publish (reusing what the previous version stored) and
  // gives the installation its FileList.dat. False when publishing failed.
  bool Publish(const std::map<std::string, std::string>& files, const std::string& package,
               const std::string& urlFolder);
  // Shuts the session down (Uninitialize) and starts a new one, as a game
  // that is started again.
  tool::GameSession& Restart(uint32_t cacheLimit = 1 << 24);
  // Loads the library, initialises it against the server and waits for WM_INIT_RESULT.
  tool::GameSession& Start(uint32_t cacheLimit = 1 << 24);
  tool::GameSession& session() { return *session_; }
  IResourceManager* manager() { return session_->manager(); }
  // Starts a sync and pumps until its WM_SYNC_RETURN (false on time-out).
  bool SyncAndWait(const std::string& path, SyncInfo& info, uint32_t timeoutMs = 30000);
  std::string ReadFile(const std::string& key);

  hosttest::Nginx& server() { return *nginx_; }
  const test::TempDir& install() const { return install_; }
  // Process id of the installation's running host, -1 when none runs.
  int HostPid() const;

 private:
  test::TempDir work_, install_, home_;
  std::unique_ptr<hosttest::Nginx> nginx_;
  std::unique_ptr<tool::GameSession> session_;
  bool ready_ = false;
  int published_ = 0;
};

}  // namespace udra::e2e
