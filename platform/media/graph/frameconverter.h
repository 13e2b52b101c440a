// Scales and colour-converts pictures of a card's formats into 32-bit RGB, for the preview.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstddef>

struct SwsContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace orv::media {

// Scales and colour-converts preview frames into 32-bit RGB (0xffRRGGBB, as QImage::Format_RGB32).
class FrameConverter {
 public:
  FrameConverter() = default;
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;
  ~FrameConverter();
  // YUY2, UYVY, I420, YV12 and NV12 frames are top-down; RGB24 frames bottom-up as a DIB; MJPG
  // frames are decoded (their own size wins). False for other types, bad sizes or undecodable data.
  bool Convert(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height, BYTE* dst,
               int dstWidth, int dstHeight, int dstStride);

 private:
  bool Decode(const BYTE* src, std::size_t srcSize);
  SwsContext* m_ctx = nullptr;
  bool m_fullRange = false;  // of the source, as m_ctx was told
  AVCodecContext* m_decoder = nullptr;
  AVPacket* m_packet = nullptr;
  AVFrame* m_decoded = nullptr;
};

}  // namespace orv::media
