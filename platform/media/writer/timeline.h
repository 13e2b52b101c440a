// The file's one timeline, led by the pictures: every picture the card delivers has the next place,
// and the sound is resampled, a little at a time, so that it keeps to where the pictures say the
// time is. Two clocks that differ by a few hundred ppm (a tape's picture timing, a sound card's
// crystal) then cost no picture and no sample.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct SwrContext;

namespace orv::media {

// A straight line through (x, y) points, fitted by least squares as they come, recent points
// weighing more (a clock's rate wanders slowly with temperature). Numerically stable for stamps in
// 100 ns units over hours.
class LineFit {
 public:
  // memory: about how many recent points the fit rests on.
  explicit LineFit(double memory) : m_keep(1.0 - 1.0 / memory) {}
  void Add(double x, double y);
  // Whether the points span enough of x to give a slope.
  bool Ready() const { return m_count >= 2 && m_cxx > 0; }
  double Slope() const { return m_cxy / m_cxx; }
  double At(double x) const { return m_my + Slope() * (x - m_mx); }
  // The x at which the line reaches y.
  double Inverse(double y) const { return m_mx + (y - m_my) / Slope(); }
  std::int64_t Count() const { return m_count; }
  double MeanX() const { return m_mx; }
  double MeanY() const { return m_my; }
  void Reset() { *this = LineFit(1.0 / (1.0 - m_keep)); }

 private:
  double m_keep;
  double m_weight = 0, m_mx = 0, m_my = 0, m_cxx = 0, m_cxy = 0;
  std::int64_t m_count = 0;
};

// Where on the file's timeline a moment of the monotonic clock lies, from the pictures' stamps and
// the places they were given.
class PictureClock {
 public:
  // frame: the file's frame duration in 100 ns units (what one place is worth).
  explicit PictureClock(std::int64_t frame) : m_frame(frame) {}
  void Picture(std::int64_t place, std::int64_t stamp) { m_fit.Add(static_cast<double>(place), static_cast<double>(stamp)); }
  // Places (fractional) at this stamp; before two pictures, at the nominal rate from origin.
  double PlaceAt(std::int64_t stamp, std::int64_t origin) const;

 private:
  std::int64_t m_frame;
  LineFit m_fit{4096};  // some two minutes of pictures
};

// A stream of interleaved PCM (8-bit unsigned or 16-bit) resampled at the same rate by a changing
// fraction, through libswresample's compensation, so that its samples land where they are wanted.
class SoundFollower {
 public:
  SoundFollower(int rate, int channels, int bitsPerSample);
  ~SoundFollower();
  SoundFollower(const SoundFollower&) = delete;
  SoundFollower& operator=(const SoundFollower&) = delete;
  bool Valid() const { return m_swr != nullptr; }
  // `samples` input samples whose first should be output sample `wanted` (fractional) while `written`
  // samples have gone out so far; the output for them is appended to out. False on a resampler fault.
  bool Follow(const std::uint8_t* data, int samples, double wanted, std::int64_t written, std::vector<std::uint8_t>& out);
  // What the resampler still holds, at the end.
  bool Drain(std::vector<std::uint8_t>& out);
  // Output samples it holds back (its filter's delay).
  std::int64_t Delay() const;

  // The most the rate is bent, and how fast an offset is worked off: within these, no sample is
  // ever dropped or repeated.
  static constexpr double kMaxBend = 0.005;     // 5000 ppm
  static constexpr double kSettleSeconds = 2.0;  // an offset is halved in about this time
  // An offset beyond this (a sound device that lost time) is mended at once with silence or a cut.
  static constexpr double kJumpSeconds = 0.5;

 private:
  bool Convert(const std::uint8_t* data, int samples, std::vector<std::uint8_t>& out);
  SwrContext* m_swr = nullptr;
  int m_rate, m_blockAlign;
  bool m_unsigned8;
  LineFit m_rateFit{256};  // wanted place against input samples: the clocks' ratio
  std::int64_t m_in = 0;   // input samples so far
};

}  // namespace orv::media
