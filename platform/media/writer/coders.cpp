#include "platform/media/writer/coders.h"
#include "platform/media/writer/captions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/buffer.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/version.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace orv::media {
namespace {

// FFV1 as archives keep it: version 3, slices with checksums, every frame a key frame.
constexpr int kFfv1Level = 3;
constexpr const char* kFfv1Slices = "4";
constexpr int kCodecThreads = 2;
// H.264 at about 4 Mbit/s on average, capped for players' buffers: with the sound, about 2 GB an
// hour at standard definition. A key frame every two seconds keeps seeking quick.
constexpr const char* kH264Preset = "veryfast";
constexpr std::int64_t kH264BitRate = 4'000'000, kH264MaxRate = 6'000'000, kH264Buffer = 8'000'000;
constexpr REFERENCE_TIME kKeyFrameEvery = 20'000'000;
constexpr std::int64_t kAacBitRate = 160'000;
// The 625-line standards' frame (25 a second): their pictures are described as BT.470 B/G.
constexpr REFERENCE_TIME k625LineFrame = 400'000;

struct Free {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
  void operator()(AVFrame* f) const { av_frame_free(&f); }
  void operator()(AVPacket* p) const { av_packet_free(&p); }
  void operator()(SwsContext* s) const { sws_freeContext(s); }
  void operator()(SwrContext* s) const { swr_free(&s); }
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
  void operator()(AVBufferPool* p) const { av_buffer_pool_uninit(&p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

bool EmitCopy(const BYTE* data, std::size_t size, std::int64_t pts, std::int64_t duration, const EmitFn& emit) {
  Owned<AVPacket> pkt(av_packet_alloc());
  if (!pkt) return false;
  if (size > 0 && av_new_packet(pkt.get(), static_cast<int>(size)) == 0) std::copy_n(data, size, pkt->data);
  pkt->pts = pkt->dts = pts;
  pkt->duration = duration;
  pkt->flags |= AV_PKT_FLAG_KEY;
  return emit(pkt.get());
}

// A picture handed on over the bytes where they lie (the queued buffer, or one converted into),
// not copied into a packet of its own: the muxer copies it into the file's buffer anyway. Empty for
// a frame that has no picture.
bool EmitOver(AVPacket* pkt, const BYTE* data, std::size_t size, std::int64_t index, const EmitFn& emit) {
  if (!pkt) return false;
  av_packet_unref(pkt);
  pkt->data = const_cast<BYTE*>(data);
  pkt->size = static_cast<int>(size);
  pkt->pts = pkt->dts = index;
  pkt->duration = 1;
  pkt->flags |= AV_PKT_FLAG_KEY;
  const bool ok = emit(pkt);
  av_packet_unref(pkt);
  return ok;
}

// Hands on what the encoder has ready.
bool Drain(AVCodecContext* c, const EmitFn& emit, std::int64_t duration) {
  Owned<AVPacket> pkt(av_packet_alloc());
  if (!pkt) return false;
  for (;;) {
    const int r = avcodec_receive_packet(c, pkt.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
    if (r < 0) return false;
    if (pkt->duration <= 0) pkt->duration = duration;
    const bool ok = emit(pkt.get());
    av_packet_unref(pkt.get());
    if (!ok) return false;
  }
}

AVFieldOrder FieldOrderOf(AM_FIELD_ORDER fields) {
  switch (fields) {
    case AM_FIELDS_PROGRESSIVE: return AV_FIELD_PROGRESSIVE;
    case AM_FIELDS_TOP_FIRST: return AV_FIELD_TT;
    case AM_FIELDS_BOTTOM_FIRST: return AV_FIELD_BB;
    default: return AV_FIELD_UNKNOWN;
  }
}

// Pixels as wide as a 4:3 picture of this size needs them.
AVRational FourByThreeSampleAspect(int width, int height) {
  AVRational sar{};
  av_reduce(&sar.num, &sar.den, 4LL * height, 3LL * width, 65535);
  return sar;
}

// How the picture's colour is to be read: BT.601 as the standards send it (SMPTE 170M on 525 lines,
// BT.470 B/G on 625, told apart by the frame rate), in studio range; RGB kept as RGB at full range.
void DescribeColour(AVCodecContext* c, REFERENCE_TIME frame, bool rgb) {
  if (frame > 0 && frame % k625LineFrame == 0) {
    c->colorspace = AVCOL_SPC_BT470BG, c->color_primaries = AVCOL_PRI_BT470BG, c->color_trc = AVCOL_TRC_GAMMA28;
  } else {
    c->colorspace = AVCOL_SPC_SMPTE170M, c->color_primaries = AVCOL_PRI_SMPTE170M, c->color_trc = AVCOL_TRC_SMPTE170M;
  }
  c->color_range = AVCOL_RANGE_MPEG;
  if (rgb) c->colorspace = AVCOL_SPC_RGB, c->color_range = AVCOL_RANGE_JPEG;
}

// A delivered picture format, and how to read it.
struct PictureFormat {
  GUID subtype;
  AVPixelFormat format;  // AV_PIX_FMT_NONE: MJPEG, decoded first
  bool swapChroma;       // YV12: V before U
  bool dib;              // bottom row first when the height is positive
};
const PictureFormat kPictureFormats[] = {
    {MEDIASUBTYPE_YUY2, AV_PIX_FMT_YUYV422, false, false}, {MEDIASUBTYPE_UYVY, AV_PIX_FMT_UYVY422, false, false},
    {MEDIASUBTYPE_I420, AV_PIX_FMT_YUV420P, false, false}, {MEDIASUBTYPE_YV12, AV_PIX_FMT_YUV420P, true, false},
    {MEDIASUBTYPE_NV12, AV_PIX_FMT_NV12, false, false},    {MEDIASUBTYPE_RGB24, AV_PIX_FMT_BGR24, false, true},
    {MEDIASUBTYPE_MJPG, AV_PIX_FMT_NONE, false, false},
};

// Reads delivered pictures into frames and converts them (libswscale; MJPEG through its decoder).
class PictureReader {
 public:
  bool Init(const AM_MEDIA_TYPE& mt) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    const auto* f = std::find_if(std::begin(kPictureFormats), std::end(kPictureFormats),
                                 [&](const PictureFormat& p) { return p.subtype == mt.subtype; });
    if (f == std::end(kPictureFormats)) return false;
    m_format = *f;
    m_width = vih->bmiHeader.biWidth;
    m_height = std::abs(vih->bmiHeader.biHeight);
    m_flip = f->dib && vih->bmiHeader.biHeight > 0;
    m_view.reset(av_frame_alloc());
    if (!m_view || m_width <= 0 || m_height <= 0) return false;
    if (f->format != AV_PIX_FMT_NONE) return true;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    m_decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
    m_packet.reset(av_packet_alloc());
    return m_decoder && m_packet && avcodec_open2(m_decoder.get(), codec, nullptr) == 0;
  }
  AVPixelFormat Format() const { return m_format.format; }
  int Width() const { return m_width; }
  int Height() const { return m_height; }
  // Whether pictures are 4:2:0 (MJPEG is taken as 4:2:2, as cards send it).
  bool Chroma420() const { return m_format.format == AV_PIX_FMT_YUV420P || m_format.format == AV_PIX_FMT_NV12; }
  bool Rgb() const { return m_format.format == AV_PIX_FMT_BGR24; }
  bool Packed422() const {
    return !m_flip && (m_format.format == AV_PIX_FMT_YUYV422 || m_format.format == AV_PIX_FMT_UYVY422);
  }

  // The delivered picture as a frame (over the delivered bytes, or decoded); null when unreadable.
  const AVFrame* Read(const BYTE* data, std::size_t size) {
    if (m_decoder) {
      av_packet_unref(m_packet.get());
      if (av_new_packet(m_packet.get(), static_cast<int>(size)) < 0) return nullptr;
      std::copy_n(data, size, m_packet->data);
      av_frame_unref(m_view.get());
      if (avcodec_send_packet(m_decoder.get(), m_packet.get()) < 0 ||
          avcodec_receive_frame(m_decoder.get(), m_view.get()) < 0)
        return nullptr;
      return m_view->width == m_width && m_view->height == m_height ? m_view.get() : nullptr;
    }
    const int need = av_image_get_buffer_size(m_format.format, m_width, m_height, 1);
    if (need < 0 || size < static_cast<std::size_t>(need)) return nullptr;
    av_image_fill_arrays(m_view->data, m_view->linesize, data, m_format.format, m_width, m_height, 1);
    if (m_format.swapChroma) std::swap(m_view->data[1], m_view->data[2]);
    if (m_flip) {
      m_view->data[0] += static_cast<std::ptrdiff_t>(m_view->linesize[0]) * (m_height - 1);
      m_view->linesize[0] = -m_view->linesize[0];
    }
    m_view->width = m_width;
    m_view->height = m_height;
    m_view->format = m_format.format;
    return m_view.get();
  }

  // Pictures of an interlaced source: converted one field at a time where the chroma's lines
  // change (4:2:2 and 4:2:0), so that no field's colour is averaged with the other's.
  void SetInterlaced(bool interlaced) { m_interlaced = interlaced; }
  // A frame over a picture of the reader's size in this format (converted into a buffer of its own).
  const AVFrame* View(const BYTE* data, AVPixelFormat format) {
    if (!m_other) m_other.reset(av_frame_alloc());
    if (!m_other) return nullptr;
    av_image_fill_arrays(m_other->data, m_other->linesize, data, format, m_width, m_height, 1);
    m_other->width = m_width;
    m_other->height = m_height;
    m_other->format = format;
    return m_other.get();
  }

  bool Convert(const AVFrame* in, uint8_t* const out[], const int outLines[], AVPixelFormat outFormat) {
    const auto inFormat = static_cast<AVPixelFormat>(in->format);
    const AVPixFmtDescriptor *from = av_pix_fmt_desc_get(inFormat), *to = av_pix_fmt_desc_get(outFormat);
    const bool byField = m_interlaced && from && to && !(from->flags & AV_PIX_FMT_FLAG_RGB) &&
                         from->log2_chroma_h != to->log2_chroma_h && in->height == m_height && m_height % 4 == 0;
    const int lines = byField ? m_height / 2 : m_height;
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), in->width, byField ? in->height / 2 : in->height, inFormat,
                                        m_width, lines, outFormat, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler) return false;
    if (!byField) return sws_scale(m_scaler.get(), in->data, in->linesize, 0, in->height, out, outLines) == m_height;
    // A field is every other line of each plane (its chroma lines too): the planes from the field's
    // first line, at twice the stride.
    for (int field = 0; field < 2; ++field) {
      const uint8_t* src[4] = {};
      uint8_t* dst[4] = {};
      int srcLines[4] = {}, dstLines[4] = {};
      for (int p = 0; p < 4; ++p) {
        if (in->data[p]) src[p] = in->data[p] + field * in->linesize[p], srcLines[p] = 2 * in->linesize[p];
        if (out[p]) dst[p] = out[p] + field * outLines[p], dstLines[p] = 2 * outLines[p];
      }
      if (sws_scale(m_scaler.get(), src, srcLines, 0, lines, dst, dstLines) != lines) return false;
    }
    return true;
  }

 private:
  PictureFormat m_format{};
  int m_width = 0, m_height = 0;
  bool m_flip = false;
  bool m_interlaced = false;
  Owned<AVFrame> m_view, m_other;
  Owned<AVCodecContext> m_decoder;
  Owned<AVPacket> m_packet;
  Owned<SwsContext> m_scaler;
};

void SetPictureParams(AVStream* st, AVRational unit) {
  st->time_base = unit;
  st->avg_frame_rate = av_inv_q(unit);
  st->r_frame_rate = st->avg_frame_rate;
}

// As the pin delivers it; a missed frame is an empty chunk.
class Delivered final : public PictureCoder {
 public:
  Coded Picture(const BYTE* data, std::size_t size, std::int64_t index, const EmitFn& emit) override {
    return EmitOver(packet.get(), data, size, index, emit) ? Coded::Written : Coded::Failed;
  }
  bool Missing(std::int64_t index, const EmitFn& emit) override { return EmitOver(packet.get(), nullptr, 0, index, emit); }
  std::string Settings() const override { return "copy"; }
  Owned<AVPacket> packet{av_packet_alloc()};
};

// 4:2:2 as YUY2 (UYVY and YUY2 as delivered); a missed frame is an empty chunk.
class Uncompressed final : public PictureCoder {
 public:
  PictureReader reader;
  std::vector<BYTE> buffer;
  Coded Picture(const BYTE* data, std::size_t size, std::int64_t index, const EmitFn& emit) override {
    const AVFrame* in = reader.Read(data, size);
    if (!in) return Coded::LeftOut;
    if (!reader.Packed422()) {
      uint8_t* planes[4] = {buffer.data()};
      const int lines[4] = {2 * reader.Width()};
      if (!reader.Convert(in, planes, lines, AV_PIX_FMT_YUYV422)) return Coded::LeftOut;
      data = buffer.data();
    }
    const std::size_t frame = static_cast<std::size_t>(reader.Width()) * reader.Height() * 2;
    if (watch) {
      const AVFrame* stored = reader.Packed422() ? in : reader.View(buffer.data(), AV_PIX_FMT_YUYV422);
      if (stored) watch(index, *stored, false);
    }
    return EmitOver(packet.get(), data, frame, index, emit) ? Coded::Written : Coded::Failed;
  }
  bool Missing(std::int64_t index, const EmitFn& emit) override { return EmitOver(packet.get(), nullptr, 0, index, emit); }
  Owned<AVPacket> packet{av_packet_alloc()};
  std::string Settings() const override {
    return std::string("rawvideo pix_fmt=") + av_get_pix_fmt_name(reader.Packed422() ? reader.Format() : AV_PIX_FMT_YUYV422);
  }
};

// FFV1 or H.264; a missed frame is the previous picture again, so that the rate stays constant.
class Encoded final : public PictureCoder {
 public:
  PictureReader reader;
  Owned<AVCodecContext> encoder;
  Owned<AVFrame> last;
  bool havePicture = false;
  // Every frame a key frame, each packet out for the frame just in (FFV1): a repeat is the previous
  // packet again, not the picture encoded again.
  bool repeatPackets = false;
  Owned<AVPacket> previous{av_packet_alloc()}, again{av_packet_alloc()};
  Owned<AVBufferPool> pool;  // buffers of last's size

