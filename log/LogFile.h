// The one log file of the process, shared by every logger.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/System.h"

namespace udra::logfile {

// Opens the log file beside `modulePath` ("Logs" folder, named after the
// module's file name and the local time) unless an attempt was already made
// in this process; keeps the eight newest older files that no process holds
// open.
//
// Every process gets a file of its own: the file is created exclusively, and
// when another process already made the file of this second, the next free
// name "<name><time>-2.log", "-3" ... up to "-99" is taken. A file is never
// replaced, so the log of a run that failed at once survives the next run.
void OpenOnce(const std::string& modulePath);

// Appends one debugger-output line, prefixed with the sequence number, the
// local time and the process id. Dropped silently when no file is open.
void Append(const char* line);

int32_t Sequence();

// The length of a line that snprintf wrote into `buffer` (`size` bytes) and
// for which it returned `written`. A line cut to fit the buffer keeps its
// newline: it replaces the last character that fits, together with the lead
// byte of a double-byte character the cut split.
size_t FitLine(char* buffer, size_t size, int written);

// Closes the file and forgets the opening attempt and the count, and takes
// the process id again, so a test (or a forked child of one) can open a log
// file as a fresh process would.
void ResetForTesting();
// Names the next files as if opened at `*time` (null: the clock again).
void SetNameTimeForTesting(const platform::LocalTime* time);
uint32_t ProcessId();

}  // namespace udra::logfile
