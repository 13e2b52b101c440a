// The capture settings and capture status dialogs.
#include "common/Settings.h"
#include "dialogs/CaptureDlg.h"
#include "dialogs/CaptureStatusDlg.h"
#include "platform/ui/controls_p.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "platform/ui/testing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

template <class W>
W* Inner(HWND dlg, int id) {
  auto* d = orv::ui::ControlData(GetDlgItem(dlg, id));
  return d ? qobject_cast<W*>(d->inner) : nullptr;
}

std::string StoredCapture() {
  HKEY k = OpenSettingsKey(kKeyVideo);
  char buf[300];
  ReadSettingString(k, "Capture", buf, sizeof buf, "<none>");
  CloseSettingsKey(k);
  return buf;
}

void StoreCapture(const std::string& path) {
  HKEY k = OpenSettingsKey(kKeyVideo);
  WriteSettingString(k, "Capture", path.c_str());
  CloseSettingsKey(k);
}

class CaptureDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    char cwd[4096];
    savedCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
    free = 10'000'000'000ull;
    SetFreeDiskHookForTests([this](const std::string& folder, unsigned long long* bytes) {
      folders.push_back(folder);
      *bytes = std::filesystem::is_directory(folder) ? free : 0;
      return std::filesystem::is_directory(folder);
    });
  }
  void TearDown() override {
    SetFreeDiskHookForTests(nullptr);
    CFileDialog::SetHook(nullptr);
    [[maybe_unused]] int r = chdir(savedCwd.c_str());
  }
  // Runs the dialog; `body` acts inside its loop and must end it.
  int Run(CDialog& d, std::function<void()> body) {
    QTimer::singleShot(0, [body] { body(); });
    return d.DoModal();
  }
  std::string Text(HWND dlg, int id) {
    if (auto* e = Inner<QLineEdit>(dlg, id)) return e->text().toStdString();
    if (auto* l = Inner<QLabel>(dlg, id)) return l->text().toStdString();
    return "?";
  }
  unsigned long long free;
  std::vector<std::string> folders;
  std::string savedCwd;
};

TEST_F(CaptureDialogs, NoStoredPathShowsTheDefaultAndStoresItEvenOnCancel) {
  CCaptureDlg dlg;
  std::string shown;
  EXPECT_EQ(IDCANCEL, Run(dlg, [&] {
              shown = Text(dlg.m_hWnd, 1000);
              dlg.EndDialog(IDCANCEL);
            }));
  EXPECT_EQ(DefaultCaptureFile(), shown);
  EXPECT_EQ('/', shown[0]);
  EXPECT_EQ(DefaultCaptureFile(), StoredCapture());
}

TEST_F(CaptureDialogs, TooLongStoredPathIsReplacedByTheDefault) {
  StoreCapture("/tmp/" + std::string(260, 'x') + ".avi");
  CCaptureDlg dlg;
  Run(dlg, [&] { dlg.EndDialog(IDCANCEL); });
  EXPECT_EQ(DefaultCaptureFile(), dlg.GetCaptureFile().str());
  EXPECT_EQ(DefaultCaptureFile(), StoredCapture());
}

TEST_F(CaptureDialogs, FreeSpaceRuleAtItsEdges) {
  StoreCapture("/tmp/clip.avi");
  struct Case {
    unsigned long long bytes;
    const char* shown;
    bool enabled;
  };
  for (Case c : {Case{999'999, "0", false}, Case{1'000'000, "1", true}, Case{5'000'000'000ull, "5000", true}}) {
    free = c.bytes;
    CCaptureDlg dlg;
    std::string shown;
    BOOL enabled = -1;
    Run(dlg, [&] {
      shown = Text(dlg.m_hWnd, 1011);
      enabled = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK));
      dlg.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(c.shown, shown) << c.bytes;
    EXPECT_EQ(c.enabled, enabled != FALSE) << c.bytes;
  }
  EXPECT_EQ("/tmp", folders.back());  // measured on the file's own folder
}

