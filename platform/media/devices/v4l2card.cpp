// Real capture cards through V4L2 (libv4l2): the capture filter with its picture controls and
// dropped-frame counts, the card's inputs as a crossbar, its tuner, and mmap streaming.
#include "platform/media/devices/v4l2card.h"

#include "platform/media/graph/filterbase.h"
#include "platform/media/graph/stream.h"

#include <alsa/asoundlib.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <map>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

namespace orv::media {

// ---- Policy that needs no hardware ------------------------------------------------------------------

namespace {
std::string Folded(const std::string& s) {
  std::string out;
  for (char c : s)
    if (std::isalnum(static_cast<unsigned char>(c))) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
bool Has(const std::string& folded, const char* word) { return folded.find(word) != std::string::npos; }
}  // namespace

CrossbarLayout MapCardInputs(const std::vector<CardInput>& inputs, const std::vector<CardAudioInput>& audio) {
  CrossbarLayout l;
  auto used = [&](std::uint32_t index) {
    for (int k = 0; k < 3; ++k)
      if (l.input[k] == static_cast<int>(index)) return true;
    return false;
  };
  for (const CardInput& in : inputs) {
    const std::string n = Folded(in.name);
    if (in.tuner && l.input[kXbarTuner] < 0) l.input[kXbarTuner] = static_cast<int>(in.index);
    if (in.camera && l.input[kXbarSVideo] < 0 && (Has(n, "svideo") || Has(n, "svhs")))
      l.input[kXbarSVideo] = static_cast<int>(in.index);
  }
  for (const CardInput& in : inputs)
    if (in.camera && l.input[kXbarComposite] < 0 && !used(in.index) &&
        (Has(Folded(in.name), "composite") || Has(Folded(in.name), "cvbs")))
      l.input[kXbarComposite] = static_cast<int>(in.index);
  for (const CardInput& in : inputs)
    if (in.camera && l.input[kXbarComposite] < 0 && !used(in.index)) l.input[kXbarComposite] = static_cast<int>(in.index);

  for (const CardAudioInput& a : audio) {
    const std::string n = Folded(a.name);
    if (l.input[kXbarAudioTuner] < 0 && (Has(n, "tv") || Has(n, "tuner") || Has(n, "radio")))
      l.input[kXbarAudioTuner] = static_cast<int>(a.index);
    else if (l.input[kXbarAudioLine] < 0 && Has(n, "line"))
      l.input[kXbarAudioLine] = static_cast<int>(a.index);
  }
  // Unnamed sound inputs: the tuner's own (lowest of its audio set), then the first other one.
  if (l.input[kXbarAudioTuner] < 0)
    for (const CardInput& in : inputs)
      if (in.tuner && in.audioset) {
        for (const CardAudioInput& a : audio)
          if (a.index < 32 && (in.audioset & (1u << a.index)) && static_cast<int>(a.index) != l.input[kXbarAudioLine]) {
            l.input[kXbarAudioTuner] = static_cast<int>(a.index);
            break;
          }
        break;
      }
  if (l.input[kXbarAudioLine] < 0)
    for (const CardAudioInput& a : audio)
      if (static_cast<int>(a.index) != l.input[kXbarAudioTuner]) {
        l.input[kXbarAudioLine] = static_cast<int>(a.index);
        break;
      }
  return l;
}

LONG ToDriverValue(const DriverRange& r, LONG shown) {
  const long long v = static_cast<long long>(r.min) + shown;
  return static_cast<LONG>(std::clamp<long long>(v, r.min, r.max));
}

LONG FromDriverValue(const DriverRange& r, LONG driver) { return driver - r.min; }

void FrameDecimator::Reset(REFERENCE_TIME source, REFERENCE_TIME wanted) {
  m_source = source;
  m_wanted = wanted;
  m_credit = wanted - source;
  m_started = false;
  m_next = 0;
}

bool FrameDecimator::KeepByCount() {
  // Within 1 % counts as the same rate: keep everything.
  if (m_wanted * 100 <= m_source * 101) return true;
  m_credit += m_source;
  if (m_credit < m_wanted) return false;
  m_credit -= m_wanted;
  return true;
}

bool FrameDecimator::Keep(REFERENCE_TIME t, std::uint32_t lost, std::uint32_t* missed) {
  *missed = 0;
  if (m_wanted <= 0) {
    *missed = lost;
    return true;
  }
  if (m_source > 0) {
    for (std::uint32_t i = 0; i < lost; ++i) *missed += KeepByCount();
    return KeepByCount();
  }
  // By time: a frame takes the next place of the wanted rate once it reaches it (a quarter of a
  // frame early still counts, for jitter); places it passes over stay empty.
  if (!m_started) {
    m_started = true;
    m_next = t + m_wanted;
    return true;
  }
  const REFERENCE_TIME slack = m_wanted / 4;
  if (t + slack < m_next) return false;
  const REFERENCE_TIME passed = (t + slack - m_next) / m_wanted;
  *missed = static_cast<std::uint32_t>(std::min<REFERENCE_TIME>(passed, 0xFFFFFFFF));
  m_next += (passed + 1) * m_wanted;
  return true;
}

LockWatch::Verdict LockWatch::Reading(REFERENCE_TIME since, int signal) {
  if (since >= kSettle) {
    if (signal <= 0)
      m_lockedSince = -1;
    else if (m_lockedSince < 0)
      m_lockedSince = since;
    else if (since - m_lockedSince >= kHold)
      return Verdict::Found;
  }
  // Give up once no lock can hold long enough within the budget.
  const REFERENCE_TIME from = m_lockedSince >= 0 ? m_lockedSince : std::max(since, kSettle);
  return since >= kBudget || from + kHold > kBudget ? Verdict::NotFound : Verdict::Wait;
}

std::uint32_t SequenceGaps::Next(std::uint32_t sequence) {
  if (!m_started) {
    m_started = true;
    m_last = sequence;
    return 0;
  }
  const std::uint32_t step = sequence - m_last;
  m_last = sequence;
  // A repeated or backward number (driver restarted counting) is no loss.
  if (step == 0 || step > 0x80000000u) return 0;
  return step - 1;
}

void SortVideoNodes(std::vector<VideoNode>* nodes) {
  std::stable_sort(nodes->begin(), nodes->end(), [](const VideoNode& a, const VideoNode& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.number < b.number;
  });
}

int SoundCardOfNode(const std::string& sysfsRoot, const std::string& node) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path video = fs::canonical(fs::path(sysfsRoot) / "class/video4linux" / node / "device", ec);
  if (ec) return -1;
  // The sound can sit on the same device (saa7134), or on a sibling function of the same PCI slot
  // or USB device (bttv, cx88: function 1; em28xx: another interface): same parent, same name up
  // to the last '.'.
  auto stem = [](const fs::path& p) {
    const std::string n = p.filename().string();
    const auto dot = n.rfind('.');
    return dot == std::string::npos ? n : n.substr(0, dot);
  };
  int sibling = -1;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class/sound", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("card", 0) != 0 || name.size() < 5 ||
        !std::all_of(name.begin() + 4, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    std::error_code e2;
    const fs::path sound = fs::canonical(entry.path() / "device", e2);
    if (e2) continue;
    const int card = std::atoi(name.c_str() + 4);
    if (sound == video) return card;
    if (sibling < 0 && sound.parent_path() == video.parent_path() && stem(sound) == stem(video)) sibling = card;
  }
  return sibling;
}

// ---- The card --------------------------------------------------------------------------------------

namespace {

HRESULT FromErrno(int e) { return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned>(e) & 0xFFFFu)); }

