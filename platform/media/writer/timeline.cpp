#include "platform/media/writer/timeline.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace orv::media {

void LineFit::Add(double x, double y) {
  // Weighted running means and co-moments (West's update), older points fading by m_keep.
  m_weight = m_weight * m_keep + 1.0;
  const double dx = x - m_mx;
  m_mx += dx / m_weight;
  m_my += (y - m_my) / m_weight;
  m_cxx = m_cxx * m_keep + dx * (x - m_mx);
  m_cxy = m_cxy * m_keep + dx * (y - m_my);
  ++m_count;
}

double PictureClock::PlaceAt(std::int64_t stamp, std::int64_t origin) const {
  // A slope from a few jittery stamps would bend the sound for nothing: the nominal rate through
  // the pictures seen so far serves until there are enough of them.
  constexpr std::int64_t kFitFrom = 64;
  if (m_fit.Count() >= kFitFrom && m_fit.Ready()) return m_fit.Inverse(static_cast<double>(stamp));
  if (m_fit.Count() > 0) return m_fit.MeanX() + (static_cast<double>(stamp) - m_fit.MeanY()) / static_cast<double>(m_frame);
  return static_cast<double>(stamp - origin) / static_cast<double>(m_frame);
}

SoundFollower::SoundFollower(int rate, int channels, int bitsPerSample)
    : m_rate(rate), m_blockAlign(channels * bitsPerSample / 8), m_unsigned8(bitsPerSample == 8) {
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channels);
  const AVSampleFormat format = m_unsigned8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  if (swr_alloc_set_opts2(&m_swr, &layout, format, rate, &layout, format, rate, 0, nullptr) < 0) m_swr = nullptr;
  av_channel_layout_uninit(&layout);
  // Resampling from the start: switching it on later would restart the filter mid-stream.
  if (m_swr && (av_opt_set_int(m_swr, "flags", SWR_FLAG_RESAMPLE, 0) < 0 || swr_init(m_swr) < 0)) swr_free(&m_swr);
}

SoundFollower::~SoundFollower() { swr_free(&m_swr); }

std::int64_t SoundFollower::Delay() const { return m_swr ? swr_get_delay(m_swr, m_rate) : 0; }

bool SoundFollower::Convert(const std::uint8_t* data, int samples, std::vector<std::uint8_t>& out) {
  const int room = swr_get_out_samples(m_swr, samples);
  if (room < 0) return false;
  const std::size_t had = out.size();
  out.resize(had + static_cast<std::size_t>(room) * m_blockAlign);
  std::uint8_t* dst = out.data() + had;
  const int n = swr_convert(m_swr, &dst, room, samples ? &data : nullptr, samples);
  if (n < 0) return out.resize(had), false;
  out.resize(had + static_cast<std::size_t>(n) * m_blockAlign);
  return true;
}

bool SoundFollower::Follow(const std::uint8_t* data, int samples, double wanted, std::int64_t written,
                           std::vector<std::uint8_t>& out) {
  if (!m_swr || samples <= 0) return m_swr != nullptr;
  double offset = wanted - static_cast<double>(written + Delay());  // > 0: the sound is behind
  if (std::abs(offset) > kJumpSeconds * m_rate) {
    // Time the sound device lost, or gained: mended at once, and the clocks' ratio learnt afresh.
    if (offset > 0) {
      out.insert(out.end(), static_cast<std::size_t>(offset) * m_blockAlign, m_unsigned8 ? 0x80 : 0);
    } else {
      const int cut = static_cast<int>(std::min<double>(-offset, samples));
      data += static_cast<std::size_t>(cut) * m_blockAlign;
      samples -= cut;
      wanted += cut;
    }
    offset = 0;
    m_rateFit.Reset();
  }
  // The clocks' ratio carries the sound along; what is left of the offset is worked off slowly.
  const double ratio = m_rateFit.Count() >= 16 && m_rateFit.Ready() ? m_rateFit.Slope() : 1.0;
  const double bend = std::clamp(ratio - 1.0 + offset / (m_rate * kSettleSeconds), -kMaxBend, kMaxBend);
  if (swr_set_compensation(m_swr, static_cast<int>(std::lround(bend * m_rate)), m_rate) < 0) return false;
  m_rateFit.Add(static_cast<double>(m_in), wanted);
  m_in += samples;
  return samples <= 0 || Convert(data, samples, out);
}

bool SoundFollower::Drain(std::vector<std::uint8_t>& out) { return !m_swr || Convert(nullptr, 0, out); }

}  // namespace orv::media