TEST_F(CaptureDialogs, MissingFolderShowsNothingFreeAndCannotStart) {
  StoreCapture("/no/such/folder/clip.avi");
  CCaptureDlg dlg;
  std::string shown;
  BOOL enabled = TRUE;
  EXPECT_EQ(IDCANCEL, Run(dlg, [&] {
              shown = Text(dlg.m_hWnd, 1011);
              enabled = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK));
              // Enter on the ticked check box would be "캡처 시작", which cannot be pressed now.
              Inner<QAbstractButton>(dlg.m_hWnd, 1007)->click();
              QTest::keyClick(Inner<QAbstractButton>(dlg.m_hWnd, 1007), Qt::Key_Return);
              if (IsWindowVisible(dlg.m_hWnd)) dlg.EndDialog(IDCANCEL);
            }));
  EXPECT_EQ("0", shown);
  EXPECT_FALSE(enabled);
}

TEST_F(CaptureDialogs, EnterAfterOpeningStartsTheCapture) {
  StoreCapture("/tmp/clip.avi");
  int chooserRuns = 0;
  CFileDialog::SetHook([&](const CFileDialog::Request&, std::string*) {
    ++chooserRuns;
    return false;
  });
  CCaptureDlg dlg;
  HWND focused = nullptr, start = nullptr;
  EXPECT_EQ(IDOK, Run(dlg, [&] {
              orv::test::PumpUntil([&] { return GetFocus() != nullptr; });
              focused = GetFocus();
              start = GetDlgItem(dlg.m_hWnd, IDOK);
              if (QWidget* f = QApplication::focusWidget()) QTest::keyClick(f, Qt::Key_Return);
              if (IsWindowVisible(dlg.m_hWnd)) dlg.EndDialog(IDCANCEL);
            }));
  EXPECT_EQ(start, focused) << "the first control has the focus";
  EXPECT_EQ(0, chooserRuns);
}

TEST_F(CaptureDialogs, ChosenNameGetsAviOnlyWithoutAnExtensionAndItsFolderBecomesCurrent) {
  const std::string dir = orv::test::ConfigDir() + "/video";
  std::filesystem::create_directories(dir);
  for (auto [chosen, want] : {std::pair<std::string, std::string>{dir + "/clip", dir + "/clip.avi"},
                              std::pair<std::string, std::string>{dir + "/clip.mpg", dir + "/clip.mpg"}}) {
    CFileDialog::Request seen{};
    CFileDialog::SetHook([&, chosen = chosen](const CFileDialog::Request& r, std::string* p) {
      seen = r;
      *p = chosen;
      return true;
    });
    CCaptureDlg dlg;
    std::string shown;
    BOOL enabled = FALSE;
    EXPECT_EQ(IDOK, Run(dlg, [&] {
                Inner<QAbstractButton>(dlg.m_hWnd, 1001)->click();
                shown = Text(dlg.m_hWnd, 1000);
                enabled = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK));
                Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
              }));
    EXPECT_EQ(want, shown);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(want, dlg.GetCaptureFile().str());
    EXPECT_EQ(want, StoredCapture());
    EXPECT_EQ("AVI Files (*.avi)|*.avi|", seen.filter);
    EXPECT_EQ(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, seen.flags);
    EXPECT_EQ(std::filesystem::canonical(dir), std::filesystem::current_path());
  }
}

