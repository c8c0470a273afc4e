// The user's private folder for the pipe sockets and the mutex lock files:
// $XDG_RUNTIME_DIR/udra, else /tmp/udra-<uid>. It must be a real folder (no
// symbolic link), owned by the user and closed to everybody else (0700).
#pragma once

#include <string>

namespace udra::platform::posix {

// The folder, created when missing; empty (errno set) when it cannot be
// created or fails the ownership and mode check.
std::string RuntimeFolder();

// Why RuntimeFolder() cannot be used, as one line for a log (the folder, and
// its owner or mode when those are wrong, with what to do about it); empty
// when the folder is usable. errno is left as it was.
std::string RuntimeFolderProblem();

// RuntimeFolder() + "/" + name + suffix; empty when the folder is unusable
// or `name` is not a plain file name (empty, ".", "..", or holding '/').
std::string RuntimePath(const std::string& name, const char* suffix);

// A kernel-object name as the POSIX backend uses it: a leading "Global\" or
// "Local\" dropped. Empty when what remains is not a plain file name.
std::string PlainObjectName(const std::string& name);

}  // namespace udra::platform::posix
