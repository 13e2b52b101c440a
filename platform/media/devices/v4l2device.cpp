#include "platform/media/devices/v4l2device.h"

#include "platform/log.h"
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <libv4l2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orv::media {

namespace {
// The picture controls behind IAMVideoProcAmp's brightness, contrast, hue and saturation.
constexpr std::uint32_t kProcAmpControls[4] = {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE,
                                               V4L2_CID_SATURATION};
}  // namespace

HRESULT DeviceErrorOf(int e) { return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned>(e) & 0xFFFFu)); }

V4l2Calls LibV4l2Calls() {
  V4l2Calls c;
  c.open = [](const char* path, int flags) { return v4l2_open(path, flags); };
  c.close = [](int fd) { return v4l2_close(fd); };
  c.ioctl = [](int fd, unsigned long request, void* arg) { return v4l2_ioctl(fd, request, arg); };
  c.mmap = [](void* start, std::size_t length, int prot, int flags, int fd, std::int64_t offset) {
    return v4l2_mmap(start, length, prot, flags, fd, offset);
  };
  c.munmap = [](void* start, std::size_t length) { return v4l2_munmap(start, length); };
  c.poll = [](pollfd* fds, nfds_t count, int timeoutMs) { return ::poll(fds, count, timeoutMs); };
  return c;
}

namespace {
const char* IoctlName(unsigned long request) {
  switch (request) {
#define ORV_IOCTL(r) \
  case r:            \
    return #r;
    ORV_IOCTL(VIDIOC_ENUMINPUT) ORV_IOCTL(VIDIOC_ENUMAUDIO) ORV_IOCTL(VIDIOC_G_INPUT) ORV_IOCTL(VIDIOC_S_INPUT)
    ORV_IOCTL(VIDIOC_G_TUNER) ORV_IOCTL(VIDIOC_QUERYSTD) ORV_IOCTL(VIDIOC_G_STD) ORV_IOCTL(VIDIOC_S_STD)
    ORV_IOCTL(VIDIOC_ENUM_FMT) ORV_IOCTL(VIDIOC_TRY_FMT) ORV_IOCTL(VIDIOC_G_FMT) ORV_IOCTL(VIDIOC_S_FMT)
    ORV_IOCTL(VIDIOC_G_PARM) ORV_IOCTL(VIDIOC_S_PARM) ORV_IOCTL(VIDIOC_S_AUDIO) ORV_IOCTL(VIDIOC_G_FREQUENCY)
    ORV_IOCTL(VIDIOC_S_FREQUENCY) ORV_IOCTL(VIDIOC_QUERYCTRL) ORV_IOCTL(VIDIOC_G_CTRL) ORV_IOCTL(VIDIOC_S_CTRL)
    ORV_IOCTL(VIDIOC_REQBUFS) ORV_IOCTL(VIDIOC_QUERYBUF) ORV_IOCTL(VIDIOC_QBUF) ORV_IOCTL(VIDIOC_DQBUF)
    ORV_IOCTL(VIDIOC_STREAMON) ORV_IOCTL(VIDIOC_STREAMOFF) ORV_IOCTL(VIDIOC_QUERYCAP)
#undef ORV_IOCTL
    default:
      return "ioctl";
  }
}

// Answers that are part of asking, not failures: the end of a list, no frame yet, a call or a
// control the driver does not have, no signal to detect a standard from.
bool Expected(unsigned long request, int e) {
  if (e == ENOTTY || e == EAGAIN) return true;
  switch (request) {
    case VIDIOC_ENUMINPUT: case VIDIOC_ENUMAUDIO: case VIDIOC_ENUM_FMT: case VIDIOC_QUERYCTRL:
    case VIDIOC_G_TUNER: case VIDIOC_TRY_FMT:
      return e == EINVAL;
    case VIDIOC_QUERYSTD: case VIDIOC_G_STD:
      return e == ENODATA || e == EINVAL;
    case VIDIOC_QBUF:  // a buffer handed back while streaming stops
      return e == EINVAL;
    default:
      return false;
  }
}
// What the driver says it delivers: the pixel kind (nullptr for one we do not read) and the size.
FrameFormat FrameFormatOf(const v4l2_pix_format& pix) {
  FrameFormat ff;
  ff.kind = KindOf(pix.pixelformat);
  ff.width = pix.width;
  ff.height = pix.height;
  ff.sizeImage = pix.sizeimage;
  return ff;
}

}  // namespace