std::string ConnectorLabel(LONG type) {
  switch (type) {
    case PhysConn_Video_Tuner: return "Video Tuner";
    case PhysConn_Video_Composite: return "Video Composite";
    case PhysConn_Video_SVideo: return "Video SVideo";
    case PhysConn_Video_VideoDecoder: return "Video Decoder";
    case PhysConn_Audio_Tuner: return "Audio Tuner";
    case PhysConn_Audio_Line: return "Audio Line";
    case PhysConn_Audio_AudioDecoder: return "Audio Decoder";
    default: return "Connector " + std::to_string(type);
  }
}

constexpr LONG kInputTypes[kXbarInputs] = {PhysConn_Video_SVideo, PhysConn_Video_Tuner, PhysConn_Video_Composite,
                                           PhysConn_Audio_Tuner, PhysConn_Audio_Line};
constexpr LONG kOutputTypes[kXbarOutputs] = {PhysConn_Video_VideoDecoder, PhysConn_Audio_AudioDecoder};

constexpr std::uint32_t kProcAmpControls[4] = {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE,
                                               V4L2_CID_SATURATION};

// Between readings of the tuner while it settles.
constexpr auto kSettlePoll = std::chrono::milliseconds(25);

// Picture formats a card may deliver, in the order they are preferred, and how they are stored:
// under their own FOURCC where AVI files know it, else as a bottom-up RGB DIB, which libv4l2 makes
// from any format it knows.
enum class Layout { Packed, Planar, SemiPlanar, Compressed };
struct PixelKind {
  std::uint32_t v4l2;
  const GUID* subtype;
  WORD bits;  // biBitCount
  Layout layout;
  std::uint32_t bytesPerPixel;  // packed layouts
};
const PixelKind kPixelKinds[] = {
    {V4L2_PIX_FMT_YUYV, &MEDIASUBTYPE_YUY2, 16, Layout::Packed, 2},
    {V4L2_PIX_FMT_UYVY, &MEDIASUBTYPE_UYVY, 16, Layout::Packed, 2},
    {V4L2_PIX_FMT_YUV420, &MEDIASUBTYPE_I420, 12, Layout::Planar, 1},
    {V4L2_PIX_FMT_YVU420, &MEDIASUBTYPE_YV12, 12, Layout::Planar, 1},
    {V4L2_PIX_FMT_NV12, &MEDIASUBTYPE_NV12, 12, Layout::SemiPlanar, 1},
    {V4L2_PIX_FMT_MJPEG, &MEDIASUBTYPE_MJPG, 24, Layout::Compressed, 0},
    {V4L2_PIX_FMT_JPEG, &MEDIASUBTYPE_MJPG, 24, Layout::Compressed, 0},
    {V4L2_PIX_FMT_BGR24, &MEDIASUBTYPE_RGB24, 24, Layout::Packed, 3},
};
const PixelKind& kRgbKind = kPixelKinds[std::size(kPixelKinds) - 1];

const PixelKind* KindOf(std::uint32_t v4l2) {
  for (const PixelKind& k : kPixelKinds)
    if (k.v4l2 == v4l2) return &k;
  return nullptr;
}
bool BottomUp(const PixelKind& k) { return &k == &kRgbKind; }

// One plane of a picture: `rows` rows of `bytes` bytes, `stride` apart, from `offset`.
struct Plane {
  std::size_t offset, stride, bytes, rows;
};
// The planes of a picture of `rows` lines whose luma (or packed) rows lie `stride` apart.
std::vector<Plane> PlanesOf(const PixelKind& k, std::uint32_t width, std::uint32_t rows, std::size_t stride) {
  switch (k.layout) {
    case Layout::Packed: return {{0, stride, std::size_t{width} * k.bytesPerPixel, rows}};
    case Layout::Planar: {
      const std::size_t y = stride * rows, c = (stride / 2) * (rows / 2);
      return {{0, stride, width, rows}, {y, stride / 2, width / 2, rows / 2}, {y + c, stride / 2, width / 2, rows / 2}};
    }
    case Layout::SemiPlanar: return {{0, stride, width, rows}, {stride * rows, stride, width, rows / 2}};
    case Layout::Compressed: break;
  }
  return {};
}
// Bytes a buffer must hold for these planes.
std::size_t Extent(const std::vector<Plane>& planes) {
  std::size_t end = 0;
  for (const Plane& p : planes)
    if (p.rows) end = std::max(end, p.offset + p.stride * (p.rows - 1) + p.bytes);
  return end;
}
// As stored: rows packed tight, a DIB's padded to 4 bytes.
std::size_t StoredStride(const PixelKind& k, std::uint32_t width) {
  const std::size_t row = k.layout == Layout::Packed ? std::size_t{width} * k.bytesPerPixel : width;
  return BottomUp(k) ? (row + 3) & ~std::size_t{3} : row;
}
std::vector<Plane> StoredPlanes(const PixelKind& k, std::uint32_t width, std::uint32_t height) {
  return PlanesOf(k, width, height, StoredStride(k, width));
}
std::size_t StoredSize(const PixelKind& k, std::uint32_t width, std::uint32_t height) {
  const std::vector<Plane> p = StoredPlanes(k, width, height);
  return p.empty() ? 0 : p.back().offset + p.back().stride * p.back().rows;
}

