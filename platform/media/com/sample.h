// One buffer of a stream on its way downstream, what became of it, and the frame counts of the
// source it came from.
#pragma once

#include "platform/media/com/dshow.h"
#include "platform/media/com/events.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace orv::media {

// A capture pin's frame counts (IAMDroppedFrames). A receiver that took a frame and leaves it out
// later (a writer following another clock, a file that can take no more) moves it to dropped, so
// the counts always tell what the file holds: the pictures delivered and the frames the writer
// inserted in their gaps (repeats, empty entries).
struct FrameCounts {
  std::atomic<LONG> delivered{0};
  std::atomic<LONG> dropped{0};
  std::atomic<LONG> inserted{0};
  CaptureEvents events;  // what happened to the stream, and when
  std::atomic<int> state{0};  // a CAPTURE_STREAM_STATE
  void Reset() {
    delivered = 0;
    dropped = 0;
    inserted = 0;
    events.Clear();
    state = 0;
  }
  void LeftOut() {
    --delivered;
    ++dropped;
  }
};

// One buffer of a stream as it travels from a capture pin downstream.
struct MediaSample {
  MediaSample() = default;
  MediaSample(const BYTE* data, std::size_t size, REFERENCE_TIME start, REFERENCE_TIME stop, const AM_MEDIA_TYPE* type,
              std::shared_ptr<FrameCounts> counts = nullptr)
      : data(data), size(size), start(start), stop(stop), type(type), counts(std::move(counts)) {}
  const BYTE* data = nullptr;
  std::size_t size = 0;
  REFERENCE_TIME start = 0;  // stream time since the graph ran, 100 ns units
  REFERENCE_TIME stop = 0;
  const AM_MEDIA_TYPE* type = nullptr;  // the stream's format (a VIDEOINFOHEADER or WAVEFORMATEX block)
  std::shared_ptr<FrameCounts> counts;  // the source's counts, for pictures it counts
  std::uint32_t lost = 0;  // frames the source lost just before this picture (its sequence numbers' gap)
};

// What became of a sample handed downstream: nothing took it (not connected, stream off), it was
// taken, or the receiver had no room for it (a frame the source counts as dropped).
enum class Delivery { None, Taken, Refused };

}  // namespace orv::media
