#include "platform/media/graph/stream.h"

#include "platform/media/graph/filterbase.h"

#include <algorithm>
#include <string>
#include <chrono>
#include <cmath>
#include <numbers>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

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

class Canvas {
 public:
  Canvas(std::vector<BYTE>& y, std::vector<BYTE>& u, std::vector<BYTE>& v, int w, int h)
      : m_y(y), m_u(u), m_v(v), m_w(w), m_h(h) {}
  int W() const { return m_w; }
  int H() const { return m_h; }

  void Fill(int x, int y, int w, int h, Yuv c) {
    const int x0 = std::max(0, x) & ~1, x1 = std::min(m_w, x + w), y0 = std::max(0, y), y1 = std::min(m_h, y + h);
    for (int row = y0; row < y1; ++row) {
      std::fill(m_y.begin() + row * m_w + x0, m_y.begin() + row * m_w + x1, c.y);
      const int half = m_w / 2;
      std::fill(m_u.begin() + row * half + x0 / 2, m_u.begin() + row * half + (x1 + 1) / 2, c.u);
      std::fill(m_v.begin() + row * half + x0 / 2, m_v.begin() + row * half + (x1 + 1) / 2, c.v);
    }
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
  m_y.resize(static_cast<std::size_t>(w) * h);
  m_u.resize(static_cast<std::size_t>(w / 2) * h);
  m_v.resize(m_u.size());
  Canvas c(m_y, m_u, m_v, w, h);

  if (s.input == PictureState::Input::None) {
    c.Fill(0, 0, w, h, kBlack);
  } else if (s.input == PictureState::Input::Tuner && !s.signal) {
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
  if (s.input != PictureState::Input::None && !(s.input == PictureState::Input::Tuner && !s.signal)) {
    // The moving element: a box that sweeps across the upper part of the picture.
    const int box = std::max(8, h / 10), span = std::max(1, w - box);
    const int x = static_cast<int>((index * 12) % (2 * span));
    c.Fill(x < span ? x : 2 * span - x, h / 8, box, box, kWhite);
    c.Fill((x < span ? x : 2 * span - x) + box / 4, h / 8 + box / 4, box / 2, box / 2, kBlack);
  }

  // The picture controls act as a decoder's would: luma gain and offset, chroma rotation and gain.
  BYTE lut[256];
  const double gain = 2.0 * s.contrast, offset = (s.brightness - 0.5) * 200.0;
  for (int i = 0; i < 256; ++i) lut[i] = static_cast<BYTE>(std::clamp(std::lround((i - 128) * gain + 128 + offset), 0L, 255L));
  const double theta = (s.hue - 0.5) * 2.0 * std::numbers::pi, sat = 2.0 * s.saturation;
  const int cs = static_cast<int>(std::lround(sat * std::cos(theta) * 256)), sn = static_cast<int>(std::lround(sat * std::sin(theta) * 256));
  for (int row = 0; row < h; ++row) {
    BYTE* out = dst + static_cast<std::size_t>(row) * width * 2;
    const BYTE* y = &m_y[static_cast<std::size_t>(row) * w];
    const BYTE* u = &m_u[static_cast<std::size_t>(row) * (w / 2)];
    const BYTE* v = &m_v[static_cast<std::size_t>(row) * (w / 2)];
    for (int i = 0; i < w / 2; ++i) {
      const int du = u[i] - 128, dv = v[i] - 128;
      out[4 * i] = lut[y[2 * i]];
      out[4 * i + 1] = static_cast<BYTE>(std::clamp(128 + (du * cs - dv * sn) / 256, 0, 255));
      out[4 * i + 2] = lut[y[2 * i + 1]];
      out[4 * i + 3] = static_cast<BYTE>(std::clamp(128 + (du * sn + dv * cs) / 256, 0, 255));
    }
  }
}

void PictureGenerator::DrawPCM(const PictureState& s, std::int16_t* dst, int frames, int channels, int rate) {
  if (rate <= 0 || channels <= 0) return;
  const bool tone = s.input == PictureState::Input::External || (s.input == PictureState::Input::Tuner && s.signal);
  const double freq = s.input == PictureState::Input::Tuner ? 220.0 + 10.0 * s.channel : 1000.0;
  for (int f = 0; f < frames; ++f) {
    std::int16_t sample = 0;
    if (tone) {
      sample = static_cast<std::int16_t>(8000 * std::sin(m_phase));
      m_phase += 2 * std::numbers::pi * freq / rate;
      if (m_phase > 2 * std::numbers::pi) m_phase -= 2 * std::numbers::pi;
    } else if (s.input == PictureState::Input::Tuner) {
      sample = static_cast<std::int16_t>(static_cast<int>(Noise() % 3000) - 1500);  // hiss
    }
    for (int ch = 0; ch < channels; ++ch) dst[f * channels + ch] = sample;
  }
}

void PictureGenerator::DrawWhiteYUY2(BYTE* dst, int width, int height) {
  const BYTE px[4] = {kWhite.y, kWhite.u, kWhite.y, kWhite.v};
  const std::size_t size = static_cast<std::size_t>(std::max(0, width)) * std::max(0, height) * 2;
  for (std::size_t i = 0; i + 4 <= size; i += 4) std::copy_n(px, 4, dst + i);
}

// ---- Preview conversion ---------------------------------------------------------------------------

FrameConverter::~FrameConverter() {
  sws_freeContext(m_ctx);
  av_frame_free(&m_decoded);
  av_packet_free(&m_packet);
  avcodec_free_context(&m_decoder);
}

bool FrameConverter::Decode(const BYTE* src, std::size_t srcSize) {
  if (!m_decoder) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (!codec || !(m_decoder = avcodec_alloc_context3(codec))) return false;
    if (avcodec_open2(m_decoder, codec, nullptr) < 0) {
      avcodec_free_context(&m_decoder);
      return false;
    }
    m_packet = av_packet_alloc();
    m_decoded = av_frame_alloc();
  }
  if (!m_packet || !m_decoded || srcSize > INT32_MAX || av_new_packet(m_packet, static_cast<int>(srcSize)) < 0)
    return false;
  std::copy_n(src, srcSize, m_packet->data);
  const bool sent = avcodec_send_packet(m_decoder, m_packet) == 0;
  av_packet_unref(m_packet);
  return sent && avcodec_receive_frame(m_decoder, m_decoded) == 0;
}

bool FrameConverter::Convert(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height,
                             BYTE* dst, int dstWidth, int dstHeight, int dstStride) {
  if (!src || !dst || width <= 0 || height <= 0 || dstWidth <= 0 || dstHeight <= 0 || dstStride < dstWidth * 4)
    return false;
  AVPixelFormat format;
  bool fullRange = false;
  const std::uint8_t* planes[4] = {};
  int strides[4] = {};
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_UYVY) {
    if (srcSize < w * 2 * h) return false;
    format = subtype == MEDIASUBTYPE_YUY2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_UYVY422;
    planes[0] = src;
    strides[0] = width * 2;
  } else if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12) {
    // Y, then the two quarter-size chroma planes: U first in I420, V first in YV12.
    const std::size_t chroma = (w / 2) * (h / 2);
    if (srcSize < w * h + 2 * chroma) return false;
    format = AV_PIX_FMT_YUV420P;
    const bool yv12 = subtype == MEDIASUBTYPE_YV12;
    planes[0] = src;
    planes[yv12 ? 2 : 1] = src + w * h;
    planes[yv12 ? 1 : 2] = src + w * h + chroma;
    strides[0] = width;
    strides[1] = strides[2] = width / 2;
  } else if (subtype == MEDIASUBTYPE_NV12) {
    if (srcSize < w * h + w * (h / 2)) return false;
    format = AV_PIX_FMT_NV12;
    planes[0] = src;
    planes[1] = src + w * h;
    strides[0] = strides[1] = width;
  } else if (subtype == MEDIASUBTYPE_RGB24) {
    // A DIB: rows padded to 4 bytes, blue first, bottom row first.
    const int stride = (width * 3 + 3) & ~3;
    if (srcSize < static_cast<std::size_t>(stride) * h) return false;
    format = AV_PIX_FMT_BGR24;
    planes[0] = src + static_cast<std::size_t>(stride) * (h - 1);
    strides[0] = -stride;
  } else if (subtype == MEDIASUBTYPE_MJPG) {
    if (!Decode(src, srcSize)) return false;
    width = m_decoded->width;
    height = m_decoded->height;
    format = static_cast<AVPixelFormat>(m_decoded->format);
    // JPEG's full-range YUV under the plain formats' names, with the range said apart.
    switch (format) {
      case AV_PIX_FMT_YUVJ420P: format = AV_PIX_FMT_YUV420P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ422P: format = AV_PIX_FMT_YUV422P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ444P: format = AV_PIX_FMT_YUV444P, fullRange = true; break;
      default: fullRange = m_decoded->color_range == AVCOL_RANGE_JPEG; break;
    }
    for (int i = 0; i < 4; ++i) {
      planes[i] = m_decoded->data[i];
      strides[i] = m_decoded->linesize[i];
    }
  } else {
    return false;
  }
  SwsContext* ctx = sws_getCachedContext(m_ctx, width, height, format, dstWidth, dstHeight, AV_PIX_FMT_RGB32,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr);
  // A new context starts with limited-range YUV; the range is told again only when it changes.
  if (ctx && (ctx != m_ctx || fullRange != m_fullRange)) {
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(ctx, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16, 1 << 16);
    m_fullRange = fullRange;
  }
  m_ctx = ctx;
  if (!m_ctx) return false;
  std::uint8_t* out[4] = {dst, nullptr, nullptr, nullptr};
  int outStrides[4] = {dstStride, 0, 0, 0};
  return sws_scale(m_ctx, planes, strides, 0, height, out, outStrides) > 0;
}

}  // namespace orv::media
