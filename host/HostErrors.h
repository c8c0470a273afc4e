// The values the host puts into its answers and events. The library carries
// them to the game; their meaning is the host's own.
#pragma once

#include <cstdint>

namespace udra::host {

// errKind of a failed CMD_SYNC_RETURN.
enum ErrKind : uint16_t {
  kKindNetwork = 0,   // transfer failed: network, server or HTTP error (errCode = CURLcode)
  kKindContent = 1,   // bad request or content: size or MD5 differ from the request (errCode 0, or
                      // the CURLcode when the transfer was stopped for delivering too much)
  kKindStore = 2,     // the entry could not be stored or the partial file not written (errCode =
                      // the store's error code, 3 = disk full; 23 when the partial file failed)
  kKindAborted = 3,   // the host dropped the request because it is shutting down (errCode 42)
};

// errCode values that are not libcurl's.
constexpr uint16_t kCodeNone = 0;
constexpr uint16_t kCodeAborted = 42;  // CURLE_ABORTED_BY_CALLBACK

// Values of CMD_HOST_EVENT.
enum HostEvent : int32_t {
  kEventIdle = 1,      // the last queued download has ended: nothing is queued or running
  kEventDiskFull = 2,  // the store refused an entry for lack of disk space
};

// Bits of the CMD_HOST_FLAG byte.
constexpr uint8_t kFlagPause = 0x01;  // while set no new transfer starts; running ones finish

}  // namespace udra::host
