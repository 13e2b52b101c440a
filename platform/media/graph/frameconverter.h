// The live picture's pictures on their way to the window: a card's frame kept in a pooled buffer,
// deinterlaced, and scaled and colour-converted into 32-bit RGB.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstddef>

struct SwsContext;
struct AVBufferPool;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVFilterGraph;
struct AVFilterContext;

namespace orv::media {

// One picture: a card's frame as it came, or the deinterlacer's planar output. Handed on by
// swapping, never copied; clearing it gives its buffer back to the pool it came from.
class PreviewPicture {
 public:
  PreviewPicture();
  PreviewPicture(const PreviewPicture&) = delete;
  PreviewPicture& operator=(const PreviewPicture&) = delete;
  ~PreviewPicture();
  void Swap(PreviewPicture& other) noexcept;
  void Clear();
  bool Empty() const;

 private:
  friend class PicturePool;
  friend class FrameConverter;
  friend class Deinterlacer;
  AVFrame* m_frame;        // planes into its buffer; format AV_PIX_FMT_NONE for an MJPG frame
  std::size_t m_size = 0;  // bytes of an MJPG frame
};

// Buffers for a card's frames: once as many are out as the path holds at a time, taking one
// allocates nothing.
class PicturePool {
 public:
  PicturePool() = default;
  PicturePool(const PicturePool&) = delete;
  PicturePool& operator=(const PicturePool&) = delete;
  ~PicturePool();
  // Copies a frame into *out. YUY2, UYVY, I420, YV12 and NV12 frames are top-down; RGB24 frames
  // bottom-up as a DIB; MJPG frames are kept to be decoded. False, and *out empty, for other types,
  // bad sizes or a frame shorter than its size.
  bool Copy(const GUID& subtype, const BYTE* src, std::size_t srcSize, int width, int height, PreviewPicture* out);

 private:
  AVBufferPool* m_pool = nullptr;
  std::size_t m_bufferSize = 0;
};

// libswscale's filter for a picture srcWidth wide shown dstWidth wide: bilinear, and its fast
// bilinear when the picture is enlarged (as good to the eye there, and cheaper; shrinking needs the
// real filter's wider reach).
int PreviewScalerFlags(int srcWidth, int dstWidth);

// Scales and colour-converts pictures into 32-bit RGB (0xffRRGGBB, as QImage::Format_RGB32). A YUV
// picture is scaled into planar 4:2:2 of the window's size first and then turned into RGB unscaled:
// libswscale has vector code for both, where scaling straight into RGB runs on its old MMX code, at
// about 1.6 times the cost for a zoomed window. 4:2:2 at the window's size keeps all the chroma rows.
class FrameConverter {
 public:
  FrameConverter() = default;
  FrameConverter(const FrameConverter&) = delete;
  FrameConverter& operator=(const FrameConverter&) = delete;
  ~FrameConverter();
  // An MJPG picture is decoded first (its own size wins). False for an empty picture, bad sizes or
  // undecodable data.
  bool Convert(const PreviewPicture& picture, BYTE* dst, int dstWidth, int dstHeight, int dstStride);

 private:
  bool Decode(const PreviewPicture& picture);
  static bool Fit(AVFrame* frame, int format, int width, int height);
  SwsContext* m_scaler = nullptr;  // a YUV picture into m_planes
  SwsContext* m_ctx = nullptr;     // into RGB
  bool m_fullRange = false;        // of the source, as m_ctx was told
  AVFrame* m_planes = nullptr;     // the scaled picture, its size rounded up to even
  AVFrame* m_rows = nullptr;       // RGB rows for a window whose rows the conversion would overrun
  AVCodecContext* m_decoder = nullptr;
  AVPacket* m_packet = nullptr;
  AVFrame* m_decoded = nullptr;
};

// Deinterlaces pictures with libavfilter's bwdif (yadif where it is missing): one picture out for
// each picture in, a picture late (the filter looks at the next one).
class Deinterlacer {
 public:
  Deinterlacer() = default;
  Deinterlacer(const Deinterlacer&) = delete;
  Deinterlacer& operator=(const Deinterlacer&) = delete;
  ~Deinterlacer();
  // Takes a picture of a YUY2, UYVY, I420, YV12 or NV12 frame whose top or bottom field came first.
  // True when a deinterlaced picture came out into *out, planar 4:2:2 from the packed types and
  // 4:2:0 from the others; false while the filter fills up, for other types, or when libavfilter fails.
  bool Process(const PreviewPicture& in, bool topFirst, PreviewPicture* out);
  // Forgets the pictures seen so far (a new stream).
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