// Copies rows plane by plane: row r of `from` becomes row r*step+first of `to`, counted from the
// bottom for a bottom-up picture (a DIB).
void CopyRows(const BYTE* src, const std::vector<Plane>& from, BYTE* dst, const std::vector<Plane>& to, int step,
              int first, bool bottomUp) {
  for (std::size_t p = 0; p < from.size() && p < to.size(); ++p)
    for (std::size_t r = 0; r < from[p].rows; ++r) {
      std::size_t row = r * step + first;
      if (row >= to[p].rows) break;
      if (bottomUp) row = to[p].rows - 1 - row;
      std::memcpy(dst + to[p].offset + row * to[p].stride, src + from[p].offset + r * from[p].stride,
                  std::min(from[p].bytes, to[p].bytes));
    }
}

// What the stream delivers now.
struct FrameFormat {
  const PixelKind* kind = nullptr;
  std::uint32_t width = 0, height = 0;  // the whole picture, also when buffers carry single fields
  std::size_t stride = 0;               // the driver's bytes per line
  std::uint32_t sizeImage = 0;
  std::uint32_t field = V4L2_FIELD_NONE;
  REFERENCE_TIME period = 0;  // the driver's frame duration; 0 when it does not tell
};

class V4l2Card : public std::enable_shared_from_this<V4l2Card> {
 public:
  V4l2Card(VideoNode node, int index, V4l2Calls io) : m_node(std::move(node)), m_index(index), m_io(std::move(io)) {}
  ~V4l2Card() {
    StopStreaming();
    if (m_fd >= 0) m_io.close(m_fd);
  }

  const VideoNode& Node() const { return m_node; }
  std::string InstanceName(const std::string& base) const {
    return m_index == 0 ? base : base + "#" + std::to_string(m_index);
  }
  bool Lost() const { return m_lost; }
  bool HasTuner() const { return m_layout.input[kXbarTuner] >= 0; }
  const CrossbarLayout& Layout() const { return m_layout; }
  std::shared_ptr<StreamFormat> Format() const { return m_format; }

  // Opens the device once and reads what it offers; later calls reuse it.
  HRESULT Open();

  int Ioctl(unsigned long request, void* arg) {
    int r;
    do r = m_io.ioctl(m_fd, request, arg);
    while (r < 0 && errno == EINTR);
    if (r < 0 && (errno == ENODEV || errno == ENXIO)) m_lost = true;
    return r;
  }

  // ---- Inputs
  HRESULT SelectVideo(int pin);
  HRESULT SelectAudio(int pin);

  // ---- Tuner
  std::mutex tunerMutex;
  TunerInputType plan = TunerInputAntenna;
  LONG channel = 2;
  HRESULT Tune();
  // Signal 0..65535 and AFC as the tuner reports them; false when it cannot be read.
  bool ReadTuner(int* signal, int* afc);
  HRESULT NudgeFrequency(int units);

  // ---- Controls
  bool QueryControl(LONG property, DriverRange* r);

  // ---- Streaming: frames go to sink on the card's streaming thread.
  using FrameSink = std::function<void(const v4l2_buffer& buf, const BYTE* data, const FrameFormat& format)>;
  HRESULT StartStreaming(FrameSink sink);
  void StopStreaming();

 private:
  // Picks the picture format and size for the standard in force; sets the pin's format.
  HRESULT ChooseFormat();
  // Sets the pin's current format (size, pixel format, frame rate) on the device; fills m_frame.
  HRESULT ApplyFormat();
  // The TV standard for the input just selected (not streaming); true when the one in force changed.
  bool ApplyStandard(int input, StdMask planStandard);
  HRESULT StartLocked();
  void StopLocked();
  void Loop();

  VideoNode m_node;
  int m_index;
  V4l2Calls m_io;
  std::mutex m_openMutex;
  int m_fd = -1;
  std::atomic<bool> m_lost{false};
  bool m_lowUnits = false;
  std::uint32_t m_tunerIndex = 0;
  std::vector<CardInput> m_inputs;
  CrossbarLayout m_layout;
  std::shared_ptr<StreamFormat> m_format;
  const PixelKind* m_kind = &kRgbKind;  // the card's format the pin's format stands for
  REFERENCE_TIME m_cardPeriod = 0;       // the frame duration the card (or its standard) gives

  std::mutex m_streamMutex;  // start, stop and input changes
  FrameSink m_sink;
  bool m_streaming = false;
  std::thread m_thread;
  int m_wake[2] = {-1, -1};
  struct Buffer {
    void* start = MAP_FAILED;
    std::size_t length = 0;
  };
  std::vector<Buffer> m_buffers;
  FrameFormat m_frame;
};

AM_MEDIA_TYPE MakeVideoType(const FrameFormat& f, REFERENCE_TIME avgTimePerFrame, VIDEOINFOHEADER* vih) {
  const PixelKind& k = *f.kind;
  const bool compressed = k.layout == Layout::Compressed;
  AM_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = *k.subtype;
  mt.bFixedSizeSamples = !compressed;
  mt.formattype = FORMAT_VideoInfo;
  *vih = VIDEOINFOHEADER{};
  vih->AvgTimePerFrame = avgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = static_cast<LONG>(f.width);
  vih->bmiHeader.biHeight = static_cast<LONG>(f.height);  // a DIB bottom-up; YUV always top-down
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = k.bits;
  vih->bmiHeader.biCompression = BottomUp(k) ? BI_RGB : k.subtype->Data1;
  const std::size_t bound = f.sizeImage ? f.sizeImage : std::size_t{f.width} * f.height * 2;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(compressed ? bound : StoredSize(k, f.width, f.height));
  vih->rcSource = {0, 0, static_cast<LONG>(f.width), static_cast<LONG>(f.height)};
  vih->rcTarget = vih->rcSource;
  if (avgTimePerFrame > 0)
    vih->dwBitRate = static_cast<DWORD>(vih->bmiHeader.biSizeImage * 8.0 * 1e7 / static_cast<double>(avgTimePerFrame));
  mt.lSampleSize = compressed ? 0 : vih->bmiHeader.biSizeImage;
  mt.cbFormat = sizeof(VIDEOINFOHEADER);
  mt.pbFormat = reinterpret_cast<BYTE*>(vih);
  return mt;
}

REFERENCE_TIME PeriodOf(const v4l2_fract& f) {
  if (f.numerator == 0 || f.denominator == 0) return 0;
  return static_cast<REFERENCE_TIME>(10000000.0 * f.numerator / f.denominator + 0.5);
}