int V4l2Card::Ioctl(unsigned long request, void* arg) {
  int r;
  do r = m_io.ioctl(m_fd, request, arg);
  while (r < 0 && errno == EINTR);
  if (r >= 0) return r;
  const int e = errno;
  if (e == ENODEV || e == ENXIO) m_lost = true;
  if (!Expected(request, e)) LogErrno("v4l2", "%s: %s", m_node.path.c_str(), IoctlName(request));
  errno = e;
  return r;
}

HRESULT V4l2Card::Open() {
  std::lock_guard lock(m_openMutex);
  if (m_lost) return DeviceErrorOf(ENODEV);
  if (m_fd >= 0) return S_OK;
  const int fd = m_io.open(m_node.path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    LogErrno("v4l2", "cannot open %s", m_node.path.c_str());
    return DeviceErrorOf(e);
  }
  m_fd = fd;

  m_inputs.clear();
  for (std::uint32_t i = 0; i < 64; ++i) {
    v4l2_input in{};
    in.index = i;
    if (Ioctl(VIDIOC_ENUMINPUT, &in) < 0) break;
    CardInput c;
    c.index = i;
    c.name = reinterpret_cast<const char*>(in.name);
    c.tuner = in.type == V4L2_INPUT_TYPE_TUNER;
    c.camera = in.type == V4L2_INPUT_TYPE_CAMERA;
    c.audioset = in.audioset;
    c.tunerIndex = in.tuner;
    c.hasStandard = (in.capabilities & V4L2_IN_CAP_STD) != 0;
    c.standards = in.std;
    m_inputs.push_back(c);
  }
  std::vector<CardAudioInput> audio;
  for (std::uint32_t i = 0; i < 32; ++i) {
    v4l2_audio a{};
    a.index = i;
    if (Ioctl(VIDIOC_ENUMAUDIO, &a) < 0) break;
    audio.push_back({i, reinterpret_cast<const char*>(a.name)});
  }
  m_layout = MapCardInputs(m_inputs, audio);

  int current = -1;
  if (Ioctl(VIDIOC_G_INPUT, &current) < 0) current = -1;
  if (HasTuner()) {
    m_tunerIndex = m_inputs[static_cast<std::size_t>(m_layout.input[kXbarTuner])].tunerIndex;
    v4l2_tuner t{};
    t.index = m_tunerIndex;
    if (Ioctl(VIDIOC_G_TUNER, &t) == 0) m_lowUnits = (t.capability & V4L2_TUNER_CAP_LOW) != 0;
    // A TV card starts on its tuner, as the program routes it; the format is chosen for that input.
    if (current != m_layout.input[kXbarTuner]) {
      int tunerInput = m_layout.input[kXbarTuner];
      if (Ioctl(VIDIOC_S_INPUT, &tunerInput) == 0) current = tunerInput;
    }
  }
  ApplyStandard(current, m_fallbackStd);
  return ChooseFormat();
}

bool V4l2Card::ApplyStandard(int input, StdMask planStandard) {
  if (input < 0 || static_cast<std::size_t>(input) >= m_inputs.size()) return false;
  const CardInput& in = m_inputs[static_cast<std::size_t>(input)];
  if (!in.hasStandard) return false;
  // What the decoder sees; V4L2_STD_UNKNOWN (no signal) or no detection keeps the driver's.
  v4l2_std_id detected = 0;
  if (m_chosenStd)
    planStandard = detected = m_chosenStd;  // the user's choice on every input
  else if (!in.tuner && Ioctl(VIDIOC_QUERYSTD, &detected) < 0)
    detected = 0;
  v4l2_std_id before = 0;
  if (Ioctl(VIDIOC_G_STD, &before) < 0) before = 0;
  v4l2_std_id id = ChooseStandard(in, planStandard, detected, before);
  if (!id) return false;
  if (Ioctl(VIDIOC_S_STD, &id) < 0) return false;  // logged by Ioctl
  v4l2_std_id after = 0;
  Ioctl(VIDIOC_G_STD, &after);
  return after != before;
}

