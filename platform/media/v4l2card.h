// Internal: real capture cards (V4L2 video devices) and their sound (ALSA capture), and the small
// pieces of policy behind them that can be checked without hardware.
#pragma once

#include "platform/media/dshow.h"

#include <cstdint>
#include <functional>
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

// ---- Crossbar layout --------------------------------------------------------------------------------
// One V4L2 video input, as VIDIOC_ENUMINPUT describes it.
struct CardInput {
  std::uint32_t index = 0;
  std::string name;
  bool tuner = false;  // V4L2_INPUT_TYPE_TUNER
  bool camera = false; // V4L2_INPUT_TYPE_CAMERA (composite, S-Video, webcam, HDMI ...)
  std::uint32_t audioset = 0;
  std::uint32_t tunerIndex = 0;
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
// Keeps frames evenly so that a source at one frame duration comes out at a longer one.
class FrameDecimator {
 public:
  // Durations in 100 ns units; wanted at or below the source's keeps every frame.
  void Reset(REFERENCE_TIME source, REFERENCE_TIME wanted);
  bool Keep();

 private:
  REFERENCE_TIME m_source = 0, m_wanted = 0, m_credit = 0;
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

// The audio capture filter on an ALSA PCM name ("plughw:CARD=x,DEV=0", "default").
HRESULT CreateAlsaCaptureFilter(const std::string& pcm, const std::string& instance, IBaseFilter** out);

// Shown once when a card stops answering (unplugged) while it streams.
void ReportDeviceLost(const std::string& what);

}  // namespace orv::media