  Coded Picture(const BYTE* data, std::size_t size, std::int64_t index, const EmitFn& emit) override {
    const AVFrame* in = reader.Read(data, size);
    if (!in || !Writable() || !reader.Convert(in, last->data, last->linesize, encoder->pix_fmt)) return Coded::LeftOut;
    havePicture = true;
    if (!repeatPackets) return Send(index, false, emit) ? Coded::Written : Coded::Failed;
    // The packet is kept by reference: its bytes are shared, not copied.
    av_packet_unref(previous.get());
    const EmitFn keep = [&](AVPacket* pkt) {
      av_packet_unref(previous.get());
      return av_packet_ref(previous.get(), pkt) == 0 && emit(pkt);
    };
    return Send(index, false, keep) ? Coded::Written : Coded::Failed;
  }
  bool Missing(std::int64_t index, const EmitFn& emit) override {
    if (!havePicture) return true;
    if (!repeatPackets || !previous->buf) return Send(index, true, emit);
    if (watch) watch(index, *last, true);
    if (!again || av_packet_ref(again.get(), previous.get()) < 0) return false;
    again->pts = again->dts = index;
    again->duration = 1;
    const bool ok = emit(again.get());
    av_packet_unref(again.get());
    return ok;
  }
  bool Flush(const EmitFn& emit) override {
    return avcodec_send_frame(encoder.get(), nullptr) == 0 && Drain(encoder.get(), emit, 1);
  }
  std::string Settings() const override { return settings; }
  void Captions(const BYTE* triplets, std::size_t size) override {
    if (!a53) return;
    // A/53's own triplets only: the VBI's other lines (wide-screen signalling) are not for players.
    for (std::size_t i = 0; i + 3 <= size; i += 3)
      if (triplets[i] == cc::kField1 || triplets[i] == cc::kField2) m_captions.insert(m_captions.end(), triplets + i, triplets + i + 3);
  }
  std::string settings;
  bool a53 = false;  // the encoder takes line 21's captions with the pictures