HRESULT V4l2Card::ChooseFormat() {
  // The card's own formats first; libv4l2 adds those it converts into, flagged as emulated.
  std::vector<std::uint32_t> native;
  for (std::uint32_t i = 0; i < 256; ++i) {
    v4l2_fmtdesc d{};
    d.index = i;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_ENUM_FMT, &d) < 0) break;
    if (!(d.flags & V4L2_FMT_FLAG_EMULATED)) native.push_back(d.pixelformat);
  }
  const PixelKind* kind = &ChooseKind(native);

  v4l2_std_id std = 0;
  if (Ioctl(VIDIOC_G_STD, &std) < 0) std = 0;
  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  f.fmt.pix.width = 640;
  f.fmt.pix.height = 480;
  f.fmt.pix.pixelformat = kind->v4l2;
  f.fmt.pix.field = V4L2_FIELD_INTERLACED;
  const bool vga = Ioctl(VIDIOC_TRY_FMT, &f) == 0 && f.fmt.pix.width == 640 && f.fmt.pix.height == 480 &&
                   f.fmt.pix.pixelformat == kind->v4l2;
  f = v4l2_format{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(VIDIOC_G_FMT, &f) < 0) return DeviceErrorOf(errno);
  f.fmt.pix.pixelformat = kind->v4l2;
  // Both fields in one picture; a driver may still answer otherwise (see the capture filter).
  f.fmt.pix.field = V4L2_FIELD_INTERLACED;
  // A picture the program set to the standard's own size follows the standard.
  bool standardSize = false;
  if (m_format) {
    AM_MEDIA_TYPE old{};
    m_format->Copy(&old);
    if (old.formattype == FORMAT_VideoInfo && old.pbFormat && old.cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const BITMAPINFOHEADER& b = reinterpret_cast<const VIDEOINFOHEADER*>(old.pbFormat)->bmiHeader;
      const auto lines = static_cast<std::uint32_t>(std::abs(b.biHeight));
      standardSize = b.biWidth == kStandardWidth && (lines == StandardLines(V4L2_STD_525_60) || lines == StandardLines(V4L2_STD_625_50));
    }
    FreeMediaType(old);
  }
  const PictureSize size = standardSize && std ? PictureSize{static_cast<std::uint32_t>(kStandardWidth), StandardLines(std)}
                                               : ChooseSize(vga, std, {f.fmt.pix.width, f.fmt.pix.height});
  f.fmt.pix.width = size.width;
  f.fmt.pix.height = size.height;
  f.fmt.pix.bytesperline = 0;
  f.fmt.pix.sizeimage = 0;
  // Busy (another program streams): keep what the driver has.
  if (Ioctl(VIDIOC_S_FMT, &f) < 0) {
    f = v4l2_format{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &f) < 0) return DeviceErrorOf(errno);
  }
  const FrameFormat ff = FrameFormatOf(f.fmt.pix);
  if (!ff.kind) return VFW_E_INVALIDMEDIATYPE;
  v4l2_streamparm p{};
  p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  REFERENCE_TIME period = 0;
  if (Ioctl(VIDIOC_G_PARM, &p) == 0) period = PeriodOf(p.parm.capture.timeperframe);
  if (period <= 0) period = std ? StandardPeriod(std) : 333667;
  // A rate the program asked for stays; the card's own follows the standard.
  REFERENCE_TIME rate = period;
  if (m_format) {
    AM_MEDIA_TYPE old{};
    m_format->Copy(&old);
    if (old.formattype == FORMAT_VideoInfo && old.pbFormat && old.cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const REFERENCE_TIME asked = reinterpret_cast<const VIDEOINFOHEADER*>(old.pbFormat)->AvgTimePerFrame;
      if (asked != m_cardPeriod) rate = asked;
    }
    FreeMediaType(old);
  }
  m_cardPeriod = period;
  m_kind = ff.kind;
  VIDEOINFOHEADER vih;
  AM_MEDIA_TYPE mt = MakeVideoType(ff, rate, &vih);
  if (m_format) return m_format->Replace(mt);
  m_format = std::make_shared<StreamFormat>(mt);
  return S_OK;
}

