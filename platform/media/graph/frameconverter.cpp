#include "platform/media/graph/frameconverter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/buffer.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

namespace orv::media {
namespace {

// Pixels libswscale's unscaled conversion into RGB writes at a time: 16 with FFmpeg 5.1's SSSE3 code,
// room left for 32-byte vectors.
constexpr int kRgbGroup = 32;

// Where a card's frame of a type keeps its planes, from its first byte.
struct Layout {
  AVPixelFormat format = AV_PIX_FMT_NONE;  // none for MJPG: decoded later
  std::ptrdiff_t offsets[4] = {};
  int strides[4] = {};
  std::size_t bytes = 0;  // what the planes span
};

// False for a type the preview does not know, bad sizes or a frame shorter than its size.
bool LayOut(const GUID& subtype, std::size_t srcSize, int width, int height, Layout* out) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  const std::size_t w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
  Layout l;
  if (subtype == MEDIASUBTYPE_YUY2 || subtype == MEDIASUBTYPE_UYVY) {
    l.format = subtype == MEDIASUBTYPE_YUY2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_UYVY422;
    l.strides[0] = width * 2;
    l.bytes = w * 2 * h;
  } else if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12) {
    // Y, then the two quarter-size chroma planes: U first in I420, V first in YV12.
    const std::size_t chroma = (w / 2) * (h / 2);
    const bool yv12 = subtype == MEDIASUBTYPE_YV12;
    l.format = AV_PIX_FMT_YUV420P;
    l.offsets[yv12 ? 2 : 1] = static_cast<std::ptrdiff_t>(w * h);
    l.offsets[yv12 ? 1 : 2] = static_cast<std::ptrdiff_t>(w * h + chroma);
    l.strides[0] = width;
    l.strides[1] = l.strides[2] = width / 2;
    l.bytes = w * h + 2 * chroma;
  } else if (subtype == MEDIASUBTYPE_NV12) {
    l.format = AV_PIX_FMT_NV12;
    l.offsets[1] = static_cast<std::ptrdiff_t>(w * h);
    l.strides[0] = l.strides[1] = width;
    l.bytes = w * h + w * (h / 2);
  } else if (subtype == MEDIASUBTYPE_RGB24) {
    // A DIB: rows padded to 4 bytes, blue first, bottom row first.
    const int stride = (width * 3 + 3) & ~3;
    l.format = AV_PIX_FMT_BGR24;
    l.offsets[0] = static_cast<std::ptrdiff_t>(stride) * (height - 1);
    l.strides[0] = -stride;
    l.bytes = static_cast<std::size_t>(stride) * h;
  } else if (subtype == MEDIASUBTYPE_MJPG) {
    l.bytes = srcSize;
    if (srcSize == 0 || srcSize > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE) return false;
  } else {
    return false;
  }
  if (srcSize < l.bytes) return false;
  *out = l;
  return true;
}

}  // namespace

// ---- PreviewPicture, PicturePool -------------------------------------------------------------------

PreviewPicture::PreviewPicture() : m_frame(av_frame_alloc()) {}

PreviewPicture::~PreviewPicture() { av_frame_free(&m_frame); }

void PreviewPicture::Swap(PreviewPicture& other) noexcept {
  std::swap(m_frame, other.m_frame);
  std::swap(m_size, other.m_size);
}

void PreviewPicture::Clear() {
  if (m_frame) av_frame_unref(m_frame);
  m_size = 0;
}

bool PreviewPicture::Empty() const { return !m_frame || !m_frame->buf[0]; }

PicturePool::~PicturePool() { av_buffer_pool_uninit(&m_pool); }

