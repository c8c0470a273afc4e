#include "host/HostSettings.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/Profile.h"
#include "util/Paths.h"

namespace udra::host {
namespace {

int ReadClamped(const std::string& ini, const char* section, const char* key, int def, int lo, int hi) {
  return std::clamp(platform::ReadProfileInt(ini, section, key, def), lo, hi);
}

}  // namespace

HostSettings LoadHostSettings(const std::string& iniPath) {
  HostSettings s;
  const char* h = "Host";
  s.maxParallel = ReadClamped(iniPath, h, "MaxParallel", s.maxParallel, 1, 64);
  s.maxStreams = std::max(s.maxParallel, ReadClamped(iniPath, h, "MaxStreams", s.maxStreams, 1, 128));
  s.maxRetries = ReadClamped(iniPath, h, "MaxRetries", s.maxRetries, 0, 20);
  s.retryDelayMs = ReadClamped(iniPath, h, "RetryDelay", s.retryDelayMs, 0, 30000);
  s.retryAfterLimit = ReadClamped(iniPath, h, "RetryAfterLimit", s.retryAfterLimit, 0, 300);
  s.bandwidthLimit = ReadClamped(iniPath, h, "BandwidthLimit", 0, 0, 0x7FFFFFFF);
  s.connectTimeout = ReadClamped(iniPath, h, "ConnectTimeout", s.connectTimeout, 1, 300);
  s.lowSpeedTimeout = ReadClamped(iniPath, h, "LowSpeedTimeout", s.lowSpeedTimeout, 1, 3600);
  s.lowSpeedLimit = ReadClamped(iniPath, h, "LowSpeedLimit", s.lowSpeedLimit, 1, 1 << 20);
  // Files below this size are held in memory while they download: bounded to 64 MiB.
  s.resumeMinSize = ReadClamped(iniPath, h, "ResumeMinSize", static_cast<int>(s.resumeMinSize), 0, 64 << 20);
  s.checkThreads = ReadClamped(iniPath, h, "CheckThreads", 0, 0, 16);
  if (s.checkThreads == 0) s.checkThreads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
  // A path longer than a path buffer is cut by the read and so names another
  // file: such a value is refused (verification then uses the default bundle
  // and fails for a private certificate, as it should).
  std::string ca;
  if (platform::ReadProfileString(iniPath, h, "CaFile", ca, 4096) && !ca.empty() && ca.size() < 4095)
    s.caFile = std::filesystem::path(ca).is_absolute() ? ca : JoinPath(ParentFolder(iniPath), ca);
  s.noGameExitSeconds = ReadClamped(iniPath, h, "NoGameExit", s.noGameExitSeconds, 1, 86400);
  // The value is a byte count up to 4 GiB - 1; ReadProfileInt stops at 2^31 - 1.
  const int reserved = platform::ReadProfileInt(iniPath, "ResPool", "ReservedSize", 0x40000000);
  s.reservedSize = reserved < 0 ? 0u : static_cast<uint32_t>(reserved);
  return s;
}

}  // namespace udra::host