HRESULT V4l2Card::SetOnCard(v4l2_format* f) {
  AM_MEDIA_TYPE mt{};
  m_format->Copy(&mt);
  std::uint32_t width = 0, height = 0;
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    width = static_cast<std::uint32_t>(std::max<LONG>(0, vih->bmiHeader.biWidth));
    height = static_cast<std::uint32_t>(std::abs(vih->bmiHeader.biHeight));
  }
  const PixelKind* kind = m_kind;
  if (mt.subtype != *kind->subtype)
    if (const PixelKind* asked = KindOfSubtype(mt.subtype)) kind = asked;
  FreeMediaType(mt);

  *f = v4l2_format{};
  f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(VIDIOC_G_FMT, f) < 0) return DeviceErrorOf(errno);
  if (f->fmt.pix.width == width && f->fmt.pix.height == height && f->fmt.pix.pixelformat == kind->v4l2) return S_OK;
  f->fmt.pix.width = width;
  f->fmt.pix.height = height;
  f->fmt.pix.pixelformat = kind->v4l2;
  f->fmt.pix.field = V4L2_FIELD_INTERLACED;
  f->fmt.pix.bytesperline = 0;
  f->fmt.pix.sizeimage = 0;
  // A driver may adjust what it is asked (a card without a scaler keeps the standard's frame).
  const bool set = Ioctl(VIDIOC_S_FMT, f) == 0;
  *f = v4l2_format{};
  f->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(VIDIOC_G_FMT, f) < 0) return DeviceErrorOf(errno);
  return set ? S_OK : S_FALSE;
}

HRESULT V4l2Card::TakeFormat(const AM_MEDIA_TYPE& asked) {
  if (HRESULT hr = m_format->Replace(asked); FAILED(hr)) return hr;
  if (asked.formattype != FORMAT_VideoInfo) return S_OK;
  std::lock_guard lock(m_streamMutex);
  v4l2_format f{};
  // While streaming (for another pin) or busy, the samples' own format says what comes.
  if (m_streaming || SetOnCard(&f) != S_OK) return S_OK;
  const FrameFormat taken = FrameFormatOf(f.fmt.pix);
  if (!taken.kind) return S_OK;
  const auto& bmi = reinterpret_cast<const VIDEOINFOHEADER*>(asked.pbFormat)->bmiHeader;
  m_kind = taken.kind;
  if (*taken.kind->subtype == asked.subtype && static_cast<LONG>(taken.width) == bmi.biWidth &&
      static_cast<LONG>(taken.height) == std::abs(bmi.biHeight))
    return S_OK;
  LogError("v4l2", "%s: asked for %ldx%ld, the card took %ux%u", m_node.path.c_str(), static_cast<long>(bmi.biWidth),
           static_cast<long>(std::abs(bmi.biHeight)), taken.width, taken.height);
  VIDEOINFOHEADER vih;
  return m_format->Replace(MakeVideoType(taken, reinterpret_cast<const VIDEOINFOHEADER*>(asked.pbFormat)->AvgTimePerFrame, &vih));
}

