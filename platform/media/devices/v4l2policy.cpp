#include "platform/media/devices/v4l2policy.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace orv::media {

// ---- Crossbar layout ----------------------------------------------------------------------------------

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

// ---- Picture controls ---------------------------------------------------------------------------------

LONG ToDriverValue(const DriverRange& r, LONG shown) {
  const long long v = static_cast<long long>(r.min) + shown;
  return static_cast<LONG>(std::clamp<long long>(v, r.min, r.max));
}

LONG FromDriverValue(const DriverRange& r, LONG driver) { return driver - r.min; }

// ---- TV standard --------------------------------------------------------------------------------------

StdMask ChooseStandard(const CardInput& in, StdMask planStandard, StdMask detected, StdMask current) {
  if (!in.hasStandard) return 0;  // a webcam or digital input
  StdMask want = in.tuner ? planStandard : detected;
  if (in.standards) want &= in.standards;
  if (!want || (current && (current & ~want) == 0)) return 0;
  return want;
}

// ---- Picture formats ----------------------------------------------------------------------------------

namespace {
// In the order they are preferred; RGB last.
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

}  // namespace

const PixelKind& RgbKind() { return kPixelKinds[std::size(kPixelKinds) - 1]; }

const PixelKind* KindOf(std::uint32_t v4l2) {
  for (const PixelKind& k : kPixelKinds)
    if (k.v4l2 == v4l2) return &k;
  return nullptr;
}
const PixelKind* KindOfSubtype(const GUID& subtype) {
  for (const PixelKind& k : kPixelKinds)
    if (subtype == *k.subtype) return &k;
  return nullptr;
}

bool BottomUp(const PixelKind& k) { return &k == &RgbKind(); }

const PixelKind& ChooseKind(const std::vector<std::uint32_t>& native) {
  for (const PixelKind& k : kPixelKinds)
    if (std::find(native.begin(), native.end(), k.v4l2) != native.end()) return k;
  return RgbKind();
}

PictureSize ChooseSize(bool takesVga, StdMask standard, PictureSize driver) {
  if (takesVga) return {640, 480};
  if (standard) return {static_cast<std::uint32_t>(kStandardWidth), StandardLines(standard)};
  return driver;
}

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
std::size_t Extent(const std::vector<Plane>& planes) {
  std::size_t end = 0;
  for (const Plane& p : planes)
    if (p.rows) end = std::max(end, p.offset + p.stride * (p.rows - 1) + p.bytes);
  return end;
}
namespace {
// As stored: rows packed tight, a DIB's padded to 4 bytes.
std::size_t StoredStride(const PixelKind& k, std::uint32_t width) {
  const std::size_t row = k.layout == Layout::Packed ? std::size_t{width} * k.bytesPerPixel : width;
  return BottomUp(k) ? (row + 3) & ~std::size_t{3} : row;
}
}  // namespace

std::vector<Plane> StoredPlanes(const PixelKind& k, std::uint32_t width, std::uint32_t height) {
  return PlanesOf(k, width, height, StoredStride(k, width));
}
std::size_t StoredSize(const PixelKind& k, std::uint32_t width, std::uint32_t height) {
  const std::vector<Plane> p = StoredPlanes(k, width, height);
  return p.empty() ? 0 : p.back().offset + p.back().stride * p.back().rows;
}

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
  // A rate beyond the field's range (a driver's period of a few 100 ns units) says its largest.
  if (avgTimePerFrame > 0)
    vih->dwBitRate = static_cast<DWORD>(
        std::min(vih->bmiHeader.biSizeImage * 8.0 * 1e7 / static_cast<double>(avgTimePerFrame), 4294967295.0));
  mt.lSampleSize = compressed ? 0 : vih->bmiHeader.biSizeImage;
  mt.cbFormat = sizeof(VIDEOINFOHEADER);
  mt.pbFormat = reinterpret_cast<BYTE*>(vih);
  return mt;
}

REFERENCE_TIME PeriodOf(const v4l2_fract& f) {
  if (f.numerator == 0 || f.denominator == 0) return 0;
  return static_cast<REFERENCE_TIME>(10000000.0 * f.numerator / f.denominator + 0.5);
}