TEST_F(CaptureDialogs, NameThatBecomesAnExistingFileIsAskedAboutLikeTheChooserDoes) {
  const std::string dir = orv::test::ConfigDir() + "/video";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/clip.avi") << "an earlier capture";
  StoreCapture("/tmp/old.avi");
  struct Case {
    int answer;
    std::string shown;
    int chooserRuns;  // "No" gives the chooser back, as its own question does
  };
  for (const Case& c : {Case{IDYES, dir + "/clip.avi", 1}, Case{IDNO, "/tmp/old.avi", 2}}) {
    int runs = 0;
    CFileDialog::SetHook([&](const CFileDialog::Request&, std::string* p) {
      if (runs++) return false;
      *p = dir + "/clip";
      return true;
    });
    orv::test::MessageBoxAnswerer boxes(c.answer);
    CCaptureDlg dlg;
    std::string shown;
    Run(dlg, [&] {
      Inner<QAbstractButton>(dlg.m_hWnd, 1001)->click();
      shown = Text(dlg.m_hWnd, 1000);
      dlg.EndDialog(IDCANCEL);
    });
    EXPECT_EQ(c.shown, shown) << c.answer;
    EXPECT_EQ(c.chooserRuns, runs) << c.answer;
    ASSERT_EQ(1u, boxes.calls.size()) << c.answer;
    EXPECT_EQ("clip.avi이(가) 이미 있습니다.\n바꾸시겠습니까?", boxes.calls[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION), boxes.calls[0].type);
  }
}

TEST_F(CaptureDialogs, PathTooLongToKeepIsRefusedAndThePreviousOneStays) {
  const std::string dir = orv::test::ConfigDir() + "/video";
  std::filesystem::create_directories(dir);
  StoreCapture("/tmp/old.avi");
  // A path of `bytes` bytes in that folder, mostly Hangul (three bytes a letter), ending in `ext`.
  auto path = [&](std::size_t bytes, const std::string& ext) {
    std::string p = dir + "/";
    while (p.size() + 3 + ext.size() <= bytes) p += "가";
    p.append(bytes - ext.size() - p.size(), 'a');
    return p + ext;
  };
  struct Case {
    std::string chosen;
    bool refused;
  };
  // The settings keep 254 bytes and a terminator; ".avi" counts once it is added.
  for (const Case& c : {Case{path(254, ".avi"), false}, Case{path(255, ".avi"), true}, Case{path(251, ""), true}}) {
    CFileDialog::SetHook([&](const CFileDialog::Request&, std::string* p) {
      *p = c.chosen;
      return true;
    });
    orv::test::MessageBoxAnswerer boxes(IDOK);
    const auto cwd = std::filesystem::current_path();
    CCaptureDlg dlg;
    std::string shown;
    BOOL enabled = FALSE;
    Run(dlg, [&] {
      Inner<QAbstractButton>(dlg.m_hWnd, 1001)->click();
      shown = Text(dlg.m_hWnd, 1000);
      enabled = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK));
      dlg.EndDialog(IDCANCEL);
    });
    EXPECT_TRUE(enabled) << c.chosen.size();
    if (!c.refused) {
      EXPECT_EQ(c.chosen, shown);
      EXPECT_TRUE(boxes.calls.empty());
      continue;
    }
    EXPECT_EQ("/tmp/old.avi", shown) << c.chosen.size();
    EXPECT_EQ(cwd, std::filesystem::current_path()) << c.chosen.size();
    ASSERT_EQ(1u, boxes.calls.size()) << c.chosen.size();
    EXPECT_EQ("파일 경로가 너무 깁니다. 더 짧은 폴더나 파일 이름을 골라 주십시오.", boxes.calls[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), boxes.calls[0].type);
  }
}

TEST_F(CaptureDialogs, CancelledChooserPutsBackTheUntakenNumber) {
  CFileDialog::SetHook([](const CFileDialog::Request&, std::string*) { return false; });
  CCaptureDlg dlg;
  std::string limit;
  Run(dlg, [&] {
    Inner<QAbstractButton>(dlg.m_hWnd, 1007)->click();
    Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("77");
    Inner<QAbstractButton>(dlg.m_hWnd, 1001)->click();
    limit = Text(dlg.m_hWnd, 1002);
    dlg.EndDialog(IDCANCEL);
  });
  EXPECT_EQ("1", limit);
}

