#pragma once
// The caps the service keeps to, whoever its peers are. Each is documented in the README's "Limits"
// table; the ones tests shorten (timeouts, connection counts) are Options fields instead.
#include <cstddef>
#include <cstdint>

namespace kxservice::limits {

// A configuration as stored: a pretty-printed entry with pose and covariance is about 1.1 KB, so this
// holds kMaxPhotographs with room to spare. Larger ones are refused before any read.
constexpr uint64_t kMaxConfigBytes = uint64_t{64} << 20;
// A sparse model as stored (an MVS launch).
constexpr uint64_t kMaxSparseModelBytes = uint64_t{1} << 30;
// Inputs up to this size are read on a lane of their own, so that they never wait behind a large one.
constexpr uint64_t kQuickReadBytes = uint64_t{1} << 20;
// Nesting of a configuration's JSON: the parser recurses once per level.
constexpr size_t kMaxJsonDepth = 64;
// Photographs of one task (configuration entries or MVS images).
constexpr size_t kMaxPhotographs = 50000;
// The longest time a task may be given from its photographs (--task-timeout, the operator's, is not
// capped).
constexpr uint64_t kMaxTaskSeconds = 72 * 3600;

// Per session: upload URLs not yet used (a whole project asks for all of them at once), tasks queued
// or running, and download URLs (the oldest goes when a new one would pass the cap).
constexpr size_t kMaxPendingUploads = kMaxPhotographs + 1;
constexpr size_t kMaxSessionTasks = 4;
// Per session: finished tasks whose results were not asked for (their directories cannot be evicted).
constexpr size_t kMaxSessionUncollected = 16;
constexpr size_t kMaxSessionDownloads = 1024;
// One session's unfinished uploads hold at most this share of --max-store (in 1/kShareScale).
constexpr uint64_t kUploadShare = 1;
constexpr uint64_t kShareScale = 2;

// How often the directories of running tasks are measured against --max-store.
constexpr unsigned kTaskMeterMilliseconds = 2000;

// A task's seconds when --task-timeout is not given, from its distinct photographs: the colmap engine
// holds itself to them, and a cluster job is given as long.
constexpr uint64_t kTaskBaseSeconds = 60;
constexpr uint64_t kSfmSecondsPerPhotograph = 30;
constexpr uint64_t kMvsSecondsPerPhotograph = 60;

// Seconds a task may run from its photographs: base plus perPhotograph for each distinct one, capped.
constexpr uint64_t taskSeconds(uint64_t base, uint64_t perPhotograph, size_t nbDistinct) {
    const uint64_t room = (kMaxTaskSeconds - base) / perPhotograph;
    return nbDistinct >= room ? kMaxTaskSeconds : base + perPhotograph * nbDistinct;
}

}  // namespace kxservice::limits
