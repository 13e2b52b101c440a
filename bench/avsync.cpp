#include "bench/avsync.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace orv::avsync {
namespace {

// A flash is a picture whose mean luma is at least this (white is 235, the usual picture far less).
constexpr double kFlashLuma = 200.0;
// A beep starts where the sound rises above this share of full scale after this much quiet.
constexpr double kBeepLevel = 0.05;
constexpr double kQuietBeforeBeep = 0.05;
constexpr double kPairWithin = 0.5;
constexpr int kProbeWidth = 32, kProbeHeight = 24;

// Mean luma of a decoded picture, through a small grey copy.
class LumaProbe {
 public:
  ~LumaProbe() { sws_freeContext(m_ctx); }
  double Mean(const AVFrame* f) {
    m_ctx = sws_getCachedContext(m_ctx, f->width, f->height, static_cast<AVPixelFormat>(f->format), kProbeWidth,
                                 kProbeHeight, AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr);
    if (!m_ctx) return 0;
    std::uint8_t grey[kProbeWidth * kProbeHeight];
    std::uint8_t* dst[4] = {grey, nullptr, nullptr, nullptr};
    int stride[4] = {kProbeWidth, 0, 0, 0};
    sws_scale(m_ctx, f->data, f->linesize, 0, f->height, dst, stride);
    double sum = 0;
    for (std::uint8_t v : grey) sum += v;
    return sum / (kProbeWidth * kProbeHeight);
  }

 private:
  SwsContext* m_ctx = nullptr;
};

// The loudest channel of sample i, as a share of full scale.
double Level(const AVFrame* f, int i) {
  const int channels = f->ch_layout.nb_channels;
  const auto format = static_cast<AVSampleFormat>(f->format);
  const bool planar = av_sample_fmt_is_planar(format);
  double level = 0;
  for (int ch = 0; ch < channels; ++ch) {
    const std::uint8_t* base = planar ? f->extended_data[ch] : f->extended_data[0];
    const int at = planar ? i : i * channels + ch;
    double v = 0;
    switch (av_get_packed_sample_fmt(format)) {
      case AV_SAMPLE_FMT_U8: v = (base[at] - 128) / 128.0; break;
      case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const std::int16_t*>(base)[at] / 32768.0; break;
      case AV_SAMPLE_FMT_S32: v = reinterpret_cast<const std::int32_t*>(base)[at] / 2147483648.0; break;
      case AV_SAMPLE_FMT_FLT: v = reinterpret_cast<const float*>(base)[at]; break;
      case AV_SAMPLE_FMT_DBL: v = reinterpret_cast<const double*>(base)[at]; break;
      default: break;
    }
    level = std::max(level, std::fabs(v));
  }
  return level;
}

struct Decoder {
  AVCodecContext* ctx = nullptr;
  AVStream* st = nullptr;
  ~Decoder() { avcodec_free_context(&ctx); }
  bool Open(AVStream* stream) {
    st = stream;
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec || !(ctx = avcodec_alloc_context3(codec))) return false;
    return avcodec_parameters_to_context(ctx, stream->codecpar) >= 0 && avcodec_open2(ctx, codec, nullptr) >= 0;
  }
};

class Scanner {
 public:
  explicit Scanner(Analysis* a) : m_a(a) {}

  void Picture(const AVFrame* f, AVRational tb, AVRational rate) {
    const std::int64_t ts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    const double t = ts == AV_NOPTS_VALUE ? m_lastPicture : ts * av_q2d(tb);
    ++m_a->pictures;
    const bool flash = m_luma.Mean(f) >= kFlashLuma;
    if (flash && !m_inFlash) m_a->flashes.push_back(t);
    m_inFlash = flash;
    m_lastPicture = t;
    m_a->seconds = std::max(m_a->seconds, t + (rate.num > 0 ? av_q2d(av_inv_q(rate)) : 0.0));
  }

