#include "platform/media/graph/levels.h"

#include "platform/media/graph/filterbase.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orv::media {

// ---- Sound meters ---------------------------------------------------------------------------------

namespace {

constexpr int kFullScale = 32768;  // the magnitude of the most negative 16-bit sample

double DbOf(int peak) { return peak > 0 ? 20.0 * std::log10(static_cast<double>(peak) / kFullScale) : kSilenceDb; }

}  // namespace

bool SoundMeter::Add(const WAVEFORMATEX& format, const BYTE* data, std::size_t size, REFERENCE_TIME now) {
  if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 || format.nChannels == 0 || !data)
    return false;
  const int channels = format.nChannels;
  const int measured = std::min(channels, kMeterChannels);
  if (measured != m_channels) {
    m_blocks.clear();
    std::fill(std::begin(m_clipped), std::end(m_clipped), false);
    m_channels = measured;
  }
  Block block{now, {}};
  const std::size_t frames = size / (2u * channels);
  for (std::size_t f = 0; f < frames; ++f) {
    const BYTE* frame = data + f * 2u * channels;
    for (int ch = 0; ch < measured; ++ch) {
      std::int16_t s;
      std::memcpy(&s, frame + 2 * ch, sizeof s);
      const int magnitude = s < 0 ? -static_cast<int>(s) : s;
      block.peak[ch] = std::max(block.peak[ch], magnitude);
      // Full scale either way: the converter had no code further out.
      if (s == INT16_MAX || s == INT16_MIN) m_clipped[ch] = true;
    }
  }
  while (!m_blocks.empty() && m_blocks.front().at <= now - kHold) m_blocks.pop_front();
  m_blocks.push_back(block);
  return true;
}

SoundLevels SoundMeter::Read(REFERENCE_TIME now) const {
  SoundLevels levels;
  levels.channels = m_channels;
  for (int ch = 0; ch < m_channels; ++ch) {
    int peak = 0, hold = 0;
    for (const Block& b : m_blocks) {
      if (b.at <= now - kHold) continue;
      hold = std::max(hold, b.peak[ch]);
      if (b.at > now - kPeakWindow) peak = std::max(peak, b.peak[ch]);
    }
    levels.peakDb[ch] = DbOf(peak);
    levels.holdDb[ch] = DbOf(hold);
    levels.clipped[ch] = m_clipped[ch];
  }
  return levels;
}

void SoundMeter::ClearClip() { std::fill(std::begin(m_clipped), std::end(m_clipped), false); }

// ---- Picture levels -------------------------------------------------------------------------------

bool ExtractLuma(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height,
                 std::vector<BYTE>* luma) {
  if (!data || width <= 0 || height <= 0 || width > 8192 || height > 8192) return false;
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  luma->resize(w * h);
  BYTE* out = luma->data();
  if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_UYVY) {
    // Two bytes a pixel, luma first (YUY2) or second (UYVY) of each pair.
    if (size < w * h * 2) return false;
    const std::size_t first = subtype == MEDIASUBTYPE_YUY2 ? 0 : 1;
    for (std::size_t i = 0; i < w * h; ++i) out[i] = data[2 * i + first];
    return true;
  }
  if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_NV12) {
    if (size < w * h) return false;
    std::memcpy(out, data, w * h);
    return true;
  }
  if (subtype == MEDIASUBTYPE_RGB24) {
    // A DIB: bottom-up rows padded to four bytes, blue first. BT.601 luma on the limited range.
    const std::size_t stride = (w * 3 + 3) & ~std::size_t{3};
    if (size < stride * h) return false;
    for (std::size_t y = 0; y < h; ++y) {
      const BYTE* row = data + (h - 1 - y) * stride;
      for (std::size_t x = 0; x < w; ++x) {
        const int b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
        out[y * w + x] = static_cast<BYTE>(16 + ((66 * r + 129 * g + 25 * b + 128) >> 8));
      }
    }
    return true;
  }
  return false;
}

