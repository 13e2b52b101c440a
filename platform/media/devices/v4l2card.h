// Internal: real capture cards (V4L2 video devices) and their sound (ALSA capture), and the small
// pieces of policy behind them that can be checked without hardware.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstdint>
#include <functional>
#include <poll.h>
#include <string>
#include <vector>

namespace orv::media {

// ---- Channel plans (channeltable.cpp) -------------------------------------------------------------
// Antenna: broadcast channels 2..69; cable: standard cable channels 1..125. Visual carriers in kHz.
void PlanRange(TunerInputType plan, LONG* min, LONG* max);
// 0 for a channel outside the plan.
std::uint32_t ChannelToKHz(TunerInputType plan, LONG channel);
// The plan's channel whose carrier lies nearest to kHz, if within half a channel (3 MHz); else 0.
LONG KHzToChannel(TunerInputType plan, std::uint32_t kHz);
// Tuner frequency units: 62.5 kHz, or 62.5 Hz for a tuner with V4L2_TUNER_CAP_LOW.
std::uint32_t KHzToTunerUnits(std::uint32_t kHz, bool lowUnits);
std::uint32_t TunerUnitsToKHz(std::uint32_t units, bool lowUnits);

// ---- TV standards (channeltable.cpp) ----------------------------------------------------------------
// A set of standards as V4L2 masks them (v4l2_std_id).
using StdMask = std::uint64_t;
// The standard the plan's stations broadcast in.
StdMask PlanStandard(TunerInputType plan);
// Picture lines (480 for the 525-line standards, else 576) and frame duration in 100 ns units.
std::uint32_t StandardLines(StdMask standard);
REFERENCE_TIME StandardPeriod(StdMask standard);

// ---- Crossbar layout --------------------------------------------------------------------------------
// One V4L2 video input, as VIDIOC_ENUMINPUT describes it.
struct CardInput {
  std::uint32_t index = 0;
  std::string name;
  bool tuner = false;  // V4L2_INPUT_TYPE_TUNER
  bool camera = false; // V4L2_INPUT_TYPE_CAMERA (composite, S-Video, webcam, HDMI ...)
  std::uint32_t audioset = 0;
  std::uint32_t tunerIndex = 0;
  bool hasStandard = false;  // V4L2_IN_CAP_STD: the input decodes an analogue TV standard
  StdMask standards = 0;     // the standards it can decode
};
struct CardAudioInput {
  std::uint32_t index = 0;
  std::string name;
};

// The crossbar the program expects: video inputs 0 S-Video, 1 tuner, 2 composite (any other camera
// input when the card has no composite), audio inputs 3 tuner sound and 4 line; -1 where the card
// has nothing of that kind.
constexpr int kXbarSVideo = 0, kXbarTuner = 1, kXbarComposite = 2, kXbarAudioTuner = 3, kXbarAudioLine = 4;
constexpr int kXbarInputs = 5, kXbarVideoOut = 0, kXbarAudioOut = 1, kXbarOutputs = 2;
struct CrossbarLayout {
  int input[kXbarInputs] = {-1, -1, -1, -1, -1};  // V4L2 video (0..2) or audio (3, 4) input index
};
CrossbarLayout MapCardInputs(const std::vector<CardInput>& inputs, const std::vector<CardAudioInput>& audio);

// ---- Picture controls ------------------------------------------------------------------------------
// A driver range shown as 0..(max - min): the program's level mapping assumes a 0-based range.
struct DriverRange {
  LONG min = 0, max = 0, step = 1, def = 0;
};
LONG ToDriverValue(const DriverRange& r, LONG shown);    // clamped into the driver's range
LONG FromDriverValue(const DriverRange& r, LONG driver);

// ---- Frame rate and dropped frames ------------------------------------------------------------------
// Keeps frames evenly so that a source at one frame duration comes out at a longer one. With the
// source's duration known, by counting frames; without it, by their times.
class FrameDecimator {
 public:
  // Durations in 100 ns units; source 0 when the driver does not tell. Wanted at or below the
  // source's keeps every frame.
  void Reset(REFERENCE_TIME source, REFERENCE_TIME wanted);
  // A frame at time t that follows `lost` frames the driver missed: whether it is kept. *missed
  // gets the frames of the wanted rate that are gone with the lost ones (or, by time, whose place
  // stayed empty).
  bool Keep(REFERENCE_TIME t, std::uint32_t lost, std::uint32_t* missed);