  void Sound(const AVFrame* f, AVRational tb) {
    if (f->sample_rate <= 0) return;
    if (!m_soundStarted) {
      m_soundStarted = true;
      m_sample = f->pts != AV_NOPTS_VALUE ? static_cast<std::int64_t>(std::llround(f->pts * av_q2d(tb) * f->sample_rate)) : 0;
    }
    const std::int64_t quiet = static_cast<std::int64_t>(kQuietBeforeBeep * f->sample_rate);
    for (int i = 0; i < f->nb_samples; ++i, ++m_sample) {
      if (Level(f, i) < kBeepLevel) {
        ++m_quiet;
        continue;
      }
      if (m_quiet >= quiet) m_a->beeps.push_back(static_cast<double>(m_sample) / f->sample_rate);
      m_quiet = 0;
    }
    m_a->seconds = std::max(m_a->seconds, static_cast<double>(m_sample) / f->sample_rate);
  }

 private:
  Analysis* m_a;
  LumaProbe m_luma;
  bool m_inFlash = false;
  double m_lastPicture = 0;
  bool m_soundStarted = false;
  std::int64_t m_sample = 0;
  std::int64_t m_quiet = 1 << 30;  // the file may begin with a beep
};

void Drain(Decoder& d, AVFrame* frame, Scanner& scan) {
  while (avcodec_receive_frame(d.ctx, frame) >= 0) {
    if (d.st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
      scan.Picture(frame, d.st->time_base, d.st->avg_frame_rate);
    else
      scan.Sound(frame, d.st->time_base);
    av_frame_unref(frame);
  }
}

void PairUp(Analysis* a) {
  double offset = 0;
  for (double flash : a->flashes) {
    const double expected = flash + offset;
    const auto near = std::min_element(a->beeps.begin(), a->beeps.end(), [&](double x, double y) {
      return std::fabs(x - expected) < std::fabs(y - expected);
    });
    if (near == a->beeps.end() || std::fabs(*near - expected) >= kPairWithin) continue;
    a->pairs.push_back({flash, *near});
    offset = *near - flash;
  }
}

}  // namespace

double Analysis::MaxOffsetMs() const {
  double worst = 0;
  for (const Pair& p : pairs) worst = std::max(worst, std::fabs(p.OffsetMs()));
  return worst;
}

Analysis Analyse(const std::string& path) {
  Analysis a;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
    a.error = "cannot open " + path;
    return a;
  }
  Decoder video, sound;
  const int vi = avformat_find_stream_info(fmt, nullptr) >= 0
                     ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0)
                     : -1;
  const int ai = vi >= 0 ? av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
  if (vi < 0 || ai < 0) {
    a.error = path + " needs a picture and a sound stream";
  } else if (!video.Open(fmt->streams[vi]) || !sound.Open(fmt->streams[ai])) {
    a.error = "no decoder for the streams of " + path;
  } else {
    Scanner scan(&a);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
      Decoder* d = pkt->stream_index == vi ? &video : pkt->stream_index == ai ? &sound : nullptr;
      if (d && avcodec_send_packet(d->ctx, pkt) >= 0) Drain(*d, frame, scan);
      av_packet_unref(pkt);
    }
    for (Decoder* d : {&video, &sound}) {
      avcodec_send_packet(d->ctx, nullptr);
      Drain(*d, frame, scan);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    PairUp(&a);
  }
  avformat_close_input(&fmt);
  return a;
}

std::string Report(const Analysis& a) {
  if (!a.error.empty()) return a.error + "\n";
  std::string out;
  char line[160];
  for (const Pair& p : a.pairs) {
    std::snprintf(line, sizeof line, "flash %9.3f s  beep %9.3f s  offset %+7.1f ms\n", p.flash, p.beep, p.OffsetMs());
    out += line;
  }
  std::snprintf(line, sizeof line, "%zu flashes, %zu beeps, %zu pairs\n", a.flashes.size(), a.beeps.size(),
                a.pairs.size());
  out += line;
  std::snprintf(line, sizeof line, "max offset %.0f ms over %.0f s\n", a.MaxOffsetMs(), std::floor(a.seconds));
  out += line;
  return out;
}

}  // namespace orv::avsync