void MeasureLuma(const BYTE* luma, int width, int height, PictureLevels* out) {
  out->width = width;
  out->height = height;
  std::fill(std::begin(out->histogram), std::end(out->histogram), 0u);
  // Counts per column and code first; brightness from them once the picture is done.
  std::vector<std::uint32_t> counts(static_cast<std::size_t>(kWaveColumns) * kLumaCodes, 0);
  std::vector<int> columnOf(static_cast<std::size_t>(std::max(width, 0)));
  for (int x = 0; x < width; ++x) columnOf[x] = static_cast<int>(static_cast<long long>(x) * kWaveColumns / width);
  for (int y = 0; y < height; ++y) {
    const BYTE* row = luma + static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      ++out->histogram[row[x]];
      ++counts[static_cast<std::size_t>(columnOf[x]) * kLumaCodes + row[x]];
    }
  }
  int lo = kLumaCodes, hi = -1;
  std::uint64_t outside = 0, total = 0;
  for (int code = 0; code < kLumaCodes; ++code) {
    const std::uint32_t n = out->histogram[code];
    if (!n) continue;
    lo = std::min(lo, code);
    hi = std::max(hi, code);
    total += n;
    if (code < kLumaBlack || code > kLumaWhite) outside += n;
  }
  out->ymin = hi < 0 ? 0 : lo;
  out->ymax = hi < 0 ? 0 : hi;
  out->brng = total ? static_cast<double>(outside) / static_cast<double>(total) : 0.0;
  // A code held by a 24th of a column's pixels or more is full white; any pixel at all shows.
  const std::uint64_t perColumn = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::max(width, 0)) *
                                                                  std::max(height, 0) / kWaveColumns);
  for (int c = 0; c < kWaveColumns; ++c)
    for (int code = 0; code < kLumaCodes; ++code) {
      const std::uint64_t n = counts[static_cast<std::size_t>(c) * kLumaCodes + code];
      out->waveform[code][c] = n ? static_cast<std::uint8_t>(std::min<std::uint64_t>(255, 48 + n * 207 * 24 / perColumn)) : 0;
    }
}

PictureAnalyser::~PictureAnalyser() {
  {
    std::lock_guard lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  if (m_worker.joinable()) m_worker.join();
}

void PictureAnalyser::Watch(bool on) {
  std::lock_guard lock(m_mutex);
  if (on && !m_watching) m_measured = false;
  m_watching = on;
  if (on && !m_worker.joinable()) m_worker = std::thread([this] { Work(); });
}

void PictureAnalyser::Offer(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height,
                            REFERENCE_TIME now) {
  {
    std::lock_guard lock(m_mutex);
    if (!m_watching || m_pending || (m_lastTaken && now - m_lastTaken < kEvery)) return;
    m_frame.assign(data, data + size);
    m_subtype = subtype;
    m_width = width;
    m_height = height;
    m_pending = true;
    m_lastTaken = now;
  }
  m_wake.notify_one();
}

bool PictureAnalyser::Read(PictureLevels* out) const {
  std::lock_guard lock(m_mutex);
  if (!m_measured) return false;
  *out = *m_result;
  return true;
}

void PictureAnalyser::Work() {
  std::vector<BYTE> frame, luma;
  auto levels = std::make_unique<PictureLevels>();
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_stop || m_pending; });
    if (m_stop) return;
    frame.swap(m_frame);
    const GUID subtype = m_subtype;
    const int width = m_width, height = m_height;
    lock.unlock();
    const bool measured = ExtractLuma(subtype, frame.data(), frame.size(), width, height, &luma);
    if (measured) MeasureLuma(luma.data(), width, height, levels.get());
    lock.lock();
    if (measured && m_watching) {
      m_result.swap(levels);
      m_measured = true;
    }
    m_pending = false;
  }
}

// ---- A graph's levels -----------------------------------------------------------------------------

void LevelsTap::OfferPicture(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height) {
  m_picture.Offer(subtype, data, size, width, height, MonotonicNow());
}

void LevelsTap::OfferSound(const AM_MEDIA_TYPE* type, const BYTE* data, std::size_t size, bool recorded) {
  if (!type || type->majortype != MEDIATYPE_Audio || type->formattype != FORMAT_WaveFormatEx || !type->pbFormat ||
      type->cbFormat < sizeof(WAVEFORMATEX))
    return;
  WAVEFORMATEX format;
  std::memcpy(&format, type->pbFormat, sizeof format);
  const REFERENCE_TIME now = MonotonicNow();
  std::lock_guard lock(m_soundMutex);
  if (recorded)
    m_lastRecorded = now;
  else if (m_lastRecorded && now - m_lastRecorded < kRecordedFirst)
    return;  // the same sound reaches the file, and that is what counts
  m_meter.Add(format, data, size, now);
}

SoundLevels LevelsTap::ReadSound() const {
  std::lock_guard lock(m_soundMutex);
  return m_meter.Read(MonotonicNow());
}

void LevelsTap::ClearClip() {
  std::lock_guard lock(m_soundMutex);
  m_meter.ClearClip();
}

}  // namespace orv::media