HRESULT V4l2Card::ApplyFormat() {
  AM_MEDIA_TYPE mt{};
  m_format->Copy(&mt);
  REFERENCE_TIME wanted = 0;
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    wanted = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
  FreeMediaType(mt);
  v4l2_format f{};
  if (HRESULT hr = SetOnCard(&f); FAILED(hr)) return hr;
  m_frame = FrameFormatOf(f.fmt.pix);
  // A driver's picture without columns or rows cannot be streamed either.
  if (!m_frame.kind || !m_frame.width || !m_frame.height) return VFW_E_INVALIDMEDIATYPE;
  m_frame.field = f.fmt.pix.field;
  m_frame.stride = f.fmt.pix.bytesperline ? f.fmt.pix.bytesperline
                                          : (m_frame.kind->layout == Layout::Packed
                                                 ? std::size_t{m_frame.width} * m_frame.kind->bytesPerPixel
                                                 : m_frame.width);
  // Fields in pictures of their own are woven into frames; compressed ones cannot be.
  if (m_frame.field == V4L2_FIELD_ALTERNATE && m_frame.kind->layout == Layout::Compressed) {
    LogError("v4l2", "%s: the card sends each field as a picture of its own, compressed; that format is not supported",
             m_node.path.c_str());
    return VFW_E_INVALIDMEDIATYPE;
  }
  // Ask the driver for the rate; where it keeps its own, frames are dropped evenly instead.
  v4l2_streamparm p{};
  p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (wanted > 0 && Ioctl(VIDIOC_G_PARM, &p) == 0 && (p.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
    p.parm.capture.timeperframe.numerator = static_cast<std::uint32_t>(wanted);
    p.parm.capture.timeperframe.denominator = 10000000;
    Ioctl(VIDIOC_S_PARM, &p);
  }
  p = v4l2_streamparm{};
  p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  // A period given for fields that come one by one is not sure to be the woven frames': they are
  // then thinned by their times, as when the driver gives none.
  if (m_frame.field != V4L2_FIELD_ALTERNATE && Ioctl(VIDIOC_G_PARM, &p) == 0)
    m_frame.period = PeriodOf(p.parm.capture.timeperframe);
  // A field lasts half the standard's frame.
  v4l2_std_id std = 0;
  if (Ioctl(VIDIOC_G_STD, &std) < 0) std = 0;
  if (m_frame.field == V4L2_FIELD_ALTERNATE) {
    m_frame.span = (std ? StandardPeriod(std) : m_cardPeriod) / 2;
    if (std) m_frame.firstField = InterlacedFieldOrder(std) == AM_FIELDS_TOP_FIRST ? V4L2_FIELD_TOP : V4L2_FIELD_BOTTOM;
  }
  else
    m_frame.span = m_frame.period > 0 ? m_frame.period : m_cardPeriod;
  return S_OK;
}

HRESULT V4l2Card::DecoderLines(LONG* lines) {
  int input = -1;
  if (Ioctl(VIDIOC_G_INPUT, &input) < 0) return DeviceErrorOf(errno);
  if (input < 0 || static_cast<std::size_t>(input) >= m_inputs.size() || !m_inputs[static_cast<std::size_t>(input)].hasStandard)
    return E_NOTIMPL;
  v4l2_std_id std = 0;
  if (Ioctl(VIDIOC_G_STD, &std) < 0 || !std) return E_NOTIMPL;
  *lines = StandardScanLines(std);
  return S_OK;
}

HRESULT V4l2Card::DecoderLocked(LONG* locked) {
  v4l2_input in{};
  int current = -1;
  if (Ioctl(VIDIOC_G_INPUT, &current) < 0) return DeviceErrorOf(errno);
  in.index = static_cast<std::uint32_t>(current);
  if (Ioctl(VIDIOC_ENUMINPUT, &in) < 0) return DeviceErrorOf(errno);
  *locked = (in.status & (V4L2_IN_ST_NO_SIGNAL | V4L2_IN_ST_NO_H_LOCK)) ? 0 : 1;
  return S_OK;
}

AM_FIELD_ORDER V4l2Card::FieldOrder(std::uint32_t firstField) {
  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(VIDIOC_G_FMT, &f) < 0) return AM_FIELDS_UNKNOWN;
  v4l2_std_id std = 0;
  if (Ioctl(VIDIOC_G_STD, &std) < 0) std = 0;
  // Without a standard, the picture's height tells the lines.
  if (!std) std = f.fmt.pix.height == StandardLines(V4L2_STD_625_50) ? V4L2_STD_625_50 : V4L2_STD_525_60;
  return FieldOrderOf(f.fmt.pix.field, std, firstField);
}

