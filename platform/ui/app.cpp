// The application object and loop, resources, message boxes and system queries.
#include "platform/ui/controls_p.h"
#include "platform/ui/qtwnd_p.h"
#include "platform/ui/afxres.h"
#include "platform/log.h"

#include <QApplication>
#include <QLibrary>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
CWinApp* g_app = nullptr;
const ResourceModule* g_ownModule = nullptr;
const ResourceModule* g_module = nullptr;
int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}
}  // namespace

// ---- Application --------------------------------------------------------------------------------

CWinApp::CWinApp(LPCSTR appName) : m_pszAppName(appName) { g_app = this; }
CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

int CWinApp::ExitInstance() { return m_nExitCode; }

int CWinApp::Run() {
  if (orv::ui::QuitRequested(&m_nExitCode)) return m_nExitCode;
  m_nExitCode = QApplication::exec();
  return m_nExitCode;
}

BOOL CWinApp::PreTranslateMessage(MSG*) { return FALSE; }

void CWinApp::OnTerminateSignal() { PostQuitMessage(0); }

CWinApp* AfxGetApp() { return g_app; }
CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

namespace {
QtMessageHandler g_qtHandler = nullptr;

// While the application connects to the display, Qt reports a display it cannot open as a fatal
// error and aborts (a core dump for a user who only forgot DISPLAY): one line and exit 1 instead.
void StartupMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    const char* display = std::getenv("DISPLAY");
    orv::LogError("ui", "cannot open the display%s%s; start the program on a desktop, or under xvfb-run",
                  display ? " " : "", display ? display : "");
    std::_Exit(1);
  }
  if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) return;  // said by the line above
  if (g_qtHandler) g_qtHandler(type, context, text);
}

bool DisplayNamed() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    if (const char* v = std::getenv(name); v && *v) return true;
  return false;
}
}  // namespace

int AfxWinMain(int argc, char** argv) {
  bool platformOption = false;
  for (int i = 1; i < argc; ++i) platformOption |= std::strcmp(argv[i], "-platform") == 0;
  if (!platformOption && !DisplayNamed()) {
    orv::LogError("ui", "no display (DISPLAY is not set); start the program on a desktop, or under xvfb-run");
    return 1;
  }
  g_qtHandler = qInstallMessageHandler(StartupMessages);
  QApplication qapp(argc, argv);
  qInstallMessageHandler(g_qtHandler);
  QApplication::setQuitOnLastWindowClosed(false);
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  // SIGTERM and SIGINT end the program the way the user would, through the UI thread.
  QSocketNotifier* notifier = nullptr;
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [app] {
      char buf[16];
      while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
      }
      // Not from inside a box or dialog: their callers would return into freed windows.
      orv::ui::RunOutsideModalLoops([app] { app->OnTerminateSignal(); });
    });
  }
  if (!app->InitInstance()) {
    const int code = app->ExitInstance();
    delete notifier;
    return code;
  }
  app->Run();
  const int code = app->ExitInstance();
  delete notifier;
  return code;
}

// ---- Resources ----------------------------------------------------------------------------------

void AfxSetOwnResourceModule(const ResourceModule* module) {
  g_ownModule = module;
  if (!g_module) g_module = module;
}
const ResourceModule* AfxGetOwnResourceModule() { return g_ownModule; }
const ResourceModule* AfxGetResourceModule() { return g_module ? g_module : g_ownModule; }
void AfxSetResourceModule(const ResourceModule* module) { g_module = module; }

const ResourceModule* AfxLoadLangDll(const std::string& dir) {
  if (dir.empty()) return nullptr;
  // Only next to the executable: a library in the current directory is never picked up.
  QLibrary lib(QString::fromStdString(dir + "/LangDll"));
  if (!lib.load()) return nullptr;
  using Entry = const ResourceModule* (*)();
  auto fn = reinterpret_cast<Entry>(lib.resolve("OrvaneResourceModule"));
  if (!fn) {
    orv::LogError("ui", "%s has no resources; using the built-in ones", lib.fileName().toLocal8Bit().constData());
    return nullptr;
  }
  return fn();  // never unloaded: its strings live as long as the program
}