HRESULT V4l2Card::Open() {
  std::lock_guard lock(m_openMutex);
  if (m_lost) return FromErrno(ENODEV);
  if (m_fd >= 0) return S_OK;
  const int fd = m_io.open(m_node.path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    const int e = errno;
    std::fprintf(stderr, "orvanetuner: cannot open %s: %s\n", m_node.path.c_str(), std::strerror(e));
    return FromErrno(e);
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
  ApplyStandard(current, PlanStandard(plan));
  return ChooseFormat();
}

bool V4l2Card::ApplyStandard(int input, StdMask planStandard) {
  if (input < 0 || static_cast<std::size_t>(input) >= m_inputs.size()) return false;
  const CardInput& in = m_inputs[static_cast<std::size_t>(input)];
  if (!in.hasStandard) return false;  // a webcam or digital input
  StdMask want = planStandard;
  if (!in.tuner) {
    // What the decoder sees; V4L2_STD_UNKNOWN (no signal) or no detection keeps the driver's.
    v4l2_std_id detected = 0;
    want = Ioctl(VIDIOC_QUERYSTD, &detected) == 0 ? detected : 0;
  }
  if (in.standards) want &= in.standards;
  if (!want) return false;
  v4l2_std_id before = 0;
  if (Ioctl(VIDIOC_G_STD, &before) == 0 && before && (before & ~want) == 0) return false;
  v4l2_std_id id = want;
  if (Ioctl(VIDIOC_S_STD, &id) < 0) {
    std::fprintf(stderr, "orvanetuner: %s: cannot set the TV standard %llx: %s\n", m_node.path.c_str(),
                 static_cast<unsigned long long>(want), std::strerror(errno));
    return false;
  }
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
  const PixelKind* kind = &kRgbKind;
  for (const PixelKind& k : kPixelKinds)
    if (std::find(native.begin(), native.end(), k.v4l2) != native.end()) {
      kind = &k;
      break;
    }

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
  if (Ioctl(VIDIOC_G_FMT, &f) < 0) return FromErrno(errno);
  f.fmt.pix.pixelformat = kind->v4l2;
  // Both fields in one picture; a driver may still answer otherwise (see the capture filter).
  f.fmt.pix.field = V4L2_FIELD_INTERLACED;
  if (vga) {
    f.fmt.pix.width = 640;
    f.fmt.pix.height = 480;
  } else if (std) {
    f.fmt.pix.width = 720;
    f.fmt.pix.height = StandardLines(std);
  }
  f.fmt.pix.bytesperline = 0;
  f.fmt.pix.sizeimage = 0;
  // Busy (another program streams): keep what the driver has.
  if (Ioctl(VIDIOC_S_FMT, &f) < 0) {
    f = v4l2_format{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Ioctl(VIDIOC_G_FMT, &f) < 0) return FromErrno(errno);
  }
  FrameFormat ff;
  ff.kind = KindOf(f.fmt.pix.pixelformat);
  if (!ff.kind) return VFW_E_INVALIDMEDIATYPE;
  ff.width = f.fmt.pix.width;
  ff.height = f.fmt.pix.height;
  ff.sizeImage = f.fmt.pix.sizeimage;
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

HRESULT V4l2Card::ApplyFormat() {
  AM_MEDIA_TYPE mt{};
  m_format->Copy(&mt);
  REFERENCE_TIME wanted = 0;
  std::uint32_t width = 0, height = 0;
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    wanted = vih->AvgTimePerFrame;
    width = static_cast<std::uint32_t>(std::max<LONG>(0, vih->bmiHeader.biWidth));
    height = static_cast<std::uint32_t>(std::abs(vih->bmiHeader.biHeight));
  }
  const PixelKind* kind = m_kind;
  if (mt.subtype != *kind->subtype)
    for (const PixelKind& k : kPixelKinds)
      if (mt.subtype == *k.subtype) {
        kind = &k;
        break;
      }
  FreeMediaType(mt);

  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (Ioctl(VIDIOC_G_FMT, &f) < 0) return FromErrno(errno);
  if (f.fmt.pix.width != width || f.fmt.pix.height != height || f.fmt.pix.pixelformat != kind->v4l2) {
    f.fmt.pix.width = width;
    f.fmt.pix.height = height;
    f.fmt.pix.pixelformat = kind->v4l2;
    f.fmt.pix.field = V4L2_FIELD_INTERLACED;
    f.fmt.pix.bytesperline = 0;
    f.fmt.pix.sizeimage = 0;
    if (Ioctl(VIDIOC_S_FMT, &f) < 0 && Ioctl(VIDIOC_G_FMT, &f) < 0) return FromErrno(errno);
  }
  m_frame = FrameFormat{};
  m_frame.kind = KindOf(f.fmt.pix.pixelformat);
  if (!m_frame.kind) return VFW_E_INVALIDMEDIATYPE;
  m_frame.width = f.fmt.pix.width;
  m_frame.height = f.fmt.pix.height;
  m_frame.field = f.fmt.pix.field;
  m_frame.stride = f.fmt.pix.bytesperline ? f.fmt.pix.bytesperline
                                          : (m_frame.kind->layout == Layout::Packed
                                                 ? std::size_t{m_frame.width} * m_frame.kind->bytesPerPixel
                                                 : m_frame.width);
  m_frame.sizeImage = f.fmt.pix.sizeimage;
  // Fields in pictures of their own are woven into frames; compressed ones cannot be.
  if (m_frame.field == V4L2_FIELD_ALTERNATE && m_frame.kind->layout == Layout::Compressed) {
    std::fprintf(stderr, "orvanetuner: %s: the card sends each field as a picture of its own, compressed; "
                 "that format is not supported\n", m_node.path.c_str());
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
  return S_OK;
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
  if (Ioctl(VIDIOC_S_INPUT, &input) < 0) hr = FromErrno(errno);
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
      planStandard = PlanStandard(plan);
      if (pin == kXbarTuner) Tune();
    }
    // A new standard brings its own picture size and rate.
    if (ApplyStandard(input, planStandard)) ChooseFormat();
  }
  if (restart && StartLocked() != S_OK)
    std::fprintf(stderr, "orvanetuner: %s: streaming did not resume after the input change\n", m_node.path.c_str());
  return hr;
}

HRESULT V4l2Card::SelectAudio(int pin) {
  if (pin != kXbarAudioTuner && pin != kXbarAudioLine) return E_INVALIDARG;
  const int a = m_layout.input[pin];
  if (a < 0) return VFW_E_CANNOT_CONNECT;
  v4l2_audio va{};
  va.index = static_cast<std::uint32_t>(a);
  return Ioctl(VIDIOC_S_AUDIO, &va) < 0 ? FromErrno(errno) : S_OK;
}