HRESULT V4l2Card::SelectVideo(int pin) {
  if (pin < 0 || pin > kXbarComposite) return E_INVALIDARG;
  int input = m_layout.input[pin];
  // A kind the card lacks: the picture stays where it was.
  if (input < 0) return VFW_E_CANNOT_CONNECT;
  std::lock_guard lock(m_streamMutex);
  // Drivers refuse input and standard changes under a running stream: pause it around them.
  const bool restart = m_streaming;
  if (restart) StopLocked();
  HRESULT hr = S_OK;
  if (Ioctl(VIDIOC_S_INPUT, &input) < 0) hr = DeviceErrorOf(errno);
  if (SUCCEEDED(hr)) {
    const int related = pin == kXbarTuner ? kXbarAudioTuner : kXbarAudioLine;
    const int a = m_layout.input[related];
    const std::uint32_t audioset = m_inputs[static_cast<std::size_t>(input)].audioset;
    if (a >= 0 && a < 32 && (audioset & (1u << a))) {
      v4l2_audio va{};
      va.index = static_cast<std::uint32_t>(a);
      Ioctl(VIDIOC_S_AUDIO, &va);
    }
    StdMask planStandard;
    {
      std::lock_guard t(tunerMutex);
      planStandard = m_fallbackStd;
      if (pin == kXbarTuner) Tune();
    }
    // A new standard brings its own picture size and rate.
    if (ApplyStandard(input, planStandard)) ChooseFormat();
  }
  if (restart && StartLocked() != S_OK)
    LogError("v4l2", "%s: streaming did not resume after the input change", m_node.path.c_str());
  return hr;
}

HRESULT V4l2Card::SelectAudio(int pin) {
  if (pin != kXbarAudioTuner && pin != kXbarAudioLine) return E_INVALIDARG;
  const int a = m_layout.input[pin];
  if (a < 0) return VFW_E_CANNOT_CONNECT;
  v4l2_audio va{};
  va.index = static_cast<std::uint32_t>(a);
  return Ioctl(VIDIOC_S_AUDIO, &va) < 0 ? DeviceErrorOf(errno) : S_OK;
}

HRESULT V4l2Card::SetStandard(StdMask chosen, StdMask fallback) {
  std::lock_guard lock(m_streamMutex);
  m_chosenStd = chosen;
  m_fallbackStd = fallback ? fallback : PlanStandard(TunerInputAntenna);
  int input = -1;
  if (Ioctl(VIDIOC_G_INPUT, &input) < 0) return DeviceErrorOf(errno);
  const bool restart = m_streaming;
  if (restart) StopLocked();
  if (ApplyStandard(input, m_fallbackStd)) ChooseFormat();
  if (restart && StartLocked() != S_OK)
    LogError("v4l2", "%s: streaming did not resume after the standard change", m_node.path.c_str());
  return S_OK;
}

HRESULT V4l2Card::SupportsStandard(StdMask mask) const {
  StdMask all = 0;
  for (const CardInput& in : m_inputs)
    if (in.hasStandard) all |= in.standards;
  if (!all) return E_NOTIMPL;
  return (all & mask) ? S_OK : S_FALSE;
}

HRESULT V4l2Card::Tune() {
  const std::uint32_t kHz = plans.ToKHz(plan, channel);
  if (!kHz) return E_INVALIDARG;
  v4l2_frequency f{};
  f.tuner = m_tunerIndex;
  f.type = V4L2_TUNER_ANALOG_TV;
  f.frequency = KHzToTunerUnits(kHz, m_lowUnits);
  return Ioctl(VIDIOC_S_FREQUENCY, &f) < 0 ? DeviceErrorOf(errno) : S_OK;
}

bool V4l2Card::ReadTuner(int* signal, int* afc) {
  v4l2_tuner t{};
  t.index = m_tunerIndex;
  if (Ioctl(VIDIOC_G_TUNER, &t) < 0) return false;
  *signal = t.signal;
  *afc = t.afc;
  return true;
}

HRESULT V4l2Card::NudgeFrequency(int units) {
  v4l2_frequency f{};
  f.tuner = m_tunerIndex;
  if (Ioctl(VIDIOC_G_FREQUENCY, &f) < 0) return DeviceErrorOf(errno);
  f.type = V4L2_TUNER_ANALOG_TV;
  f.frequency = static_cast<std::uint32_t>(static_cast<long long>(f.frequency) + units);
  return Ioctl(VIDIOC_S_FREQUENCY, &f) < 0 ? DeviceErrorOf(errno) : S_OK;
}

