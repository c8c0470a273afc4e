// The host's settings from "UDRAHostApp.ini" beside the executable.
#pragma once

#include <cstdint>
#include <string>

namespace udra::host {

struct HostSettings {
  int maxParallel = 8;           // [Host] MaxParallel: transfers at once (1..64)
  // [Host] MaxStreams: transfers at once while the server multiplexes them
  // over one HTTP/2 connection (1..128). Streams cost the server no
  // connection each, so more of them run than MaxParallel allows; never fewer.
  int maxStreams = 64;
  int maxRetries = 3;            // [Host] MaxRetries: further attempts after a transient failure (0..20)
  int retryDelayMs = 500;        // [Host] RetryDelay: first back-off in ms, doubled per attempt (max 30 s)
  int retryAfterLimit = 10;      // [Host] RetryAfterLimit: the longest Retry-After (s) of a 503 or 429
                                 // that is waited for (0..300); a longer one fails the download at once
  int64_t bandwidthLimit = 0;    // [Host] BandwidthLimit: bytes/s over all transfers, 0 = none
  // A server that accepts and then says nothing, or a host that never
  // answers the connection, costs a sync two attempts of 10 s each (a stall
  // that brought no byte is tried again only after the first attempt):
  // about 21 s before the game is told.
  int connectTimeout = 10;       // [Host] ConnectTimeout: seconds to connect (1..300)
  int lowSpeedTimeout = 10;      // [Host] LowSpeedTimeout: seconds below LowSpeedLimit before giving up
  int lowSpeedLimit = 64;        // [Host] LowSpeedLimit: bytes/s that count as a stall (1..1 MiB)
  int64_t resumeMinSize = 1 << 20;  // [Host] ResumeMinSize: files of this size or more are
                                    // downloaded into a resumable ".part" file, smaller ones in memory
  int checkThreads = 0;          // [Host] CheckThreads: threads checking MD5s (0 = one per
                                 // processor, at most 8; 1..16)
  // [Host] CaFile: a PEM file of certificates that https servers are
  // verified against instead of the system's bundle file (a server with a
  // self-signed certificate, a private CA). A relative path is taken from the
  // installation folder. Empty: libcurl's default bundle.
  std::string caFile;
  int noGameExitSeconds = 60;    // [Host] NoGameExit: seconds without a connection (while no
                                 // CMD_HELLO named the game) before the host ends
  uint32_t reservedSize = 0x40000000u;  // [ResPool] ReservedSize: passed to the store's Create
};

// Reads the settings from `iniPath`, each clamped to its range; missing keys
// keep their defaults. A relative CaFile is joined to the folder of `iniPath`.
HostSettings LoadHostSettings(const std::string& iniPath);

constexpr const char kHostIniName[] = "UDRAHostApp.ini";

}  // namespace udra::host
