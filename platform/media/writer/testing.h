// The recording writer's seams for tests and benchmarks: a disk that fills up or is slow, a small queue.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orv::media {

// Pretends that the disk holding capture files has room for files of at most `bytes` bytes, as a
// disk that fills up during a capture would (0: the real disk).
void SetAviDiskLimitForTests(std::uint64_t bytes);

// Makes every packet's write, and the file's end, take this long, as a slow disk would (0: no delay).
void SetAviWriteDelayForTests(int microseconds);

// The write queue's bound in bytes (0: the default); an access copy's is a quarter of it.
void SetAviQueueLimitForTests(std::size_t bytes);

// Makes every sync of a capture file to the disk fail with this errno, as a failing USB disk's
// does (0: the real sync).
void SetAviSyncErrorForTests(int error);

// Makes WritersBehind() say a writer is behind (true) or ask the writers again (false).
void SetWritersBehindForTests(bool behind);

// Whether files opened from now on place pictures on the sound's clock when the sound is the master
// stream (the default); a benchmark shows the drift without it.
void SetAviFollowSoundClockForBenchmarks(bool follow);

}  // namespace orv::media
