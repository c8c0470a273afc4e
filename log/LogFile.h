// The one log file of the process, shared by every logger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace udra::logfile {

// Opens the log file beside `modulePath` ("Logs" folder, named after the
// module's file name and the local time) unless an attempt was already made
// in this process; keeps the eight newest older files.
void OpenOnce(const std::string& modulePath);

// Appends one debugger-output line, prefixed with the sequence number, the
// local time and the process id. Dropped silently when no file is open.
void Append(const char* line);

int32_t Sequence();

// Closes the file and forgets the opening attempt and the count, so a test
// can open a log file again in the same process.
void ResetForTesting();
uint32_t ProcessId();

}  // namespace udra::logfile
