// Internal: what the virtual card's decoder puts out: a paced source thread, the sync marks, and
// the card's picture and sound.
#pragma once

#include "platform/media/writer/captions.h"

#include "platform/media/com/dshow.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::media {


// The clock of a Pacer's ticks: time t falls at origin + t / speed on the monotonic clock
// (MonotonicNow(); origin 0: when Start is called). A speed above 1 is a simulated clock that runs
// that many times as fast as real time.
struct PacerClock {
  REFERENCE_TIME origin = 0;
  REFERENCE_TIME offset = 0;  // the first tick's time
  int speed = 1;
};

// Calls tick on a thread of its own once per period, from Start until Stop. A tick that comes more
// than one period late skips the ticks it missed and reports how many.
class Pacer {
 public:
  // index: ticks since Start (skipped ones included); time: offset + index × period, on the
  // pacer's clock; missed: ticks skipped just before this one.
  using Tick = std::function<void(std::int64_t index, REFERENCE_TIME time, int missed)>;
  using Clock = PacerClock;
  Pacer() = default;
  Pacer(const Pacer&) = delete;
  Pacer& operator=(const Pacer&) = delete;
  ~Pacer() { Stop(); }
  void Start(REFERENCE_TIME period, Tick tick, Clock clock = {});
  // Waits for a running tick to finish. Never call it from the tick itself.
  void Stop();

 private:
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stop = false;
};

// The virtual card's sync marks: once a second a white picture and a 1 kHz beep of 100 ms start
// together. The mark of second k is the first frame slot (multiples of the frame period from the
// graph's start) at or after k seconds.
class SyncMarks {
 public:
  explicit SyncMarks(REFERENCE_TIME framePeriod) : m_period(framePeriod > 0 ? framePeriod : 1) {}
  // Whether the frame slot at time t (a multiple of the frame period) starts a mark.
  bool IsMarkFrame(REFERENCE_TIME t) const;
  // The beep's sample at time t: 0 outside the beeps.
  std::int16_t Beep(REFERENCE_TIME t) const;

  static constexpr REFERENCE_TIME kEvery = 10000000;   // a second
  static constexpr REFERENCE_TIME kBeep = 1000000;     // 100 ms
  static constexpr double kBeepHz = 1000.0;

 private:
  REFERENCE_TIME MarkOf(std::int64_t second) const;  // the time of second k's mark
  REFERENCE_TIME m_period;
};

// What the virtual card's decoder sees: the routed input and, for the tuner, the channel.
struct PictureState {
  enum class Input { None, Tuner, External };
  Input input = Input::None;
  LONG connector = 0;  // PhysicalConnectorType of an external input
  LONG channel = 0;
  bool signal = false;
  AM_FIELD_ORDER fields = AM_FIELDS_PROGRESSIVE;  // interlaced: each field shows its own instant
  // The four picture controls, each 0..1 across the driver's range (0.5 leaves the picture alone).
  double brightness = 0.5, contrast = 0.5, hue = 0.5, saturation = 0.5;
  // The decoder's luma range before the picture controls: black and white of the test picture.
  int lumaMin = 16, lumaMax = 235;
  double toneScale[2] = {8000.0 / 32768, 8000.0 / 32768};  // the tone's peak per side, of full scale
};

// The virtual card's captions: caption k of the list, in turn, is sent as CC1's pop-on pairs from the
// first frame slot at or after second k of the card's clock, one pair a frame, so that each shows
// a second after the one before.
class CaptionSchedule {
 public:
  CaptionSchedule(const std::vector<std::string>& captions, REFERENCE_TIME framePeriod);
  // The pair of field 1 for the frame slot at time t (a multiple of the frame period): null pairs
  // between captions.
  cc::Pair At(REFERENCE_TIME t) const;

 private:
  std::vector<std::vector<cc::Pair>> m_pairs;
  REFERENCE_TIME m_period;
};

// Draws the virtual card's picture and its sound.
class PictureGenerator {
 public:
  // A YUY2 frame (width rounded down to even) of the state at frame `index`; dst holds width×height×2.
  void DrawYUY2(const PictureState& s, std::int64_t index, BYTE* dst, int width, int height);
  // 16-bit interleaved PCM: a tone that depends on the channel (at the state's level on each side,
  // the third channel on as the right), hiss on a channel without signal, silence otherwise.
  void DrawPCM(const PictureState& s, std::int16_t* dst, int frames, int channels, int rate);
  // A white picture (the sync marks' flash).
  static void DrawWhiteYUY2(BYTE* dst, int width, int height);

 private:
  std::uint32_t Noise();
  void DrawStill(const PictureState& s, int w, int h);
  std::uint32_t m_seed = 0x9E3779B9u;
  std::vector<BYTE> m_y, m_u, m_v;  // the picture before the picture controls, U and V per pixel pair
  // The picture without its moving element, packed with the controls applied, kept while the state
  // and the size stay: a steady channel costs a copy and the element's rows.
  std::vector<BYTE> m_still;
  PictureState m_stillState;
  int m_stillWidth = 0, m_stillHeight = 0;
  bool m_stillValid = false;
  std::vector<BYTE> m_rowY, m_rowU, m_rowV;  // a row of the element being drawn
  double m_phase = 0.0;
};

}  // namespace orv::media
