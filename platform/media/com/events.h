// What happened during a capture, and when: the frames a card lost, its stalls and restarts, buffers
// it flagged as bad, the signal lost and regained, sound overruns, a change of format, a write
// fault. Sources note them as they happen, on their stream's clock; each but the frames lost and
// inserted is also a line of the program's log. The capture log of a recording reads them back.
#pragma once

#include "platform/wintypes.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace orv::media {

enum class CaptureEventKind {
  FramesLost,      // count: frames the card's sequence numbers say it lost
  FramesInserted,  // count: places the writer filled (repeats, empty entries)
  Stall,           // the card delivered no picture for a while; count: milliseconds
  Restart,         // streaming was started again
  FlaggedBuffer,   // a buffer the driver flagged as bad, kept
  SignalLost,
  SignalRegained,
  SoundOverrun,    // count: milliseconds of silence put in
  FormatChanged,
  WriteFault,
  DeviceGone,      // the card stopped answering (unplugged); its stream ends here
};

// Its name in logs: "frames_lost", "stall" ...
const char* NameOf(CaptureEventKind kind);

struct CaptureEvent {
  CaptureEventKind kind;
  REFERENCE_TIME at;  // stream time, 100 ns since the graph ran
  long count = 1;
  bool operator==(const CaptureEvent&) const = default;
};

// Safe from any thread.
class CaptureEvents {
 public:
  // who: what noted it ("video", "sound", "writer"), for the log line.
  void Note(const char* who, CaptureEventKind kind, REFERENCE_TIME at, long count = 1);
  // Those noted from the index `from` on (0: all), in order.
  std::vector<CaptureEvent> Since(std::size_t from = 0) const;
  // How many of this kind were noted.
  std::size_t Count(CaptureEventKind kind) const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<CaptureEvent> m_events;
};

}  // namespace orv::media