HRESULT V4l2Card::Tune() {
  const std::uint32_t kHz = ChannelToKHz(plan, channel);
  if (!kHz) return E_INVALIDARG;
  v4l2_frequency f{};
  f.tuner = m_tunerIndex;
  f.type = V4L2_TUNER_ANALOG_TV;
  f.frequency = KHzToTunerUnits(kHz, m_lowUnits);
  return Ioctl(VIDIOC_S_FREQUENCY, &f) < 0 ? FromErrno(errno) : S_OK;
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
  if (Ioctl(VIDIOC_G_FREQUENCY, &f) < 0) return FromErrno(errno);
  f.type = V4L2_TUNER_ANALOG_TV;
  f.frequency = static_cast<std::uint32_t>(static_cast<long long>(f.frequency) + units);
  return Ioctl(VIDIOC_S_FREQUENCY, &f) < 0 ? FromErrno(errno) : S_OK;
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

HRESULT V4l2Card::StartStreaming(FrameSink sink) {
  std::lock_guard lock(m_streamMutex);
  m_sink = std::move(sink);
  return StartLocked();
}

void V4l2Card::StopStreaming() {
  std::lock_guard lock(m_streamMutex);
  StopLocked();
  m_sink = nullptr;
}

HRESULT V4l2Card::StartLocked() {
  if (m_streaming) return S_OK;
  if (m_lost) return FromErrno(ENODEV);
  if (HRESULT hr = ApplyFormat(); FAILED(hr)) return hr;
  v4l2_requestbuffers req{};
  req.count = 4;
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  // EBUSY here: another program streams from the card.
  if (Ioctl(VIDIOC_REQBUFS, &req) < 0 || req.count < 2) {
    const int e = req.count < 2 ? ENOMEM : errno;
    std::fprintf(stderr, "orvanetuner: %s: no capture buffers: %s\n", m_node.path.c_str(), std::strerror(e));
    return FromErrno(e);
  }
  auto fail = [&](const char* what, int e) {
    std::fprintf(stderr, "orvanetuner: %s: %s: %s\n", m_node.path.c_str(), what, std::strerror(e));
    StopLocked();
    return FromErrno(e);
  };
  m_streaming = true;  // so that a failure below releases what was set up
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
  if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) < 0) return fail("no pipe", errno);
  m_thread = std::thread([this] { Loop(); });
  return S_OK;
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
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  Ioctl(VIDIOC_STREAMOFF, &type);
  for (Buffer& b : m_buffers)
    if (b.start != MAP_FAILED) m_io.munmap(b.start, b.length);
  m_buffers.clear();
  v4l2_requestbuffers req{};
  req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  req.memory = V4L2_MEMORY_MMAP;
  Ioctl(VIDIOC_REQBUFS, &req);
  m_streaming = false;
}

void V4l2Card::Loop() {
  for (;;) {
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
    const int r = m_io.poll(fds, 2, 500);
    if (r < 0 && errno != EINTR) break;
    if (fds[1].revents) return;
    if (r <= 0) continue;
    v4l2_buffer b{};
    b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    b.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(VIDIOC_DQBUF, &b) < 0) {
      if (errno == EAGAIN) {
        // Woken without a frame while the queue reports an error: the device is gone.
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
          m_lost = true;
          break;
        }
        continue;
      }
      m_lost = true;
      break;
    }
    if (b.index < m_buffers.size() && !(b.flags & V4L2_BUF_FLAG_ERROR) && m_sink)
      m_sink(b, static_cast<const BYTE*>(m_buffers[b.index].start), m_frame);
    if (Ioctl(VIDIOC_QBUF, &b) < 0 && errno != EINVAL) {
      m_lost = true;
      break;
    }
  }
  if (m_lost) ReportDeviceLost(m_node.card + " (" + m_node.path + ")");
}

// ---- Crossbar --------------------------------------------------------------------------------------

bool IsAudioPin(LONG type) { return type >= 0x1000; }