static const char* FindString(UINT id) {
  // A language module lacking an id falls back to the program's own text rather than showing none.
  if (const ResourceModule* m = AfxGetResourceModule())
    if (const char* s = m->String(id)) return s;
  if (g_ownModule)
    if (const char* s = g_ownModule->String(id)) return s;
  return nullptr;
}

// The printf conversions of a format, in order ("%x", "%d", ...; "%%" is none).
static std::string Conversions(const char* f) {
  std::string out;
  for (; *f; ++f) {
    if (*f != '%') continue;
    ++f;
    while (*f && std::strchr("-+ #0123456789.lhzjt", *f)) ++f;
    if (!*f) break;
    if (*f != '%') out += *f;
  }
  return out;
}

std::string AfxFormatStringV(UINT id, va_list args) {
  const char* s = FindString(id);
  // A module whose text takes other arguments than ours would read the wrong ones: ours then.
  if (const char* own = g_ownModule ? g_ownModule->String(id) : nullptr; own && s && Conversions(s) != Conversions(own))
    s = own;
  if (!s) return {};
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, s, copy);
  va_end(copy);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), s, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string AfxFormatString(UINT id, ...) {
  va_list args;
  va_start(args, id);
  std::string out = AfxFormatStringV(id, args);
  va_end(args);
  return out;
}

int LoadStringA(UINT uID, LPSTR lpBuffer, int cchBufferMax) {
  if (!lpBuffer || cchBufferMax <= 0) return 0;
  const char* s = FindString(uID);
  if (!s) {
    lpBuffer[0] = '\0';
    return 0;
  }
  lstrcpynA(lpBuffer, s, cchBufferMax);
  return lstrlenA(lpBuffer);
}

BOOL CString::LoadString(UINT id) {
  const char* s = FindString(id);
  s_ = s ? s : "";
  return s ? TRUE : FALSE;
}

// ---- Message boxes ------------------------------------------------------------------------------

int MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  // The platform's caption when none is given.
  const std::string caption = lpCaption ? lpCaption : AfxFormatString(AFX_IDS_ERROR_CAPTION);
  const std::string text = lpText ? lpText : "";
  // The answer of a box closed without a choice (Escape, the window manager, the program ending).
  const int cancelled = (uType & 0x0F) == MB_OKCANCEL || (uType & 0x0F) == MB_YESNOCANCEL ? IDCANCEL
                        : (uType & 0x0F) == MB_YESNO                                     ? IDNO
                                                                                          : IDOK;
  if (const auto& hook = orv::ui::CurrentMessageBoxHook()) {
    orv::ui::ModalLoopScope scope([] {});
    return scope.MayRun() ? hook(orv::ui::MessageBoxCall{hWnd, text, caption, uType}) : cancelled;
  }

  QWidget* owner = orv::ui::WidgetForHandle(hWnd);
  QMessageBox box(owner ? owner->window() : nullptr);
  box.setWindowTitle(QString::fromUtf8(caption.c_str()));
  box.setText(QString::fromUtf8(text.c_str()));
  switch (uType & 0xF0) {
    case MB_ICONHAND: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONASTERISK: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  struct Choice {
    QMessageBox::StandardButton button;
    int id;
  };
  std::vector<Choice> choices;
  switch (uType & 0x0F) {
    case MB_OKCANCEL: choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}}; break;
    case MB_YESNOCANCEL:
      choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO: choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}}; break;
    default: choices = {{QMessageBox::Ok, IDOK}}; break;
  }
  QMessageBox::StandardButtons buttons;
  for (auto& c : choices) buttons |= c.button;
  box.setStandardButtons(buttons);
  // The standard buttons in the program's language, not Qt's.
  for (auto& c : choices) {
    const UINT text = c.id == IDOK ? AFX_IDS_OK : c.id == IDCANCEL ? AFX_IDS_CANCEL : c.id == IDYES ? AFX_IDS_YES : AFX_IDS_NO;
    if (QAbstractButton* b = box.button(c.button)) {
      b->setText(QString::fromStdString(AfxFormatString(text)));
      b->setStyle(orv::ui::ButtonStyle());
    }
  }
  box.setDefaultButton(choices.front().button);
  if (uType & (MB_TASKMODAL | MB_SYSTEMMODAL)) box.setWindowModality(Qt::ApplicationModal);
  orv::ui::ModalLoopScope scope([&box] { box.reject(); });
  if (!scope.MayRun()) return cancelled;
  const int r = box.exec();
  for (auto& c : choices)
    if (r == c.button) return c.id;
  return cancelled;
}

