// The levels of the picture and the sound as the media layer measures them and the windows show
// them: sound meters in dBFS, and the live picture's luma with its waveform and histogram.
#pragma once

#include <cstdint>

namespace orv {

// Sound meters: sample peaks in dBFS, full scale being the largest sample code.
constexpr double kMeterFloorDb = -60.0;  // the meters' scale runs from here to 0
constexpr int kMeterChannels = 8;        // channels measured; more are left out
constexpr double kSilenceDb = -200.0;    // what a channel of digital silence reads

struct SoundLevels {
  int channels = 0;  // 0: no sound measured yet
  double peakDb[kMeterChannels] = {};   // the highest sample of the last moments
  double holdDb[kMeterChannels] = {};   // the highest of the last two seconds
  bool clipped[kMeterChannels] = {};    // a sample reached full scale since the mark was cleared
};

// Luma on the 8-bit code scale of BT.601 limited range: black at 16, white at 235.
constexpr int kLumaBlack = 16;
constexpr int kLumaWhite = 235;
constexpr int kLumaCodes = 256;
constexpr int kWaveColumns = 256;  // the waveform's columns across the picture

struct PictureLevels {
  int width = 0, height = 0;  // of the picture measured
  int ymin = 0, ymax = 0;     // darkest and brightest luma (signalstats' YMIN, YMAX)
  double brng = 0.0;          // share of pixels below black or above white, 0..1
  std::uint32_t histogram[kLumaCodes] = {};
  // Brightness 0..255 of the waveform at luma code `row` in column `column`: how many of the
  // column's pixels have that luma.
  std::uint8_t waveform[kLumaCodes][kWaveColumns] = {};
};

}  // namespace orv
