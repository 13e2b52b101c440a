#include "platform/media/com/events.h"

#include "platform/log.h"

#include <algorithm>

namespace orv::media {

const char* NameOf(CaptureEventKind kind) {
  switch (kind) {
    case CaptureEventKind::FramesLost: return "frames_lost";
    case CaptureEventKind::FramesInserted: return "frames_inserted";
    case CaptureEventKind::Stall: return "stall";
    case CaptureEventKind::Restart: return "restart";
    case CaptureEventKind::FlaggedBuffer: return "flagged_buffer";
    case CaptureEventKind::SignalLost: return "signal_lost";
    case CaptureEventKind::SignalRegained: return "signal_regained";
    case CaptureEventKind::SoundOverrun: return "sound_overrun";
    case CaptureEventKind::FormatChanged: return "format_changed";
    case CaptureEventKind::WriteFault: return "write_fault";
    case CaptureEventKind::DeviceGone: return "device_gone";
  }
  return "unknown";
}

void CaptureEvents::Note(const char* who, CaptureEventKind kind, REFERENCE_TIME at, long count) {
  {
    std::lock_guard lock(m_mutex);
    m_events.push_back({kind, at, count});
  }
  // Frames lost and filled come in their hundreds on a busy machine: the capture log keeps them.
  if (kind != CaptureEventKind::FramesLost && kind != CaptureEventKind::FramesInserted)
    LogError(who, "capture event at %.3f s: %s (%ld)", static_cast<double>(at) / 1e7, NameOf(kind), count);
}

std::vector<CaptureEvent> CaptureEvents::Since(std::size_t from) const {
  std::lock_guard lock(m_mutex);
  if (from >= m_events.size()) return {};
  return {m_events.begin() + static_cast<std::ptrdiff_t>(from), m_events.end()};
}

std::size_t CaptureEvents::Count(CaptureEventKind kind) const {
  std::lock_guard lock(m_mutex);
  return static_cast<std::size_t>(std::count_if(m_events.begin(), m_events.end(), [&](const CaptureEvent& e) { return e.kind == kind; }));
}

void CaptureEvents::Clear() {
  std::lock_guard lock(m_mutex);
  m_events.clear();
}

}  // namespace orv::media