 private:
  bool KeepByCount();
  REFERENCE_TIME m_source = 0, m_wanted = 0, m_credit = 0;
  bool m_started = false;
  REFERENCE_TIME m_next = 0;  // by time: where the next kept frame belongs
};

// Frames the driver lost, from the gaps in its sequence numbers.
class SequenceGaps {
 public:
  void Reset() { m_started = false; }
  // Frames missing just before this one.
  std::uint32_t Next(std::uint32_t sequence);

 private:
  bool m_started = false;
  std::uint32_t m_last = 0;
};

// ---- Tuner ------------------------------------------------------------------------------------------
// Whether a freshly tuned channel carries a signal, from the tuner's readings: the first counts once
// the tuner has settled, and the signal must hold across readings some time apart, so the lock of
// the channel tuned before is never taken for this one's.
class LockWatch {
 public:
  enum class Verdict { Wait, Found, NotFound };
  static constexpr REFERENCE_TIME kSettle = 500000;    // 50 ms before the first reading counts
  static constexpr REFERENCE_TIME kHold = 1000000;     // 100 ms of signal
  static constexpr REFERENCE_TIME kBudget = 2500000;   // 250 ms per channel
  // A reading taken `since` after tuning.
  Verdict Reading(REFERENCE_TIME since, int signal);

 private:
  REFERENCE_TIME m_lockedSince = -1;
};

// ---- Devices -------------------------------------------------------------------------------------------
struct VideoNode {
  std::string path;   // /dev/videoN
  int number = 0;     // N
  std::string bus;    // bus_info
  std::string card;   // friendly name
};
// By bus, then node number: the same card keeps its index across runs.
void SortVideoNodes(std::vector<VideoNode>* nodes);

// The ALSA card index that belongs to the same hardware as video4linux node `node` ("video0"),
// found under sysfsRoot ("/sys"), or -1.
int SoundCardOfNode(const std::string& sysfsRoot, const std::string& node);

struct RealDeviceEntry {
  std::string friendlyName;
  std::string devicePath;
  std::function<HRESULT(IBaseFilter**)> create;
};
// Every V4L2 video capture device (category video), or their sound devices, one per video device
// in the same order (category audio).
std::vector<RealDeviceEntry> ListRealDevices(const GUID& category);

// The calls the card code makes on a device, as libavdevice keeps them for libv4l2: libv4l2's
// (and the system's poll) for real cards; tests put a driver of their own underneath.
struct V4l2Calls {
  std::function<int(const char* path, int flags)> open;
  std::function<int(int fd)> close;
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;
  std::function<void*(void* start, std::size_t length, int prot, int flags, int fd, std::int64_t offset)> mmap;
  std::function<int(void* start, std::size_t length)> munmap;
  std::function<int(pollfd* fds, nfds_t count, int timeoutMs)> poll;
};
V4l2Calls LibV4l2Calls();
// The capture filter of the card at node, reached through calls, outside the device list.
HRESULT CreateV4l2Capture(const VideoNode& node, V4l2Calls calls, IBaseFilter** out);

// The audio capture filter on an ALSA PCM name ("plughw:CARD=x,DEV=0", "default").
HRESULT CreateAlsaCaptureFilter(const std::string& pcm, const std::string& instance, IBaseFilter** out);

// Shown once when a card stops answering (unplugged) while it streams.
void ReportDeviceLost(const std::string& what);

}  // namespace orv::media
