#include "platform/media/devices/virtualsignal.h"

#include "platform/media/graph/filterbase.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>
#include <string>

namespace orv::media {

// ---- Pacer ----------------------------------------------------------------------------------------

void Pacer::Start(REFERENCE_TIME period, Tick tick, Clock clock) {
  Stop();
  if (period <= 0) period = 333667;
  if (clock.origin == 0) clock.origin = MonotonicNow();
  clock.speed = std::max(1, clock.speed);
  {
    std::lock_guard lock(m_mutex);
    m_stop = false;
  }
  m_thread = std::thread([this, period, clock, tick = std::move(tick)] {
    // steady_clock is CLOCK_MONOTONIC here, the clock MonotonicNow() reads.
    using Steady = std::chrono::steady_clock;
    auto at = [&](std::int64_t index) {
      return Steady::time_point(std::chrono::nanoseconds(clock.origin * 100 + (clock.offset + index * period) * 100 / clock.speed));
    };
    const auto step = std::chrono::nanoseconds(period * 100 / clock.speed);
    std::int64_t index = 0;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
      const auto due = at(index);
      if (m_wake.wait_until(lock, due, [this] { return m_stop; })) break;
      const std::int64_t late = step.count() > 0 ? (Steady::now() - due) / step : 0;
      const int missed = static_cast<int>(std::clamp<std::int64_t>(late, 0, 1 << 20));
      index += missed;
      lock.unlock();
      tick(index, clock.offset + index * period, missed);
      lock.lock();
      ++index;
    }
  });
}

void Pacer::Stop() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

// ---- Sync marks -----------------------------------------------------------------------------------

REFERENCE_TIME SyncMarks::MarkOf(std::int64_t second) const {
  return (second * kEvery + m_period - 1) / m_period * m_period;
}

bool SyncMarks::IsMarkFrame(REFERENCE_TIME t) const {
  if (t < 0) return false;
  return MarkOf(t / kEvery) == t;
}

std::int16_t SyncMarks::Beep(REFERENCE_TIME t) const {
  if (t < 0) return 0;
  // The mark at or before t: this second's, unless it comes after t.
  std::int64_t second = t / kEvery;
  if (MarkOf(second) > t) --second;
  if (second < 0) return 0;
  const REFERENCE_TIME into = t - MarkOf(second);
  if (into >= kBeep) return 0;
  return static_cast<std::int16_t>(std::lround(16000 * std::sin(2 * std::numbers::pi * kBeepHz * into / 1e7)));
}

// ---- The virtual card's picture -------------------------------------------------------------------

namespace {

struct Yuv {
  BYTE y, u, v;
};
// 75% colour bars, BT.601.
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};
constexpr Yuv kWhite{235, 128, 128};
constexpr Yuv kBlack{16, 128, 128};
// Segments a..g of a seven-segment digit, bit 0 = a.
constexpr BYTE kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// Pixels x to x + w of one row of w x 1 luma and half as much U and V, from an even pixel.
void FillRow(BYTE* y, BYTE* u, BYTE* v, int rowWidth, int x, int w, Yuv c) {
  const int x0 = std::max(0, x) & ~1, x1 = std::min(rowWidth, x + w);
  if (x1 <= x0) return;
  std::fill(y + x0, y + x1, c.y);
  std::fill(u + x0 / 2, u + (x1 + 1) / 2, c.u);
  std::fill(v + x0 / 2, v + (x1 + 1) / 2, c.v);
}

