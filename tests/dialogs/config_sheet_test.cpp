// The sheet's buttons and the settings flow the video window runs on command 24.
#include "tests/dialogs/sheetrig.h"

#include <algorithm>
#include <map>

using namespace sheettest;

namespace {

struct ButtonState {
  RECT rc{};
  bool visible = false, enabled = false;
};

std::map<int, ButtonState> Buttons(HWND sheet) {
  std::map<int, ButtonState> out;
  for (int id : {IDOK, IDCANCEL, ID_APPLY_NOW, IDHELP}) {
    const HWND b = GetDlgItem(sheet, id);
    if (!b) continue;
    ButtonState s;
    GetWindowRect(b, &s.rc);
    POINT tl{s.rc.left, s.rc.top}, br{s.rc.right, s.rc.bottom};
    ScreenToClient(sheet, &tl);
    ScreenToClient(sheet, &br);
    s.rc = RECT{tl.x, tl.y, br.x, br.y};
    s.visible = IsWindowVisible(b);
    s.enabled = IsWindowEnabled(b);
    out[id] = s;
  }
  return out;
}

bool Same(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// The page of a running sheet that holds a control of this kind and id.
HWND PageWith(HWND sheet, CtlKind kind, int id) {
  for (HWND c : orv::ui::ChildrenOf(sheet))
    if (auto* d = orv::ui::ControlData(GetDlgItem(c, id)); d && d->kind == kind) return c;
  return nullptr;
}

// The buttons of a sheet of the three pages, as they are once it is up.
template <class SheetClass>
std::map<int, ButtonState> ButtonsOf(DWORD flags) {
  std::map<int, ButtonState> out;
  CChannelSetup c;
  CVideoSetup v;
  CAudioSetup a;
  SheetClass sheet("환경설정");
  sheet.AddPage(&c);
  sheet.AddPage(&v);
  sheet.AddPage(&a);
  sheet.m_psh.dwFlags |= flags;
  QTimer::singleShot(0, [&] {
    out = Buttons(sheet.m_hWnd);
    sheet.EndDialog(IDCANCEL);
  });
  sheet.DoModal();
  return out;
}

class Sheet : public SheetTest {};

TEST_F(Sheet, WithoutApplyOkAndCancelTakeTheTwoRightmostPlacesAndHelpIsHidden) {
  auto plain = ButtonsOf<CPropertySheet>(PSH_NOAPPLYNOW);
  auto ours = ButtonsOf<CConfigSheet>(PSH_NOAPPLYNOW);
  ASSERT_EQ(4u, plain.size());
  ASSERT_EQ(4u, ours.size());
  EXPECT_TRUE(Same(plain[ID_APPLY_NOW].rc, ours[IDOK].rc));
  EXPECT_TRUE(Same(plain[IDHELP].rc, ours[IDCANCEL].rc));
  int rightmost = 0;
  for (auto& [id, s] : plain) rightmost = std::max(rightmost, static_cast<int>(s.rc.right));
  EXPECT_EQ(rightmost, ours[IDCANCEL].rc.right);
  EXPECT_TRUE(ours[IDOK].visible && ours[IDOK].enabled);
  EXPECT_TRUE(ours[IDCANCEL].visible && ours[IDCANCEL].enabled);
  EXPECT_FALSE(ours[IDHELP].visible);
  EXPECT_FALSE(ours[ID_APPLY_NOW].visible && ours[ID_APPLY_NOW].enabled) << "Apply must not be usable";
}

TEST_F(Sheet, WithApplyEveryButtonMovesOnePlaceRight) {
  auto plain = ButtonsOf<CPropertySheet>(0);
  auto ours = ButtonsOf<CConfigSheet>(0);
  ASSERT_EQ(4u, ours.size());
  EXPECT_TRUE(Same(plain[IDCANCEL].rc, ours[IDOK].rc));
  EXPECT_TRUE(Same(plain[ID_APPLY_NOW].rc, ours[IDCANCEL].rc));
  EXPECT_TRUE(Same(plain[IDHELP].rc, ours[ID_APPLY_NOW].rc));
  EXPECT_FALSE(ours[IDHELP].visible);
}

TEST_F(Sheet, TabsCarryThePagesCaptionsInOrder) {
  std::vector<std::string> tabs;
  RunSheet([&] {
    for (int i = 0; i < Tabs(hSheet)->count(); ++i) tabs.push_back(Tabs(hSheet)->tabText(i).toStdString());
    Cancel();
  });
  EXPECT_EQ((std::vector<std::string>{"채널설정", "비디오설정", "오디오설정"}), tabs);
}

// The settings flow with recording stand-ins for the video window and the panel.
class Flow : public SheetTest {
 protected:
  void SetUp() override {
    SheetTest::SetUp();
    // Every value the sheet could touch exists, so an untouched store stays byte for byte the same.
    StoreDword(kKeyChannel, "Source", 1);
    StoreString(kKeyChannel, "TV", std::string(70, '1').c_str());
    StoreString(kKeyChannel, "CATV", std::string(126, '0').replace(40, 1, "1").c_str());
    StoreDword(kKeyChannel, "TVChannel", 12);
    StoreDword(kKeyChannel, "CATVChannel", 40);
    StoreDword(kKeyVideo, "Bright", 300);
    StoreDword(kKeyVideo, "Contrast", 301);
    StoreDword(kKeyVideo, "Hue", 302);
    StoreDword(kKeyVideo, "Saturation", 303);
    StoreString(kKeyVideo, "Capture", "/tmp/x.avi");
    StoreDword(kKeyAudio, "Selection", 0);
  }

  // Runs the flow; `body` gets the open sheet's handle and must close it.
  int RunFlow(const std::function<void(HWND)>& body) {
    QTimer::singleShot(0, [&] {
      // The caption is string 133.
      const HWND sheet = orv::ui::FindLocalTopLevel("환경설정");
      if (!sheet) {
        ADD_FAILURE() << "no sheet captioned 환경설정";
        return;
      }
      body(sheet);
      if (IsWindowVisible(sheet)) SendMessageA(sheet, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    return RunConfigSheet(&videoWnd, panel.m_hWnd, [&] { SavePicture(); }, [&] { LoadPicture(); });
  }

  // The video window's picture-settings operations over a pretend capture device.
  void SavePicture() {
    calls.push_back("save");
    StoreDword(kKeyVideo, "Bright", device[0]);
    StoreDword(kKeyVideo, "Contrast", device[1]);
    StoreDword(kKeyVideo, "Hue", device[2]);
    StoreDword(kKeyVideo, "Saturation", device[3]);
    afterSave = orv::test::ReadConfigFile("registry.reg");
  }
  void LoadPicture() {
    calls.push_back("load after " + std::to_string(panel.Count(WM_TUNER_NOTIFY)) + " panel commands");
    const char* names[4] = {"Bright", "Contrast", "Hue", "Saturation"};
    for (int i = 0; i < 4; ++i) device[i] = StoredWord(kKeyVideo, names[i]);
  }

  orv::test::RecordingWnd videoWnd, panel;
  int device[4] = {10, 20, 30, 40};
  std::vector<std::string> calls;
  std::string afterSave;
};

TEST_F(Flow, CancelChangesNothingButThePictureValuesStoredBeforeOpening) {
  int brightShown = -1;
  const int result = RunFlow([&](HWND sheet) {
    const HWND channelPage = PageWith(sheet, CtlKind::ListBox, 1001);
    Click(channelPage, 1009);  // "<<"
    ShowPage(sheet, 1);
    const HWND videoPage = PageWith(sheet, CtlKind::ComboBox, 1008);
    brightShown = SliderPos(videoPage, 1000);
    Choose(videoPage, 1008, 3);
    ShowPage(sheet, 2);
    Click(PageWith(sheet, CtlKind::Button, 1005), 1005);  // "라인 인 볼륨"
    Click(sheet, IDCANCEL);
  });
  EXPECT_EQ(IDCANCEL, result);
  EXPECT_EQ(10, brightShown) << "the video page starts from what is on screen";
  EXPECT_EQ(std::vector<std::string>{"save"}, calls);
  EXPECT_EQ(0, panel.Count(WM_TUNER_NOTIFY));
  EXPECT_EQ(afterSave, orv::test::ReadConfigFile("registry.reg"));
  EXPECT_EQ(20, StoredWord(kKeyVideo, "Contrast"));
  // The preset was applied live and stays so.
  EXPECT_EQ((Cmds{{52, 185}, {53, 120}, {54, 110}, {55, 128}}), Sent());
}

TEST_F(Flow, OkTellsThePanelAndThenReappliesTheStoredPictureValues) {
  const int result = RunFlow([&](HWND sheet) {
    ShowPage(sheet, 1);
    Choose(PageWith(sheet, CtlKind::ComboBox, 1008), 1008, 2);  // "주변이 밝을 때"
    Click(sheet, IDOK);
  });
  EXPECT_EQ(IDOK, result);
  ASSERT_EQ(1, panel.Count(WM_TUNER_NOTIFY));
  EXPECT_EQ(PanelCmd::SettingsAccepted, panel.Of(WM_TUNER_NOTIFY)[0].wParam);
  EXPECT_EQ(0, panel.Of(WM_TUNER_NOTIFY)[0].lParam);
  EXPECT_EQ((std::vector<std::string>{"save", "load after 1 panel commands"}), calls);
  EXPECT_EQ(100, device[0]);
  EXPECT_EQ(89, device[1]);
  EXPECT_EQ(123, device[2]);
  EXPECT_EQ(128, device[3]);
  EXPECT_EQ(0, videoWnd.Count(WM_TUNER_NOTIFY)) << "picture commands go to the main window";
}

TEST_F(Flow, VisitingOnlyTheAudioPageStoresOnlySelection) {
  SavePicture();  // the picture values as they will be when the sheet opens
  calls.clear();
  const std::string before = orv::test::ReadConfigFile("registry.reg");
  RunFlow([&](HWND sheet) {
    ShowPage(sheet, 2);
    Click(PageWith(sheet, CtlKind::Button, 1005), 1005);
    Click(sheet, IDOK);
  });
  EXPECT_EQ(1, StoredWord(kKeyAudio, "Selection"));
  StoreDword(kKeyAudio, "Selection", 0);
  EXPECT_EQ(before, orv::test::ReadConfigFile("registry.reg"));
}

}  // namespace
