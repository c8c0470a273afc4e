// Starting the downloader host, telling whether one runs, and retiring the
// old one before a restart.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Process.h"

namespace udra {

constexpr const char* kHostAppFileName = "UDRAHostApp.exe";

// Starts ModuleFolder/"UDRAHostApp.exe" without arguments (the host learns
// the game's process id from CMD_HELLO) in ModuleFolder. `processOut`
// receives the started process, or null when none was started. False when
// ModuleFolder is unknown (processOut then untouched) or the start failed.
bool LaunchUDRAHostApp(std::unique_ptr<platform::Process>& processOut);
// The same for the host in `folder`.
bool LaunchUDRAHostAppIn(const std::string& folder, std::unique_ptr<platform::Process>& processOut);

// Whether the host's instance mutex (named by InstanceKey alone) exists;
// false when ModuleFolder is unknown. Never creates the mutex.
bool IsUDRAHostAlive();
// The same for the installation of `key`.
bool IsUDRAHostAliveFor(const std::string& key);

// The first step of a restart: waits for the old host to end, at most
// `graceMs`. A host that broke the pipe but stays alive would otherwise hold
// the recovery, and with it every manager operation, for ever: it is
// terminated and awaited `afterKillMs` more. The process is then forgotten
// (process null) whether or not it ended. Nothing happens for a null process
// (the host was already running when the library started, so there is
// nothing of it to wait for).
constexpr uint32_t kHostExitGraceMs = 5000;
constexpr uint32_t kHostKillWaitMs = 1000;
void RetireHostProcess(std::unique_ptr<platform::Process>& process, uint32_t graceMs = kHostExitGraceMs,
                       uint32_t afterKillMs = kHostKillWaitMs);

}  // namespace udra