// The picture controls as a decoder applies them: luma gain and offset, chroma rotation and gain.
struct Controls {
  explicit Controls(const PictureState& s) {
    // The test picture's black and white come out at the card's own luma range first.
    const double gain = 2.0 * s.contrast, offset = (s.brightness - 0.5) * 200.0;
    const double range = static_cast<double>(s.lumaMax - s.lumaMin) / (kWhite.y - kBlack.y);
    for (int i = 0; i < 256; ++i) {
      const double decoded = s.lumaMin + (i - kBlack.y) * range;
      lut[i] = static_cast<BYTE>(std::clamp(std::lround((decoded - 128) * gain + 128 + offset), 0L, 255L));
    }
    const double theta = (s.hue - 0.5) * 2.0 * std::numbers::pi, sat = 2.0 * s.saturation;
    cs = static_cast<int>(std::lround(sat * std::cos(theta) * 256));
    sn = static_cast<int>(std::lround(sat * std::sin(theta) * 256));
  }
  // One row of w pixels (w even) into YUY2.
  void Pack(const BYTE* y, const BYTE* u, const BYTE* v, int w, BYTE* out) const {
    for (int i = 0; i < w / 2; ++i) {
      const int du = u[i] - 128, dv = v[i] - 128;
      out[4 * i] = lut[y[2 * i]];
      out[4 * i + 1] = static_cast<BYTE>(std::clamp(128 + (du * cs - dv * sn) / 256, 0, 255));
      out[4 * i + 2] = lut[y[2 * i + 1]];
      out[4 * i + 3] = static_cast<BYTE>(std::clamp(128 + (du * sn + dv * cs) / 256, 0, 255));
    }
  }
  BYTE lut[256];
  int cs, sn;
};

bool SameStill(const PictureState& a, const PictureState& b) {
  return a.input == b.input && a.connector == b.connector && a.channel == b.channel && a.signal == b.signal &&
         a.brightness == b.brightness && a.contrast == b.contrast && a.hue == b.hue && a.saturation == b.saturation &&
         a.lumaMin == b.lumaMin && a.lumaMax == b.lumaMax;
}

class Canvas {
 public:
  Canvas(std::vector<BYTE>& y, std::vector<BYTE>& u, std::vector<BYTE>& v, int w, int h)
      : m_y(y), m_u(u), m_v(v), m_w(w), m_h(h) {}
  int W() const { return m_w; }
  int H() const { return m_h; }

  void Fill(int x, int y, int w, int h, Yuv c) {
    const int y0 = std::max(0, y), y1 = std::min(m_h, y + h), half = m_w / 2;
    for (int row = y0; row < y1; ++row)
      FillRow(&m_y[static_cast<std::size_t>(row) * m_w], &m_u[static_cast<std::size_t>(row) * half],
              &m_v[static_cast<std::size_t>(row) * half], m_w, x, w, c);
  }

  // Digits of `number` in seven segments, `height` tall, starting at (x, y).
  void Number(int number, int x, int y, int height, Yuv c) {
    const std::string text = std::to_string(number);
    const int w = height / 2, t = std::max(2, height / 10), gap = height / 4;
    for (char ch : text) {
      if (ch >= '0' && ch <= '9') {
        const BYTE s = kSegments[ch - '0'];
        const int mid = y + height / 2 - t / 2;
        if (s & 0x01) Fill(x, y, w, t, c);
        if (s & 0x02) Fill(x + w - t, y, t, height / 2, c);
        if (s & 0x04) Fill(x + w - t, y + height / 2, t, height / 2, c);
        if (s & 0x08) Fill(x, y + height - t, w, t, c);
        if (s & 0x10) Fill(x, y + height / 2, t, height / 2, c);
        if (s & 0x20) Fill(x, y, t, height / 2, c);
        if (s & 0x40) Fill(x, mid, w, t, c);
      }
      x += w + gap;
    }
  }
  static int NumberWidth(int number, int height) {
    const int n = static_cast<int>(std::to_string(number).size());
    return n * (height / 2) + (n - 1) * (height / 4);
  }

 private:
  std::vector<BYTE>& m_y;
  std::vector<BYTE>& m_u;
  std::vector<BYTE>& m_v;
  int m_w, m_h;
};

}  // namespace

std::uint32_t PictureGenerator::Noise() {
  m_seed ^= m_seed << 13;
  m_seed ^= m_seed >> 17;
  m_seed ^= m_seed << 5;
  return m_seed;
}

