// The application framework: application object, windows with message maps, device contexts.
// Qt-free header; each CWnd is backed by a Qt widget inside platform/ui.
#pragma once

#include "platform/ui/winuser.h"

#include <memory>
#include <string>
#include <vector>

class CWnd;
class CDC;
class CPaintDC;
namespace orv::ui {
struct SurfaceBits;
bool PaintSurface(CPaintDC& dc, SurfaceBits* out);  // platform/ui/surface.h
}  // namespace orv::ui

struct CPoint : POINT {
  CPoint() : POINT{0, 0} {}
  CPoint(int x_, int y_) : POINT{x_, y_} {}
  explicit CPoint(LPARAM l) : POINT{GET_X_LPARAM(l), GET_Y_LPARAM(l)} {}
  bool operator==(const CPoint& o) const { return x == o.x && y == o.y; }
};

struct CRect : RECT {
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  CRect(const RECT& r) : RECT(r) {}  // NOLINT: converts like the framework's
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  BOOL PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  BOOL IsRectEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const CRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  operator RECT*() { return this; }
  operator const RECT*() const { return this; }
};

// ---- Message maps -----------------------------------------------------------------------------
// A class's message map is a plain table of message → handler; the adapters below unpack wParam
// and lParam into the framework's handler signatures.
template <class T>
struct MsgMapEntry {
  UINT message;
  LRESULT (*fn)(T&, WPARAM, LPARAM);
};

template <class M>
struct MemberOf;
template <class T, class R, class... A>
struct MemberOf<R (T::*)(A...)> {
  using type = T;
};

namespace afxmsg {
template <auto F>
using Cls = typename MemberOf<decltype(F)>::type;

template <auto F>
LRESULT Create(Cls<F>& t, WPARAM, LPARAM l) { return (t.*F)(reinterpret_cast<LPCREATESTRUCT>(l)); }
template <auto F>
LRESULT Void(Cls<F>& t, WPARAM, LPARAM) { (t.*F)(); return 0; }
template <auto F>
LRESULT Size(Cls<F>& t, WPARAM w, LPARAM l) { (t.*F)(static_cast<UINT>(w), LOWORD(l), HIWORD(l)); return 0; }
template <auto F>
LRESULT MinMax(Cls<F>& t, WPARAM, LPARAM l) { (t.*F)(reinterpret_cast<MINMAXINFO*>(l)); return 0; }
template <auto F>
LRESULT Timer(Cls<F>& t, WPARAM w, LPARAM) { (t.*F)(static_cast<UINT_PTR>(w)); return 0; }
template <auto F>
LRESULT Mouse(Cls<F>& t, WPARAM w, LPARAM l) { (t.*F)(static_cast<UINT>(w), CPoint(l)); return 0; }
template <auto F>
LRESULT Key(Cls<F>& t, WPARAM w, LPARAM l) {
  (t.*F)(static_cast<UINT>(w), static_cast<UINT>(LOWORD(l)), static_cast<UINT>(HIWORD(l)));
  return 0;
}
template <auto F>
LRESULT HitTest(Cls<F>& t, WPARAM, LPARAM l) { return (t.*F)(CPoint(l)); }
template <auto F>
LRESULT Raw(Cls<F>& t, WPARAM w, LPARAM l) { return (t.*F)(w, l); }
}  // namespace afxmsg

template <class T, std::size_t N>
bool DispatchMsgMap(T& self, const MsgMapEntry<T> (&map)[N], UINT msg, WPARAM w, LPARAM l, LRESULT* result) {
  for (const auto& e : map)
    if (e.message == msg) {
      *result = e.fn(self, w, l);
      return true;
    }
  return false;
}

// ---- Resources --------------------------------------------------------------------------------
// A resource module: the string table, dialog templates, bitmaps and icons by id.
class CBitmap;
struct DialogTemplate;
class ResourceModule {
 public:
  virtual ~ResourceModule() = default;
  virtual const char* String(UINT id) const = 0;               // nullptr when absent
  virtual const DialogTemplate* Dialog(UINT id) const = 0;     // nullptr when absent
  virtual bool BitmapPng(UINT id, std::string* png) const = 0;  // encoded image bytes
};
// The program's own (Korean) module, installed at start; the language module, if loaded, replaces it.
void AfxSetOwnResourceModule(const ResourceModule* module);
const ResourceModule* AfxGetResourceModule();
void AfxSetResourceModule(const ResourceModule* module);
const ResourceModule* AfxGetOwnResourceModule();
// Loads the shared library "LangDll" from a folder of the program (never the current directory)
// and returns its module, or nullptr.
const ResourceModule* AfxLoadLangDll(const std::string& dir);

int LoadStringA(UINT uID, LPSTR lpBuffer, int cchBufferMax);

class CString {
 public:
  CString() = default;
  CString(const char* s) : s_(s ? s : "") {}  // NOLINT
  CString(std::string s) : s_(std::move(s)) {}  // NOLINT
  BOOL LoadString(UINT id);
  operator const char*() const { return s_.c_str(); }
  const std::string& str() const { return s_; }
  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  bool operator==(const char* o) const { return s_ == (o ? o : ""); }

 private:
  std::string s_;
};

// ---- Drawing ----------------------------------------------------------------------------------
constexpr DWORD SRCCOPY = 0x00CC0020;

class CBitmap {
 public:
  CBitmap();
  ~CBitmap();
  CBitmap(const CBitmap&) = delete;
  CBitmap& operator=(const CBitmap&) = delete;
  BOOL LoadBitmap(UINT id);
  BOOL CreateCompatibleBitmap(CDC* dc, int w, int h);
  BOOL LoadFromPng(const std::string& png);
  SIZE GetSize() const;
  COLORREF GetPixel(int x, int y) const;  // for tests and hit checks; CLR_INVALID outside
  struct Data;
  Data* data() const { return d_.get(); }

