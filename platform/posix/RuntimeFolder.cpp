#include "platform/posix/RuntimeFolder.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace udra::platform::posix {
namespace {

// A folder that only this user can enter: not a link, ours, no group or
// other bits.
bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    errno = EACCES;
    return false;
  }
  return true;
}

bool IsUsableBase(const char* base) {
  if (!base || base[0] != '/') return false;
  struct stat st {};
  return stat(base, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos && name.size() <= 200;
}

std::string CandidateFolder() {
  const char* xdg = getenv("XDG_RUNTIME_DIR");
  return IsUsableBase(xdg) ? std::string(xdg) + "/udra" : "/tmp/udra-" + std::to_string(geteuid());
}

}  // namespace

std::string RuntimeFolder() {
  std::string folder = CandidateFolder();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  // An existing folder with a wrong owner or mode is refused, not repaired:
  // someone else may already have had access to it.
  if (!IsPrivateFolder(folder)) return {};
  return folder;
}

std::string RuntimeFolderProblem() {
  const int savedErrno = errno;
  const std::string folder = CandidateFolder();
  const std::string advice = ": refused; remove it, or set XDG_RUNTIME_DIR to a folder of this user's own";
  std::string problem;
  struct stat st {};
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "cannot create " + folder + ": " + strerror(errno);
  } else if (lstat(folder.c_str(), &st) != 0) {
    problem = "cannot examine " + folder + ": " + strerror(errno);
  } else if (S_ISLNK(st.st_mode)) {
    problem = folder + " is a symbolic link" + advice;
  } else if (!S_ISDIR(st.st_mode)) {
    problem = folder + " is not a folder" + advice;
  } else if (st.st_uid != geteuid()) {
    problem = folder + " belongs to user id " + std::to_string(st.st_uid) + ", not to this user (" +
              std::to_string(geteuid()) + ")" + advice;
  } else if ((st.st_mode & 077) != 0) {
    char mode[8];
    snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    problem = folder + " has mode " + mode + ", open to other users (0700 is needed)" + advice;
  }
  errno = savedErrno;
  return problem;
}

std::string RuntimePath(const std::string& name, const char* suffix) {
  if (!IsPlainName(name)) {
    errno = EINVAL;
    return {};
  }
  std::string folder = RuntimeFolder();
  if (folder.empty()) return {};
  return folder + "/" + name + suffix;
}

std::string PlainObjectName(const std::string& name) {
  std::string plain = name;
  for (const char* prefix : {"Global\\", "Local\\"}) {
    const std::string p(prefix);
    if (plain.compare(0, p.size(), p) == 0) {
      plain.erase(0, p.size());
      break;
    }
  }
  if (!IsPlainName(plain) || plain.find('\\') != std::string::npos) return {};
  return plain;
}

}  // namespace udra::platform::posix