bool V4l2Card::QueryControl(LONG property, DriverRange* r) {
  if (property < 0 || property > 3) return false;
  v4l2_queryctrl q{};
  q.id = kProcAmpControls[property];
  if (Ioctl(VIDIOC_QUERYCTRL, &q) < 0 || (q.flags & V4L2_CTRL_FLAG_DISABLED) || q.type != V4L2_CTRL_TYPE_INTEGER)
    return false;
  *r = DriverRange{q.minimum, q.maximum, std::max(1, q.step), q.default_value};
  return true;
}

HRESULT V4l2Card::SetControl(LONG property, LONG driverValue) {
  v4l2_control c{kProcAmpControls[property], driverValue};
  return Ioctl(VIDIOC_S_CTRL, &c) < 0 ? DeviceErrorOf(errno) : S_OK;
}

HRESULT V4l2Card::GetControl(LONG property, LONG* driverValue) {
  v4l2_control c{kProcAmpControls[property], 0};
  if (Ioctl(VIDIOC_G_CTRL, &c) < 0) return DeviceErrorOf(errno);
  *driverValue = c.value;
  return S_OK;
}

HRESULT V4l2Card::StartStreaming(FrameSink sink, EventSink events) {
  std::lock_guard lock(m_streamMutex);
  m_sink = std::move(sink);
  m_events = std::move(events);
  return StartLocked();
}

void V4l2Card::StopStreaming() {
  std::lock_guard lock(m_streamMutex);
  StopLocked();
  m_sink = nullptr;
  m_events = nullptr;
}

HRESULT V4l2Card::StartLocked() {
  if (m_streaming) return S_OK;
  if (m_lost) return DeviceErrorOf(ENODEV);
  if (HRESULT hr = ApplyFormat(); FAILED(hr)) return hr;
  if (HRESULT hr = BeginStream(); FAILED(hr)) return hr;
  m_streaming = true;
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) < 0) {
    const int e = errno;
    LogError("v4l2", "%s: no pipe: %s", m_node.path.c_str(), std::strerror(e));
    StopLocked();
    return DeviceErrorOf(e);
  }
  m_thread = std::thread([this] { Loop(); });
  return S_OK;
}

HRESULT V4l2Card::BeginStream() {
  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  // EBUSY here: another program streams from the card.
  if (Ioctl(VIDIOC_REQBUFS, &req) < 0 || req.count < 2) {
    const int e = req.count < 2 ? ENOMEM : errno;
    if (e == ENOMEM) LogError("v4l2", "%s: the card gave fewer than two capture buffers", m_node.path.c_str());
    return DeviceErrorOf(e);
  }
  auto fail = [&](const char* what, int e) {
    LogError("v4l2", "%s: %s: %s", m_node.path.c_str(), what, std::strerror(e));
    EndStream();
    return DeviceErrorOf(e);
  };
  m_buffers.assign(req.count, Buffer{});
  for (std::uint32_t i = 0; i < req.count; ++i) {
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    b.index = i;
    if (Ioctl(VIDIOC_QUERYBUF, &b) < 0) return fail("cannot query a buffer", errno);
    void* p = m_io.mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, b.m.offset);
    if (p == MAP_FAILED) return fail("cannot map a buffer", errno);
    m_buffers[i] = {p, b.length};
    if (Ioctl(VIDIOC_QBUF, &b) < 0) return fail("cannot queue a buffer", errno);
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  // ENOSPC here: the USB bus has no bandwidth left for the stream.
  if (Ioctl(VIDIOC_STREAMON, &type) < 0) return fail("cannot start streaming", errno);
  return S_OK;
}

void V4l2Card::EndStream() {
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  Ioctl(VIDIOC_STREAMOFF, &type);
  for (Buffer& b : m_buffers)
    if (b.start != MAP_FAILED) m_io.munmap(b.start, b.length);
  m_buffers.clear();
  v4l2_requestbuffers req{};
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  Ioctl(VIDIOC_REQBUFS, &req);
}

