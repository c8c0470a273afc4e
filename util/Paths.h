// The library's own folder, path joining and the installation key.
#pragma once

#include <string>
#include <string_view>

namespace udra {

// Full path of the library file that holds this code; empty when unknown.
std::string ModulePath();

// The folder of the library's file, without a trailing separator; false when
// it cannot be determined. Every file the library reads or writes lies in or
// below it.
bool ModuleFolder(std::string& folder);

// Joins a folder and a relative name with exactly one separator of the
// platform: an empty folder yields the name alone and a separator is never
// doubled. Backslashes of logical names (catalogue keys) become the platform's
// separator.
std::string JoinPath(std::string_view folder, std::string_view name);

// A logical name (backslash-separated) as a path on this platform's disk.
std::string ToNativePath(std::string_view logical);

// The part of `path` before its last separator ("" when it has none).
std::string ParentFolder(std::string_view path);
// The part of `path` after its last separator.
std::string FileNameOf(std::string_view path);

// The key that names everything one installation shares with its host:
// `folder` lower-cased byte by byte, trimmed at both ends of \ / space " and ',
// hashed with MD5 and written as 32 upper-case hexadecimal digits.
std::string InstanceKeyOf(std::string_view folder);
// InstanceKeyOf(ModuleFolder), or of "" when the folder is unknown.
std::string InstanceKey();
// InstanceKeyOf(ModuleFolder), or of "None" when the folder is unknown (the
// shared-state names use this form).
std::string ShareStateKey();

}  // namespace udra