bool PicturePool::Copy(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height,
                       PreviewPicture* out) {
  if (!out) return false;
  out->Clear();
  Layout l;
  if (!src || !out->m_frame || !LayOut(subtype, srcSize, width, height, &l)) return false;
  // The padding lets the MJPG decoder read past the end.
  const std::size_t need = l.bytes + AV_INPUT_BUFFER_PADDING_SIZE;
  if (need > m_bufferSize) {
    // Buffers already out stay valid until they come back; compressed frames vary, so leave room.
    av_buffer_pool_uninit(&m_pool);
    const std::size_t size = l.format == AV_PIX_FMT_NONE ? need + need / 4 : need;
    m_pool = av_buffer_pool_init(size, nullptr);
    m_bufferSize = m_pool ? size : 0;
  }
  AVBufferRef* buffer = m_pool ? av_buffer_pool_get(m_pool) : nullptr;
  if (!buffer) return false;
  std::memcpy(buffer->data, src, l.bytes);
  std::memset(buffer->data + l.bytes, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  AVFrame* f = out->m_frame;
  f->buf[0] = buffer;
  f->format = l.format;
  f->width = width;
  f->height = height;
  for (int i = 0; i < 4; ++i)
    if (l.strides[i]) f->data[i] = buffer->data + l.offsets[i], f->linesize[i] = l.strides[i];
  if (l.format == AV_PIX_FMT_NONE) out->m_size = l.bytes;
  return true;
}

// ---- FrameConverter --------------------------------------------------------------------------------

int PreviewScalerFlags(int srcWidth, int dstWidth) { return dstWidth > srcWidth ? SWS_FAST_BILINEAR : SWS_BILINEAR; }

FrameConverter::~FrameConverter() {
  sws_freeContext(m_scaler);
  sws_freeContext(m_ctx);
  av_frame_free(&m_planes);
  av_frame_free(&m_rows);
  av_frame_free(&m_decoded);
  // Only what MJPEG pictures made: libavcodec is not loaded for the others.
  if (m_packet) av_packet_free(&m_packet);
  if (m_decoder) avcodec_free_context(&m_decoder);
}

// A buffer of that layout in *frame, made anew only when the layout changes.
bool FrameConverter::Fit(AVFrame* frame, int format, int width, int height) {
  if (!frame) return false;
  if (frame->buf[0] && frame->format == format && frame->width == width && frame->height == height) return true;
  av_frame_unref(frame);
  frame->format = format, frame->width = width, frame->height = height;
  if (av_frame_get_buffer(frame, 0) < 0) return false;
  // The column and row that make an odd size even are read but never shown: black, not garbage.
  const std::ptrdiff_t linesizes[4] = {frame->linesize[0], frame->linesize[1], frame->linesize[2], frame->linesize[3]};
  av_image_fill_black(frame->data, linesizes, static_cast<AVPixelFormat>(format), AVCOL_RANGE_MPEG, width, height);
  return true;
}

bool FrameConverter::Decode(const PreviewPicture& picture) {
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
  if (!m_packet || !m_decoded || !(m_packet->buf = av_buffer_ref(picture.m_frame->buf[0]))) return false;
  // The decoder reads the pooled buffer itself.
  m_packet->data = m_packet->buf->data;
  m_packet->size = static_cast<int>(picture.m_size);
  const bool sent = avcodec_send_packet(m_decoder, m_packet) == 0;
  av_packet_unref(m_packet);
  return sent && avcodec_receive_frame(m_decoder, m_decoded) == 0;
}

bool FrameConverter::Convert(const PreviewPicture& picture, BYTE* dst, int dstWidth, int dstHeight, int dstStride) {
  if (picture.Empty() || !dst || dstWidth <= 0 || dstHeight <= 0 || dstStride < dstWidth * 4) return false;
  const AVFrame* frame = picture.m_frame;
  bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
  AVPixelFormat format = static_cast<AVPixelFormat>(frame->format);
  if (format == AV_PIX_FMT_NONE) {
    if (!Decode(picture)) return false;
    frame = m_decoded;
    format = static_cast<AVPixelFormat>(frame->format);
    // JPEG's full-range YUV under the plain formats' names, with the range said apart.
    switch (format) {
      case AV_PIX_FMT_YUVJ420P: format = AV_PIX_FMT_YUV420P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ422P: format = AV_PIX_FMT_YUV422P, fullRange = true; break;
      case AV_PIX_FMT_YUVJ444P: format = AV_PIX_FMT_YUV444P, fullRange = true; break;
      default: fullRange = frame->color_range == AVCOL_RANGE_JPEG; break;
    }
  }
  if (frame->width <= 0 || frame->height <= 0) return false;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  if (!desc) return false;
  const std::uint8_t* const* planes = frame->data;
  const int* planeStrides = frame->linesize;
  int from = format, width = frame->width, height = frame->height, flags = PreviewScalerFlags(width, dstWidth);
  int rows = height, outWidth = dstWidth, outHeight = dstHeight;
  std::uint8_t* out[4] = {dst, nullptr, nullptr, nullptr};
  int outStrides[4] = {dstStride, 0, 0, 0};
  bool aside = false;
  if (!(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
    // libswscale's unscaled conversion into RGB takes pairs of rows and pairs of columns: the planes
    // get an even size, and only the window's rows and columns are converted out of them.
    const int evenWidth = (dstWidth + 1) & ~1, evenHeight = (dstHeight + 1) & ~1;
    const bool ready = (format == AV_PIX_FMT_YUV422P || format == AV_PIX_FMT_YUV420P) && width == dstWidth &&
                       height == dstHeight && width == evenWidth && height == evenHeight;
    if (!ready) {
      if (!m_planes && !(m_planes = av_frame_alloc())) return false;
      if (!Fit(m_planes, AV_PIX_FMT_YUV422P, evenWidth, evenHeight)) return false;
      // Both sides keep the source's range: the values pass through as they are.
      m_scaler = sws_getCachedContext(m_scaler, width, height, format, dstWidth, dstHeight, AV_PIX_FMT_YUV422P, flags,
                                      nullptr, nullptr, nullptr);
      if (!m_scaler || sws_scale(m_scaler, frame->data, frame->linesize, 0, height, m_planes->data, m_planes->linesize) <= 0)
        return false;
      planes = m_planes->data, planeStrides = m_planes->linesize, from = AV_PIX_FMT_YUV422P;
    }
    // An odd height: the window's rows as a slice of the even picture.
    rows = dstHeight;
    width = outWidth = evenWidth, height = outHeight = evenHeight, flags = SWS_BILINEAR;
    // The unscaled conversion's vector code writes whole groups of pixels, past the row's end (into a
    // neighbour's pixels in the top-level's buffer, or past the last row) or short of it: a window
    // whose width is not a multiple of the group gets its rows converted aside and copied.
    aside = dstWidth % kRgbGroup != 0;
    if (aside) {
      if (!m_rows && !(m_rows = av_frame_alloc())) return false;
      if (!Fit(m_rows, AV_PIX_FMT_RGB32, (evenWidth + kRgbGroup - 1) / kRgbGroup * kRgbGroup, dstHeight)) return false;
      out[0] = m_rows->data[0], outStrides[0] = m_rows->linesize[0];
    }
  }
  SwsContext* ctx = sws_getCachedContext(m_ctx, width, height, static_cast<AVPixelFormat>(from), outWidth, outHeight,
                                         AV_PIX_FMT_RGB32, flags, nullptr, nullptr, nullptr);
  // A new context starts with limited-range YUV; the range is told again only when it changes.
  if (ctx && (ctx != m_ctx || fullRange != m_fullRange)) {
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(ctx, coefficients, fullRange ? 1 : 0, coefficients, 1, 0, 1 << 16, 1 << 16);
    m_fullRange = fullRange;
  }
  m_ctx = ctx;
  if (!m_ctx || sws_scale(m_ctx, planes, planeStrides, 0, rows, out, outStrides) <= 0) return false;
  if (aside) av_image_copy_plane(dst, dstStride, m_rows->data[0], m_rows->linesize[0], dstWidth * 4, dstHeight);
  return true;
}

// ---- Deinterlacer ----------------------------------------------------------------------------------

Deinterlacer::~Deinterlacer() {
  Reset();
  av_frame_free(&m_frame);
}

void Deinterlacer::Reset() {
  // Not a call into libavfilter without a graph: it is loaded only once a picture is deinterlaced.
  if (m_graph) avfilter_graph_free(&m_graph);
  m_source = m_sink = nullptr;
  m_format = -1;
}

bool Deinterlacer::Build(int format, int width, int height, bool topFirst) {
  Reset();
  const AVFilter* filter = avfilter_get_by_name("bwdif");
  if (!filter) filter = avfilter_get_by_name("yadif");
  if (!filter || !(m_graph = avfilter_graph_alloc())) return false;
  // One picture of 640x480 takes well under a millisecond: slices on other threads would cost more in
  // waking them than they save.
  m_graph->nb_threads = 1;
  // libavfilter converts a packed or semi-planar frame into a layout the filter takes; what comes out
  // stays planar, for the scaler to take as it is.
  char args[128], chain[128];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", width, height, format);
  std::snprintf(chain, sizeof chain, "%s=mode=send_frame:parity=%s:deint=all", filter->name, topFirst ? "tff" : "bff");
  const AVPixelFormat formats[] = {AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV420P, AV_PIX_FMT_NONE};
  AVFilterInOut* from = avfilter_inout_alloc();
  AVFilterInOut* to = avfilter_inout_alloc();
  bool ok = from && to &&
            avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in", args, nullptr, m_graph) >= 0 &&
            avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, m_graph) >= 0 &&
            av_opt_set_int_list(m_sink, "pix_fmts", formats, AV_PIX_FMT_NONE, AV_OPT_SEARCH_CHILDREN) >= 0;
  if (ok) {
    from->name = av_strdup("in");
    from->filter_ctx = m_source;
    to->name = av_strdup("out");
    to->filter_ctx = m_sink;
    ok = avfilter_graph_parse_ptr(m_graph, chain, &to, &from, nullptr) >= 0 && avfilter_graph_config(m_graph, nullptr) >= 0;
  }
  avfilter_inout_free(&from);
  avfilter_inout_free(&to);
  if (!ok) return Reset(), false;
  m_format = format, m_width = width, m_height = height, m_topFirst = topFirst;
  m_pts = 0;
  return true;
}

bool Deinterlacer::Process(const PreviewPicture& in, bool topFirst, PreviewPicture* out) {
  if (in.Empty() || !out || !out->m_frame) return false;
  const AVFrame* frame = in.m_frame;
  const int format = frame->format, width = frame->width, height = frame->height;
  if ((format != AV_PIX_FMT_YUYV422 && format != AV_PIX_FMT_UYVY422 && format != AV_PIX_FMT_YUV420P &&
       format != AV_PIX_FMT_NV12) ||
      width <= 0 || height <= 0 || (width | height) & 1)
    return false;
  if ((m_format != format || m_width != width || m_height != height || m_topFirst != topFirst) &&
      !Build(format, width, height, topFirst))
    return false;
  if (!m_frame && !(m_frame = av_frame_alloc())) return false;
  // The filter holds its own reference to the pooled buffer: nothing is copied.
  if (av_frame_ref(m_frame, frame) < 0) return false;
  m_frame->pts = m_pts++;
  if (av_buffersrc_add_frame(m_source, m_frame) < 0) {
    av_frame_unref(m_frame);
    return Reset(), false;
  }
  out->Clear();
  return av_buffersink_get_frame(m_sink, out->m_frame) >= 0;
}

}  // namespace orv::media
