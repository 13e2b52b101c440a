#include "dialogs/LevelViews.h"

#include "common/Commands.h"
#include "platform/ui/afxdlgs.h"
#include "platform/ui/afxres.h"
#include "platform/ui/surface.h"
#include "res/resource.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr std::uint32_t kBackground = 0xff000000;
constexpr std::uint32_t kLimitLine = 0xffd04040;  // black and white of the luma scale
constexpr std::uint32_t kHistogramBar = 0xffc0c0c0;
constexpr std::uint32_t kMeterUnlit = 0xff303030, kMeterTick = 0xff101010, kHold = 0xffffffff;
constexpr std::uint32_t kMeterLow = 0xff30c040, kMeterHigh = 0xffe0c020, kMeterTop = 0xffe03030;
constexpr std::uint32_t kClipOn = 0xffff2020, kClipOff = 0xff402020;
// Where the meters turn yellow and red, in dBFS.
constexpr double kMeterHighDb = -18.0, kMeterTopDb = -6.0;

class Pixels {
 public:
  Pixels(BYTE* bits, int width, int height, int stride) : m_bits(bits), m_w(width), m_h(height), m_stride(stride) {}
  void Fill(int x, int y, int w, int h, std::uint32_t colour) {
    const int x0 = std::max(0, x), x1 = std::min(m_w, x + w), y0 = std::max(0, y), y1 = std::min(m_h, y + h);
    for (int row = y0; row < y1; ++row) std::fill(Row(row) + x0, Row(row) + std::max(x0, x1), colour);
  }
  void Set(int x, int y, std::uint32_t colour) {
    if (x >= 0 && x < m_w && y >= 0 && y < m_h) Row(y)[x] = colour;
  }
  std::uint32_t* Row(int y) { return reinterpret_cast<std::uint32_t*>(m_bits + static_cast<std::ptrdiff_t>(y) * m_stride); }

 private:
  BYTE* m_bits;
  int m_w, m_h, m_stride;
};

// The luma codes (or waveform columns) that pixel `i` of `pixels` covers: at least one.
std::pair<int, int> Span(int i, int pixels, int codes) {
  const int first = i * codes / pixels;
  return {first, std::max(first + 1, (i + 1) * codes / pixels)};
}

}  // namespace

// ---- Views ----------------------------------------------------------------------------------------

BOOL CLevelView::CreateOver(CWnd* dialog, int placeholderId) {
  const HWND placeholder = ::GetDlgItem(dialog->m_hWnd, placeholderId);
  if (!placeholder) return FALSE;
  RECT r{};
  ::GetWindowRect(placeholder, &r);
  POINT topLeft{r.left, r.top};
  dialog->ScreenToClient(&topLeft);
  ::DestroyWindow(placeholder);  // the view takes its id
  return CreateEx(0, AfxRegisterWndClass(0), "", WS_CHILD | WS_VISIBLE, topLeft.x, topLeft.y, r.right - r.left,
                  r.bottom - r.top, dialog->m_hWnd, static_cast<UINT>(placeholderId));
}

bool CLevelView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_ERASEBKGND) {  // the view covers itself
    *result = 1;
    return true;
  }
  if (message != WM_PAINT) return false;
  CPaintDC dc(this);
  orv::ui::SurfaceBits surface;
  if (orv::ui::PaintSurface(dc, &surface)) Draw(surface.bits, surface.width, surface.height, surface.stride);
  *result = 0;
  return true;
}

void CPictureLevelView::Show(const orv::PictureLevels* levels, bool valid) {
  m_levels = levels;
  m_valid = valid && levels;
  Invalidate(FALSE);
}

void CWaveformView::Draw(BYTE* bits, int width, int height, int stride) {
  Pixels px(bits, width, height, stride);
  px.Fill(0, 0, width, height, kBackground);
  if (width <= 0 || height <= 0) return;
  if (m_valid) {
    for (int y = 0; y < height; ++y) {
      // Row 0 is the brightest level.
      const auto [low, high] = Span(height - 1 - y, height, orv::kLumaCodes);
      std::uint32_t* row = px.Row(y);
      for (int x = 0; x < width; ++x) {
        const auto [first, last] = Span(x, width, orv::kWaveColumns);
        int v = 0;
        for (int code = low; code < high; ++code)
          for (int c = first; c < last; ++c) v = std::max<int>(v, m_levels->waveform[code][c]);
        if (v) row[x] = 0xff000000u | static_cast<std::uint32_t>(v * 3 / 5) << 16 | static_cast<std::uint32_t>(v) << 8 |
                        static_cast<std::uint32_t>(v * 3 / 5);
      }
    }
  }
  for (int code : {orv::kLumaBlack, orv::kLumaWhite}) {
    const int y = height - 1 - code * height / orv::kLumaCodes;
    for (int x = 0; x < width; x += 6) px.Fill(x, y, 3, 1, kLimitLine);
  }
}

