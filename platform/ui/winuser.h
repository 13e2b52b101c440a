// Window platform operations: messages, windows, timers, message boxes and system queries.
// Qt-free: subsystems include this, the implementation lives in platform/ui/*.cpp over Qt.
#pragma once

#include "platform/wintypes.h"

#include <functional>
#include <string>

// ---- Messages --------------------------------------------------------------------------------
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_KILLFOCUS = 0x0008;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_GETMINMAXINFO = 0x0024;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCHITTEST = 0x0084;
constexpr UINT WM_NCLBUTTONDOWN = 0x00A1;
constexpr UINT WM_NCLBUTTONDBLCLK = 0x00A3;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_SYSKEYDOWN = 0x0104;
constexpr UINT WM_SYSKEYUP = 0x0105;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;
constexpr UINT WM_RBUTTONDBLCLK = 0x0206;
constexpr UINT WM_MBUTTONDOWN = 0x0207;
constexpr UINT WM_MBUTTONUP = 0x0208;
constexpr UINT WM_MBUTTONDBLCLK = 0x0209;
constexpr UINT WM_MOUSEFIRST = WM_MOUSEMOVE;
constexpr UINT WM_MOUSELAST = WM_MBUTTONDBLCLK;
constexpr UINT WM_USER = 0x0400;

constexpr UINT SC_CLOSE = 0xF060;

// WM_SIZE types.
constexpr UINT SIZE_RESTORED = 0;
constexpr UINT SIZE_MINIMIZED = 1;
constexpr UINT SIZE_MAXIMIZED = 2;

// Mouse key flags in wParam.
constexpr UINT MK_LBUTTON = 0x0001;
constexpr UINT MK_RBUTTON = 0x0002;
constexpr UINT MK_SHIFT = 0x0004;
constexpr UINT MK_CONTROL = 0x0008;
constexpr UINT MK_MBUTTON = 0x0010;

// Hit-test results.
constexpr LRESULT HTERROR = -2;
constexpr LRESULT HTTRANSPARENT = -1;
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTLEFT = 10;
constexpr LRESULT HTRIGHT = 11;
constexpr LRESULT HTTOP = 12;
constexpr LRESULT HTTOPLEFT = 13;
constexpr LRESULT HTTOPRIGHT = 14;
constexpr LRESULT HTBOTTOM = 15;
constexpr LRESULT HTBOTTOMLEFT = 16;
constexpr LRESULT HTBOTTOMRIGHT = 17;

// Virtual-key codes (the keypad keys are distinct from the main row).
constexpr UINT VK_BACK = 0x08;
constexpr UINT VK_TAB = 0x09;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_SHIFT = 0x10;
constexpr UINT VK_CONTROL = 0x11;
constexpr UINT VK_MENU = 0x12;
constexpr UINT VK_PAUSE = 0x13;
constexpr UINT VK_ESCAPE = 0x1B;
constexpr UINT VK_SPACE = 0x20;
constexpr UINT VK_PRIOR = 0x21;
constexpr UINT VK_NEXT = 0x22;
constexpr UINT VK_END = 0x23;
constexpr UINT VK_HOME = 0x24;
constexpr UINT VK_LEFT = 0x25;
constexpr UINT VK_UP = 0x26;
constexpr UINT VK_RIGHT = 0x27;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT VK_INSERT = 0x2D;
constexpr UINT VK_DELETE = 0x2E;
constexpr UINT VK_NUMPAD0 = 0x60;
constexpr UINT VK_NUMPAD1 = 0x61;
constexpr UINT VK_NUMPAD2 = 0x62;
constexpr UINT VK_NUMPAD3 = 0x63;
constexpr UINT VK_NUMPAD4 = 0x64;
constexpr UINT VK_NUMPAD5 = 0x65;
constexpr UINT VK_NUMPAD6 = 0x66;
constexpr UINT VK_NUMPAD7 = 0x67;
constexpr UINT VK_NUMPAD8 = 0x68;
constexpr UINT VK_NUMPAD9 = 0x69;
constexpr UINT VK_MULTIPLY = 0x6A;
constexpr UINT VK_ADD = 0x6B;
constexpr UINT VK_SEPARATOR = 0x6C;
constexpr UINT VK_SUBTRACT = 0x6D;
constexpr UINT VK_DECIMAL = 0x6E;
constexpr UINT VK_DIVIDE = 0x6F;
constexpr UINT VK_F1 = 0x70;
constexpr UINT VK_F4 = 0x73;
constexpr UINT VK_F10 = 0x79;
constexpr UINT VK_F12 = 0x7B;

// Key-message lParam bits: repeat count in 0..15, scan code in 16..23.
constexpr LPARAM KF_EXTENDED_BIT = 1 << 24;
constexpr LPARAM KF_ALTDOWN_BIT = 1 << 29;
constexpr LPARAM KF_REPEAT_BIT = 1 << 30;

// ---- Window and class styles ------------------------------------------------------------------
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr UINT CS_DBLCLKS = 0x0008;
constexpr UINT CS_OWNDC = 0x0020;
constexpr UINT CS_NOCLOSE = 0x0200;

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CLIPSIBLINGS = 0x04000000;
constexpr DWORD WS_CLIPCHILDREN = 0x02000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;

// Thickness of a sizing border, in pixels.
constexpr int SM_CXFRAME_VALUE = 4;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_RESTORE = 9;