 private:
  bool Send(std::int64_t index, bool again, const EmitFn& emit) {
    last->pts = index;
    if (watch) watch(index, *last, again);
    const bool interlaced = encoder->field_order == AV_FIELD_TT || encoder->field_order == AV_FIELD_BB;
    const bool topFirst = encoder->field_order == AV_FIELD_TT;
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(58, 7, 100)
    // FFmpeg 6.1 on: the frame's flags (the fields below are deprecated there, and go later).
    last->flags = (last->flags & ~(AV_FRAME_FLAG_INTERLACED | AV_FRAME_FLAG_TOP_FIELD_FIRST)) |
                  (interlaced ? AV_FRAME_FLAG_INTERLACED : 0) | (topFirst ? AV_FRAME_FLAG_TOP_FIELD_FIRST : 0);
#else
    last->interlaced_frame = interlaced;
    last->top_field_first = topFirst;
#endif
    // A repeat carries no captions: they were the previous picture's.
    if (!again && !m_captions.empty()) {
      if (AVFrameSideData* side = av_frame_new_side_data(last.get(), AV_FRAME_DATA_A53_CC, m_captions.size()))
        std::copy(m_captions.begin(), m_captions.end(), side->data);
      m_captions.clear();
    }
    const bool sent = avcodec_send_frame(encoder.get(), last.get()) == 0;
    av_frame_remove_side_data(last.get(), AV_FRAME_DATA_A53_CC);
    return sent && Drain(encoder.get(), emit, 1);
  }
  // The encoder holds the previous picture until the next one comes: the new one goes into a
  // buffer of the pool, not into a copy of the old one that it overwrites (a fresh allocation and a
  // copy a picture: a few per cent of what FFV1 itself costs).
  bool Writable() {
    if (av_frame_is_writable(last.get())) return true;
    if (!pool || !last->buf[0] || last->buf[1]) return av_frame_make_writable(last.get()) >= 0;
    AVBufferRef* fresh = av_buffer_pool_get(pool.get());
    if (!fresh) return false;
    for (int p = 0; p < AV_NUM_DATA_POINTERS && last->data[p]; ++p)
      last->data[p] = fresh->data + (last->data[p] - last->buf[0]->data);
    av_buffer_unref(&last->buf[0]);
    last->buf[0] = fresh;
    return true;
  }
  std::vector<BYTE> m_captions;  // waiting for the next picture
};

// The encoders' notes on every recording (x264's settings, AAC's) are not for the user: only
// warnings and errors reach the log.
void QuietEncoderNotes() {
  if (av_log_get_level() > AV_LOG_WARNING) av_log_set_level(AV_LOG_WARNING);
}

HRESULT OpenEncoder(Encoded& e, RECORD_CODING coding, AVFieldOrder order, AVRational sar, AVRational unit,
                    REFERENCE_TIME frame, bool globalHeader) {
  QuietEncoderNotes();
  const bool ffv1 = coding == RECORD_FFV1_PCM;
  const AVCodec* codec = ffv1 ? avcodec_find_encoder(AV_CODEC_ID_FFV1) : avcodec_find_encoder_by_name("libx264");
  if (!codec) return VFW_E_NOT_FOUND;
  e.encoder.reset(avcodec_alloc_context3(codec));
  e.last.reset(av_frame_alloc());
  if (!e.encoder || !e.last) return E_OUTOFMEMORY;
  AVCodecContext* c = e.encoder.get();
  c->width = e.reader.Width();
  c->height = e.reader.Height();
  // FFV1 keeps what the card sends: RGB as RGB, 4:2:0 as it is, else 4:2:2.
  c->pix_fmt = !ffv1 || e.reader.Chroma420() ? AV_PIX_FMT_YUV420P : e.reader.Rgb() ? AV_PIX_FMT_0RGB32 : AV_PIX_FMT_YUV422P;
  DescribeColour(c, frame, ffv1 && e.reader.Rgb());
  c->time_base = unit;
  c->framerate = av_inv_q(unit);
  c->sample_aspect_ratio = sar;
  c->field_order = order;
  c->thread_count = kCodecThreads;
  if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (ffv1) {
    c->level = kFfv1Level;
    c->gop_size = 1;
    av_dict_set(&options, "slices", kFfv1Slices, 0);
    av_dict_set(&options, "slicecrc", "1", 0);
  } else {
    c->bit_rate = kH264BitRate;
    c->rc_max_rate = kH264MaxRate;
    c->rc_buffer_size = static_cast<int>(kH264Buffer);
    c->gop_size = static_cast<int>(av_rescale(kKeyFrameEvery, unit.den, 10'000'000LL * unit.num));
    if (order == AV_FIELD_TT || order == AV_FIELD_BB) {
      c->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
      // x264 weighs no predictions in interlaced coding: left on, it turns them off itself with a warning.
      av_dict_set(&options, "weightp", "none", 0);
    }
    av_dict_set(&options, "preset", kH264Preset, 0);
    av_dict_set(&options, "a53cc", "1", 0);
    e.a53 = true;
  }
  const int opened = avcodec_open2(c, codec, &options);
  av_dict_free(&options);
  if (opened < 0) return VFW_E_NOT_FOUND;
  char text[256];
  if (ffv1)
    std::snprintf(text, sizeof text, "ffv1 level=%d slices=%s slicecrc=1 g=1 threads=%d pix_fmt=%s", kFfv1Level, kFfv1Slices,
                  kCodecThreads, av_get_pix_fmt_name(c->pix_fmt));
  else
    std::snprintf(text, sizeof text, "libx264 preset=%s b=%lld maxrate=%lld bufsize=%lld g=%d%s pix_fmt=%s", kH264Preset,
                  static_cast<long long>(kH264BitRate), static_cast<long long>(kH264MaxRate),
                  static_cast<long long>(kH264Buffer), c->gop_size,
                  (c->flags & AV_CODEC_FLAG_INTERLACED_DCT) ? " interlaced=1" : "", av_get_pix_fmt_name(c->pix_fmt));
  e.settings = text;
  e.repeatPackets = ffv1 && c->gop_size == 1 && !(codec->capabilities & AV_CODEC_CAP_DELAY) && e.previous && e.again;
  e.last->format = c->pix_fmt;
  e.last->width = c->width;
  e.last->height = c->height;
  e.last->sample_aspect_ratio = sar;  // FFV1 stores it in every frame
  if (av_frame_get_buffer(e.last.get(), 0) < 0) return E_OUTOFMEMORY;
  e.pool.reset(av_buffer_pool_init(e.last->buf[0]->size, nullptr));
  return S_OK;
}

// PCM as delivered; in Matroska cut into blocks of whole milliseconds, so that every block starts
// exactly on the file's millisecond stamps. A reader then times each block to the sample as we do,
// even when the sound is bent onto the pictures' clock and comes in blocks of any length.
class Pcm final : public SoundCoder {
 public:
  Pcm(int blockAlign, AVCodecID codec, std::int64_t block) : m_blockAlign(blockAlign), m_codec(codec), m_block(block) {}
  bool Sound(const BYTE* data, std::int64_t samples, std::int64_t first, const EmitFn& emit) override {
    if (watch) watch(data, samples);
    if (m_block == 0) return EmitCopy(data, static_cast<std::size_t>(samples * m_blockAlign), first, samples, emit);
    if (first != m_pendingFirst + Pending() && !Flush(emit)) return false;
    if (m_pending.empty()) m_pendingFirst = first;
    m_pending.insert(m_pending.end(), data, data + samples * m_blockAlign);
    std::int64_t done = 0;
    for (; Pending() - done >= m_block; done += m_block)
      if (!EmitCopy(m_pending.data() + done * m_blockAlign, static_cast<std::size_t>(m_block * m_blockAlign),
                    m_pendingFirst + done, m_block, emit))
        return false;
    m_pending.erase(m_pending.begin(), m_pending.begin() + done * m_blockAlign);
    m_pendingFirst += done;
    return true;
  }
  bool Flush(const EmitFn& emit) override {
    const std::int64_t n = Pending();
    if (n == 0) return true;
    const bool ok = EmitCopy(m_pending.data(), m_pending.size(), m_pendingFirst, n, emit);
    m_pending.clear();
    m_pendingFirst += n;
    return ok;
  }
  std::string Settings() const override { return avcodec_get_name(m_codec); }

