// Scales and colour-converts pictures of a card's formats into 32-bit RGB, and deinterlaces them,
// for the preview.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstddef>
#include <vector>

struct SwsContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVFilterGraph;
struct AVFilterContext;

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

// Deinterlaces preview frames with libavfilter's bwdif (yadif where it is missing): one frame out
// for each frame in, a frame late (the filter looks at the next one).
class Deinterlacer {
 public:
  Deinterlacer() = default;
  Deinterlacer(const Deinterlacer&) = delete;
  Deinterlacer& operator=(const Deinterlacer&) = delete;
  ~Deinterlacer();
  // Takes a top-down YUY2, UYVY, I420, YV12 or NV12 frame whose top or bottom field came first.
  // True when a deinterlaced frame of the same type and size came out into *out; false while the
  // filter fills up, for other types, bad sizes, or when libavfilter fails.
  bool Process(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height, bool topFirst,
               std::vector<BYTE>* out);
  // Forgets the frames seen so far (a new stream).
  void Reset();

 private:
  bool Build(int format, int width, int height, bool topFirst);
  AVFilterGraph* m_graph = nullptr;
  AVFilterContext* m_source = nullptr;
  AVFilterContext* m_sink = nullptr;
  AVFrame* m_frame = nullptr;
  int m_format = -1, m_width = 0, m_height = 0;
  bool m_topFirst = true;
  long long m_pts = 0;
};

}  // namespace orv::media
