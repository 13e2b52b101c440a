// The video renderer: keeps the newest frame and shows it, scaled, in a child window of its owner.
#include "platform/log.h"
#include "platform/media/writer/mediawriter.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/graph/levels.h"
#include "platform/ui/surface.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace orv::media {
namespace {

// The newest frame: written by the streaming thread, taken by the window when it paints. The
// streaming thread never waits for the window, and the window only for a copy.
struct FrameSlot {
  std::mutex mutex;
  std::vector<BYTE> frame;
  int width = 0;
  int height = 0;
  GUID subtype = GUID_NULL;
  bool fresh = false;
  bool wakePending = false;  // a repaint request is on its way to the user-interface thread
  HWND window = nullptr;
};

bool IsInputMessage(UINT m) {
  return (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) || m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR ||
         m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
}

class RendererWnd : public CWnd {
 public:
  explicit RendererWnd(std::shared_ptr<FrameSlot> slot) : m_slot(std::move(slot)) {}
  HWND m_hwndDrain = nullptr;

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
    if (message == WM_PAINT) {
      Paint();
      *result = 0;
      return true;
    }
    if (message == WM_ERASEBKGND) {  // the picture covers everything
      *result = 1;
      return true;
    }
    if (IsInputMessage(message) && m_hwndDrain && ::IsWindow(m_hwndDrain)) {
      Forward(message, wParam, lParam);
      *result = 0;
      return true;
    }
    return false;
  }

 private:
  void Paint() {
    CPaintDC dc(this);
    orv::ui::SurfaceBits surface;
    if (!orv::ui::PaintSurface(dc, &surface)) return;
    {
      std::lock_guard lock(m_slot->mutex);
      if (m_slot->fresh) {
        m_frame.swap(m_slot->frame);
        m_width = m_slot->width;
        m_height = m_slot->height;
        m_subtype = m_slot->subtype;
        m_slot->fresh = false;
      }
    }
    if (m_frame.empty() || !m_converter.Convert(m_subtype, m_frame.data(), m_frame.size(), m_width, m_height,
                                                surface.bits, surface.width, surface.height, surface.stride))
      dc.FillSolidRect(0, 0, surface.width, surface.height, RGB(0, 0, 0));
  }

  // Mouse points move into the drain's client coordinates.
  void Forward(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ::ClientToScreen(m_hWnd, &p);
      ::ScreenToClient(m_hwndDrain, &p);
      lParam = MAKELPARAM(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
    }
    MSG msg{m_hwndDrain, message, wParam, lParam, GetTickCount(), {0, 0}};
    AfxPumpMessage(&msg);
  }

  std::shared_ptr<FrameSlot> m_slot;
  std::vector<BYTE> m_frame;
  int m_width = 0;
  int m_height = 0;
  GUID m_subtype = GUID_NULL;
  FrameConverter m_converter;
};

