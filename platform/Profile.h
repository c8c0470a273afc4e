// INI ("profile") files with the Windows profile rules: section and key names
// compare case-insensitively, the first match wins, a missing key can be told
// from a key with an empty value, and writes keep the rest of the file.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace udra::platform {

// One INI file read for many lookups, with the same rules and answers as the
// functions below. The POSIX backend reads and indexes the file once, when
// the object is made (later edits are not seen); the Win32 backend asks the
// system's profile functions, which keep the file cached. Only a regular file
// is read: a FIFO, device or folder reads as a missing file.
class ProfileFile {
 public:
  explicit ProfileFile(const std::string& path);
  ~ProfileFile();
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  // As ReadProfileString.
  bool ReadString(const char* section, const char* key, std::string& value, size_t bufferSize = 260) const;
  // As ReadProfileInt.
  int ReadInt(const char* section, const char* key, int defaultValue) const;
  // The names of the keys of `section` in file order (none when the file or
  // section is missing). Each name reads back with ReadString.
  std::vector<std::string> KeyNames(const char* section) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Reads the value of `key` in `section` of `file`, cut to `bufferSize` - 1
// bytes. Returns false, and leaves `value` empty, when the file, the section
// or the key is missing.
bool ReadProfileString(const std::string& file, const char* section, const char* key,
                       std::string& value, size_t bufferSize = 260);

// Reads a decimal integer (optional sign, stops at the first non-digit);
// `defaultValue` when the key is missing.
int ReadProfileInt(const std::string& file, const char* section, const char* key, int defaultValue);

// Writes `value` for `key` in `section`, creating the file and the section
// when needed and keeping every other line as it was.
bool WriteProfileString(const std::string& file, const char* section, const char* key,
                        const char* value);

}  // namespace udra::platform
