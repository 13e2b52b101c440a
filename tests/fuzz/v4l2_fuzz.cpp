// A real card's code (inputs, standard, picture format and size, how fields come, buffers into
// pictures) over a driver whose every answer the input decides: its inputs and formats, the sizes,
// fields and rates it gives back, the standard, and the buffers it fills with their flags, fields,
// sizes and sequence numbers. It plays a card as tests/media/devices/fakev4l2.cpp does, but a
// careless one; whatever it answers, the program must neither crash nor hang.
#include "platform/media/devices/testing.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

using namespace orv::media;

namespace {

template <typename T, std::size_t N>
T Pick(FuzzedDataProvider& in, const T (&options)[N]) {
  return options[in.ConsumeIntegralInRange<std::size_t>(0, N - 1)];
}

constexpr std::uint32_t kFormats[] = {V4L2_PIX_FMT_YUYV,  V4L2_PIX_FMT_UYVY,  V4L2_PIX_FMT_YUV420,
                                      V4L2_PIX_FMT_YVU420, V4L2_PIX_FMT_NV12,  V4L2_PIX_FMT_MJPEG,
                                      V4L2_PIX_FMT_JPEG,  V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_GREY};
constexpr v4l2_std_id kStandards[] = {0, V4L2_STD_PAL_BG, V4L2_STD_NTSC_M, V4L2_STD_SECAM_L, V4L2_STD_PAL_M,
                                      V4L2_STD_525_60, V4L2_STD_625_50, V4L2_STD_ALL, V4L2_STD_UNKNOWN};
constexpr std::uint32_t kFields[] = {V4L2_FIELD_ANY,    V4L2_FIELD_NONE,          V4L2_FIELD_TOP,
                                     V4L2_FIELD_BOTTOM, V4L2_FIELD_INTERLACED,    V4L2_FIELD_SEQ_TB,
                                     V4L2_FIELD_SEQ_BT, V4L2_FIELD_ALTERNATE,     V4L2_FIELD_INTERLACED_TB,
                                     V4L2_FIELD_INTERLACED_BT, 0x7fffffff};
constexpr std::uint32_t kSizes[] = {0, 1, 2, 3, 15, 16, 17, 240, 288, 320, 352, 480, 486, 576, 640, 704, 720, 768, 1080, 1920};
const char* const kInputNames[] = {"Television", "Tuner", "Composite1", "Composite", "CVBS", "S-Video", "SVHS", "Camera", ""};
const char* const kAudioNames[] = {"TV", "Tuner", "Line", "Radio", "Line In", ""};

class Driver {
 public:
  explicit Driver(FuzzedDataProvider& in) : m_in(in), m_fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n) {
      v4l2_input i{};
      i.type = Pick<std::uint32_t>(in, {V4L2_INPUT_TYPE_TUNER, V4L2_INPUT_TYPE_CAMERA, 0, 7});
      const std::string name = in.ConsumeBool() ? Pick(in, kInputNames) : in.ConsumeRandomLengthString(40);
      std::strncpy(reinterpret_cast<char*>(i.name), name.c_str(), sizeof i.name);  // may fill it unterminated
      i.name[sizeof i.name - 1] = 0;  // (the kernel terminates it)
      i.audioset = in.ConsumeIntegral<std::uint32_t>();
      i.tuner = in.ConsumeIntegralInRange<std::uint32_t>(0, 2);
      i.std = in.ConsumeBool() ? Pick(in, kStandards) : in.ConsumeIntegral<v4l2_std_id>();
      i.status = in.ConsumeIntegral<std::uint32_t>();
      i.capabilities = in.ConsumeBool() ? V4L2_IN_CAP_STD : 0;
      m_inputs.push_back(i);
    }
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) m_audio.push_back(Pick(in, kAudioNames));
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
      m_formats.push_back({in.ConsumeBool() ? Pick(in, kFormats) : in.ConsumeIntegral<std::uint32_t>(), in.ConsumeBool()});
    m_std = Pick(in, kStandards);
    m_input = in.ConsumeIntegralInRange(0, 4);
    m_pix = Format(V4L2_PIX_FMT_YUYV);
    m_frames = in.ConsumeIntegralInRange(0, 24);
  }
  ~Driver() { ::close(m_fd); }

  V4l2Calls Calls() {
    V4l2Calls c;
    c.open = [this](const char*, int) { return m_fd; };
    c.close = [](int) { return 0; };
    c.ioctl = [this](int, unsigned long request, void* arg) {
      std::lock_guard lock(m_mutex);
      return Ioctl(request, arg);
    };
    c.mmap = [this](void*, std::size_t length, int, int, int, std::int64_t offset) -> void* {
      std::lock_guard lock(m_mutex);
      const std::size_t i = static_cast<std::size_t>(offset) / 4096;
      if (i >= m_buffers.size() || length == 0 || length > m_buffers[i].size) return errno = EINVAL, MAP_FAILED;
      return m_buffers[i].data.get();
    };
    c.munmap = [](void*, std::size_t) { return 0; };
    c.poll = [this](pollfd* fds, nfds_t count, int timeoutMs) {
      {
        std::lock_guard lock(m_mutex);
        if (m_streaming && m_frames > 0 && !m_queue.empty()) {
          for (nfds_t i = 0; i < count; ++i)
            if (fds[i].fd == m_fd) fds[i].revents = POLLIN;
          return 1;
        }
        m_done = true;
        m_cv.notify_all();
      }
      return ::poll(fds, count, timeoutMs);  // until the program stops streaming
    };
    return c;
  }

  // Until the streaming thread has taken everything the driver had to give.
  void WaitDone() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_done; });
  }

 private:
  v4l2_pix_format Format(std::uint32_t pixelformat) {
    v4l2_pix_format p{};
    p.pixelformat = pixelformat;
    p.width = m_in.ConsumeBool() ? Pick(m_in, kSizes) : m_in.ConsumeIntegralInRange<std::uint32_t>(0, 800);
    p.height = m_in.ConsumeBool() ? Pick(m_in, kSizes) : m_in.ConsumeIntegralInRange<std::uint32_t>(0, 800);
    p.field = Pick(m_in, kFields);
    const std::uint32_t bpp = pixelformat == V4L2_PIX_FMT_BGR24 ? 3 : pixelformat == V4L2_PIX_FMT_YUYV || pixelformat == V4L2_PIX_FMT_UYVY ? 2 : 1;
    switch (m_in.ConsumeIntegralInRange(0, 2)) {
      case 0: p.bytesperline = p.width * bpp; break;
      case 1: p.bytesperline = 0; break;
      default: p.bytesperline = m_in.ConsumeIntegralInRange<std::uint32_t>(0, 8192); break;
    }
    p.sizeimage = m_in.ConsumeBool() ? p.bytesperline * p.height * 2 : m_in.ConsumeIntegralInRange<std::uint32_t>(0, 1 << 22);
    return p;
  }

  int Refuse(int e) { return errno = e, -1; }

  // Now and then a call fails as drivers' calls do.
  bool Fails() { return m_in.ConsumeIntegralInRange(0, 15) == 0; }

  int Ioctl(unsigned long request, void* arg) {
    switch (request) {
      case VIDIOC_ENUMINPUT: {
        auto* in = static_cast<v4l2_input*>(arg);
        if (in->index >= m_inputs.size()) return Refuse(EINVAL);
        const std::uint32_t index = in->index;
        *in = m_inputs[index];
        in->index = index;
        return 0;
      }
      case VIDIOC_ENUMAUDIO: {
        auto* a = static_cast<v4l2_audio*>(arg);
        if (a->index >= m_audio.size()) return Refuse(EINVAL);
        std::strncpy(reinterpret_cast<char*>(a->name), m_audio[a->index].c_str(), sizeof a->name - 1);
        return 0;
      }
      case VIDIOC_G_INPUT: return Fails() ? Refuse(EINVAL) : (*static_cast<int*>(arg) = m_input, 0);
      case VIDIOC_S_INPUT:
        if (Fails()) return Refuse(EBUSY);
        return m_input = *static_cast<int*>(arg), 0;
      case VIDIOC_G_TUNER: {
        if (Fails()) return Refuse(EINVAL);
        auto* t = static_cast<v4l2_tuner*>(arg);
        t->capability = m_in.ConsumeIntegral<std::uint32_t>();
        t->signal = m_in.ConsumeIntegral<std::int32_t>();
        return 0;
      }
      case VIDIOC_G_STD:
        if (Fails()) return Refuse(ENODATA);
        return *static_cast<v4l2_std_id*>(arg) = m_std, 0;
      case VIDIOC_S_STD:
        if (Fails()) return Refuse(m_streaming ? EBUSY : EINVAL);
        // What the driver makes of it: the standard asked for, part of it, or another.
        m_std = m_in.ConsumeBool() ? *static_cast<v4l2_std_id*>(arg) : Pick(m_in, kStandards);
        return 0;
      case VIDIOC_QUERYSTD:
        if (Fails()) return Refuse(ENODATA);
        return *static_cast<v4l2_std_id*>(arg) = m_in.ConsumeBool() ? Pick(m_in, kStandards) : m_in.ConsumeIntegral<v4l2_std_id>(), 0;
      case VIDIOC_ENUM_FMT: {
        auto* d = static_cast<v4l2_fmtdesc*>(arg);
        if (d->index >= m_formats.size()) return Refuse(EINVAL);
        d->pixelformat = m_formats[d->index].first;
        d->flags = m_formats[d->index].second ? V4L2_FMT_FLAG_EMULATED : 0;
        return 0;
      }
      case VIDIOC_G_FMT: return static_cast<v4l2_format*>(arg)->fmt.pix = m_pix, 0;
      case VIDIOC_TRY_FMT:
      case VIDIOC_S_FMT: {
        if (Fails()) return Refuse(request == VIDIOC_S_FMT ? EBUSY : EINVAL);
        if (request == VIDIOC_S_FMT && !m_buffers.empty()) return Refuse(EBUSY);
        auto* f = static_cast<v4l2_format*>(arg);
        // The format asked for, or the driver's own idea of it.
        const std::uint32_t asked = f->fmt.pix.pixelformat;
        v4l2_pix_format p = m_in.ConsumeBool() ? f->fmt.pix : Format(m_in.ConsumeBool() ? asked : Pick(m_in, kFormats));
        if (m_in.ConsumeBool()) p.field = Pick(m_in, kFields);
        if (request == VIDIOC_S_FMT) m_pix = p;
        return f->fmt.pix = p, 0;
      }
      case VIDIOC_G_PARM:
      case VIDIOC_S_PARM: {
        if (Fails()) return Refuse(ENOTTY);
        v4l2_captureparm& c = static_cast<v4l2_streamparm*>(arg)->parm.capture;
        c.capability = m_in.ConsumeBool() ? V4L2_CAP_TIMEPERFRAME : 0;
        c.timeperframe.numerator = m_in.ConsumeIntegralInRange<std::uint32_t>(0, 1001);
        c.timeperframe.denominator = m_in.ConsumeBool() ? Pick<std::uint32_t>(m_in, {25, 30, 30000, 50, 60000, 0, 1})
                                                        : m_in.ConsumeIntegral<std::uint32_t>();
        return 0;
      }
      case VIDIOC_REQBUFS: {
        auto* r = static_cast<v4l2_requestbuffers*>(arg);
        if (r->count == 0) return m_buffers.clear(), m_queue.clear(), 0;
        if (Fails()) return Refuse(EBUSY);
        r->count = m_in.ConsumeIntegralInRange<std::uint32_t>(0, 6);
        m_buffers.clear();
        m_buffers.resize(r->count);
        // The size the format says, or another; at most 2 MB (a PAL picture in YUYV is 0.8 MB), to keep runs quick.
        for (Buffer& b : m_buffers) {
          b.size = std::min<std::size_t>(m_in.ConsumeBool() ? m_pix.sizeimage : m_in.ConsumeIntegral<std::uint32_t>(), 1 << 21);
          b.data.reset(new BYTE[b.size]);
        }
        return 0;
      }
      case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= m_buffers.size()) return Refuse(EINVAL);
        b->length = static_cast<std::uint32_t>(m_buffers[b->index].size);
        b->m.offset = b->index * 4096;
        return 0;
      }
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= m_buffers.size()) return Refuse(EINVAL);
        m_queue.push_back(b->index);
        return 0;
      }
      case VIDIOC_DQBUF: {
        if (m_queue.empty() || m_frames <= 0) return Refuse(EAGAIN);
        --m_frames;
        const int what = m_in.ConsumeIntegralInRange(0, 31);
        if (what == 0) return Refuse(EAGAIN);
        if (what == 1) {  // the device is gone: the streaming thread ends without polling again
          m_frames = 0;
          m_done = true;
          m_cv.notify_all();
          return Refuse(EIO);
        }
        auto* b = static_cast<v4l2_buffer*>(arg);
        b->index = m_queue.front();
        m_queue.pop_front();
        const std::uint32_t length = static_cast<std::uint32_t>(m_buffers[b->index].size);
        b->bytesused = m_in.ConsumeBool() ? length : m_in.ConsumeIntegralInRange<std::uint32_t>(0, length);
        b->field = m_in.ConsumeBool() ? m_pix.field : Pick(m_in, kFields);
        m_sequence += m_in.ConsumeBool() ? 1 : m_in.ConsumeIntegral<std::uint32_t>();
        b->sequence = m_sequence;
        b->flags = m_in.ConsumeIntegral<std::uint32_t>();
        m_time += m_in.ConsumeIntegralInRange<std::int64_t>(-100000, 1000000);
        b->timestamp = {static_cast<time_t>(m_time / 1000000), static_cast<suseconds_t>(m_time % 1000000)};
        return 0;
      }
      case VIDIOC_STREAMON:
        if (m_buffers.empty()) return Refuse(EINVAL);
        return m_streaming = true, 0;
      case VIDIOC_STREAMOFF: return m_streaming = false, m_queue.clear(), 0;
      case VIDIOC_S_AUDIO:
      case VIDIOC_S_FREQUENCY: return Fails() ? Refuse(EINVAL) : 0;
      default: return Refuse(ENOTTY);
    }
  }

  FuzzedDataProvider& m_in;
  int m_fd;
  std::vector<v4l2_input> m_inputs;
  std::vector<std::string> m_audio;
  std::vector<std::pair<std::uint32_t, bool>> m_formats;  // and whether libv4l2 emulates it
  v4l2_std_id m_std = 0;
  int m_input = 0;
  v4l2_pix_format m_pix{};
  // Left unfilled: what a buffer holds does not steer the code, and zeroing megabytes per run would.
  struct Buffer {
    std::unique_ptr<BYTE[]> data;
    std::size_t size = 0;
  };
  std::vector<Buffer> m_buffers;
  std::deque<std::uint32_t> m_queue;
  bool m_streaming = false;
  int m_frames = 0;  // buffers still to fill
  std::uint32_t m_sequence = 0;
  std::int64_t m_time = 1000000;  // microseconds

  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_done = false;
};