void V4l2Card::StopLocked() {
  if (!m_streaming) return;
  if (m_thread.joinable()) {
    const char c = 1;
    if (write(m_wake[1], &c, 1) < 0) {
    }
    m_thread.join();
  }
  for (int& fd : m_wake)
    if (fd >= 0) {
      close(fd);
      fd = -1;
    }
  EndStream();
  m_streaming = false;
}

bool V4l2Card::Restart() {
  // A stop in progress holds the lock and waits for this thread: it goes first.
  std::unique_lock lock(m_streamMutex, std::try_to_lock);
  if (!lock.owns_lock() || m_lost) return !m_lost;
  LogError("v4l2", "%s: streaming again", m_node.path.c_str());
  if (m_events) m_events(StreamEvent::Restarting, 0);
  EndStream();
  // The input and standard again: a driver that lost them with the stream takes them back.
  int input = 0;
  if (Ioctl(VIDIOC_G_INPUT, &input) == 0) Ioctl(VIDIOC_S_INPUT, &input);
  v4l2_std_id std = 0;
  if (Ioctl(VIDIOC_G_STD, &std) == 0 && std) Ioctl(VIDIOC_S_STD, &std);
  const HRESULT hr = BeginStream();
  if (FAILED(hr)) LogError("v4l2", "%s: cannot stream again (%08x)", m_node.path.c_str(), static_cast<unsigned>(hr));
  if (m_events) m_events(StreamEvent::Restarted, 0);
  // A card that cannot stream again now may still come back; one that is gone ends the capture.
  return !m_lost;
}

void V4l2Card::Loop() {
  using Clock = std::chrono::steady_clock;
  auto lastFrame = Clock::now();
  auto lastRestart = Clock::now() - kRestartEvery;
  auto lockReadAt = Clock::now();
  bool stalled = false;
  LONG locked = 1;
  // Two frame periods without a picture is a stall (a card that gives no period: 25 a second).
  const auto stallAfter = std::chrono::microseconds(2 * (m_frame.period > 0 ? m_frame.period : 400000) / 10);
  for (;;) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int r = m_io.poll(fds, 2, 100);
    if (r < 0 && errno != EINTR) break;
    if (fds[1].revents) return;
    const auto now = Clock::now();
    const auto quiet = now - lastFrame;
    if (LONG was = locked; now - lockReadAt >= kLockEvery && DecoderLocked(&locked) == S_OK && locked != was && m_events) {
      lockReadAt = now;
      m_events(locked ? StreamEvent::LockRegained : StreamEvent::LockLost, 0);
    } else if (now - lockReadAt >= kLockEvery) {
      lockReadAt = now;
    }
    const bool ioError = [&] {
      if (r <= 0) return false;
      v4l2_buffer b{};
      b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      b.memory = V4L2_MEMORY_MMAP;
      if (Ioctl(VIDIOC_DQBUF, &b) < 0) {
        const int e = errno;
        // Woken without a frame while the queue reports an error: the device is gone.
        if (e == EAGAIN && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))) m_lost = true;
        if (e != EAGAIN && e != EIO) m_lost = true;
        return e == EIO;
      }
      if (stalled && m_events) m_events(StreamEvent::Resumed, std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count());
      stalled = false;
      lastFrame = now;
      if (b.index < m_buffers.size() && m_sink) m_sink(b, static_cast<const BYTE*>(m_buffers[b.index].start), m_frame);
      if (Ioctl(VIDIOC_QBUF, &b) < 0 && errno != EINVAL) m_lost = true;
      return false;
    }();
    if (m_lost) break;
    if (lastFrame == now) continue;
    if (!stalled && quiet >= stallAfter) {
      stalled = true;
      if (m_events) m_events(StreamEvent::Stalled, std::chrono::duration_cast<std::chrono::milliseconds>(quiet).count());
    }
    if ((ioError || quiet >= kRestartAfter) && now - lastRestart >= kRestartEvery) {
      lastRestart = now;
      if (!Restart()) break;
    } else if (ioError) {
      // Not yet again: the driver's error would only repeat at once.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (!m_lost) return;
  if (m_events) m_events(StreamEvent::Lost, 0);
  ReportDeviceLost(m_node.card + " (" + m_node.path + ")");
}

}  // namespace orv::media
