// The shape of a virtual capture card: the built-in default, or a JSON description for tests.
// docs/virtual-card.md describes the format.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace orv::media {

struct CrossbarPinDesc {
  LONG type = 0;      // PhysicalConnectorType
  LONG related = -1;  // index of the related pin on the same side, -1 for none
  // Inputs only: what feeds this pin: "" nothing, "tuner", "tuner-audio", or "crossbarN[:output]".
  std::string from;
};

struct CrossbarDesc {
  std::vector<CrossbarPinDesc> inputs;
  std::vector<CrossbarPinDesc> outputs;
  std::vector<std::pair<LONG, LONG>> refused;  // (output, input) pairs CanRoute refuses
};

struct TunerDesc {
  LONG antennaMin = 2, antennaMax = 69;
  LONG cableMin = 1, cableMax = 125;
  std::set<LONG> antennaSignal;
  std::set<LONG> cableSignal;
};

struct ProcAmpRange {
  bool present = true;
  LONG min = 0, max = 10000, step = 1, def = 5000, caps = VideoProcAmp_Flags_Manual;
};

struct VideoFormatDesc {
  GUID major = MEDIATYPE_Video;
  GUID subtype = MEDIASUBTYPE_YUY2;
  GUID formatType = FORMAT_VideoInfo;
  LONG width = 640;
  LONG height = 480;
  REFERENCE_TIME avgTimePerFrame = 333667;  // 29.97 frames per second
};

struct DeviceDesc {
  std::string name;
  bool previewPin = true;
  bool analogVideoIn = true;  // the capture filter's PIN_CATEGORY_ANALOGVIDEOIN input pin
  bool streamConfig = true;
  bool droppedFrames = true;
  std::vector<CrossbarDesc> crossbars;  // [0] feeds the capture filter, [1] feeds [0] ...
  std::optional<TunerDesc> tuner;
  // What feeds the analogue video input: "crossbar0" (default when there is one), "tuner" or "".
  std::string analogInFrom;
  ProcAmpRange procAmp[4];  // brightness, contrast, hue, saturation
  VideoFormatDesc format;
  bool audio = true;  // an audio capture device in the audio input category
  std::string audioName;
  // A VBI device in the VBI input category, and the captions it sends on channel 1, one a second in
  // turn (none: only null pairs).
  bool vbi = true;
  std::string vbiName;
  std::vector<std::string> captions{"Captions from the virtual card"};
  // Under a 625-line standard, line 23's wide-screen signal: its bits (none: the line is empty),
  // and from when on it says 4:3 instead (card's clock, 100 ns units; -1: never).
  std::optional<std::uint16_t> wss;
  REFERENCE_TIME wssUntil = -1;
  // Under a 625-line standard, the captions sent as this teletext subtitle page (0: none).
  int teletextPage = 0;
  // Clocks and sync marks (docs/virtual-card.md).
  bool syncMarks = false;
  LONG audioClockPpm = 0;        // the sound's clock runs this many millionths fast against true time
  LONG videoClockPpm = 0;        // the pictures come this many millionths fast against true time
  LONG videoStartLatencyMs = 0;  // the picture starts this long after the sound
  LONG clockSpeed = 1;           // both clocks run this many times as fast as real time
  LONG signalOffAfterS = 0;      // the signal goes this long after the capture filter runs (0: never)
  // What a bad tape and a misbehaving card do, at times on the card's clock since the graph ran
  // (100 ns units; -1: never).
  struct StreamFaults {
    REFERENCE_TIME stallAt = -1, stallFor = 0;    // no picture at all
    REFERENCE_TIME streamingErrorAt = -1;         // the stream fails and is started again
    REFERENCE_TIME badBufferAt = -1;              // one buffer flagged as bad
    REFERENCE_TIME noLockAt = -1, noLockFor = 0;  // snow: the decoder has no lock
    REFERENCE_TIME unplugAt = -1;                 // the card stops answering for good
  } streamFaults;
  // The test picture's darkest and brightest luma (black and white of BT.601 by default), and the
  // tone's peak on each side as a share of full scale.
  int lumaMin = 16, lumaMax = 235;
  double toneScale[2] = {8000.0 / 32768, 8000.0 / 32768};
  // The TV standard keys the card takes ("PAL-BG", ...); none listed: every one.
  std::optional<std::vector<std::string>> standards;
};

struct FaultDesc {
  std::string op;
  HRESULT hr = E_FAIL;
  int skip = 0;
  int times = -1;
};

struct CardSet {
  std::vector<DeviceDesc> devices;
  std::vector<FaultDesc> faults;
};

// The built-in card: one crossbar (S-Video, Tuner, Composite, Audio Tuner, Audio Line), a tuner,
// a proc amp with driver range 0..10000, YUY2 640x480, preview pin, an audio capture device.
DeviceDesc DefaultDevice();
CardSet DefaultCardSet();

// Parses a description (JSON text). On malformed input returns nullopt and sets *error to a
// message naming the problem.
std::optional<CardSet> ParseCardSet(const std::string& json, std::string* error);

}  // namespace orv::media