void PictureGenerator::DrawYUY2(const PictureState& s, std::int64_t index, BYTE* dst, int width, int height) {
  const int w = width & ~1, h = height;
  if (w <= 0 || h <= 0) return;
  const std::size_t half = static_cast<std::size_t>(w / 2);
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 2, dstStride = static_cast<std::size_t>(width) * 2;
  const bool snow = s.input != PictureState::Input::None && !s.signal;
  const Controls controls(s);
  if (snow || !m_stillValid || m_stillWidth != width || m_stillHeight != height || !SameStill(s, m_stillState)) {
    m_y.resize(static_cast<std::size_t>(w) * h);
    m_u.resize(half * h);
    m_v.resize(m_u.size());
    DrawStill(s, w, h);
    if (snow) {
      // New every picture: nothing to keep.
      m_stillValid = false;
      for (int row = 0; row < h; ++row)
        controls.Pack(&m_y[static_cast<std::size_t>(row) * w], &m_u[row * half], &m_v[row * half], w, dst + row * dstStride);
      return;
    }
    m_still.resize(rowBytes * h);
    for (int row = 0; row < h; ++row)
      controls.Pack(&m_y[static_cast<std::size_t>(row) * w], &m_u[row * half], &m_v[row * half], w, &m_still[row * rowBytes]);
    m_stillValid = true;
    m_stillWidth = width, m_stillHeight = height, m_stillState = s;
  }
  // A steady picture costs a copy and its moving element.
  for (int row = 0; row < h; ++row) std::copy_n(&m_still[row * rowBytes], rowBytes, dst + row * dstStride);
  if (s.input == PictureState::Input::None) return;
  // The moving element: a box that sweeps across the upper part of the picture, 6 pixels a field.
  // In an interlaced picture the later field's lines show it where it was half a frame later.
  const int box = std::max(8, h / 10), span = std::max(1, w - box), top = h / 8;
  const bool interlaced = s.fields == AM_FIELDS_TOP_FIRST || s.fields == AM_FIELDS_BOTTOM_FIRST;
  const int firstParity = s.fields == AM_FIELDS_BOTTOM_FIRST ? 1 : 0;
  m_rowY.resize(w);
  m_rowU.resize(half);
  m_rowV.resize(half);
  for (int row = top; row < std::min(h, top + box); ++row) {
    std::copy_n(&m_y[static_cast<std::size_t>(row) * w], w, m_rowY.data());
    std::copy_n(&m_u[row * half], half, m_rowU.data());
    std::copy_n(&m_v[row * half], half, m_rowV.data());
    const int field = interlaced && row % 2 != firstParity ? 1 : 0;
    const int step = static_cast<int>((index * 2 + field) * 6 % (2 * span));
    const int x = step < span ? step : 2 * span - step;
    FillRow(m_rowY.data(), m_rowU.data(), m_rowV.data(), w, x, box, kWhite);
    if (row >= top + box / 4 && row < top + box / 4 + box / 2)
      FillRow(m_rowY.data(), m_rowU.data(), m_rowV.data(), w, x + box / 4, box / 2, kBlack);
    controls.Pack(m_rowY.data(), m_rowU.data(), m_rowV.data(), w, dst + row * dstStride);
  }
}

// The picture without its moving element, into m_y, m_u and m_v.
void PictureGenerator::DrawStill(const PictureState& s, int w, int h) {
  Canvas c(m_y, m_u, m_v, w, h);
  if (s.input == PictureState::Input::None) {
    c.Fill(0, 0, w, h, kBlack);
  } else if (!s.signal) {
    // Snow: grey noise, new every frame.
    for (BYTE& y : m_y) y = static_cast<BYTE>(16 + Noise() % 220);
    std::fill(m_u.begin(), m_u.end(), 128);
    std::fill(m_v.begin(), m_v.end(), 128);
  } else if (s.input == PictureState::Input::Tuner) {
    // Each channel has its own background colour and shows its number over a row of colour bars.
    const double angle = s.channel * 47.0 * std::numbers::pi / 180.0;
    const Yuv back{static_cast<BYTE>(80 + (s.channel * 13) % 64), static_cast<BYTE>(128 + std::lround(60 * std::cos(angle))),
                   static_cast<BYTE>(128 + std::lround(60 * std::sin(angle)))};
    c.Fill(0, 0, w, h, back);
    const int barTop = h * 5 / 6;
    for (int i = 0; i < 8; ++i) c.Fill(w * i / 8, barTop, w * (i + 1) / 8 - w * i / 8, h - barTop, kBars[i]);
    const int digitHeight = h / 3;
    c.Number(s.channel, (w - Canvas::NumberWidth(s.channel, digitHeight)) / 2, h / 4, digitHeight, kWhite);
  } else {
    // External inputs: composite shows vertical bars, S-Video horizontal bars, anything else a board.
    if (s.connector == PhysConn_Video_Composite) {
      for (int i = 0; i < 8; ++i) c.Fill(w * i / 8, 0, w * (i + 1) / 8 - w * i / 8, h, kBars[i]);
    } else if (s.connector == PhysConn_Video_SVideo) {
      for (int i = 0; i < 8; ++i) c.Fill(0, h * i / 8, w, h * (i + 1) / 8 - h * i / 8, kBars[i]);
    } else {
      const int cell = std::max(8, h / 12);
      for (int y = 0; y < h; y += cell)
        for (int x = 0; x < w; x += cell) c.Fill(x, y, cell, cell, ((x + y) / cell) % 2 ? kBars[4] : kBars[2]);
    }
    c.Number(s.connector, w / 20, h / 20, h / 8, kWhite);
  }
}