template <typename I>
ComPtr<I> Find(IBaseFilter* filter) {
  ComPtr<I> out;
  filter->QueryInterface(IID_PPV_ARGS(&out));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Driver driver(in);
  ComPtr<IBaseFilter> capture;
  if (FAILED(CreateV4l2Capture({"/dev/video99", 99, "fuzz:99", "Fuzzed card"}, driver.Calls(), &capture))) return 0;
  // What the program may ask before it runs: a standard, a picture size and rate.
  static const char* const kKeys[] = {"auto", "PAL-BG", "NTSC-M", "SECAM-L", "PAL-60", "none"};
  if (in.ConsumeBool())
    if (auto standard = Find<IAMTVStandard>(capture.Get())) standard->put_Standard(Pick(in, kKeys), Pick(in, kKeys));
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  ComPtr<IAMStreamConfig> config;
  if (in.ConsumeBool() && capture->EnumPins(&pins) == S_OK && pins->Next(1, &pin, nullptr) == S_OK &&
      pin->QueryInterface(IID_PPV_ARGS(&config)) == S_OK) {
    AM_MEDIA_TYPE* mt = nullptr;
    if (config->GetFormat(&mt) == S_OK) {
      auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
      vih->bmiHeader.biWidth = Pick<LONG>(in, {640, 720, 1, 2049});
      vih->bmiHeader.biHeight = Pick<LONG>(in, {480, 576, -480, 1});
      vih->AvgTimePerFrame = Pick<REFERENCE_TIME>(in, {333667, 400000, 666667, 1, 10000000});
      config->SetFormat(mt);
      DeleteMediaType(mt);
    }
  }
  if (SUCCEEDED(capture->Run(0))) {
    driver.WaitDone();
    if (auto decoder = Find<IAMAnalogVideoDecoder>(capture.Get())) {
      AM_FIELD_ORDER order;
      LONG lines;
      decoder->get_FieldOrder(&order);
      decoder->get_NumberOfLines(&lines);
    }
    capture->Stop();
  }
  return 0;
}