 private:
  std::int64_t Pending() const { return static_cast<std::int64_t>(m_pending.size()) / m_blockAlign; }
  int m_blockAlign;
  AVCodecID m_codec;
  std::int64_t m_block;  // samples a packet, 0: as delivered
  std::vector<BYTE> m_pending;
  std::int64_t m_pendingFirst = 0;
};

// The samples of the shortest block of at least 10 ms that lasts whole milliseconds.
std::int64_t MillisecondBlock(int rate) {
  for (std::int64_t ms = 10; ms <= 1000; ms += 10)
    if (rate * ms % 1000 == 0) return rate * ms / 1000;
  return rate;
}

// AAC from libavcodec's own encoder: the sound converted to planar float and cut into its frames.
class Aac final : public SoundCoder {
 public:
  Owned<AVCodecContext> encoder;
  Owned<SwrContext> resampler;
  Owned<AVAudioFifo> fifo;

  bool Sound(const BYTE* data, std::int64_t samples, std::int64_t, const EmitFn& emit) override {
    if (watch) watch(data, samples);
    Owned<AVFrame> planar(av_frame_alloc());
    if (!planar || av_channel_layout_copy(&planar->ch_layout, &encoder->ch_layout) < 0) return false;
    planar->format = encoder->sample_fmt;
    planar->nb_samples = static_cast<int>(samples);
    if (av_frame_get_buffer(planar.get(), 0) < 0) return false;
    const uint8_t* in[] = {data};
    const int n = swr_convert(resampler.get(), planar->data, planar->nb_samples, in, planar->nb_samples);
    if (n < 0 || av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(planar->data), n) < n) return false;
    return Encode(false, emit);
  }
  bool Flush(const EmitFn& emit) override {
    return Encode(true, emit) && avcodec_send_frame(encoder.get(), nullptr) == 0 && Drain(encoder.get(), emit, 0);
  }
  std::string Settings() const override { return "aac b=" + std::to_string(kAacBitRate); }