// SetWindowPos.
#define HWND_TOP (reinterpret_cast<HWND>(static_cast<std::intptr_t>(0)))
#define HWND_BOTTOM (reinterpret_cast<HWND>(static_cast<std::intptr_t>(1)))
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<std::intptr_t>(-2)))
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// ---- Message boxes ----------------------------------------------------------------------------
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNOCANCEL = 0x00000003;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x00000040;
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_APPLMODAL = 0x00000000;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;
constexpr UINT MB_TASKMODAL = 0x00002000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// ---- Structures -------------------------------------------------------------------------------
struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  void* hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
using LPCREATESTRUCT = CREATESTRUCTA*;

struct MINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
};

constexpr UINT WPF_SETMINPOSITION = 0x0001;
struct WINDOWPLACEMENT {
  UINT length;
  UINT flags;
  UINT showCmd;
  POINT ptMinPosition;
  POINT ptMaxPosition;
  RECT rcNormalPosition;
};

// ---- Operations -------------------------------------------------------------------------------
// SendMessageA returns only after the receiver's handler has run, also when called from a worker
// thread; a handle that names no window (destroyed, or never made) gives 0 and does nothing.
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int nExitCode);
BOOL IsWindow(HWND hWnd);
LRESULT DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, void* lpTimerFunc);
BOOL KillTimer(HWND hWnd, UINT_PTR uIDEvent);
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();
DWORD timeGetTime();

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
HWND GetDesktopWindow();
BOOL GetWindowRect(HWND hWnd, RECT* lpRect);
BOOL GetClientRect(HWND hWnd, RECT* lpRect);
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags);
BOOL MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
BOOL IsZoomed(HWND hWnd);
BOOL IsIconic(HWND hWnd);
BOOL IsWindowVisible(HWND hWnd);
HWND SetActiveWindow(HWND hWnd);
HWND GetActiveWindow();
HWND SetFocus(HWND hWnd);
HWND GetFocus();
HWND GetParent(HWND hWnd);
BOOL GetWindowPlacement(HWND hWnd, WINDOWPLACEMENT* lpwndpl);
BOOL SetWindowPlacement(HWND hWnd, const WINDOWPLACEMENT* lpwndpl);
BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
BOOL UpdateWindow(HWND hWnd);
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
BOOL EnableWindow(HWND hWnd, BOOL bEnable);
BOOL IsWindowEnabled(HWND hWnd);
BOOL ScreenToClient(HWND hWnd, POINT* lpPoint);
BOOL ClientToScreen(HWND hWnd, POINT* lpPoint);
BOOL GetCursorPos(POINT* lpPoint);
BOOL DestroyWindow(HWND hWnd);

// Regions: HRGN values from a table; SetWindowRgn takes ownership of the region.
struct HRGN__;
using HRGN = HRGN__*;
HRGN CreateRoundRectRgn(int x1, int y1, int x2, int y2, int w, int h);
HRGN CreateRectRgn(int x1, int y1, int x2, int y2);
BOOL DeleteObjectRgn(HRGN hRgn);
int SetWindowRgn(HWND hWnd, HRGN hRgn, BOOL bRedraw);
BOOL PtInRegion(HRGN hRgn, int x, int y);

// System.
using LANGID = WORD;
constexpr LANGID LANGID_KOREAN = 0x0412;
LANGID GetSystemDefaultLangID();
// The user's locale as the environment names it ("en_GB.UTF-8"; LC_ALL, LC_MESSAGES, then LANG), or "".
std::string GetUserLocaleName();
constexpr int BITSPIXEL = 12;
int GetDisplayBitsPerPixel();  // colour depth of the "DISPLAY" information context
BOOL PtInRect(const RECT* lprc, POINT pt);
BOOL SetRect(RECT* lprc, int xLeft, int yTop, int xRight, int yBottom);
BOOL IsRectEmpty(const RECT* lprc);
int MulDiv(int nNumber, int nNumerator, int nDenominator);
int lstrlenA(LPCSTR s);
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max);
int wsprintfA(LPSTR buf, LPCSTR fmt, ...);
BOOL SetCurrentDirectoryA(LPCSTR path);
DWORD GetCurrentDirectoryA(DWORD size, LPSTR buf);

namespace orv::ui {

// What a message box showed, for the test seam.
struct MessageBoxCall {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
};

// Tests answer message boxes through this hook: it returns the button pressed (IDOK, IDYES ...).
// With no hook a real modal box is shown.
using MessageBoxHook = std::function<int(const MessageBoxCall&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// The user-interface thread is the thread that created the application object.
bool IsUiThread();

// Runs sends and posts that other threads addressed to our windows until done() is true.
// The UI thread uses this while it waits for a worker, so the worker's SendMessageA cannot deadlock.
void WaitPumpingSentMessages(const std::function<bool()>& done);

// Keeps the windows alive until done() is true: sends from other threads, posted messages, timers
// and paints are handled; user input and socket notices (a termination signal) wait until after.
// For a wait of the UI thread that may last (a file written out onto a slow disk).
void WaitPumpingMessages(const std::function<bool()>& done);

// Handles queued events (posted messages, timers, paints) once, without blocking.
void ProcessPendingEvents();

// Runs fn once no modal loop (message box, dialog, property sheet, file chooser) is running: at
// once when none is; otherwise every open one is closed as if cancelled, those opened meanwhile
// give their cancelling answer without showing, and fn runs from the main loop after the
// outermost has returned. The program ends through here, so nothing is freed under the caller of
// a nested loop. Asked again before fn has run, it does nothing more.
void RunOutsideModalLoops(std::function<void()> fn);

// Whether PostQuitMessage was called, and its code.
bool QuitRequested(int* code = nullptr);

// Directory of the running executable ("" when unknown).
std::string ExecutableDir();

}  // namespace orv::ui