void CHistogramView::Draw(BYTE* bits, int width, int height, int stride) {
  Pixels px(bits, width, height, stride);
  px.Fill(0, 0, width, height, kBackground);
  if (width <= 0 || height <= 0) return;
  if (m_valid) {
    const std::uint32_t most = *std::max_element(std::begin(m_levels->histogram), std::end(m_levels->histogram));
    for (int x = 0; most && x < width; ++x) {
      const auto [first, last] = Span(x, width, orv::kLumaCodes);
      const std::uint32_t n = *std::max_element(m_levels->histogram + first, m_levels->histogram + last);
      if (!n) continue;
      const int bar = std::max(1, static_cast<int>(static_cast<std::uint64_t>(n) * height / most));
      px.Fill(x, height - bar, 1, bar, kHistogramBar);
    }
  }
  for (int code : {orv::kLumaBlack, orv::kLumaWhite}) {
    const int x = code * width / orv::kLumaCodes;
    for (int y = 0; y < height; y += 6) px.Fill(x, y, 1, 3, kLimitLine);
  }
}

void CMeterView::Show(const orv::SoundLevels& levels) {
  m_levels = levels;
  Invalidate(FALSE);
}

bool CMeterView::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_LBUTTONDOWN) {
    ::SendMessageA(::GetParent(m_hWnd), WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), BN_CLICKED),
                   reinterpret_cast<LPARAM>(m_hWnd));
    *result = 0;
    return true;
  }
  return CLevelView::OnWndMsg(message, wParam, lParam, result);
}

void CMeterView::Draw(BYTE* bits, int width, int height, int stride) {
  Pixels px(bits, width, height, stride);
  px.Fill(0, 0, width, height, kBackground);
  // Two empty bars while nothing is measured.
  const int channels = m_levels.channels > 0 ? std::min(m_levels.channels, orv::kMeterChannels) : 2;
  constexpr int kGap = 2;
  const int barHeight = std::max(1, (height - kGap * (channels - 1)) / channels);
  const int clipWidth = std::clamp(width / 12, 4, 12);
  const int barWidth = std::max(1, width - clipWidth - kGap);
  auto xOf = [&](double db) {
    const double share = (std::clamp(db, orv::kMeterFloorDb, 0.0) - orv::kMeterFloorDb) / -orv::kMeterFloorDb;
    return static_cast<int>(std::lround(share * barWidth));
  };
  for (int ch = 0; ch < channels; ++ch) {
    const int y = ch * (barHeight + kGap);
    const bool measured = ch < m_levels.channels;
    px.Fill(0, y, barWidth, barHeight, kMeterUnlit);
    if (measured) {
      const int lit = xOf(m_levels.peakDb[ch]), high = xOf(kMeterHighDb), top = xOf(kMeterTopDb);
      px.Fill(0, y, std::min(lit, high), barHeight, kMeterLow);
      px.Fill(high, y, std::min(lit, top) - high, barHeight, kMeterHigh);
      px.Fill(top, y, lit - top, barHeight, kMeterTop);
    }
    for (double db = orv::kMeterFloorDb + 6; db < 0; db += 6) px.Fill(xOf(db), y, 1, barHeight, kMeterTick);
    if (measured && m_levels.holdDb[ch] > orv::kMeterFloorDb)
      px.Fill(std::min(xOf(m_levels.holdDb[ch]), barWidth - 2), y, 2, barHeight, kHold);
    px.Fill(width - clipWidth, y, clipWidth, barHeight, measured && m_levels.clipped[ch] ? kClipOn : kClipOff);
  }
}

void AskForLevelsWindow() {
  if (CWnd* main = AfxGetMainWnd()) SendMessageA(main->m_hWnd, WM_TUNER_NOTIFY, VideoCmd::OpenLevels, 0);
}

// ---- Readouts -------------------------------------------------------------------------------------

std::string PictureReadout(const orv::PictureLevels* levels, bool valid) {
  if (!valid || !levels) {
    CString waiting;
    waiting.LoadString(IDS_LEVELS_NO_PICTURE);
    return waiting.str();
  }
  char brng[16];
  std::snprintf(brng, sizeof brng, "%.1f", levels->brng * 100.0);
  return AfxFormatString(IDS_LEVELS_PICTURE, levels->ymin, levels->ymax, brng);
}

std::string SoundReadout(const orv::SoundLevels& levels) {
  if (levels.channels <= 0) {
    CString none;
    none.LoadString(IDS_LEVELS_NO_SOUND);
    return none.str();
  }
  std::string peaks;
  for (int ch = 0; ch < std::min(levels.channels, orv::kMeterChannels); ++ch) {
    char value[16];
    if (levels.peakDb[ch] < orv::kMeterFloorDb)
      std::snprintf(value, sizeof value, "<%.0f", orv::kMeterFloorDb);
    else
      std::snprintf(value, sizeof value, "%.1f", levels.peakDb[ch]);
    if (!peaks.empty()) peaks += " / ";
    peaks += levels.clipped[ch] ? AfxFormatString(IDS_LEVELS_CLIPPED, value) : std::string(value);
  }
  return AfxFormatString(IDS_LEVELS_SOUND, peaks.c_str());
}