REFERENCE_TIME PictureStart(const v4l2_buffer& b, REFERENCE_TIME span, REFERENCE_TIME dequeued) {
  if ((b.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC) return dequeued - span;
  const REFERENCE_TIME stamp =
      static_cast<REFERENCE_TIME>(b.timestamp.tv_sec) * 10000000 + static_cast<REFERENCE_TIME>(b.timestamp.tv_usec) * 10;
  return (b.flags & V4L2_BUF_FLAG_TSTAMP_SRC_MASK) == V4L2_BUF_FLAG_TSTAMP_SRC_SOE ? stamp : stamp - span;
}

// ---- Fields -------------------------------------------------------------------------------------------

AM_FIELD_ORDER FieldOrderOf(std::uint32_t v4l2Field, StdMask standard, std::uint32_t firstField) {
  switch (v4l2Field) {
    case V4L2_FIELD_NONE:
    case V4L2_FIELD_TOP:
    case V4L2_FIELD_BOTTOM: return AM_FIELDS_PROGRESSIVE;
    case V4L2_FIELD_INTERLACED_TB: return AM_FIELDS_TOP_FIRST;
    case V4L2_FIELD_INTERLACED_BT: return AM_FIELDS_BOTTOM_FIRST;
    case V4L2_FIELD_INTERLACED: return InterlacedFieldOrder(standard);
    case V4L2_FIELD_ALTERNATE:
      if (firstField == V4L2_FIELD_TOP) return AM_FIELDS_TOP_FIRST;
      if (firstField == V4L2_FIELD_BOTTOM) return AM_FIELDS_BOTTOM_FIRST;
      return InterlacedFieldOrder(standard);
    default: return AM_FIELDS_UNKNOWN;
  }
}

bool FieldWeaver::Add(const FrameFormat& f, const BYTE* data, std::size_t used, std::uint32_t field,
                      REFERENCE_TIME at, std::uint32_t sequence) {
  if (field != V4L2_FIELD_TOP && field != V4L2_FIELD_BOTTOM) return false;
  const PixelKind& k = *f.kind;
  const std::vector<Plane> rows = PlanesOf(k, f.width, f.height / 2, f.stride);
  if (used < Extent(rows)) return false;
  if (!m_first) m_first = f.firstField ? f.firstField : field;
  // The second field carries its first's number, or the next where the driver counts fields.
  const std::uint32_t step = sequence - m_sequence;
  const bool second = m_pending && field != m_first && (step == 0 || (step == 1 && !m_countsFrames));
  m_pending = false;
  if (!second) {
    if (field != m_first) return false;  // its first field was lost
    m_frame.resize(StoredSize(k, f.width, f.height));
    m_pending = true;
    m_field = field;
    m_at = at;
    m_sequence = sequence;
  }
  CopyRows(data, rows, m_frame.data(), StoredPlanes(k, f.width, f.height), 2, field == V4L2_FIELD_TOP ? 0 : 1,
           BottomUp(k));
  if (!second) return false;
  if (step == 0)
    m_countsFrames = true;
  else
    m_sequence /= 2;
  return true;
}

// ---- Frame rate and dropped frames --------------------------------------------------------------------

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
    // The lost frames at once, not one by one: a driver's count may jump by billions. Each brings
    // the source's duration; every wanted duration gathered was a frame of the file.
    if (m_wanted * 100 <= m_source * 101) {
      *missed = lost;
    } else {
      const __int128 gathered = m_credit + static_cast<__int128>(m_source) * lost;
      *missed = static_cast<std::uint32_t>(gathered / m_wanted);
      m_credit = static_cast<REFERENCE_TIME>(gathered % m_wanted);
    }
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

// ---- Tuner --------------------------------------------------------------------------------------------

LockWatch::Verdict LockWatch::Reading(REFERENCE_TIME since, int signal) {
  if (since >= kSettle) {
    if (m_firstAt < 0) m_firstAt = since;
    if (signal <= 0)
      m_lockedSince = -1;
    else if (m_lockedSince < 0)
      m_lockedSince = since;
    else if (since - m_lockedSince >= kHold)
      return Verdict::Found;
  }
  // Give up once no lock can hold long enough within the budget.
  const REFERENCE_TIME budget = std::max(kBudget, (m_firstAt >= 0 ? m_firstAt : since) + kBudget - kSettle);
  const REFERENCE_TIME from = m_lockedSince >= 0 ? m_lockedSince : std::max(since, kSettle);
  return since >= budget || from + kHold > budget ? Verdict::NotFound : Verdict::Wait;
}

}  // namespace orv::media
