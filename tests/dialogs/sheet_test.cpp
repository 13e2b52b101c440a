// The settings sheet's buttons, its keyboard, its video page and its channel page.
#include "dialogs/AboutDlg.h"
#include "tests/dialogs/rig.h"

#include <QImage>
#include <QKeySequence>
#include <QTest>
#include <atomic>
#include <thread>

using namespace dlgtest;

namespace {

constexpr int kBright = 1000, kHue = 1002, kSaturation = 1003, kBrightLabel = 1004, kMode = 1008, kCaptions = 1010;
constexpr int kTV = 1003, kCATV = 1004, kIn = 1006, kOut = 1007, kAllIn = 1008, kAllOut = 1009, kRestore = 1010;

// The left edges of OK, Cancel, Apply and Help once the sheet is up (-1 for hidden ones unless `all`).
template <class SheetClass>
std::vector<int> ButtonsOf(DWORD flags, bool all = false) {
  std::vector<int> out;
  CChannelSetup c; CVideoSetup v; CAudioSetup a;
  SheetClass sheet("환경설정");
  for (CPropertyPage* p : std::initializer_list<CPropertyPage*>{&c, &v, &a}) sheet.AddPage(p);
  sheet.m_psh.dwFlags |= flags;
  RunModal(sheet, [&] {
    for (int id : {IDOK, IDCANCEL, ID_APPLY_NOW, IDHELP}) {
      RECT r;
      GetWindowRect(GetDlgItem(sheet.m_hWnd, id), &r);
      ScreenToClient(sheet.m_hWnd, reinterpret_cast<POINT*>(&r));
      out.push_back(all || IsWindowVisible(GetDlgItem(sheet.m_hWnd, id)) ? r.left : -1);
    }
  });
  return out;
}

// Without Apply, OK and Cancel take the two rightmost places; with it, every button moves one place right.
TEST(Sheet, ButtonsMoveRightAndHelpIsHidden) {
  auto p = ButtonsOf<CPropertySheet>(PSH_NOAPPLYNOW, true);
  EXPECT_EQ((std::vector<int>{p[2], p[3], -1, -1}), ButtonsOf<CConfigSheet>(PSH_NOAPPLYNOW));
  p = ButtonsOf<CPropertySheet>(0, true);
  EXPECT_EQ((std::vector<int>{p[1], p[2], p[3], -1}), ButtonsOf<CConfigSheet>(0));
}

// The focus of a window, or the window itself when nothing in it has the focus.
QWidget* FocusIn(HWND top) {
  QWidget* w = orv::test::Widget(top);
  return w->focusWidget() ? w->focusWidget() : w;
}

// The Tab stops of a window, in order, from the one after the focus round to the focus.
std::vector<QWidget*> TabStops(HWND top) {
  std::vector<QWidget*> stops;
  for (int i = 0; i < 40; ++i) {
    QTest::keyClick(FocusIn(top), Qt::Key_Tab);
    if (!stops.empty() && FocusIn(top) == stops.front()) break;
    stops.push_back(FocusIn(top));
  }
  return stops;
}

// Why a Tab stop is none a user can see, or "".
std::string Unseen(QWidget* w) {
  if (w->isWindow()) return "the window itself";
  if (!w->isVisible()) return std::string("a hidden ") + w->metaObject()->className();
  if (!w->isEnabled()) return std::string("a disabled ") + w->metaObject()->className();
  return {};
}

class SheetKeys : public FlowTest {
 protected:
  int Shown() { return Tabs(hSheet)->currentIndex(); }
  // Whether the focus is on the first Tab stop of the page shown, as after a click on its tab.
  bool FocusOnFirstStop() {
    CPropertyPage* pages[] = {&channel, &video, &audio};
    QWidget* page = orv::test::Widget(pages[Shown()]->m_hWnd);
    for (QWidget* w = Tabs(hSheet)->nextInFocusChain(); w != Tabs(hSheet); w = w->nextInFocusChain())
      if ((w->focusPolicy() & Qt::TabFocus) && w->isVisible() && w->isEnabled())
        return page->isAncestorOf(w) && FocusIn(hSheet) == w;
    return false;
  }
};

// Ctrl+Tab and Ctrl+PgDn show the next page, Ctrl+Shift+Tab and Ctrl+PgUp the one before, round
// the ends; the focus goes into the page, as a click on its tab from another page puts it there.
TEST_F(SheetKeys, CtrlTabAndCtrlPageKeysChangePagesRoundTheEnds) {
  const struct { Qt::Key key; Qt::KeyboardModifiers mods; int shown; } steps[] = {
      {Qt::Key_Tab, Qt::ControlModifier, 1},       {Qt::Key_PageDown, Qt::ControlModifier, 2},
      {Qt::Key_Tab, Qt::ControlModifier, 0},       {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 2},
      {Qt::Key_PageUp, Qt::ControlModifier, 1},    {Qt::Key_PageUp, Qt::ControlModifier, 0},
      {Qt::Key_PageUp, Qt::ControlModifier, 2},
  };
  RunSheet([&] {
    // Focused tabs keep the focus for their arrow keys and clicks; from a page a click takes it into
    // the new page.
    Tabs(hSheet)->setFocus();
    QTest::keyClick(Tabs(hSheet), Qt::Key_Right);
    QTest::mouseClick(Tabs(hSheet), Qt::LeftButton, {}, Tabs(hSheet)->tabRect(2).center());
    EXPECT_EQ(2, Shown());
    EXPECT_EQ(Tabs(hSheet), FocusIn(hSheet));
    QTest::keyClick(Tabs(hSheet), Qt::Key_Tab);
    QTest::mouseClick(Tabs(hSheet), Qt::LeftButton, {}, Tabs(hSheet)->tabRect(1).center());
    EXPECT_EQ(1, Shown());
    EXPECT_TRUE(FocusOnFirstStop()) << "after a click: " << FocusIn(hSheet)->metaObject()->className();
    Tabs(hSheet)->setFocus();  // Ctrl+Tab takes the focus into the page also from the tabs
    QTest::keyClick(FocusIn(hSheet), Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(0, Shown());
    EXPECT_TRUE(FocusOnFirstStop());
    for (const auto& st : steps) {
      QTest::keyClick(FocusIn(hSheet), st.key, st.mods);
      EXPECT_EQ(st.shown, Shown()) << QKeySequence(st.key | st.mods).toString().toStdString();
      EXPECT_TRUE(FocusOnFirstStop()) << QKeySequence(st.key | st.mods).toString().toStdString();
    }
    // Plain Tab and PgDn stay on the page.
    QTest::keyClick(FocusIn(hSheet), Qt::Key_Tab);
    QTest::keyClick(FocusIn(hSheet), Qt::Key_PageDown);
    EXPECT_EQ(2, Shown());
  });
}

// Every Tab stop of each page of the settings sheet, and of the About box, is a control a user sees.
TEST_F(SheetKeys, EveryTabStopIsAVisibleControl) {
  RunFlow(0, "채널설정", {{{"Card", 0, false, {}}}, {"Card Audio"}}, [&](HWND, HWND sheet) {
    for (int page = 0; page < 5; ++page) {
      ShowPage(sheet, page);
      const std::vector<QWidget*> stops = TabStops(sheet);
      EXPECT_GT(stops.size(), 3u) << "page " << page;
      for (QWidget* w : stops) EXPECT_EQ("", Unseen(w)) << "page " << page;
    }
  });
  CAboutDlg about;
  RunModal(about, [&] {
    const std::vector<QWidget*> stops = TabStops(about.m_hWnd);
    ASSERT_EQ(1u, stops.size());
    EXPECT_EQ("", Unseen(stops[0]));
  });
}

// A push button with the focus looks other than without it, also when the focus came without a key.
TEST_F(SheetKeys, AFocusedPushButtonLooksFocused) {
  RunSheet([&] {
    ASSERT_TRUE(orv::test::PumpUntil([&] { return orv::test::Widget(hSheet)->isActiveWindow(); }));
    auto* cancel = Inner<QAbstractButton>(hSheet, IDCANCEL);
    Inner<QAbstractButton>(hSheet, IDOK)->setFocus(Qt::OtherFocusReason);
    const QImage without = cancel->grab().toImage();
    cancel->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(cancel->hasFocus());
    EXPECT_NE(without, cancel->grab().toImage());
  });
}

class VideoPage : public SheetTest {
 protected:
  std::vector<int> Sliders() {
    std::vector<int> out;
    for (int id = kBright; id <= kSaturation; ++id) out.push_back(SliderPos(video.m_hWnd, id));
    for (int i = 0; i < 4; ++i) out.push_back(std::stoi(Text(video.m_hWnd, kBrightLabel + i)));
    return out;
  }
};

// Sliders open at the stored values (or 127, clamped to 255), sending nothing; a preset moves them and
// sends its values, a move is sent at once, "사용자 정의" resends all; moves survive a page change; OK stores.
TEST_F(VideoPage, OpensAtTheStoredValuesAndSendsAndStoresPresetsAndMoves) {
  StoreDword(kKeyVideo, "Bright", 300);
  StoreDword(kKeyVideo, "Saturation", 0);
  RunSheet([&] {
    EXPECT_EQ((std::vector<int>{255, 127, 127, 0, 255, 127, 127, 0}), Sliders());
    EXPECT_EQ(255, Inner<QSlider>(video.m_hWnd, kHue)->maximum());
    EXPECT_TRUE(Sent().empty());
    Choose(video.m_hWnd, kMode, 3);  // "주변이 어두울 때"
    EXPECT_EQ((Cmds{{52, 185}, {53, 120}, {54, 110}, {55, 128}}), Sent());
    EXPECT_EQ((std::vector<int>{185, 120, 110, 128, 185, 120, 110, 128}), Sliders());
    main.log.clear();
    Slide(video.m_hWnd, kHue, 200);
    EXPECT_EQ((Cmds{{54, 200}}), Sent());
    main.log.clear();
    Choose(video.m_hWnd, kMode, 0);
    EXPECT_EQ((Cmds{{52, 185}, {53, 120}, {54, 200}, {55, 128}}), Sent());
    ShowPage(hSheet, 2);
    Ok();
  }, 1);
  std::vector<int> stored;
  for (const char* n : {"Bright", "Contrast", "Hue", "Saturation"}) stored.push_back(StoredWord(kKeyVideo, n));
  EXPECT_EQ((std::vector<int>{185, 120, 200, 128}), stored);
}

// The captions box opens as win.ini's ShowCaptions says (on only for 1); OK stores a change and says
// so, so that the live picture is built again.
TEST_F(VideoPage, CaptionsBoxStoresShowCaptionsAndTellsOfAChange) {
  const struct { const char* stored; bool checked, click; const char* after; } cases[] = {
      {"", false, false, ""}, {"", false, true, "1"}, {"1", true, true, "0"}, {"yes", false, false, "yes"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + (c.click ? " clicked" : ""));
    orv::test::FreshConfigDir();
    if (*c.stored) WriteProfileStringA("orvane", "ShowCaptions", c.stored);
    video.m_bCaptionsChanged = false;
    RunSheet([&] {
      EXPECT_EQ(c.checked, IsDlgButtonChecked(video.m_hWnd, kCaptions) == BST_CHECKED);
      if (c.click) Click(video.m_hWnd, kCaptions);
      Ok();
    }, 1);
    char stored[16] = {};
    GetProfileStringA("orvane", "ShowCaptions", "", stored, sizeof stored);
    EXPECT_EQ(std::string(c.after), stored);
    EXPECT_EQ(c.click, video.m_bCaptionsChanged);
  }
}

std::vector<std::string> Names(const CListBox& list) {
  std::vector<std::string> out;
  CString t;
  for (int i = 0; i < list.GetCount(); ++i) out.push_back((list.GetText(i, t), t.str()));
  return out;
}

std::vector<int> Range(int first, int last, std::initializer_list<int> except = {}) {
  std::vector<int> out;
  for (int c = first; c <= last; ++c)
    if (std::find(except.begin(), except.end(), c) == except.end()) out.push_back(c);
  return out;
}

std::string Flags(int chars, std::initializer_list<int> registered) {
  std::string s(static_cast<size_t>(chars), '0');
  for (int c : registered) s[static_cast<size_t>(c)] = '1';
  return s;
}

using V = std::vector<int>;

class ChannelPage : public SheetTest {
 protected:
  void Press(int id) { Click(channel.m_hWnd, id); }
  static V Items(const CListBox& l) { V out; for (const std::string& n : Names(l)) out.push_back(std::stoi(n)); return out; }
  V In() { return Items(channel.m_lstRegistered); }
  V Out() { return Items(channel.m_lstUnregistered); }
  void Notice(LPARAM channel) { SendMessageA(this->channel.m_hWnd, WM_TUNER_NOTIFY, PageCmd::SignalFound, channel); }
};

TEST_F(ChannelPage, ArrowsMoveTheSelectedChannelsAndNothingWithoutASelection) {
  StoreString(kKeyChannel, "TV", Flags(70, {11}));
  RunSheet([&] {
    Press(kIn);
    EXPECT_EQ(V{11}, In());
    Select(channel.m_lstUnregistered, {"5", "7"});
    Press(kIn);
    EXPECT_EQ((V{5, 7, 11}), In());
    EXPECT_EQ(Range(2, 69, {5, 7, 11}), Out());
    Select(channel.m_lstRegistered, {"5", "11"});
    Press(kOut);
    EXPECT_EQ(V{7}, In());
    Ok();
  });
  EXPECT_EQ(Flags(70, {7}), StoredString(kKeyChannel, "TV"));
}

TEST_F(ChannelPage, RestoreUndoesOnlyTheCurrentBandAndAllCoversTheWholeList) {
  StoreString(kKeyChannel, "TV", Flags(70, {3, 4}));
  StoreString(kKeyChannel, "CATV", Flags(126, {100}));
  RunSheet([&] {
    Press(kAllIn);
    EXPECT_EQ(Range(2, 69), In());
    Press(kCATV);
    Press(kAllOut);
    Press(kTV);
    Press(kRestore);
    EXPECT_EQ((V{3, 4}), In());
    Press(kCATV);
    EXPECT_EQ(V{}, In());
    Press(kRestore);
    EXPECT_EQ(V{100}, In());
    Press(kAllIn);
    Ok();
  });
  EXPECT_EQ(Flags(70, {3, 4}), StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(std::string(126, '1'), StoredString(kKeyChannel, "CATV"));
  RunSheet([&] {  // Cancel stores nothing
    Press(kAllIn);
    Cancel();
  });
  EXPECT_EQ(Flags(70, {3, 4}), StoredString(kKeyChannel, "TV"));
}

// Scan notices (one from a worker thread) mark channels of the band shown, never outside it.
TEST_F(ChannelPage, ScanNoticesMarkChannelsOfTheCurrentBandOnly) {
  RunSheet([&] {
    std::atomic<bool> done{false};
    std::thread worker([&] { Notice(44), done = true; });
    EXPECT_TRUE(orv::test::PumpUntil([&] { return done.load(); }));
    worker.join();
    for (LPARAM outside : {0, 1, 70, 125, -1, 100000}) Notice(outside);
    EXPECT_EQ((V{2, 6, 7, 9, 11, 13, 44}), In());
    Press(kCATV);
    Notice(125);
    Notice(126);
    EXPECT_EQ((V{2, 6, 7, 9, 11, 13, 125}), In());
    Ok();
  });
  EXPECT_EQ(Flags(70, {2, 6, 7, 9, 11, 13, 44}), StoredString(kKeyChannel, "TV"));
  EXPECT_EQ(Flags(126, {2, 6, 7, 9, 11, 13, 125}), StoredString(kKeyChannel, "CATV"));
}

// A scan's find the plan lacks (E15) is not marked.
TEST_F(ChannelPage, ARegionsPlanListsItsChannelsByNameAndRegistersTheirNumbers) {
  orv::test::WriteConfigFile("win.ini", "[orvane]\nRegion=EU\n");
  StoreString(kKeyChannel, "TV", Flags(70, {}));
  std::vector<std::string> tv;
  int catv = 0;
  RunSheet([&] {
    tv = Names(channel.m_lstUnregistered);
    Select(channel.m_lstUnregistered, {"E5", "E21"});
    Press(kIn);
    Notice(15);
    Notice(69);
    EXPECT_EQ((std::vector<std::string>{"E5", "E21", "E69"}), Names(channel.m_lstRegistered));
    Press(kCATV);
    catv = channel.m_lstRegistered.GetCount() + channel.m_lstUnregistered.GetCount();
    Ok();
  });
  ASSERT_EQ(60u, tv.size());  // E2..E12, E21..E69
  EXPECT_EQ((std::vector<std::string>{"E2", "E12", "E21", "E69"}), (std::vector<std::string>{tv[0], tv[10], tv[11], tv[59]}));
  EXPECT_EQ(101, catv);  // the same and S1..S41
  EXPECT_EQ(Flags(70, {5, 21, 69}), StoredString(kKeyChannel, "TV"));
}

}  // namespace