class VideoRenderer : public FilterBase, public IVideoWindow, public IVideoDeinterlace {
 public:
  VideoRenderer() : FilterBase(CLSID_VideoRenderer, "VideoRenderer", "VideoRenderer"), m_slot(std::make_shared<FrameSlot>()) {
    // Any picture type; sound has nothing to show.
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr, true});
  }
  ~VideoRenderer() override { DestroyWnd(); }
  ORV_UNKNOWN_IMPL

  // Streaming thread: keep a copy and ask the window, once, to repaint.
  void Receive(PinBase*, const MediaSample& sample) override {
    const AM_MEDIA_TYPE* mt = sample.type;
    if (!mt || mt->formattype != FORMAT_VideoInfo || !mt->pbFormat || mt->cbFormat < sizeof(VIDEOINFOHEADER) ||
        !sample.data)
      return;
    // A writer that falls behind gets the machine: the file keeps its frames, the preview skips.
    if (WritersBehind()) {
      ++m_givenWay;
      return;
    }
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
    const int width = vih->bmiHeader.biWidth;
    const int height = vih->bmiHeader.biHeight < 0 ? -vih->bmiHeader.biHeight : vih->bmiHeader.biHeight;
    if (m_levels) m_levels->OfferPicture(mt->subtype, sample.data, sample.size, width, height);
    const BYTE* data = sample.data;
    std::size_t size = sample.size;
    if (Deinterlaced(mt->subtype, data, size, width, height)) data = m_woven.data(), size = m_woven.size();
    bool wake = false;
    {
      std::lock_guard lock(m_slot->mutex);
      m_slot->frame.assign(data, data + size);
      m_slot->width = width;
      m_slot->height = height;
      m_slot->subtype = mt->subtype;
      m_slot->fresh = true;
      if (!m_slot->wakePending && m_slot->window) wake = m_slot->wakePending = true;
    }
    if (!wake) return;
    QCoreApplication* app = QCoreApplication::instance();
    std::weak_ptr<FrameSlot> weak = m_slot;
    auto repaint = [weak] {
      std::shared_ptr<FrameSlot> slot = weak.lock();
      if (!slot) return;
      HWND h;
      {
        std::lock_guard lock(slot->mutex);
        slot->wakePending = false;
        h = slot->window;
      }
      ::InvalidateRect(h, nullptr, FALSE);
    };
    if (app) QMetaObject::invokeMethod(app, repaint, Qt::QueuedConnection);
  }

  HRESULT put_Deinterlace(BOOL on) override {
    m_deinterlace = on != FALSE;
    return S_OK;
  }

  HRESULT put_Owner(OAHWND owner) override {
    if (HRESULT hr = Check("put_Owner", owner ? "window" : "0"); hr != S_OK) return hr;
    const HWND h = reinterpret_cast<HWND>(owner);
    if (h && !::IsWindow(h)) return E_INVALIDARG;
    if (m_wnd && (!h || h != m_owner)) DestroyWnd();
    m_owner = h;
    if (h && !m_wnd) CreateWnd();
    return S_OK;
  }
  HRESULT put_MessageDrain(OAHWND drain) override {
    if (HRESULT hr = Check("put_MessageDrain", drain ? "window" : "0"); hr != S_OK) return hr;
    m_drain = reinterpret_cast<HWND>(drain);
    if (m_wnd) m_wnd->m_hwndDrain = m_drain;
    return S_OK;
  }
  HRESULT put_WindowStyle(LONG style) override {
    if (HRESULT hr = Check("put_WindowStyle", std::to_string(style)); hr != S_OK) return hr;
    m_style = style;
    return S_OK;
  }
  HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) override {
    if (HRESULT hr = Check("SetWindowPosition", std::to_string(left) + "," + std::to_string(top) + "," +
                                                    std::to_string(width) + "," + std::to_string(height));
        hr != S_OK)
      return hr;
    m_position = {left, top, left + std::max<LONG>(width, 0), top + std::max<LONG>(height, 0)};
    if (m_wnd && m_wnd->m_hWnd) Place();
    return S_OK;
  }
  HRESULT put_Visible(LONG visible) override {
    if (HRESULT hr = Check("put_Visible", std::to_string(visible)); hr != S_OK) return hr;
    m_visible = visible;
    if (m_wnd && m_wnd->m_hWnd) m_wnd->ShowWindow(visible ? SW_SHOW : SW_HIDE);
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IVideoWindow) return static_cast<IVideoWindow*>(this);
    if (riid == IID_IVideoDeinterlace) return static_cast<IVideoDeinterlace*>(this);
    return FilterBase::Lookup(riid);
  }

  HRESULT OnRun() override {
    m_levels = LevelsTapOf(Graph());  // before the sources run
    m_deinterlacing = false;
    return S_OK;
  }
  void OnStop() override {
    if (const long n = m_givenWay.exchange(0); n > 0)
      LogError("media", "the live picture gave way to the recording: %ld frames not shown", n);
  }

 private:
  // Streaming thread: the frame deinterlaced into m_woven when that is asked for and the source is
  // interlaced. The field order is asked again whenever the pictures change.
  bool Deinterlaced(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height) {
    if (!m_deinterlace) return m_deinterlacing = false;
    if (!m_deinterlacing || width != m_seenWidth || height != m_seenHeight || subtype != m_seenSubtype) {
      m_deinterlacing = true;
      m_seenWidth = width, m_seenHeight = height, m_seenSubtype = subtype;
      m_order = UpstreamFieldOrder(PinAt(0));
      m_deinterlacer.Reset();
    }
    if (m_order != AM_FIELDS_TOP_FIRST && m_order != AM_FIELDS_BOTTOM_FIRST) return false;
    return m_deinterlacer.Process(subtype, data, size, width, height, m_order == AM_FIELDS_TOP_FIRST, &m_woven);
  }

  void CreateWnd() {
    m_wnd = std::make_unique<RendererWnd>(m_slot);
    const DWORD style = WS_CHILD | (m_visible ? WS_VISIBLE : 0);
    if (!m_wnd->CreateEx(0, AfxRegisterWndClass(CS_DBLCLKS), "VideoRenderer", style, m_position.left, m_position.top,
                         m_position.right - m_position.left, m_position.bottom - m_position.top, m_owner, 0)) {
      m_wnd.reset();
      return;
    }
    m_wnd->m_hwndDrain = m_drain;
    std::lock_guard lock(m_slot->mutex);
    m_slot->window = m_wnd->m_hWnd;
  }

  void Place() {
    m_wnd->MoveWindow(m_position.left, m_position.top, m_position.right - m_position.left,
                      m_position.bottom - m_position.top, TRUE);
  }

  void DestroyWnd() {
    {
      std::lock_guard lock(m_slot->mutex);
      m_slot->window = nullptr;
    }
    if (!m_wnd) return;
    // Windows belong to the user-interface thread; a last release elsewhere hands it over.
    if (orv::ui::IsUiThread() || !QCoreApplication::instance()) {
      m_wnd.reset();
    } else {
      RendererWnd* wnd = m_wnd.release();
      QMetaObject::invokeMethod(QCoreApplication::instance(), [wnd] { delete wnd; }, Qt::QueuedConnection);
    }
  }

  std::shared_ptr<FrameSlot> m_slot;
  std::atomic<bool> m_deinterlace{false};
  std::atomic<long> m_givenWay{0};  // frames left out for a writer behind, since the graph last ran
  // Streaming thread only.
  bool m_deinterlacing = false;
  int m_seenWidth = 0, m_seenHeight = 0;
  GUID m_seenSubtype = GUID_NULL;
  AM_FIELD_ORDER m_order = AM_FIELDS_UNKNOWN;
  Deinterlacer m_deinterlacer;
  std::vector<BYTE> m_woven;
  std::shared_ptr<LevelsTap> m_levels;
  std::unique_ptr<RendererWnd> m_wnd;
  HWND m_owner = nullptr;
  HWND m_drain = nullptr;
  LONG m_style = 0;
  RECT m_position{};
  LONG m_visible = OAFALSE;
};

}  // namespace

ComPtr<IBaseFilter> NewVideoRenderer() { return static_cast<IBaseFilter*>(new VideoRenderer); }

}  // namespace orv::media