void PictureGenerator::DrawPCM(const PictureState& s, std::int16_t* dst, int frames, int channels, int rate) {
  if (rate <= 0 || channels <= 0) return;
  const bool tone = s.input != PictureState::Input::None && s.signal;
  const double freq = s.input == PictureState::Input::Tuner ? 220.0 + 10.0 * s.channel : 1000.0;
  // A tone at full scale fills the 16-bit codes, as a converter driven to its limit does.
  auto toneSample = [](double scale, double wave) {
    return static_cast<std::int16_t>(std::clamp(std::lround(32768.0 * scale * wave), -32768L, 32767L));
  };
  for (int f = 0; f < frames; ++f) {
    std::int16_t left = 0, right = 0;
    if (tone) {
      const double wave = std::sin(m_phase);
      left = toneSample(s.toneScale[0], wave);
      right = toneSample(s.toneScale[1], wave);
      m_phase += 2 * std::numbers::pi * freq / rate;
      if (m_phase > 2 * std::numbers::pi) m_phase -= 2 * std::numbers::pi;
    } else if (s.input == PictureState::Input::Tuner) {
      left = right = static_cast<std::int16_t>(static_cast<int>(Noise() % 3000) - 1500);  // hiss
    }
    for (int ch = 0; ch < channels; ++ch) dst[f * channels + ch] = ch == 0 ? left : right;
  }
}

void PictureGenerator::DrawWhiteYUY2(BYTE* dst, int width, int height) {
  const BYTE px[4] = {kWhite.y, kWhite.u, kWhite.y, kWhite.v};
  const std::size_t size = static_cast<std::size_t>(std::max(0, width)) * std::max(0, height) * 2;
  for (std::size_t i = 0; i + 4 <= size; i += 4) std::copy_n(px, 4, dst + i);
}

CaptionSchedule::CaptionSchedule(const std::vector<std::string>& captions, REFERENCE_TIME framePeriod)
    : m_period(framePeriod > 0 ? framePeriod : 1) {
  for (const std::string& text : captions) m_pairs.push_back(cc::PopOnCaption(text));
}

cc::Pair CaptionSchedule::At(REFERENCE_TIME t) const {
  constexpr cc::Pair kNothing{cc::kNull, cc::kNull};
  if (m_pairs.empty() || t < 0) return kNothing;
  constexpr REFERENCE_TIME kEvery = 10'000'000;  // a caption a second
  // The second whose caption is being sent: its first slot is at or before t.
  std::int64_t second = t / kEvery;
  auto firstSlot = [this](std::int64_t k) { return (k * kEvery + m_period - 1) / m_period * m_period; };
  if (firstSlot(second) > t) --second;
  if (second < 0) return kNothing;
  const auto& pairs = m_pairs[static_cast<std::size_t>(second) % m_pairs.size()];
  const std::int64_t index = (t - firstSlot(second)) / m_period;
  return index < static_cast<std::int64_t>(pairs.size()) ? pairs[static_cast<std::size_t>(index)] : kNothing;
}

}  // namespace orv::media
