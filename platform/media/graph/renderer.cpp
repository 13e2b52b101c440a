// The video renderer: keeps the newest picture and shows it, scaled, in a child window of its owner.
#include "platform/log.h"
#include "platform/media/writer/mediawriter.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/frameconverter.h"
#include "platform/media/graph/levels.h"
#include "platform/media/late/late.h"
#include "platform/media/writer/captions.h"
#include "platform/ui/surface.h"

#include <QCoreApplication>
#include <QFont>
#include <QImage>
#include <QMetaObject>
#include <QPainter>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <utility>

namespace orv::media {
namespace {

// The newest picture: put there by the streaming thread or the deinterlacing thread, taken by the
// window when it paints. Pictures change hands by swapping, so nobody waits for a copy.
struct FrameSlot {
  std::mutex mutex;
  PreviewPicture picture;
  std::vector<cc::Row> captions;  // what line 21's channel 1 shows now, drawn over the picture
  bool fresh = false;
  bool wakePending = false;  // a repaint request is on its way to the user-interface thread
  HWND window = nullptr;
};

// Any thread: *picture becomes the newest and the window is asked, once, to repaint. *picture
// comes back empty (a picture the window never took goes back to its pool).
void Publish(const std::shared_ptr<FrameSlot>& slot, PreviewPicture* picture) {
  bool wake = false;
  {
    std::lock_guard lock(slot->mutex);
    slot->picture.Swap(*picture);
    slot->fresh = true;
    if (!slot->wakePending && slot->window) wake = slot->wakePending = true;
  }
  picture->Clear();
  QCoreApplication* app = QCoreApplication::instance();
  if (!wake || !app) return;
  std::weak_ptr<FrameSlot> weak = slot;
  auto repaint = [weak] {
    std::shared_ptr<FrameSlot> s = weak.lock();
    if (!s) return;
    HWND h;
    {
      std::lock_guard lock(s->mutex);
      s->wakePending = false;
      h = s->window;
    }
    // Painted now rather than on a later turn of the event loop: one wake-up a picture.
    ::InvalidateRect(h, nullptr, FALSE);
    ::UpdateWindow(h);
  };
  QMetaObject::invokeMethod(app, repaint, Qt::QueuedConnection);
}

// Deinterlaces on a thread of its own while the graph runs, so that the card's streaming thread
// only copies. When pictures come faster than it deinterlaces, the newest waiting one wins.
class DeinterlaceThread {
 public:
  explicit DeinterlaceThread(std::shared_ptr<FrameSlot> slot) : m_slot(std::move(slot)) {}
  DeinterlaceThread(const DeinterlaceThread&) = delete;
  DeinterlaceThread& operator=(const DeinterlaceThread&) = delete;
  ~DeinterlaceThread() { Stop(); }

  // The thread's owner, between the graph's run and stop.
  void Start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) return;
    m_stop = false;
    m_restart = true;
    m_thread = std::thread([this] { Run(); });
  }
  void Stop() {
    std::thread thread;
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
      thread = std::move(m_thread);
    }
    m_wake.notify_one();
    if (thread.joinable()) thread.join();
    std::lock_guard lock(m_mutex);
    m_waiting.Clear();
    m_has = false;
  }

  // Streaming thread: takes *picture, which comes back empty; restart: a new stream. False, the
  // picture left alone, while the thread is not running.
  bool Push(PreviewPicture* picture, bool topFirst, bool restart) {
    {
      std::lock_guard lock(m_mutex);
      if (!m_thread.joinable() || m_stop) return false;
      m_waiting.Swap(*picture);
      m_has = true;
      m_topFirst = topFirst;
      m_restart = m_restart || restart;
    }
    picture->Clear();
    m_wake.notify_one();
    return true;
  }

 private:
  void Run() {
    PreviewPicture in, out;
    Deinterlacer deinterlacer;
    bool shownOne = false;
    for (;;) {
      bool topFirst, restart;
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_stop || m_has; });
        if (m_stop) return;
        in.Swap(m_waiting);
        m_has = false;
        topFirst = m_topFirst;
        restart = std::exchange(m_restart, false);
      }
      if (restart) deinterlacer.Reset();
      // libavfilter is loaded after the first picture, not before it: until then, while the filter
      // waits for its next picture, and should it fail, the picture shows as it came.
      const bool ready = late::Loaded(late::Library::Filter);
      if (!ready && std::exchange(shownOne, true)) late::LoadAllSoon();
      Publish(m_slot, ready && deinterlacer.Process(in, topFirst, &out) ? &out : &in);
      in.Clear();
    }
  }

  std::shared_ptr<FrameSlot> m_slot;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
  PreviewPicture m_waiting;
  bool m_has = false;
  bool m_topFirst = true;
  bool m_restart = true;
  bool m_stop = false;
};

// With ORVANE_EXIT_AFTER_FIRST_PICTURE set, the program ends once its first picture is on the
// screen (after that paint): how bench/startup times the start.
bool ExitAfterFirstPicture() {
  static const bool on = std::getenv("ORVANE_EXIT_AFTER_FIRST_PICTURE") != nullptr;
  return on;
}

bool IsInputMessage(UINT m) {
  return (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) || m == WM_KEYDOWN || m == WM_KEYUP || m == WM_CHAR ||
         m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
}