 private:
  // Whole frames of the encoder; at the end also the rest, padded with silence where it must be.
  bool Encode(bool end, const EmitFn& emit) {
    const int size = encoder->frame_size;
    while (av_audio_fifo_size(fifo.get()) >= size || (end && av_audio_fifo_size(fifo.get()) > 0)) {
      const int n = std::min(size, av_audio_fifo_size(fifo.get()));
      const bool pad = n < size && !(encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
      Owned<AVFrame> frame(av_frame_alloc());
      if (!frame || av_channel_layout_copy(&frame->ch_layout, &encoder->ch_layout) < 0) return false;
      frame->format = encoder->sample_fmt;
      frame->sample_rate = encoder->sample_rate;
      frame->nb_samples = pad ? size : n;
      if (av_frame_get_buffer(frame.get(), 0) < 0 ||
          av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), n) < n)
        return false;
      if (pad)
        av_samples_set_silence(frame->data, n, size - n, encoder->ch_layout.nb_channels, encoder->sample_fmt);
      frame->pts = m_next;
      m_next += frame->nb_samples;
      if (avcodec_send_frame(encoder.get(), frame.get()) < 0 || !Drain(encoder.get(), emit, 0)) return false;
    }
    return true;
  }
  std::int64_t m_next = 0;
};

