// A V4L2 card's VBI device as a filter of its own: line 21 of both fields (525 lines) or line 23's
// wide-screen signalling and teletext (625 lines), one sample a frame, on the graph's clock from the
// buffers' stamps. The driver's sliced VBI where it offers the services, else its raw VBI lines
// sliced by libzvbi's raw decoder.
#include "platform/log.h"
#include "platform/media/devices/realcards.h"
#include "platform/media/devices/testing.h"
#include "platform/media/devices/v4l2device.h"
#include "platform/media/devices/v4l2policy.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/writer/captions.h"
#include "platform/media/writer/teletext.h"
#include "platform/media/writer/wss.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <libzvbi.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orv::media {
namespace {

constexpr REFERENCE_TIME kFrame525 = 333667, kFrame625 = 400000;
constexpr unsigned kBuffers = 8;
constexpr int kPollMs = 200;
// The raw lines a frame may carry: the libzvbi decoder's own limit is well below.
constexpr int kMaxSliced = 64;
// The first line of the second field, as V4L2 and libzvbi number the lines of 525.
constexpr unsigned kSecondField525 = 264;
// And of 625: V4L2 numbers each field's lines from 1, libzvbi the frame's.
constexpr unsigned kSecondField625 = 313;

std::atomic<bool> g_forceRaw{false};

int Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do r = ::ioctl(fd, request, arg);
  while (r < 0 && errno == EINTR);
  return r;
}

