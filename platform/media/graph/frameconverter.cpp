#include "platform/media/graph/frameconverter.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>

namespace orv::media {

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

// ---- Deinterlacer ----------------------------------------------------------------------------------

Deinterlacer::~Deinterlacer() {
  Reset();
  av_frame_free(&m_frame);
}

void Deinterlacer::Reset() {
  avfilter_graph_free(&m_graph);
  m_source = m_sink = nullptr;
  m_format = -1;
}

bool Deinterlacer::Build(int format, int width, int height, bool topFirst) {
  Reset();
  const AVFilter* filter = avfilter_get_by_name("bwdif");
  if (!filter) filter = avfilter_get_by_name("yadif");
  if (!filter || !(m_graph = avfilter_graph_alloc())) return false;
  // libavfilter converts into a layout the filter takes and back into the frame's own.
  char args[128], chain[128];
  std::snprintf(args, sizeof args, "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", width, height, format);
  std::snprintf(chain, sizeof chain, "%s=mode=send_frame:parity=%s:deint=all", filter->name, topFirst ? "tff" : "bff");
  const AVPixelFormat formats[] = {static_cast<AVPixelFormat>(format), AV_PIX_FMT_NONE};
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

bool Deinterlacer::Process(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height,
                           bool topFirst, std::vector<BYTE>* out) {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  // YV12 passes as I420: the filter treats the two chroma planes alike.
  if (subtype == MEDIASUBTYPE_YUY2) format = AV_PIX_FMT_YUYV422;
  else if (subtype == MEDIASUBTYPE_UYVY) format = AV_PIX_FMT_UYVY422;
  else if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12) format = AV_PIX_FMT_YUV420P;
  else if (subtype == MEDIASUBTYPE_NV12) format = AV_PIX_FMT_NV12;
  if (format == AV_PIX_FMT_NONE || !src || !out || width <= 0 || height <= 0 || (width | height) & 1) return false;
  const int size = av_image_get_buffer_size(format, width, height, 1);
  if (size <= 0 || srcSize < static_cast<std::size_t>(size)) return false;
  if ((m_format != format || m_width != width || m_height != height || m_topFirst != topFirst) &&
      !Build(format, width, height, topFirst))
    return false;
  if (!m_frame && !(m_frame = av_frame_alloc())) return false;
  // The frame is not reference-counted: the source keeps a copy.
  av_frame_unref(m_frame);
  m_frame->format = format;
  m_frame->width = width;
  m_frame->height = height;
  m_frame->pts = m_pts++;
  av_image_fill_arrays(m_frame->data, m_frame->linesize, src, format, width, height, 1);
  const int added = av_buffersrc_write_frame(m_source, m_frame);
  av_frame_unref(m_frame);
  if (added < 0) return Reset(), false;
  if (av_buffersink_get_frame(m_sink, m_frame) < 0) return false;
  out->resize(static_cast<std::size_t>(size));
  const bool copied = av_image_copy_to_buffer(out->data(), size, m_frame->data, m_frame->linesize, format, width,
                                              height, 1) >= 0;
  av_frame_unref(m_frame);
  return copied;
}

}  // namespace orv::media