 private:
  std::unique_ptr<Data> d_;
};
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

// A device context: draws into a window's surface or into the bitmap selected into a memory DC.
class CDC {
 public:
  CDC();
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;
  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();
  CBitmap* SelectObject(CBitmap* bitmap);
  BOOL BitBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, DWORD rop);
  BOOL StretchBlt(int x, int y, int w, int h, CDC* src, int xs, int ys, int ws, int hs, DWORD rop);
  void FillSolidRect(const RECT* rc, COLORREF clr);
  void FillSolidRect(int x, int y, int w, int h, COLORREF clr);
  COLORREF GetPixel(int x, int y) const;
  bool IsMemoryDC() const { return memory_; }

 protected:
  friend bool orv::ui::PaintSurface(CPaintDC& dc, orv::ui::SurfaceBits* out);
  void* image() const;  // the QImage drawn into
  HWND window_ = nullptr;  // a window DC draws into that window's surface
  bool memory_ = false;
  CBitmap* selected_ = nullptr;
};

// The DC of a paint: valid inside OnPaint; the surface is shown when the paint ends.
class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  RECT m_rcPaint{};
};

// A DC for drawing at once outside OnPaint; what is drawn shows when the DC is released.
class CClientDC : public CDC {
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;
};

// ---- Windows ----------------------------------------------------------------------------------
// Window class registration: the style, cursor, background colour and icon of a class.
LPCSTR AfxRegisterWndClass(UINT nClassStyle, int cursor = 0, int background = 0, UINT iconId = 0);
constexpr int IDC_ARROW = 32512;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
COLORREF GetSysColor(int index);

class CWnd {
 public:
  CWnd();
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  static CWnd* FromHandle(HWND hWnd);
  operator HWND() const { return m_hWnd; }

  virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, int x, int y,
                        int nWidth, int nHeight, HWND hWndParent, UINT nIDorHMenu, LPVOID lpParam = nullptr);
  BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                CWnd* pParentWnd, UINT nID, LPVOID lpParam = nullptr);
  virtual BOOL DestroyWindow();

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL ShowWindow(int nCmdShow);
  BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
  void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  void GetWindowRect(RECT* rect) const;
  void GetClientRect(RECT* rect) const;
  BOOL IsZoomed() const;
  BOOL IsIconic() const;
  BOOL IsWindowVisible() const;
  BOOL GetWindowPlacement(WINDOWPLACEMENT* wp) const;
  BOOL SetWindowPlacement(const WINDOWPLACEMENT* wp);
  CWnd* SetActiveWindow();
  CWnd* SetFocus();
  void Invalidate(BOOL bErase = TRUE);
  void InvalidateRect(const RECT* rect, BOOL bErase = TRUE);
  void UpdateWindow();
  int SetWindowRgn(HRGN hRgn, BOOL bRedraw);
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, void* lpfnTimer);
  BOOL KillTimer(UINT_PTR nIDEvent);
  void SetWindowText(LPCSTR text);
  void GetWindowText(CString& text) const;
  CWnd* GetParent() const;
  int GetDlgCtrlID() const;
  DWORD GetStyle() const;
  void ScreenToClient(POINT* p) const;
  void ClientToScreen(POINT* p) const;
  int MessageBox(LPCSTR text, LPCSTR caption = nullptr, UINT type = MB_OK);

  // Called by the message pump before dispatch; TRUE means the message is consumed.
  virtual BOOL PreTranslateMessage(MSG* pMsg);

  // Entry of every message for this window: the message map, else default processing.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 protected:
  // The class's message map; each class looks in its own table, then in its base's.
  virtual bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // Default processing of the message being handled.
  LRESULT Default();
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual void PostNcDestroy() {}

  // The framework's own handlers, for classes that let "the default handling run".
  int OnCreate(LPCREATESTRUCT) { return static_cast<int>(Default()); }
  void OnDestroy() { Default(); }
  void OnSize(UINT, int, int) { Default(); }
  void OnKeyDown(UINT, UINT, UINT) { Default(); }
  void OnSysKeyDown(UINT, UINT, UINT) { Default(); }
  LRESULT OnNcHitTest(CPoint) { return Default(); }

 private:
  struct CurrentMsg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  std::vector<CurrentMsg> current_;
  friend struct WndAccess;
};

// Runs the pump's PreTranslateMessage walk (the window, then its parents) and, unless consumed,
// dispatches the message. Input, timers and posted messages all come through here.
void AfxPumpMessage(MSG* msg);

// ---- Application ------------------------------------------------------------------------------
constexpr UINT ID_HELP = 57670;

class CWinApp {
 public:
  explicit CWinApp(LPCSTR appName = nullptr);
  virtual ~CWinApp();
  virtual BOOL InitInstance() { return TRUE; }
  virtual int ExitInstance();
  virtual int Run();  // the message loop; returns the quit code
  virtual BOOL PreTranslateMessage(MSG* msg);
  // SIGTERM or SIGINT arrived; runs on the UI thread. The default posts the quit message.
  virtual void OnTerminateSignal();

  CWnd* m_pMainWnd = nullptr;
  LPCSTR m_pszAppName = nullptr;
  int m_nExitCode = 0;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Runs the application: InitInstance, the loop, ExitInstance; returns the exit code.
int AfxWinMain(int argc, char** argv);