HRESULT OpenAac(Aac& a, const WAVEFORMATEX& wfx, bool globalHeader) {
  QuietEncoderNotes();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (!codec) return VFW_E_NOT_FOUND;
  a.encoder.reset(avcodec_alloc_context3(codec));
  if (!a.encoder) return E_OUTOFMEMORY;
  AVCodecContext* c = a.encoder.get();
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = static_cast<int>(wfx.nSamplesPerSec);
  av_channel_layout_default(&c->ch_layout, wfx.nChannels);
  c->bit_rate = kAacBitRate;
  c->time_base = AVRational{1, c->sample_rate};
  if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(c, codec, nullptr) < 0) return VFW_E_NOT_FOUND;
  const AVSampleFormat in = wfx.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
  SwrContext* swr = nullptr;
  if (swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &c->ch_layout, in, c->sample_rate, 0,
                          nullptr) < 0)
    return E_OUTOFMEMORY;
  a.resampler.reset(swr);
  a.fifo.reset(av_audio_fifo_alloc(c->sample_fmt, c->ch_layout.nb_channels, c->frame_size * 2));
  if (swr_init(swr) < 0 || !a.fifo) return E_OUTOFMEMORY;
  return S_OK;
}

}  // namespace

std::unique_ptr<PictureCoder> PictureCoder::Create(RECORD_CODING coding, const AM_MEDIA_TYPE& mt, AM_FIELD_ORDER fields,
                                                   AVStream* st, AVRational unit, bool globalHeader, HRESULT* hr) {
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
  AVCodecParameters* par = st->codecpar;
  SetPictureParams(st, unit);
  *hr = S_OK;
  if (coding == RECORD_AS_DELIVERED) {
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->width = vih->bmiHeader.biWidth;
    par->height = std::abs(vih->bmiHeader.biHeight);
    par->bits_per_coded_sample = vih->bmiHeader.biBitCount;
    if (mt.subtype == MEDIASUBTYPE_YUY2) {
      par->codec_id = AV_CODEC_ID_RAWVIDEO;
      par->format = AV_PIX_FMT_YUYV422;
      par->codec_tag = MKTAG('Y', 'U', 'Y', '2');
      par->bits_per_coded_sample = 16;
    } else if (mt.subtype == MEDIASUBTYPE_RGB24) {
      par->codec_id = AV_CODEC_ID_RAWVIDEO;  // a bottom-up DIB, as AVI keeps uncompressed RGB
      par->format = AV_PIX_FMT_BGR24;
      par->codec_tag = 0;
      par->bits_per_coded_sample = 24;
    } else if (mt.subtype.Data1 == MKTAG('M', 'J', 'P', 'G')) {
      par->codec_id = AV_CODEC_ID_MJPEG;
      par->codec_tag = MKTAG('M', 'J', 'P', 'G');
    } else {
      par->codec_id = AV_CODEC_ID_RAWVIDEO;
      par->codec_tag = mt.subtype.Data1;
    }
    return std::make_unique<Delivered>();
  }

  // The other codings say how the picture is to be shown: its field order and a 4:3 frame.
  const AVFieldOrder order = FieldOrderOf(fields);
  if (coding == RECORD_UNCOMPRESSED_422) {
    auto u = std::make_unique<Uncompressed>();
    if (!u->reader.Init(mt)) return *hr = VFW_E_INVALIDMEDIATYPE, nullptr;
    u->reader.SetInterlaced(order == AV_FIELD_TT || order == AV_FIELD_BB);
    const bool uyvy = u->reader.Packed422() && u->reader.Format() == AV_PIX_FMT_UYVY422;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->format = uyvy ? AV_PIX_FMT_UYVY422 : AV_PIX_FMT_YUYV422;
    par->codec_tag = uyvy ? MKTAG('U', 'Y', 'V', 'Y') : MKTAG('Y', 'U', 'Y', '2');
    par->bits_per_coded_sample = 16;
    par->width = u->reader.Width();
    par->height = u->reader.Height();
    par->field_order = order;
    par->sample_aspect_ratio = st->sample_aspect_ratio = FourByThreeSampleAspect(par->width, par->height);
    u->buffer.resize(static_cast<std::size_t>(par->width) * par->height * 2);
    return u;
  }
  auto e = std::make_unique<Encoded>();
  if (!e->reader.Init(mt)) return *hr = VFW_E_INVALIDMEDIATYPE, nullptr;
  e->reader.SetInterlaced(order == AV_FIELD_TT || order == AV_FIELD_BB);
  const AVRational sar = FourByThreeSampleAspect(e->reader.Width(), e->reader.Height());
  if (*hr = OpenEncoder(*e, coding, order, sar, unit, vih->AvgTimePerFrame, globalHeader); FAILED(*hr)) return nullptr;
  if (avcodec_parameters_from_context(par, e->encoder.get()) < 0) return *hr = E_OUTOFMEMORY, nullptr;
  st->sample_aspect_ratio = sar;
  return e;
}