TEST_F(CaptureDialogs, TimeLimitControlsFollowTheCheckBoxAndTheUpDownKeepsItsOwnPosition) {
  CCaptureDlg dlg;
  BOOL editBefore = TRUE, editAfter = FALSE, spinAfter = FALSE;
  std::string afterUp;
  EXPECT_EQ(IDOK, Run(dlg, [&] {
              editBefore = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, 1002));
              Inner<QAbstractButton>(dlg.m_hWnd, 1007)->click();
              editAfter = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, 1002));
              spinAfter = IsWindowEnabled(GetDlgItem(dlg.m_hWnd, 1003));
              Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("50");
              orv::ui::ControlData(GetDlgItem(dlg.m_hWnd, 1003))->inner->findChildren<QToolButton*>()[0]->click();
              afterUp = Text(dlg.m_hWnd, 1002);
              Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
            }));
  EXPECT_FALSE(editBefore);
  EXPECT_TRUE(editAfter);
  EXPECT_TRUE(spinAfter);
  EXPECT_EQ("2", afterUp);
  EXPECT_EQ(2u, dlg.GetTimeLimit());
  EXPECT_EQ(1, dlg.GetUseTimeLimit());
}

TEST_F(CaptureDialogs, ZeroLimitIsAcceptedAndAnEmptyOneIsRefused) {
  orv::test::MessageBoxAnswerer boxes(IDOK);
  CCaptureDlg dlg;
  BOOL openAfterEmpty = FALSE;
  EXPECT_EQ(IDOK, Run(dlg, [&] {
              Inner<QAbstractButton>(dlg.m_hWnd, 1007)->click();
              Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("");
              Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
              openAfterEmpty = IsWindowVisible(dlg.m_hWnd);
              Inner<QLineEdit>(dlg.m_hWnd, 1002)->setText("0");
              Inner<QAbstractButton>(dlg.m_hWnd, IDOK)->click();
            }));
  EXPECT_TRUE(openAfterEmpty);
  EXPECT_EQ(1u, boxes.calls.size());
  EXPECT_EQ(0u, dlg.GetTimeLimit());
  EXPECT_EQ(1, dlg.GetUseTimeLimit());
}

TEST_F(CaptureDialogs, StatusShowsElapsedTimeWithoutWrappingHours) {
  StoreCapture("/tmp/clip.avi");
  CCaptureStatusDlg dlg;
  std::string first, at3661, at61h;
  Run(dlg, [&] {
    first = Text(dlg.m_hWnd, 1012);
    for (int i = 0; i < 3661; ++i) dlg.OnTimer(1);
    at3661 = Text(dlg.m_hWnd, 1012);
    dlg.m_nElapsed = 219599;  // 61 hours less a second
    dlg.OnTimer(1);
    at61h = Text(dlg.m_hWnd, 1012);
    dlg.EndDialog(IDCANCEL);
  });
  EXPECT_EQ("0:00:00", first);
  EXPECT_EQ("01:01:01", at3661);
  EXPECT_EQ("61:00:00", at61h);
  EXPECT_EQ("/tmp/clip.avi", dlg.m_strCaptureFile.str());
}

TEST_F(CaptureDialogs, StatusClosesByItselfWhenTheDiskIsNearlyFull) {
  StoreCapture("/tmp/clip.avi");
  free = 999'999;
  CCaptureStatusDlg dlg;
  // The real one-second timer does it: no help from the test.
  EXPECT_EQ(IDOK, dlg.DoModal());
  EXPECT_EQ(1u, dlg.m_nElapsed);
  EXPECT_EQ("00:00:01", dlg.m_strElapsed.str());
}

TEST_F(CaptureDialogs, StatusEndsWithEscapeOrItsButton) {
  StoreCapture("/tmp/clip.avi");
  CCaptureStatusDlg esc;
  EXPECT_EQ(IDCANCEL, Run(esc, [&] { QTest::keyClick(orv::test::Widget(esc.m_hWnd), Qt::Key_Escape); }));
  CCaptureStatusDlg end;
  EXPECT_EQ(IDOK, Run(end, [&] { Inner<QAbstractButton>(end.m_hWnd, IDOK)->click(); }));
}

}  // namespace
