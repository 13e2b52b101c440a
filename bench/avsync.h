// Lip sync of a recording of the virtual card's sync marks: the white pictures and the 1 kHz beeps,
// found with libavformat and libavcodec, paired, and their offsets. Shared by bench/av_offset and
// the tests.
#pragma once

#include <string>
#include <vector>

namespace orv::avsync {

struct Pair {
  double flash = 0;  // seconds into the file
  double beep = 0;
  double OffsetMs() const { return (beep - flash) * 1000.0; }  // positive: the sound comes late
};

struct Analysis {
  std::string error;  // "" when the file could be read
  std::vector<double> flashes, beeps;
  // Each flash with its beep: the one nearest the flash moved by the offset so far (within half a
  // second of that), so an offset that grows slowly is followed beyond half a second.
  std::vector<Pair> pairs;
  double seconds = 0;    // the longer stream's length
  long long pictures = 0;  // pictures decoded (empty chunks hold none)
  double MaxOffsetMs() const;
};

Analysis Analyse(const std::string& path);

// The offset of each pair, one a line, and last "max offset N ms over M s".
std::string Report(const Analysis& a);

}  // namespace orv::avsync
