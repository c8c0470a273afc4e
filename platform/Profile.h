// INI ("profile") files with the Windows profile rules: section and key names
// compare case-insensitively, the first match wins, a missing key can be told
// from a key with an empty value, and writes keep the rest of the file.
#pragma once

#include <cstddef>
#include <string>

namespace udra::platform {

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