class V4l2VbiCapture : public FilterBase {
 public:
  V4l2VbiCapture(std::string path, const std::string& instance)
      : FilterBase(GUID_NULL, instance, "VbiCapture"), m_path(std::move(path)) {
    CAPTIONINFO info{kFrame525, 525};
    AM_MEDIA_TYPE mt{MEDIATYPE_AUXLine21Data, MEDIASUBTYPE_CcData, FALSE, FALSE, 0, FORMAT_CaptionInfo, nullptr,
                     sizeof info, reinterpret_cast<BYTE*>(&info)};
    auto format = std::make_shared<StreamFormat>(mt);
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_AUXLine21Data, true, true, format});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, MEDIATYPE_AUXLine21Data, true, true, format});
  }
  ~V4l2VbiCapture() override { StopReading(); }

 protected:
  // A VBI device that cannot stream (another program reads it, say) costs the captions only: the
  // picture and the sound go on.
  HRESULT OnRun() override {
    if (!PinAt(0)->IsConnected() && !PinAt(1)->IsConnected()) return S_OK;
    if (m_thread.joinable()) return S_OK;
    if (HRESULT hr = Begin(); FAILED(hr)) {
      LogError("v4l2", "%s cannot be read (%08x): no captions this time", m_path.c_str(), static_cast<unsigned>(hr));
      End();
      return S_OK;
    }
    m_stop = false;
    m_thread = std::thread([this] { Loop(); });
    return S_OK;
  }
  void OnStop() override { StopReading(); }

 private:
  void StopReading() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    End();
  }

  // Opens the node, picks sliced or raw VBI, maps the buffers and starts the stream.
  HRESULT Begin() {
    m_fd = ::open(m_path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) return DeviceErrorOf(errno);
    v4l2_std_id std = 0;
    m_period = Ioctl(m_fd, VIDIOC_G_STD, &std) == 0 && !(std & V4L2_STD_525_60) ? kFrame625 : kFrame525;
    m_sliced = !g_forceRaw && TrySliced();
    if (!m_sliced && !TryRaw()) return VFW_E_INVALIDMEDIATYPE;
    v4l2_requestbuffers req{};
    req.count = kBuffers;
    req.type = m_type;
    req.memory = V4L2_MEMORY_MMAP;
    if (Ioctl(m_fd, VIDIOC_REQBUFS, &req) < 0) return DeviceErrorOf(errno);
    if (req.count == 0) return E_OUTOFMEMORY;
    for (unsigned i = 0; i < req.count; ++i) {
      v4l2_buffer b{};
      b.type = m_type;
      b.memory = V4L2_MEMORY_MMAP;
      b.index = i;
      if (Ioctl(m_fd, VIDIOC_QUERYBUF, &b) < 0) return DeviceErrorOf(errno);
      void* p = ::mmap(nullptr, b.length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, b.m.offset);
      if (p == MAP_FAILED) return DeviceErrorOf(errno);
      m_buffers.push_back({p, b.length});
      if (Ioctl(m_fd, VIDIOC_QBUF, &b) < 0) return DeviceErrorOf(errno);
    }
    int type = static_cast<int>(m_type);
    if (Ioctl(m_fd, VIDIOC_STREAMON, &type) < 0) return DeviceErrorOf(errno);
    return S_OK;
  }

  bool Lines525() const { return m_period == kFrame525; }

  // The driver's own slicer, when it offers the service of the standard's lines.
  bool TrySliced() {
    const unsigned service = Lines525() ? V4L2_SLICED_CAPTION_525 : V4L2_SLICED_WSS_625 | V4L2_SLICED_TELETEXT_B;
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_SLICED_VBI_CAPTURE;
    f.fmt.sliced.service_set = static_cast<__u16>(service);
    if (Ioctl(m_fd, VIDIOC_S_FMT, &f) < 0 || !(f.fmt.sliced.service_set & service)) return false;
    m_type = V4L2_BUF_TYPE_SLICED_VBI_CAPTURE;
    return true;
  }

  // Raw VBI lines, sliced here by libzvbi with the sampling the driver gives.
  bool TryRaw() {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VBI_CAPTURE;
    if (Ioctl(m_fd, VIDIOC_G_FMT, &f) < 0 || f.fmt.vbi.sample_format != V4L2_PIX_FMT_GREY) {
      LogError("v4l2", "%s offers neither sliced captions nor raw VBI lines it can be read from", m_path.c_str());
      return false;
    }
    Ioctl(m_fd, VIDIOC_S_FMT, &f);  // some drivers want it set before streaming
    const v4l2_vbi_format& v = f.fmt.vbi;
    vbi_raw_decoder_init(&m_raw);
    m_rawReady = true;
    m_raw.scanning = m_period == kFrame525 ? 525 : 625;
    m_raw.sampling_format = VBI_PIXFMT_YUV420;  // one byte a sample (the luma plane's format)
    m_raw.sampling_rate = static_cast<int>(v.sampling_rate);
    m_raw.bytes_per_line = static_cast<int>(v.samples_per_line);
    m_raw.offset = static_cast<int>(v.offset);
    m_raw.start[0] = static_cast<int>(v.start[0]);
    m_raw.start[1] = static_cast<int>(v.start[1]);
    m_raw.count[0] = static_cast<int>(v.count[0]);
    m_raw.count[1] = static_cast<int>(v.count[1]);
    m_raw.interlaced = (v.flags & V4L2_VBI_INTERLACED) != 0;
    m_raw.synchronous = (v.flags & V4L2_VBI_UNSYNC) == 0;
    const unsigned service = Lines525() ? VBI_SLICED_CAPTION_525 : VBI_SLICED_WSS_625 | VBI_SLICED_TELETEXT_B;
    if (!(vbi_raw_decoder_add_services(&m_raw, service, 0) & service)) {
      LogError("v4l2", "%s: its raw VBI lines cannot carry %s", m_path.c_str(), Lines525() ? "line 21" : "line 23 nor teletext");
      return false;
    }
    m_type = V4L2_BUF_TYPE_VBI_CAPTURE;
    return true;
  }

  void End() {
    if (m_fd >= 0) {
      int type = static_cast<int>(m_type);
      Ioctl(m_fd, VIDIOC_STREAMOFF, &type);
    }
    for (const auto& [p, length] : m_buffers) ::munmap(p, length);
    m_buffers.clear();
    if (m_fd >= 0) {
      v4l2_requestbuffers req{};
      req.type = m_type;
      req.memory = V4L2_MEMORY_MMAP;
      Ioctl(m_fd, VIDIOC_REQBUFS, &req);
      ::close(m_fd);
    }
    m_fd = -1;
    if (m_rawReady) vbi_raw_decoder_destroy(&m_raw);
    m_rawReady = false;
  }

  void Loop() {
    const AM_MEDIA_TYPE* type = nullptr;
    AM_MEDIA_TYPE mt{};
    if (SUCCEEDED(PinAt(0)->OfferedType(&mt))) type = &mt;
    while (!m_stop) {
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, kPollMs) <= 0) continue;
      v4l2_buffer b{};
      b.type = m_type;
      b.memory = V4L2_MEMORY_MMAP;
      if (Ioctl(m_fd, VIDIOC_DQBUF, &b) < 0) {
        if (errno == EAGAIN) continue;
        LogErrno("v4l2", "%s: the VBI stream ended", m_path.c_str());
        break;
      }
      const REFERENCE_TIME at = PictureStart(b, m_period, MonotonicNow()) - StreamStart();
      const auto* data = static_cast<std::uint8_t*>(m_buffers[b.index].first);
      const std::vector<std::uint8_t> pairs = m_sliced ? FromSliced(data, b.bytesused) : FromRaw(data);
      Ioctl(m_fd, VIDIOC_QBUF, &b);
      if (pairs.empty()) continue;  // nothing on the 625 lines' VBI in this frame
      const MediaSample sample{pairs.data(), pairs.size(), at, at + m_period, type};
      std::shared_lock lock(StreamMutex());
      PinAt(0)->Deliver(sample);
      PinAt(1)->Deliver(sample);
    }
    FreeMediaType(mt);
  }

  // Line 21 of each field as cc_data triplets: field 1 first; a field without it carries nulls.
  static std::vector<std::uint8_t> Pairs(const std::uint8_t* field1, const std::uint8_t* field2) {
    const std::uint8_t null[2] = {cc::kNull, cc::kNull};
    if (!field1) field1 = null;
    if (!field2) field2 = null;
    return {cc::kField1, field1[0], field1[1], cc::kField2, field2[0], field2[1]};
  }

  // Line 23 as its triplet, then the teletext packets; nothing for what the frame lacks.
  using Lines = std::vector<std::pair<unsigned, const std::uint8_t*>>;  // line numbers and their data
  static std::vector<std::uint8_t> Lines625(const std::uint8_t* wss, const Lines& teletext) {
    std::vector<std::uint8_t> out;
    if (wss) {
      const auto t = wss::Triplet(static_cast<std::uint16_t>(wss[0] | wss[1] << 8));
      out.assign(t.begin(), t.end());
    }
    for (const auto& [line, packet] : teletext) ttx::AppendPacket(out, line, packet);
    return out;
  }

  std::vector<std::uint8_t> FromSliced(const std::uint8_t* data, std::size_t size) const {
    const std::uint8_t* fields[2] = {};
    const std::uint8_t* wss = nullptr;
    Lines teletext;
    const auto* lines = reinterpret_cast<const v4l2_sliced_vbi_data*>(data);
    for (std::size_t i = 0; i < size / sizeof(v4l2_sliced_vbi_data); ++i) {
      if ((lines[i].id & V4L2_SLICED_CAPTION_525) && lines[i].field < 2) fields[lines[i].field] = lines[i].data;
      if (lines[i].id & V4L2_SLICED_WSS_625) wss = lines[i].data;
      // The frame's line numbers, as libzvbi's raw decoder gives them.
      if (lines[i].id & V4L2_SLICED_TELETEXT_B)
        teletext.emplace_back(lines[i].line + (lines[i].field ? kSecondField625 : 0), lines[i].data);
    }
    return Lines525() ? Pairs(fields[0], fields[1]) : Lines625(wss, teletext);
  }

  std::vector<std::uint8_t> FromRaw(const std::uint8_t* data) {
    vbi_sliced sliced[kMaxSliced];
    const int n = vbi_raw_decode(&m_raw, const_cast<std::uint8_t*>(data), sliced);
    const std::uint8_t* fields[2] = {};
    const std::uint8_t* wss = nullptr;
    Lines teletext;
    // The decoder names both fields' line 21 alike: the line number tells them apart.
    for (int i = 0; i < n; ++i) {
      if (sliced[i].id & VBI_SLICED_CAPTION_525) fields[sliced[i].line >= kSecondField525 ? 1 : 0] = sliced[i].data;
      if (sliced[i].id & VBI_SLICED_WSS_625) wss = sliced[i].data;
      if (sliced[i].id & VBI_SLICED_TELETEXT_B) teletext.emplace_back(sliced[i].line, sliced[i].data);
    }
    return Lines525() ? Pairs(fields[0], fields[1]) : Lines625(wss, teletext);
  }

  std::string m_path;
  int m_fd = -1;
  v4l2_buf_type m_type = V4L2_BUF_TYPE_VBI_CAPTURE;
  bool m_sliced = false;
  REFERENCE_TIME m_period = kFrame525;
  vbi_raw_decoder m_raw{};
  bool m_rawReady = false;
  std::vector<std::pair<void*, std::size_t>> m_buffers;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

std::string VbiNodeOf(const std::string& sysfsRoot, const std::string& node) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path video = fs::canonical(fs::path(sysfsRoot) / "class/video4linux" / node / "device", ec);
  if (ec) return "";
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class/video4linux", ec)) {
    const std::string name = entry.path().filename().string();
    std::error_code e2;
    if (name.rfind("vbi", 0) == 0 && fs::canonical(entry.path() / "device", e2) == video && !e2) found.push_back(name);
  }
  if (found.empty()) return "";
  // The lowest number, as the driver made them in pairs.
  std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return "/dev/" + found.front();
}

HRESULT NewV4l2VbiFilter(const std::string& path, const std::string& instance, IBaseFilter** out) {
  if (!out) return E_POINTER;
  ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(new V4l2VbiCapture(path, instance));
  *out = f.Detach();
  return S_OK;
}

void SetRawVbiForTests(bool raw) { g_forceRaw = raw; }

}  // namespace orv::media