class V4l2Crossbar : public FilterBase, public IAMCrossbar {
 public:
  explicit V4l2Crossbar(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("Crossbar0"), "Crossbar"), m_card(std::move(card)) {
    // Inputs before outputs, in index order.
    for (LONG t : kInputTypes)
      AddPin({ConnectorLabel(t) + " In", PINDIR_INPUT, GUID_NULL,
              IsAudioPin(t) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
    for (LONG t : kOutputTypes)
      AddPin({ConnectorLabel(t) + " Out", PINDIR_OUTPUT, GUID_NULL,
              IsAudioPin(t) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  PinBase* InputPin(int i) const { return PinAt(static_cast<std::size_t>(i)); }
  PinBase* OutputPin(int i) const { return PinAt(static_cast<std::size_t>(kXbarInputs + i)); }

  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    if (HRESULT hr = Check("get_PinCounts"); hr != S_OK) return hr;
    *outputs = kXbarOutputs;
    *inputs = kXbarInputs;
    return S_OK;
  }

  // Every pin of a kind is offered, even one the card lacks, so path numbers stay the same on
  // every card; routing to a missing one fails.
  HRESULT CanRoute(LONG output, LONG input) override {
    if (HRESULT hr = Check("CanRoute", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    if (output < 0 || output >= kXbarOutputs || input < 0 || input >= kXbarInputs) return E_INVALIDARG;
    return IsAudioPin(kInputTypes[input]) == IsAudioPin(kOutputTypes[output]) ? S_OK : S_FALSE;
  }

  HRESULT Route(LONG output, LONG input) override {
    if (HRESULT hr = Check("Route", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    if (output < 0 || output >= kXbarOutputs) return E_INVALIDARG;
    if (input == -1) return E_NOTIMPL;  // a card's decoder always shows some input
    const HRESULT can = CanRoute(output, input);
    if (can != S_OK) return FAILED(can) ? can : VFW_E_CANNOT_CONNECT;
    return output == kXbarVideoOut ? m_card->SelectVideo(input) : m_card->SelectAudio(input);
  }

  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override {
    if (!related || !type) return E_POINTER;
    if (HRESULT hr = Check("get_CrossbarPinInfo", std::to_string(isInput ? 1 : 0) + "," + std::to_string(index));
        hr != S_OK)
      return hr;
    const CrossbarLayout& l = m_card->Layout();
    const bool sound = l.input[kXbarAudioTuner] >= 0 || l.input[kXbarAudioLine] >= 0;
    if (isInput) {
      if (index < 0 || index >= kXbarInputs) return E_INVALIDARG;
      *type = kInputTypes[index];
      switch (index) {
        case kXbarTuner: *related = l.input[kXbarAudioTuner] >= 0 ? kXbarAudioTuner : -1; break;
        case kXbarSVideo:
        case kXbarComposite: *related = l.input[kXbarAudioLine] >= 0 ? kXbarAudioLine : -1; break;
        case kXbarAudioTuner: *related = kXbarTuner; break;
        default: *related = kXbarSVideo; break;
      }
    } else {
      if (index < 0 || index >= kXbarOutputs) return E_INVALIDARG;
      *type = kOutputTypes[index];
      *related = index == kXbarVideoOut ? (sound ? kXbarAudioOut : -1) : kXbarVideoOut;
    }
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMCrossbar) return static_cast<IAMCrossbar*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::shared_ptr<V4l2Card> m_card;
};

// ---- Tuner -----------------------------------------------------------------------------------------

class V4l2Tuner : public FilterBase, public IAMTVTuner {
 public:
  explicit V4l2Tuner(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("Tuner"), "Tuner"), m_card(std::move(card)) {
    AddPin({"Analog Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogVideo, true, false, nullptr});
    AddPin({"Analog Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogAudio, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  HRESULT ChannelMinMax(LONG* min, LONG* max) override {
    if (!min || !max) return E_POINTER;
    if (HRESULT hr = Check("ChannelMinMax"); hr != S_OK) return hr;
    std::lock_guard lock(m_card->tunerMutex);
    PlanRange(m_card->plan, min, max);
    return S_OK;
  }

  HRESULT put_Channel(LONG channel, LONG video, LONG audio) override {
    if (HRESULT hr = Check("put_Channel", std::to_string(channel) + "," + std::to_string(video) + "," +
                                              std::to_string(audio));
        hr != S_OK)
      return hr;
    std::lock_guard lock(m_card->tunerMutex);
    if (!ChannelToKHz(m_card->plan, channel)) return E_INVALIDARG;
    m_card->channel = channel;
    return m_card->Tune();
  }

  HRESULT put_InputType(LONG index, TunerInputType type) override {
    if (HRESULT hr = Check("put_InputType", std::to_string(index) + "," + std::to_string(type)); hr != S_OK)
      return hr;
    if (index != 0 || (type != TunerInputCable && type != TunerInputAntenna)) return E_INVALIDARG;
    std::lock_guard lock(m_card->tunerMutex);
    m_card->plan = type;
    // The same number on the other plan; a number the plan lacks (antenna 1, cable 70+) stays untuned.
    return ChannelToKHz(type, m_card->channel) ? m_card->Tune() : S_OK;
  }

  HRESULT AutoTune(LONG channel, LONG* found) override {
    if (!found) return E_POINTER;
    *found = AMTUNER_NOSIGNAL;
    if (HRESULT hr = Check("AutoTune", std::to_string(channel)); hr != S_OK) return hr;
    std::lock_guard lock(m_card->tunerMutex);
    if (!ChannelToKHz(m_card->plan, channel)) return E_INVALIDARG;
    m_card->channel = channel;
    if (HRESULT hr = m_card->Tune(); FAILED(hr)) return hr;
    // The tuner and decoder settle; a lock must then hold (the one of the channel tuned before
    // can linger for a moment).
    const auto tuned = std::chrono::steady_clock::now();
    LockWatch watch;
    LockWatch::Verdict verdict = LockWatch::Verdict::Wait;
    int signal = 0, afc = 0;
    std::this_thread::sleep_for(std::chrono::microseconds(LockWatch::kSettle / 10));
    while (verdict == LockWatch::Verdict::Wait) {
      if (!m_card->ReadTuner(&signal, &afc)) return m_card->Lost() ? FromErrno(ENODEV) : S_OK;
      using std::chrono::microseconds;
      const auto since = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - tuned);
      verdict = watch.Reading(since.count() * 10, signal);
      if (verdict == LockWatch::Verdict::Wait) std::this_thread::sleep_for(kSettlePoll);
    }
    if (verdict != LockWatch::Verdict::Found) signal = 0;
    // Fine tuning: follow the AFC one tuner step at a time, within half a megahertz.
    for (int step = 0; signal > 0 && afc != 0 && step < 8; ++step) {
      if (FAILED(m_card->NudgeFrequency(afc < 0 ? 1 : -1))) break;
      std::this_thread::sleep_for(kSettlePoll);
      const int before = afc;
      if (!m_card->ReadTuner(&signal, &afc) || (afc != 0 && (afc < 0) != (before < 0))) break;
    }
    *found = signal > 0 ? AMTUNER_SIGNALPRESENT : AMTUNER_NOSIGNAL;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMTVTuner) return static_cast<IAMTVTuner*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::shared_ptr<V4l2Card> m_card;
};

// ---- Capture filter --------------------------------------------------------------------------------

const char* PropertyName(LONG property) {
  static const char* const kNames[] = {"VideoProcAmp_Brightness", "VideoProcAmp_Contrast", "VideoProcAmp_Hue",
                                       "VideoProcAmp_Saturation"};
  return property >= 0 && property < 4 ? kNames[property] : "VideoProcAmp_Other";
}

class V4l2VideoCapture : public FilterBase, public IAMVideoProcAmp, public IAMDroppedFrames {
 public:
  explicit V4l2VideoCapture(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("VideoCapture"), "VideoCapture"), m_card(std::move(card)) {
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, true, true, m_card->Format()});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, true, true, nullptr});
    m_analogIn =
        AddPin({"Analog Video In", PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN, MEDIATYPE_AnalogVideo, true, false, nullptr});
  }
  ~V4l2VideoCapture() override { OnStop(); }
  ORV_UNKNOWN_IMPL

  HRESULT ConnectUpstream(IFilterGraph* graph) override {
    if (!graph || m_analogIn->IsConnected()) return S_FALSE;
    auto* xbar = new V4l2Crossbar(m_card);
    ComPtr<IBaseFilter> holdX = static_cast<IBaseFilter*>(xbar);
    if (HRESULT hr = graph->AddFilter(holdX, Widen(xbar->Instance()).c_str()); FAILED(hr)) return hr;
    if (m_card->HasTuner()) {
      auto* tuner = new V4l2Tuner(m_card);
      ComPtr<IBaseFilter> holdT = static_cast<IBaseFilter*>(tuner);
      if (HRESULT hr = graph->AddFilter(holdT, Widen(tuner->Instance()).c_str()); FAILED(hr)) {
        graph->RemoveFilter(holdX);
        return hr;
      }
      graph->ConnectDirect(tuner->PinAt(0), xbar->InputPin(kXbarTuner), nullptr);
      graph->ConnectDirect(tuner->PinAt(1), xbar->InputPin(kXbarAudioTuner), nullptr);
    }
    graph->ConnectDirect(xbar->OutputPin(kXbarVideoOut), m_analogIn, nullptr);
    return S_OK;
  }

  HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps) override {
    if (!min || !max || !step || !def || !caps) return E_POINTER;
    if (HRESULT hr = Check("GetRange", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    // Read afresh every time: some drivers move a range with the input.
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    *min = 0;
    *max = r.max - r.min;
    *step = r.step;
    *def = FromDriverValue(r, r.def);
    *caps = VideoProcAmp_Flags_Manual;
    return S_OK;
  }

  HRESULT Set(LONG property, LONG value, LONG flags) override {
    if (HRESULT hr = Check("Set", std::to_string(property) + "," + std::to_string(value) + "," + std::to_string(flags),
                           {"IAMVideoProcAmp", PropertyName(property)});
        hr != S_OK)
      return hr;
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    if (value < 0 || value > r.max - r.min) return E_INVALIDARG;
    v4l2_control c{kProcAmpControls[property], ToDriverValue(r, value)};
    return m_card->Ioctl(VIDIOC_S_CTRL, &c) < 0 ? FromErrno(errno) : S_OK;
  }

  HRESULT Get(LONG property, LONG* value, LONG* flags) override {
    if (!value || !flags) return E_POINTER;
    if (HRESULT hr = Check("Get", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    v4l2_control c{kProcAmpControls[property], 0};
    if (m_card->Ioctl(VIDIOC_G_CTRL, &c) < 0) return FromErrno(errno);
    *value = FromDriverValue(r, c.value);
    *flags = VideoProcAmp_Flags_Manual;
    return S_OK;
  }

  HRESULT GetNumDropped(LONG* dropped) override {
    if (!dropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumDropped"); hr != S_OK) return hr;
    *dropped = m_counts->dropped;
    return S_OK;
  }

  HRESULT GetNumNotDropped(LONG* notDropped) override {
    if (!notDropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumNotDropped"); hr != S_OK) return hr;
    *notDropped = m_counts->delivered;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMVideoProcAmp) return static_cast<IAMVideoProcAmp*>(this);
    if (riid == IID_IAMDroppedFrames) return static_cast<IAMDroppedFrames*>(this);
    return FilterBase::Lookup(riid);
  }

  HRESULT OnRun() override {
    if (State() == State_Stopped) {
      m_counts->Reset();
    }
    m_gaps.Reset();
    m_type.reset();
    m_fieldPending = false;
    const HRESULT hr = m_card->StartStreaming(
        [this](const v4l2_buffer& b, const BYTE* data, const FrameFormat& f) { OnFrame(b, data, f); });
    if (FAILED(hr)) {
      std::fprintf(stderr, "orvanetuner: %s: cannot start streaming (%08x)\n", m_card->Node().path.c_str(),
                   static_cast<unsigned>(hr));
      m_card->StopStreaming();
    }
    return hr;
  }
  void OnStop() override { m_card->StopStreaming(); }

 private:
  // On the card's streaming thread.
  void OnFrame(const v4l2_buffer& b, const BYTE* data, const FrameFormat& f) {
    PinBase* capture = PinAt(0);
    PinBase* preview = PinAt(1);
    if (!m_type || m_typeFormat.width != f.width || m_typeFormat.height != f.height || m_typeFormat.kind != f.kind ||
        m_typeFormat.field != f.field) {
      // The sample's own type: the pin's format, with the size the driver really delivers.
      AM_MEDIA_TYPE pinType{};
      m_card->Format()->Copy(&pinType);
      REFERENCE_TIME wanted = f.period;
      if (pinType.formattype == FORMAT_VideoInfo && pinType.pbFormat && pinType.cbFormat >= sizeof(VIDEOINFOHEADER))
        wanted = reinterpret_cast<VIDEOINFOHEADER*>(pinType.pbFormat)->AvgTimePerFrame;
      FreeMediaType(pinType);
      auto* vih = new VIDEOINFOHEADER;
      AM_MEDIA_TYPE mt = MakeVideoType(f, wanted, vih);
      auto* copy = new AM_MEDIA_TYPE{};
      CopyMediaType(copy, &mt);
      delete vih;
      m_type.reset(copy, [](AM_MEDIA_TYPE* p) {
        FreeMediaType(*p);
        delete p;
      });
      m_typeFormat = f;
      m_wanted = wanted;
      m_decimator.Reset(f.period, wanted);
      m_fieldPending = false;
    }
    // The capture instant on the graph's clock.
    REFERENCE_TIME at = MonotonicNow();
    if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
      at = static_cast<REFERENCE_TIME>(b.timestamp.tv_sec) * 10000000 +
           static_cast<REFERENCE_TIME>(b.timestamp.tv_usec) * 10;
    std::uint32_t sequence = b.sequence;

    const PixelKind& k = *f.kind;
    const std::vector<Plane> stored = StoredPlanes(k, f.width, f.height);
    const BYTE* out = data;
    std::size_t size = k.layout == Layout::Compressed ? b.bytesused : StoredSize(k, f.width, f.height);
    if (f.field == V4L2_FIELD_ALTERNATE) {
      // One field per buffer: its rows go between the other field's; a frame is whole after both.
      if (b.field != V4L2_FIELD_TOP && b.field != V4L2_FIELD_BOTTOM) return;
      const std::vector<Plane> field = PlanesOf(k, f.width, f.height / 2, f.stride);
      if (b.bytesused < Extent(field)) return;
      const bool second = m_fieldPending && m_pendingField != b.field;
      if (!second) {
        m_weave.resize(size);
        m_fieldPending = true;
        m_pendingField = b.field;
        m_pendingAt = at;
        m_pendingSequence = b.sequence;
      }
      CopyRows(data, field, m_weave.data(), stored, 2, b.field == V4L2_FIELD_TOP ? 0 : 1, BottomUp(k));
      if (!second) return;
      m_fieldPending = false;
      at = m_pendingAt;
      // Both fields of a frame carry one number; drivers that count fields give consecutive ones.
      sequence = b.sequence == m_pendingSequence ? b.sequence : m_pendingSequence / 2;
      out = m_weave.data();
    } else if (k.layout == Layout::Compressed) {
      if (b.bytesused == 0) return;
    } else if (b.bytesused < Extent(PlanesOf(k, f.width, f.height, f.stride))) {
      return;  // a short buffer
    }

    // Thinned to the wanted rate before anything is counted: the counts are the file's frames.
    const std::uint32_t lost = m_gaps.Next(sequence);
    std::uint32_t missed = 0;
    const bool keep = m_decimator.Keep(at - StreamStart(), lost, &missed);
    std::shared_lock lock(StreamMutex());
    const bool capturing = capture->IsConnected() && capture->StreamOn();
    if (capturing) m_counts->dropped += static_cast<LONG>(missed);
    if (!keep) return;

    if (out == data && k.layout != Layout::Compressed) {
      const std::vector<Plane> from = PlanesOf(k, f.width, f.height, f.stride);
      auto alike = [](const Plane& a, const Plane& b) { return a.offset == b.offset && a.stride == b.stride; };
      const bool same = !BottomUp(k) && std::equal(from.begin(), from.end(), stored.begin(), alike);
      if (!same) {
        m_copy.resize(size);
        CopyRows(data, from, m_copy.data(), stored, 1, 0, BottomUp(k));
        out = m_copy.data();
      }
    }
    const REFERENCE_TIME start = at - StreamStart();
    // The counts travel with the picture: one the writer leaves out later moves to dropped.
    const MediaSample sample{out, size, start, start + m_wanted, m_type.get(), m_counts};
    if (capturing) {
      if (capture->Deliver(sample))
        ++m_counts->delivered;
      else
        ++m_counts->dropped;
    }
    preview->Deliver(sample);
  }

  std::shared_ptr<V4l2Card> m_card;
  PinBase* m_analogIn = nullptr;
  const std::shared_ptr<FrameCounts> m_counts = std::make_shared<FrameCounts>();
  // Streaming thread only.
  SequenceGaps m_gaps;
  FrameDecimator m_decimator;
  std::shared_ptr<AM_MEDIA_TYPE> m_type;
  FrameFormat m_typeFormat;
  REFERENCE_TIME m_wanted = 0;
  std::vector<BYTE> m_copy;
  // Weaving fields into frames.
  std::vector<BYTE> m_weave;
  bool m_fieldPending = false;
  std::uint32_t m_pendingField = 0, m_pendingSequence = 0;
  REFERENCE_TIME m_pendingAt = 0;
};

// ---- Device list -----------------------------------------------------------------------------------

std::vector<VideoNode> ScanVideoNodes() {
  std::vector<VideoNode> nodes;
  DIR* dir = opendir("/dev");
  if (!dir) return nodes;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind("video", 0) != 0 || name.size() == 5 ||
        !std::all_of(name.begin() + 5, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    const std::string path = "/dev/" + name;
    // Plain open: enumeration needs no format conversion.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    v4l2_capability cap{};
    if (ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
      const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
      if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING))
        nodes.push_back({path, std::atoi(name.c_str() + 5), reinterpret_cast<const char*>(cap.bus_info),
                         reinterpret_cast<const char*>(cap.card)});
    }
    close(fd);
  }
  closedir(dir);
  SortVideoNodes(&nodes);
  return nodes;
}

// Cards keep their state (tuner plan and channel, the open device) across graph rebuilds, as
// hardware does; an unplugged one is forgotten at the next enumeration.
std::mutex g_cardsMutex;
std::map<std::string, std::shared_ptr<V4l2Card>> g_cards;

std::vector<std::shared_ptr<V4l2Card>> CurrentCards() {
  const std::vector<VideoNode> nodes = ScanVideoNodes();
  std::lock_guard lock(g_cardsMutex);
  std::map<std::string, std::shared_ptr<V4l2Card>> next;
  std::vector<std::shared_ptr<V4l2Card>> out;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    std::shared_ptr<V4l2Card> card;
    auto it = g_cards.find(nodes[i].path);
    if (it != g_cards.end() && !it->second->Lost() && it->second->Node().bus == nodes[i].bus &&
        it->second->Node().card == nodes[i].card)
      card = it->second;
    else
      card = std::make_shared<V4l2Card>(nodes[i], static_cast<int>(i), LibV4l2Calls());
    next[nodes[i].path] = card;
    out.push_back(card);
  }
  g_cards = std::move(next);
  return out;
}

HRESULT NewCaptureFilter(const std::shared_ptr<V4l2Card>& card, IBaseFilter** out) {
  if (HRESULT hr = card->Open(); FAILED(hr)) return hr;
  ComPtr<IBaseFilter> filter = static_cast<IBaseFilter*>(new V4l2VideoCapture(card));
  *out = filter.Detach();
  return S_OK;
}

std::string AlsaCardName(int card) {
  char* name = nullptr;
  std::string out = "ALSA card " + std::to_string(card);
  if (snd_card_get_name(card, &name) == 0 && name) {
    out = name;
    std::free(name);
  }
  return out;
}

}  // namespace

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

HRESULT CreateV4l2Capture(const VideoNode& node, V4l2Calls calls, IBaseFilter** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return NewCaptureFilter(std::make_shared<V4l2Card>(node, 0, std::move(calls)), out);
}

std::vector<RealDeviceEntry> ListRealDevices(const GUID& category) {
  std::vector<RealDeviceEntry> out;
  const bool video = category == CLSID_VideoInputDeviceCategory;
  const bool audio = category == CLSID_AudioInputDeviceCategory;
  if (!video && !audio) return out;
  for (const std::shared_ptr<V4l2Card>& card : CurrentCards()) {
    const VideoNode& n = card->Node();
    if (video) {
      out.push_back({n.card, n.path, [card](IBaseFilter** f) { return NewCaptureFilter(card, f); }});
      continue;
    }
    // The card's own sound device, else the system's default capture device.
    const int sound = SoundCardOfNode("/sys", n.path.substr(5));
    const std::string pcm = sound >= 0 ? "plughw:" + std::to_string(sound) + ",0" : "default";
    const std::string name = sound >= 0 ? AlsaCardName(sound) : n.card + " (default sound input)";
    const std::string instance = card->InstanceName("AudioCapture");
    out.push_back({name, "alsa:" + pcm, [pcm, instance](IBaseFilter** f) {
                     return CreateAlsaCaptureFilter(pcm, instance, f);
                   }});
  }
  return out;
}

}  // namespace orv::media