std::unique_ptr<SoundCoder> SoundCoder::Create(RECORD_CODING coding, const WAVEFORMATEX& wfx, AVStream* st,
                                               bool globalHeader, HRESULT* hr) {
  AVCodecParameters* par = st->codecpar;
  par->codec_type = AVMEDIA_TYPE_AUDIO;
  par->codec_id = wfx.wBitsPerSample == 8 ? AV_CODEC_ID_PCM_U8 : AV_CODEC_ID_PCM_S16LE;
  par->codec_tag = WAVE_FORMAT_PCM;
  par->sample_rate = static_cast<int>(wfx.nSamplesPerSec);
  av_channel_layout_default(&par->ch_layout, wfx.nChannels);
  par->block_align = wfx.nChannels * wfx.wBitsPerSample / 8;
  par->bits_per_coded_sample = wfx.wBitsPerSample;
  par->bit_rate = static_cast<std::int64_t>(par->sample_rate) * par->block_align * 8;
  st->time_base = AVRational{1, par->sample_rate};
  *hr = S_OK;
  if (coding != RECORD_H264_AAC)
    return std::make_unique<Pcm>(par->block_align, par->codec_id,
                                 coding == RECORD_FFV1_PCM ? MillisecondBlock(par->sample_rate) : 0);
  auto a = std::make_unique<Aac>();
  if (*hr = OpenAac(*a, wfx, globalHeader); FAILED(*hr)) return nullptr;
  if (avcodec_parameters_from_context(par, a->encoder.get()) < 0) return *hr = E_OUTOFMEMORY, nullptr;
  return a;
}

}  // namespace orv::media
