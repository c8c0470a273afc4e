// The few file operations whose behaviour differs between systems and that a
// publish relies on to leave the served tree intact when it is killed or the
// machine goes down part-way.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

namespace udra::publish {

enum class CreateResult { kCreated, kExists, kFailed };

// Creates `path`, which must not exist yet, and writes `size` bytes to it.
// With `flush` the bytes are on the disk before it returns. On kFailed a
// partly written file has been removed again.
CreateResult CreateNewFile(const std::filesystem::path& path, const void* data, size_t size,
                           bool flush);

// Replaces `to` by `from` in one step: readers see either the old or the new
// file, never a mix or no file.
bool ReplaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the bytes of `files` (written without flush) and the entries of
// `folders` durable, so that what is renamed into place afterwards never
// refers to data that a crash could lose. Only these are flushed: other
// dirty data on the same file system is not waited for.
bool FlushWritten(const std::vector<std::filesystem::path>& files,
                  const std::vector<std::filesystem::path>& folders);

// Makes the entries of `folder` (creations, links, renames) durable.
bool FlushFolder(const std::filesystem::path& folder);

// Distinguishes this run's temporary names from another run's.
unsigned long ProcessId();

}  // namespace udra::publish
