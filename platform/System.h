// Process, thread, time and identity facts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udra::platform {

uint32_t CurrentThreadId();
uint32_t CurrentProcessId();
// Milliseconds since an arbitrary start, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();
void SleepMs(uint32_t milliseconds);

struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime Now();
// Seconds since 1970-01-01 UTC.
int64_t UnixTime();

// The user's application-data folder; empty when it cannot be determined.
std::string AppDataFolder();
// A new GUID in registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
// upper-case digits; empty on failure.
std::string NewGuidText();

// The system's text for an error code (errno or GetLastError), in English
// where the system offers a choice; "error N" when it has none.
std::string SystemErrorText(int error);

// Whether a system error code means that access was refused (EACCES and
// EPERM; ERROR_ACCESS_DENIED).
bool IsAccessDenied(int error);

// Asks the heap to keep up to `bytes` of freed memory for reuse instead of
// giving it back to the system (a process that allocates and frees many
// buffers a second then does not fault them in again each time). Nothing
// where the system heap already keeps it (Win32).
void KeepFreedMemory(size_t bytes);

// Why the user's private place for pipes, locks and shared memory cannot be
// used, as one line for a log; empty when it can (always on Win32, where
// the objects live in the kernel's name space).
std::string LocalObjectsProblem();

// The debugger output (OutputDebugStringA). On POSIX: standard error when the
// environment variable UDRA_DEBUG_OUTPUT is set, else nothing.
void DebugOutput(const char* text);

// Enables a privilege in the process token (SetPrivilege). On POSIX there is
// no such token: creating the shared objects in the user's private runtime
// folder needs no privilege, so it succeeds.
bool EnablePrivilege(const char* name);

// A message box with one OK button. On POSIX: one line on standard error.
void ShowMessageBox(const char* text, const char* caption);

}  // namespace udra::platform
