#include "platform/media/graph/frameconverter.h"

#include <algorithm>
#include <cstdint>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

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

}  // namespace orv::media