// Captions as a television's decoder draws them: white characters on black boxes in a grid of 15
// rows of 32 columns over the middle 80% of the picture (its safe title area).
void DrawCaptions(const std::vector<cc::Row>& rows, const orv::ui::SurfaceBits& surface) {
  constexpr double kSafe = 0.8;
  constexpr int kRows = 15;
  if (rows.empty() || surface.width <= 0 || surface.height <= 0) return;
  QImage image(surface.bits, surface.width, surface.height, surface.stride, QImage::Format_RGB32);
  QPainter painter(&image);
  const double cellH = surface.height * kSafe / kRows, cellW = surface.width * kSafe / cc::kColumns;
  const double left = surface.width * (1 - kSafe) / 2, top = surface.height * (1 - kSafe) / 2;
  QFont font(QStringLiteral("monospace"));
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(std::max(6, static_cast<int>(cellH * 0.8)));
  painter.setFont(font);
  for (const cc::Row& row : rows) {
    const QString text = QString::fromUtf8(row.text.data(), static_cast<qsizetype>(row.text.size()));
    const QRectF box(left + row.column * cellW, top + (row.row - 1) * cellH, text.size() * cellW, cellH);
    painter.fillRect(box.adjusted(-cellW / 2, 0, cellW / 2, 0), Qt::black);
    painter.setPen(Qt::white);
    for (qsizetype i = 0; i < text.size(); ++i)
      painter.drawText(QRectF(box.left() + i * cellW, box.top(), cellW, cellH), Qt::AlignCenter, text.mid(i, 1));
  }
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
    std::vector<cc::Row> captions;
    {
      std::lock_guard lock(m_slot->mutex);
      if (m_slot->fresh) {
        m_picture.Swap(m_slot->picture);
        m_slot->fresh = false;
      }
      captions = m_slot->captions;
    }
    if (m_converter.Convert(m_picture, surface.bits, surface.width, surface.height, surface.stride)) {
      DrawCaptions(captions, surface);
      if (!std::exchange(m_shownOne, true)) {
        if (ExitAfterFirstPicture())
          QMetaObject::invokeMethod(QCoreApplication::instance(), [] { std::_Exit(0); }, Qt::QueuedConnection);
        // What the first picture did not need comes now, before anyone records or deinterlaces.
        late::LoadAllSoon();
      }
      return;
    }
    for (int y = 0; y < surface.height; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(surface.bits + static_cast<std::ptrdiff_t>(y) * surface.stride);
      std::fill_n(row, surface.width, 0xFF000000u);
    }
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
  PreviewPicture m_picture;  // the one shown, converted again at every paint
  FrameConverter m_converter;
  bool m_shownOne = false;
};

class VideoRenderer : public FilterBase, public IVideoWindow, public IVideoDeinterlace {
 public:
  VideoRenderer() : FilterBase(CLSID_VideoRenderer, "VideoRenderer", "VideoRenderer"), m_slot(std::make_shared<FrameSlot>()) {
    // Any picture type; sound has nothing to show. Line 21's captions, when a VBI device is
    // connected, are drawn over the picture.
    AddPin({"Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr, true});
    m_captionPin = AddPin({"Captions", PINDIR_INPUT, GUID_NULL, MEDIATYPE_AUXLine21Data, false, false, nullptr, true});
  }
  ~VideoRenderer() override { DestroyWnd(); }
  ORV_UNKNOWN_IMPL

  // Streaming thread: one copy out of the card's buffer, then the picture is handed on.
  void Receive(PinBase* input, const MediaSample& sample) override {
    if (input == m_captionPin) {
      if (sample.data) m_captionDecoder.Feed(sample.data, sample.size, static_cast<double>(sample.start) / 1e7);
      return;
    }
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
    // A frame the preview cannot take shows as black.
    if (m_pool.Copy(mt->subtype, sample.data, sample.size, width, height, &m_incoming)) {
      bool restart = false;
      if (Interlaced(mt->subtype, width, height, &restart) &&
          m_deinterlacer.Push(&m_incoming, m_order == AM_FIELDS_TOP_FIRST, restart))
        return;
    }
    Publish(m_slot, &m_incoming);
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
    m_deinterlacer.Start();
    return S_OK;
  }
  void OnStop() override {
    m_deinterlacer.Stop();
    {
      std::lock_guard lock(m_slot->mutex);
      m_slot->captions.clear();
    }
    if (const long n = m_givenWay.exchange(0); n > 0)
      LogError("media", "the live picture gave way to the recording: %ld frames not shown", n);
  }

 private:
  // Streaming thread: whether the pictures are to be deinterlaced: asked for, and the source
  // interlaced. The field order is asked again whenever the pictures change (a new stream).
  bool Interlaced(const GUID& subtype, int width, int height, bool* restart) {
    if (!m_deinterlace) return m_deinterlacing = false;
    if (!m_deinterlacing || width != m_seenWidth || height != m_seenHeight || subtype != m_seenSubtype) {
      m_deinterlacing = true;
      m_seenWidth = width, m_seenHeight = height, m_seenSubtype = subtype;
      m_order = UpstreamFieldOrder(PinAt(0));
      *restart = true;
    }
    return m_order == AM_FIELDS_TOP_FIRST || m_order == AM_FIELDS_BOTTOM_FIRST;
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
  PinBase* m_captionPin = nullptr;
  // The VBI device's streaming thread only: what channel 1 shows, into the slot for the next paint.
  cc::Decoder m_captionDecoder{[slot = m_slot](const std::vector<cc::Row>& rows, double) {
    std::lock_guard lock(slot->mutex);
    slot->captions = rows;
  }};
  std::atomic<bool> m_deinterlace{false};
  std::atomic<long> m_givenWay{0};  // frames left out for a writer behind, since the graph last ran
  // Streaming thread only.
  bool m_deinterlacing = false;
  int m_seenWidth = 0, m_seenHeight = 0;
  GUID m_seenSubtype = GUID_NULL;
  AM_FIELD_ORDER m_order = AM_FIELDS_UNKNOWN;
  PicturePool m_pool;
  PreviewPicture m_incoming;
  DeinterlaceThread m_deinterlacer{m_slot};
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
