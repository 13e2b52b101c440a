#include "tests/media/devices/fakev4l2.h"

#include "platform/media/graph/filterbase.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace orv::test {
namespace {

bool Compressed(std::uint32_t f) { return f == V4L2_PIX_FMT_MJPEG; }
bool Planar(std::uint32_t f) { return f == V4L2_PIX_FMT_YUV420 || f == V4L2_PIX_FMT_YVU420 || f == V4L2_PIX_FMT_NV12; }
std::uint32_t BytesPerPixel(std::uint32_t f) { return f == V4L2_PIX_FMT_BGR24 ? 3 : Planar(f) ? 1 : 2; }
BYTE FullRange(int luma) { return static_cast<BYTE>(std::clamp((luma - 16) * 255 / 219, 0, 255)); }

// The picture as a baseline JPEG, as a webcam sends it.
std::vector<BYTE> EncodeJpeg(std::uint32_t w, std::uint32_t h) {
  std::vector<BYTE> out;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  if (ctx && frame && packet) {
    ctx->width = frame->width = static_cast<int>(w);
    ctx->height = frame->height = static_cast<int>(h);
    ctx->pix_fmt = AV_PIX_FMT_YUVJ420P;
    frame->format = ctx->pix_fmt;
    ctx->time_base = {1, 25};
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    frame->quality = FF_QP2LAMBDA * 5;  // (finer scales make ffmpeg 5.1 warn of a missing EOI)
    if (avcodec_open2(ctx, codec, nullptr) == 0 && av_frame_get_buffer(frame, 0) == 0) {
      for (std::uint32_t y = 0; y < h; ++y)
        std::memset(frame->data[0] + y * frame->linesize[0], FullRange(FakeV4l2::Luma(y, h)), w);
      for (int p = 1; p < 3; ++p) std::memset(frame->data[p], 128, frame->linesize[p] * ((h + 1) / 2));
      if (avcodec_send_frame(ctx, frame) == 0 && avcodec_receive_packet(ctx, packet) == 0)
        out.assign(packet->data, packet->data + packet->size);
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&ctx);
  return out;
}

}  // namespace

FakeV4l2::FakeV4l2() { m_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

FakeV4l2::~FakeV4l2() { ::close(m_fd); }

orv::media::V4l2Calls FakeV4l2::Calls() {
  orv::media::V4l2Calls c;
  c.open = [this](const char*, int) {
    std::lock_guard lock(mutex);
    m_pix = {.width = 720, .height = 480, .pixelformat = formats.front()};
    Fit(&m_pix);
    return m_fd;
  };
  c.close = [](int) { return 0; };  // the descriptor is the fake's
  c.ioctl = [this](int, unsigned long request, void* arg) { return Ioctl(request, arg); };
  c.mmap = [this](void*, std::size_t, int, int, int, std::int64_t offset) -> void* {
    std::lock_guard lock(mutex);
    const std::size_t i = static_cast<std::size_t>(offset) / 4096;
    if (mmapErrno || i >= m_buffers.size()) return errno = mmapErrno ? mmapErrno : EINVAL, MAP_FAILED;
    return ++mapped, m_buffers[i].data();
  };
  c.munmap = [this](void*, std::size_t) { return std::lock_guard(mutex), --mapped, 0; };
  // The descriptor itself never wakes; a filled buffer waiting is readiness.
  c.poll = [this](pollfd* fds, nfds_t count, int timeoutMs) {
    bool ready = false;
    {
      std::lock_guard lock(mutex);
      // A failing dequeue wakes the poll, as a driver's fatal streaming error does.
      ready = Ready() || fail.count(VIDIOC_DQBUF) || (m_streaming && eioAfter && filled >= eioAfter);
      if (!stamped && m_streaming && !ready) {  // wakes when the next picture has ended
        const REFERENCE_TIME due = m_t0 + (m_next + 1) * Span() - orv::media::MonotonicNow();
        timeoutMs = static_cast<int>(std::clamp<REFERENCE_TIME>(due / 10000 + 1, 0, timeoutMs));
      }
    }
    int r = ::poll(fds, count, ready ? 0 : timeoutMs);
    if (r < 0 || !ready) return r;
    for (nfds_t i = 0; i < count; ++i)
      if (fds[i].fd == m_fd) fds[i].revents |= POLLIN, ++r;
    return r;
  };
  return c;
}

v4l2_std_id FakeV4l2::Std() { return std::lock_guard(mutex), std; }
bool FakeV4l2::Streaming() { return std::lock_guard(mutex), m_streaming; }

bool FakeV4l2::WaitDrained() {
  for (int i = 0; i < 1000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    if (std::lock_guard lock(mutex); filled >= frames && requeued >= filled) return true;
  return false;
}

bool FakeV4l2::Ready() const {
  return m_streaming && !m_queue.empty() && filled < frames &&
         (stamped || orv::media::MonotonicNow() >= m_t0 + (m_next + 1) * Span());
}

REFERENCE_TIME FakeV4l2::Span() const {
  const REFERENCE_TIME frame = pace ? pace : period ? period : 333667;
  return m_pix.field == V4L2_FIELD_ALTERNATE ? frame / 2 : frame;
}

void FakeV4l2::Fit(v4l2_pix_format* pix) const {
  if (std::find(formats.begin(), formats.end(), pix->pixelformat) == formats.end()) pix->pixelformat = formats.front();
  const bool standard = inputs[static_cast<std::size_t>(input)].hasStd;
  if (fixedWidth)
    pix->width = fixedWidth, pix->height = fixedHeight;
  else if (scaler)
    pix->width = std::clamp<std::uint32_t>(pix->width & ~1u, 16, 1920), pix->height = std::clamp<std::uint32_t>(pix->height & ~1u, 16, 1080);
  else
    pix->width = 720, pix->height = standard ? orv::media::StandardLines(std) : 480;
  pix->field = field;
  const std::uint32_t f = pix->pixelformat;
  pix->bytesperline = Compressed(f) ? 0 : pix->width * BytesPerPixel(f) + padding;
  pix->sizeimage = Compressed(f) ? pix->width * pix->height * 2
                   : Planar(f)   ? pix->bytesperline * pix->height * 3 / 2
                                 : pix->bytesperline * pix->height;
}

void FakeV4l2::Fill(std::vector<BYTE>& buffer, v4l2_buffer* b) {
  while (std::find(lose.begin(), lose.end(), m_next) != lose.end()) ++m_next;
  const int n = m_next++;
  const bool alternate = m_pix.field == V4L2_FIELD_ALTERNATE;
  // Fields one by one come in the standard's order: the bottom first on 525 lines.
  const bool bottom = (n % 2 == 0) == (orv::media::StandardLines(std) == 480);
  const REFERENCE_TIME t = m_t0 + (stampSource == V4L2_BUF_FLAG_TSTAMP_SRC_SOE ? n : n + 1) * Span();
  b->timestamp = {t / 10000000, (t % 10000000) / 10};
  b->flags = (stamped ? V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC : V4L2_BUF_FLAG_TIMESTAMP_UNKNOWN) | stampSource | V4L2_BUF_FLAG_DONE;
  if (std::find(flag.begin(), flag.end(), n) != flag.end()) b->flags |= V4L2_BUF_FLAG_ERROR;
  b->sequence = static_cast<std::uint32_t>(alternate ? n / 2 : n);
  b->field = alternate ? static_cast<std::uint32_t>(bottom ? V4L2_FIELD_BOTTOM : V4L2_FIELD_TOP) : m_pix.field;

  const std::uint32_t f = m_pix.pixelformat, w = m_pix.width, h = m_pix.height, stride = m_pix.bytesperline;
  if (Compressed(f)) {
    const std::vector<BYTE> jpeg = EncodeJpeg(w, h);
    std::copy(jpeg.begin(), jpeg.end(), buffer.begin());
    b->bytesused = static_cast<std::uint32_t>(jpeg.size());
    return;
  }
  const std::uint32_t rows = alternate ? h / 2 : h;
  auto line = [&](std::uint32_t r) { return alternate ? 2 * r + bottom : r; };
  std::fill(buffer.begin(), buffer.end(), 0);
  for (std::uint32_t r = 0; r < rows; ++r) {
    const int y = Luma(line(r), h);
    BYTE* p = buffer.data() + std::size_t{r} * stride;
    for (std::uint32_t x = 0; x < w; ++x) {
      switch (f) {
        case V4L2_PIX_FMT_YUYV: p[2 * x] = static_cast<BYTE>(y), p[2 * x + 1] = x ? 128 : static_cast<BYTE>(b->sequence); break;
        case V4L2_PIX_FMT_UYVY: p[2 * x] = 128, p[2 * x + 1] = static_cast<BYTE>(y); break;
        case V4L2_PIX_FMT_BGR24: p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = FullRange(y); break;
        default: p[x] = static_cast<BYTE>(y); break;  // the luma plane
      }
    }
  }
  std::uint32_t used = stride * rows;
  if (Planar(f)) {
    // Neutral chroma after the luma plane: two quarter planes, or one interleaved.
    const std::uint32_t chroma = f == V4L2_PIX_FMT_NV12 ? stride * (rows / 2) : 2 * (stride / 2) * (rows / 2);
    std::fill_n(buffer.begin() + used, chroma, 128);
    used += chroma;
  }
  b->bytesused = used;
}

int FakeV4l2::Ioctl(unsigned long request, void* arg) {
  std::lock_guard lock(mutex);
  auto refuse = [](int e) { return errno = e, -1; };
  if (auto it = fail.find(request); it != fail.end()) return refuse(it->second);
  const bool hasStd = inputs[static_cast<std::size_t>(input)].hasStd;
  switch (request) {
    case VIDIOC_ENUMINPUT: {
      auto* in = static_cast<v4l2_input*>(arg);
      if (in->index >= inputs.size()) return refuse(EINVAL);
      const Input& i = inputs[in->index];
      *in = {.index = in->index, .type = i.type, .std = i.hasStd ? V4L2_STD_ALL : 0, .status = i.status,
             .capabilities = i.hasStd ? V4L2_IN_CAP_STD : 0u};
      std::strncpy(reinterpret_cast<char*>(in->name), i.name.c_str(), sizeof in->name - 1);
      return 0;
    }
    case VIDIOC_G_INPUT: *static_cast<int*>(arg) = input; return 0;
    case VIDIOC_S_INPUT: {
      const int i = *static_cast<int*>(arg);
      if (i < 0 || i >= static_cast<int>(inputs.size())) return refuse(EINVAL);
      if (!m_buffers.empty()) return refuse(EBUSY);
      return log.push_back("S_INPUT " + std::to_string(i)), input = i, 0;
    }
    case VIDIOC_G_STD: return hasStd ? (*static_cast<v4l2_std_id*>(arg) = std, 0) : refuse(ENODATA);
    case VIDIOC_S_STD: {
      log.push_back("S_STD");
      if (!hasStd) return refuse(ENODATA);
      if (!m_buffers.empty()) return ++stdSetWhileStreaming, refuse(EBUSY);
      const v4l2_std_id id = *static_cast<v4l2_std_id*>(arg) & V4L2_STD_ALL;
      if (!id) return refuse(EINVAL);
      return std = id, Fit(&m_pix), 0;
    }
    case VIDIOC_QUERYSTD: {
      log.push_back("QUERYSTD");
      if (!queryStd) return refuse(ENOTTY);
      if (!hasStd) return refuse(ENODATA);
      if (!m_buffers.empty()) return refuse(EBUSY);
      const auto it = detected.find(input);
      *static_cast<v4l2_std_id*>(arg) = it == detected.end() ? V4L2_STD_UNKNOWN : it->second;
      return 0;
    }
    case VIDIOC_ENUM_FMT: {
      auto* d = static_cast<v4l2_fmtdesc*>(arg);
      if (d->index >= formats.size()) return refuse(EINVAL);
      d->pixelformat = formats[d->index];
      return d->flags = Compressed(d->pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0, 0;
    }
    case VIDIOC_G_FMT: static_cast<v4l2_format*>(arg)->fmt.pix = m_pix; return 0;
    case VIDIOC_TRY_FMT:
    case VIDIOC_S_FMT: {
      auto* f = static_cast<v4l2_format*>(arg);
      v4l2_pix_format p = f->fmt.pix;
      Fit(&p);
      if (request == VIDIOC_S_FMT && !m_buffers.empty()) return refuse(EBUSY);
      if (request == VIDIOC_S_FMT) m_pix = p;
      return f->fmt.pix = p, 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
      if (!period) return refuse(ENOTTY);
      v4l2_captureparm& c = static_cast<v4l2_streamparm*>(arg)->parm.capture;
      if (request == VIDIOC_S_PARM && rateSettable && c.timeperframe.denominator)
        period = static_cast<REFERENCE_TIME>(10000000.0 * c.timeperframe.numerator / c.timeperframe.denominator + 0.5);
      c = {.capability = rateSettable ? V4L2_CAP_TIMEPERFRAME : 0u, .timeperframe = {static_cast<std::uint32_t>(period), 10000000}};
      return 0;
    }
    case VIDIOC_REQBUFS: {
      auto* r = static_cast<v4l2_requestbuffers*>(arg);
      if (r->count == 0) return m_streaming ? refuse(EBUSY) : (m_buffers.clear(), m_queue.clear(), 0);
      if (!m_buffers.empty()) return refuse(EBUSY);
      r->count = std::min<std::uint32_t>(r->count, 8);
      m_buffers.assign(r->count, std::vector<BYTE>(m_pix.sizeimage));
      return 0;
    }
    case VIDIOC_QUERYBUF: {
      auto* b = static_cast<v4l2_buffer*>(arg);
      if (b->index >= m_buffers.size()) return refuse(EINVAL);
      return b->length = static_cast<std::uint32_t>(m_buffers[b->index].size()), b->m.offset = b->index * 4096, 0;
    }
    case VIDIOC_QBUF: {
      auto* b = static_cast<v4l2_buffer*>(arg);
      if (b->index >= m_buffers.size()) return refuse(EINVAL);
      if (std::find(m_queue.begin(), m_queue.end(), static_cast<int>(b->index)) != m_queue.end()) return refuse(EINVAL);
      m_queue.push_back(static_cast<int>(b->index));
      if (m_streaming && filled > requeued) ++requeued;
      return 0;
    }
    case VIDIOC_DQBUF: {
      if (eioAfter && filled >= eioAfter) return refuse(EIO);
      if (!Ready()) return refuse(EAGAIN);
      auto* b = static_cast<v4l2_buffer*>(arg);
      b->index = static_cast<std::uint32_t>(m_queue.front());
      m_queue.erase(m_queue.begin());
      return Fill(m_buffers[b->index], b), ++filled, 0;
    }
    case VIDIOC_STREAMON:
      if (m_buffers.empty()) return refuse(EINVAL);
      if (eioAfter && filled >= eioAfter) eioAfter = 0;  // the fatal error is over
      m_streaming = true, m_t0 = orv::media::MonotonicNow(), m_next = 0;
      return log.push_back("STREAMON"), 0;
    case VIDIOC_STREAMOFF: m_streaming = false, m_queue.clear(); return log.push_back("STREAMOFF"), 0;
    default: return refuse(ENOTTY);
  }
}

}  // namespace orv::test
