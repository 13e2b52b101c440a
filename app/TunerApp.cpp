#include "app/TunerApp.h"

#include "common/Settings.h"
#include "panel/PanelWnd.h"
#include "res/resource.h"
#include "video/VideoWnd.h"

#include <cstdlib>
#include <string>

namespace {

// The program's own text for an id, whatever language module is in use.
CString OwnString(UINT id) {
  const char* s = AfxGetOwnResourceModule() ? AfxGetOwnResourceModule()->String(id) : nullptr;
  return CString(s ? s : "");
}

}  // namespace

WindowPlacement ReadWindowPlacement(HKEY key, const RECT& d) {
  WindowPlacement p{};
  const int panelX = (d.right - d.left - CPanelWnd::kWidth) / 2;
  const int panelY = (d.bottom - d.top - CPanelWnd::kHeight) / 2;
  p.panelLeft = ReadSettingWord(key, "Panel_left", panelX);
  if (p.panelLeft < d.left || p.panelLeft > d.right) p.panelLeft = panelX;
  p.panelTop = ReadSettingWord(key, "Panel_top", panelY);
  if (p.panelTop < d.top || p.panelTop > d.bottom) p.panelTop = panelY;

  p.videoWidth = ReadSettingWord(key, "Video_Width", 640);
  if (p.videoWidth > 1600) p.videoWidth = 640;
  p.videoHeight = ReadSettingWord(key, "Video_Height", 480);
  if (p.videoHeight > 1200) p.videoHeight = 480;

  const int videoX = (d.right - p.videoWidth - d.left) / 2;
  const int videoY = (d.bottom - p.videoHeight - d.top) / 2;
  p.videoLeft = ReadSettingWord(key, "Video_left", videoX);
  if (p.videoLeft < d.left || p.videoLeft > d.right) p.videoLeft = videoX;
  p.videoTop = ReadSettingWord(key, "Video_top", videoY);
  if (p.videoTop < d.top || p.videoTop > d.bottom) p.videoTop = videoY;
  return p;
}

CTunerApp::CTunerApp() : CWinApp(nullptr) {}

bool CTunerApp::StartupChecks() {
  // The title of a running copy's video window is always our own text, never a language module's.
  const CString title = OwnString(IDS_VIDEO_TITLE);
  if (FindWindowA(nullptr, title)) {
    MessageBoxA(nullptr, OwnString(IDS_ALREADY_RUNNING), OwnString(IDS_ALREADY_RUNNING_CAPTION), MB_ICONERROR | MB_OK);
    return false;
  }
  const int bits = GetDisplayBitsPerPixel();
  if (bits < 8) {
    MessageBoxA(nullptr, OwnString(IDS_COLOUR_TOO_FEW), OwnString(IDS_COLOUR_CAPTION), MB_ICONERROR | MB_OK);
    return false;
  }
  if (bits < 16) {
    return MessageBoxA(nullptr, OwnString(IDS_COLOUR_WARNING), OwnString(IDS_COLOUR_CAPTION),
                       MB_ICONWARNING | MB_YESNO) == IDYES;
  }
  return true;
}

void CTunerApp::LoadLanguageModule() {
  // ORVANE_LANG=ko or =en overrides the locale, for testing either language anywhere.
  const char* forced = std::getenv("ORVANE_LANG");
  const std::string lang = forced ? forced : "";
  if (lang == "ko") return;
  if (lang != "en" && GetSystemDefaultLangID() == LANGID_KOREAN) return;
  // Beside the executable (the build tree), else in the installed program's library folder.
  const std::string dir = orv::ui::ExecutableDir();
  const ResourceModule* m = AfxLoadLangDll(dir);
  if (!m && !dir.empty()) m = AfxLoadLangDll(dir + "/" + ORVANE_LANG_MODULE_FROM_BIN);
  if (m) AfxSetResourceModule(m);
}

BOOL CTunerApp::InitInstance() {
  if (!StartupChecks()) std::exit(0);
  LoadLanguageModule();

  HKEY key = OpenSettingsKey(kKeyPosition);
  RECT desk{};
  ::GetWindowRect(GetDesktopWindow(), &desk);
  const WindowPlacement p = ReadWindowPlacement(key, desk);

  m_pVideoWnd = new CVideoWnd;
  m_pPanelWnd = new CPanelWnd;

  CString videoTitle, panelTitle;
  videoTitle.LoadString(IDS_VIDEO_TITLE);
  panelTitle.LoadString(IDS_PANEL_TITLE);
  // A window that cannot be created is not reported; start-up goes on.
  m_pVideoWnd->Create(videoTitle, CRect(p.videoLeft, p.videoTop, p.videoLeft + p.videoWidth, p.videoTop + p.videoHeight));
  m_pPanelWnd->Create(panelTitle, CRect(p.panelLeft, p.panelTop, 0, 0));

  m_pVideoWnd->m_hwndPanel = m_pPanelWnd->m_hWnd;
  m_pPanelWnd->m_hwndVideo = m_pVideoWnd->m_hWnd;

  m_pVideoWnd->ShowWindow(SW_SHOW);
  m_pPanelWnd->ShowWindow(SW_SHOW);

  m_pMainWnd = m_pVideoWnd;
  CloseSettingsKey(key);
  return TRUE;
}

int CTunerApp::ExitInstance() {
  RECT video{}, panel{};
  const bool haveVideo = m_pVideoWnd && IsWindow(m_pVideoWnd->m_hWnd);
  const bool havePanel = m_pPanelWnd && IsWindow(m_pPanelWnd->m_hWnd);
  if (haveVideo) m_pVideoWnd->GetWindowRect(&video);
  if (havePanel) m_pPanelWnd->GetWindowRect(&panel);

  HKEY key = OpenSettingsKey(kKeyPosition);
  if (key) {
    // A window that never existed has no place to save; its earlier values stay.
    if (havePanel && !m_pPanelWnd->IsIconic()) {
      WriteSettingDword(key, "Panel_left", static_cast<DWORD>(panel.left));
      WriteSettingDword(key, "Panel_top", static_cast<DWORD>(panel.top));
    }
    if (haveVideo && !m_pVideoWnd->IsZoomed()) {
      WriteSettingDword(key, "Video_left", static_cast<DWORD>(video.left));
      WriteSettingDword(key, "Video_top", static_cast<DWORD>(video.top));
      WriteSettingDword(key, "Video_width", static_cast<DWORD>(video.right - video.left));
      WriteSettingDword(key, "Video_height", static_cast<DWORD>(video.bottom - video.top));
    }
  }
  delete m_pVideoWnd;
  m_pVideoWnd = nullptr;
  delete m_pPanelWnd;
  m_pPanelWnd = nullptr;
  m_pMainWnd = nullptr;
  const int result = CWinApp::ExitInstance();
  CloseSettingsKey(key);
  return result;
}

BOOL CTunerApp::OnCmdMsg(UINT id) {
  // The framework's default help handler: there is no help file, so nothing is shown.
  return id == ID_HELP ? TRUE : FALSE;
}

void CTunerApp::OnTerminateSignal() {
  // End as the panel's exit key does, so settings and placement are saved.
  if (m_pPanelWnd && IsWindow(m_pPanelWnd->m_hWnd))
    ::SendMessageA(m_pPanelWnd->m_hWnd, WM_SYSKEYDOWN, VK_ADD, 1 | KF_ALTDOWN_BIT);
  else
    PostQuitMessage(0);
}