// ---- System -------------------------------------------------------------------------------------

std::string GetUserLocaleName() {
  for (const char* v : {"LC_ALL", "LC_MESSAGES", "LANG"})
    if (const char* s = std::getenv(v); s && *s) return s;
  return "";
}

LANGID GetSystemDefaultLangID() {
  const std::string loc = GetUserLocaleName();
  auto starts = [&](const char* p) { return loc.rfind(p, 0) == 0; };
  if (starts("ko")) return LANGID_KOREAN;
  if (starts("ja")) return 0x0411;
  if (starts("zh")) return 0x0804;
  if (starts("de")) return 0x0407;
  if (starts("fr")) return 0x040C;
  return 0x0409;  // English (United States) for C, POSIX, en_* and anything else
}

int GetDisplayBitsPerPixel() {
  if (const int d = orv::ui::ScreenDepthOverride()) return d;
  QScreen* s = QGuiApplication::primaryScreen();
  return s ? s->depth() : 24;
}

BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom ? TRUE : FALSE;
}

BOOL SetRect(RECT* r, int l, int t, int rr, int b) {
  if (!r) return FALSE;
  *r = RECT{l, t, rr, b};
  return TRUE;
}

BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top ? TRUE : FALSE; }

int MulDiv(int nNumber, int nNumerator, int nDenominator) {
  if (nDenominator == 0) return -1;
  const long long p = static_cast<long long>(nNumber) * nNumerator;
  // Rounded half away from zero, like the platform's.
  long long q = (p >= 0) == (nDenominator > 0) ? (std::llabs(p) + std::llabs(nDenominator) / 2) / std::llabs(nDenominator)
                                                 : -((std::llabs(p) + std::llabs(nDenominator) / 2) / std::llabs(nDenominator));
  if (q > INT32_MAX || q < INT32_MIN) return -1;
  return static_cast<int>(q);
}

int lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int max) {
  if (!dst || max <= 0) return dst;
  int i = 0;
  if (src)
    for (; i < max - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

int wsprintfA(LPSTR buf, LPCSTR fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  // The platform's formatter writes at most 1024 bytes.
  const int n = std::vsnprintf(buf, 1024, fmt, ap);
  va_end(ap);
  return n < 0 ? 0 : std::min(n, 1023);
}

BOOL SetCurrentDirectoryA(LPCSTR path) { return path && ::chdir(path) == 0 ? TRUE : FALSE; }

DWORD GetCurrentDirectoryA(DWORD size, LPSTR buf) {
  char tmp[4096];
  if (!::getcwd(tmp, sizeof tmp)) return 0;
  const DWORD len = static_cast<DWORD>(std::strlen(tmp));
  if (!buf || size <= len) return len + 1;
  std::memcpy(buf, tmp, len + 1);
  return len;
}

std::string orv::ui::ExecutableDir() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  path[n] = '\0';
  std::string p(path);
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash);
}
