// The capture settings and capture status dialogs.
#include "dialogs/CaptureDlg.h"
#include "dialogs/CaptureStatusDlg.h"
#include "platform/ui/testing.h"
#include "tests/dialogs/rig.h"

#include <QApplication>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <fstream>

using namespace dlgtest;

namespace {

constexpr int kFile = 1000, kChoose = 1001, kLimit = 1002, kSpin = 1003, kUseLimit = 1007, kFree = 1011;

class CaptureDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = orv::test::FreshConfigDir() + "/video";
    std::filesystem::create_directories(dir);
    cwd = std::filesystem::current_path();
    SetFreeDiskHookForTests([this](const std::string& folder, unsigned long long* bytes) {
      this->folder = folder;
      *bytes = std::filesystem::is_directory(folder) ? free : 0;
      return std::filesystem::is_directory(folder);
    });
  }
  void TearDown() override {
    SetFreeDiskHookForTests(nullptr);
    CFileDialog::SetHook(nullptr);
    std::filesystem::current_path(cwd);
  }
  std::string dir;
  std::filesystem::path cwd;
  unsigned long long free = 10'000'000'000ull;
  std::string folder;  // where free space was last measured
};

// The path shown takes the recording format's extension in place of the other container's; with no
// usable path stored (none, or too long to keep) the default in the home folder, in the format's
// container, is shown and stored at once, even on Cancel.
TEST_F(CaptureDialogs, OpeningPathFollowsTheFormat) {
  using orv::record::Format;
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", dir.c_str(), 1);
  struct Case { Format format; std::string stored, shown; };
  const Case cases[] = {
      {Format::Spec, "", dir + "/Capture.avi"},         {Format::Lossless, "", dir + "/Capture.mkv"},
      {Format::Compact, "/tmp/" + std::string(260, 'x') + ".avi", dir + "/Capture.mkv"},
      {Format::Lossless, "/tmp/a.avi", "/tmp/a.mkv"},   {Format::Compact, "/tmp/a.AVI", "/tmp/a.mkv"},
      {Format::Spec, "/tmp/a.mkv", "/tmp/a.avi"},       {Format::Full, "/tmp/a.MKV", "/tmp/a.avi"},
      {Format::Full, "/tmp/a.avi", "/tmp/a.avi"},       {Format::Lossless, "/tmp/a.mpg", "/tmp/a.mpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    orv::test::FreshConfigDir();
    orv::record::StoreRecording(c.format, 0, false);
    if (!c.stored.empty()) StoreString(kKeyVideo, "Capture", c.stored);
    CCaptureDlg dlg;
    RunModal(dlg, [&] {
      EXPECT_EQ(c.shown, Text(dlg.m_hWnd, kFile));
      if (!c.stored.empty()) Click(dlg.m_hWnd, IDOK);
    });
    EXPECT_EQ(c.shown, StoredString(kKeyVideo, "Capture"));
  }
  setenv("HOME", home.c_str(), 1);
}

// Free space on the file's own folder, in MB; under 1 MB (or no folder) the capture cannot start,
// and Enter on the ticked check box never presses the disabled "캡처 시작".
TEST_F(CaptureDialogs, FreeSpaceRuleAtItsEdges) {
  struct Case { const char* path; unsigned long long bytes; const char* shown; bool enabled; };
  for (Case c : {Case{"/tmp/clip.avi", 999'999, "0", false}, Case{"/tmp/clip.avi", 1'000'000, "1", true},
                 Case{"/tmp/clip.avi", 5'000'000'000ull, "5000", true}, Case{"/no/such/dir/clip.avi", 1000000000, "0", false}}) {
    SCOPED_TRACE(std::string(c.path) + " " + std::to_string(c.bytes));
    StoreString(kKeyVideo, "Capture", c.path);
    free = c.bytes;
    CCaptureDlg dlg;
    EXPECT_EQ(c.enabled ? IDOK : IDCANCEL, RunModal(dlg, [&] {
                EXPECT_EQ(c.shown, Text(dlg.m_hWnd, kFree));
                EXPECT_EQ(c.enabled, IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK)) != FALSE);
                Click(dlg.m_hWnd, kUseLimit);
                QTest::keyClick(Inner<QAbstractButton>(dlg.m_hWnd, kUseLimit), Qt::Key_Return);
              }));
    EXPECT_EQ(std::filesystem::path(c.path).parent_path(), folder);
  }
}

TEST_F(CaptureDialogs, EnterAfterOpeningStartsTheCapture) {
  StoreString(kKeyVideo, "Capture", "/tmp/clip.avi");
  int chooserRuns = 0;
  CFileDialog::SetHook([&](const CFileDialog::Request&, std::string*) { return ++chooserRuns, false; });
  CCaptureDlg dlg;
  EXPECT_EQ(IDOK, RunModal(dlg, [&] {
              orv::test::PumpUntil([&] { return GetFocus() != nullptr; });
              EXPECT_EQ(GetDlgItem(dlg.m_hWnd, IDOK), GetFocus()) << "the first control has the focus";
              if (QWidget* f = QApplication::focusWidget()) QTest::keyClick(f, Qt::Key_Return);
            }));
  EXPECT_EQ(0, chooserRuns);
}

// A chosen name gets the format's extension (".avi", or ".mkv" for Matroska) only without one; "clip"
// becoming an existing file is asked about ("No" gives the chooser back); a path over 254 bytes
// (the extension counted once added) is refused. What is taken is stored on "캡처 시작" and its
// folder becomes current; a refusal changes neither.
TEST_F(CaptureDialogs, ChosenNames) {
  using orv::record::Format;
  std::ofstream(dir + "/clip.avi") << "an earlier capture";
  std::ofstream(dir + "/clip.mkv") << "an earlier capture";
  auto path = [&](std::size_t bytes, const std::string& ext) {  // mostly Hangul, three bytes a letter
    std::string p = dir + "/";
    while (p.size() + 3 + ext.size() <= bytes) p += "가";
    return p.append(bytes - ext.size() - p.size(), 'a') + ext;
  };
  const std::string old = "/tmp/old.mpg", question = "이(가) 이미 있습니다.\n바꾸시겠습니까?",
                    exists = "clip.avi" + question, existsMkv = "clip.mkv" + question,
                    tooLong = "파일 경로가 너무 깁니다. 더 짧은 폴더나 파일 이름을 골라 주십시오.";
  struct Case { std::string chosen; int answer; std::string shown; int chooserRuns; std::string box; Format format = Format::Spec; };
  const Case cases[] = {
      {dir + "/new", IDOK, dir + "/new.avi", 1, ""}, {dir + "/new", IDOK, dir + "/new.mkv", 1, "", Format::Lossless},
      {dir + "/c.mpg", IDOK, dir + "/c.mpg", 1, ""}, {dir + "/c.mkv", IDOK, dir + "/c.mkv", 1, "", Format::Compact},
      {dir + "/clip", IDYES, dir + "/clip.avi", 1, exists}, {dir + "/clip", IDYES, dir + "/clip.mkv", 1, existsMkv, Format::Compact},
      {dir + "/clip", IDNO, old, 2, exists}, {path(254, ".avi"), IDOK, path(254, ".avi"), 1, ""},
      {path(255, ".avi"), IDOK, old, 1, tooLong}, {path(251, ""), IDOK, old, 1, tooLong, Format::Lossless}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen + " " + std::to_string(c.answer) + " " + orv::record::InfoOf(c.format).key);
    orv::record::StoreRecording(c.format, 0, false);
    StoreString(kKeyVideo, "Capture", old);
    std::filesystem::current_path(cwd);
    orv::test::MessageBoxAnswerer boxes(c.answer);
    int runs = 0;
    CFileDialog::Request request{};
    CFileDialog::SetHook([&](const CFileDialog::Request& r, std::string* p) {
      request = r;
      *p = c.chosen;
      return runs++ == 0;  // a second run is cancelled
    });
    CCaptureDlg dlg;
    RunModal(dlg, [&] {
      Click(dlg.m_hWnd, kChoose);
      EXPECT_EQ(c.shown, Text(dlg.m_hWnd, kFile));
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dlg.m_hWnd, IDOK)));
      Click(dlg.m_hWnd, IDOK);
    });
    EXPECT_EQ(c.shown, StoredString(kKeyVideo, "Capture"));
    EXPECT_EQ(c.chooserRuns, runs);
    EXPECT_EQ(orv::record::InfoOf(c.format).matroska ? "Matroska Files (*.mkv)|*.mkv|" : "AVI Files (*.avi)|*.avi|", request.filter);
    EXPECT_EQ(static_cast<DWORD>(OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT), request.flags);
    if (c.answer != IDNO) { EXPECT_EQ(c.shown == old ? cwd : std::filesystem::canonical(dir), std::filesystem::current_path()); }
    ASSERT_EQ(c.box.empty() ? 0u : 1u, boxes.calls.size());
    if (!c.box.empty()) { EXPECT_EQ(std::pair(c.box, int((c.answer == IDOK ? MB_OK : MB_YESNO) | MB_ICONEXCLAMATION)),
                                    std::pair(boxes.calls[0].text, int(boxes.calls[0].type))); }
  }
}

// "캡처 시작" onto a recording that is there asks first, in the chooser's words, in every format: No
// keeps the dialog open on the same name with the chooser's button focused. An empty file, or a new
// name, is not asked about.
TEST_F(CaptureDialogs, StartingOntoAnEarlierRecordingAsks) {
  using orv::record::Format;
  std::ofstream(dir + "/last.avi") << "an earlier capture";
  std::ofstream(dir + "/last.mkv") << "an earlier capture";
  std::ofstream(dir + "/empty.avi");
  struct Case { std::string file; Format format; int answer, result; std::string box; };
  const std::string question = "이(가) 이미 있습니다.\n바꾸시겠습니까?";
  const Case cases[] = {{dir + "/last.avi", Format::Spec, IDNO, IDCANCEL, "last.avi" + question},
                        {dir + "/last.mkv", Format::Lossless, IDNO, IDCANCEL, "last.mkv" + question},
                        {dir + "/last.mkv", Format::Compact, IDYES, IDOK, "last.mkv" + question},
                        {dir + "/empty.avi", Format::Full, IDNO, IDOK, ""},
                        {dir + "/new.avi", Format::Spec, IDNO, IDOK, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + orv::record::InfoOf(c.format).key);
    orv::record::StoreRecording(c.format, 0, false);
    StoreString(kKeyVideo, "Capture", c.file);
    orv::test::MessageBoxAnswerer boxes(c.answer);
    CCaptureDlg dlg;
    EXPECT_EQ(c.result, RunModal(dlg, [&] {
                Click(dlg.m_hWnd, IDOK);
                if (c.result != IDCANCEL) return;
                EXPECT_EQ(c.file, Text(dlg.m_hWnd, kFile));
                // The button itself has the keyboard, so its focus frame shows and Enter presses it.
                orv::test::PumpUntil([&] { return QApplication::focusWidget() != nullptr; });
                EXPECT_EQ(Inner<QAbstractButton>(dlg.m_hWnd, kChoose), QApplication::focusWidget());
                Click(dlg.m_hWnd, IDCANCEL);
              }));
    ASSERT_EQ(c.box.empty() ? 0u : 1u, boxes.calls.size());
    if (!c.box.empty()) { EXPECT_EQ(std::pair(c.box, int(MB_YESNO | MB_ICONEXCLAMATION)), std::pair(boxes.calls[0].text, int(boxes.calls[0].type))); }
  }
}

// The limit follows its check box; a cancelled chooser puts back the untaken number; the up-down
// keeps its own position; an empty limit is refused and zero accepted.
TEST_F(CaptureDialogs, TimeLimit) {
  CFileDialog::SetHook([](const CFileDialog::Request&, std::string*) { return false; });
  orv::test::MessageBoxAnswerer boxes(IDOK);
  CCaptureDlg dlg;
  EXPECT_EQ(IDOK, RunModal(dlg, [&] {
              const HWND h = dlg.m_hWnd;
              const auto type = [&](const char* t) { Inner<QLineEdit>(h, kLimit)->setText(t); };
              EXPECT_FALSE(IsWindowEnabled(GetDlgItem(h, kLimit)));
              Click(h, kUseLimit);
              EXPECT_TRUE(IsWindowEnabled(GetDlgItem(h, kLimit)) && IsWindowEnabled(GetDlgItem(h, kSpin)));
              type("77");
              Click(h, kChoose);
              EXPECT_EQ("1", Text(h, kLimit));
              type("50");
              orv::ui::ControlData(GetDlgItem(h, kSpin))->inner->findChildren<QToolButton*>()[0]->click();
              EXPECT_EQ("2", Text(h, kLimit));
              type("");
              Click(h, IDOK);
              EXPECT_TRUE(IsWindowVisible(h));
              EXPECT_EQ(1u, boxes.calls.size());
              type("0");
              Click(h, IDOK);
            }));
  EXPECT_EQ(0u, dlg.GetTimeLimit());
  EXPECT_EQ(1, dlg.GetUseTimeLimit());
}

// The elapsed time and the frames dropped so far, both from the timer; Escape or its button ends
// it, and its own timer when the disk is nearly full.
struct WatchedStatus : CCaptureStatusDlg {
  LONG dropped = 0;
  LONG DroppedFrames() override { return dropped; }
};

TEST_F(CaptureDialogs, StatusShowsElapsedTimeAndDroppedFramesAndEnds) {
  StoreString(kKeyVideo, "Capture", "/tmp/clip.avi");
  WatchedStatus dlg;
  dlg.dropped = 4;
  EXPECT_EQ(IDCANCEL, RunModal(dlg, [&] {
              EXPECT_EQ("0:00:00", Text(dlg.m_hWnd, 1012));
              EXPECT_EQ("놓친 프레임: 4", Text(dlg.m_hWnd, 1013));
              dlg.dropped = 17;
              for (int i = 0; i < 3661; ++i) dlg.OnTimer(1);
              EXPECT_EQ("01:01:01", Text(dlg.m_hWnd, 1012));
              EXPECT_EQ("놓친 프레임: 17", Text(dlg.m_hWnd, 1013));
              dlg.m_nElapsed = 219599;  // 61 hours less a second
              dlg.OnTimer(1);
              EXPECT_EQ("61:00:00", Text(dlg.m_hWnd, 1012));
              QTest::keyClick(orv::test::Widget(dlg.m_hWnd), Qt::Key_Escape);
            }));
  EXPECT_EQ("/tmp/clip.avi", dlg.m_strCaptureFile.str());
  CCaptureStatusDlg end;
  EXPECT_EQ(IDOK, RunModal(end, [&] { Click(end.m_hWnd, IDOK); }));
  free = 999'999;
  WatchedStatus full;
  full.dropped = 250;
  EXPECT_EQ(IDOK, full.DoModal());
  EXPECT_EQ("00:00:01", full.m_strElapsed.str());
  EXPECT_EQ("놓친 프레임: 250", full.m_strDropped.str());
}

}  // namespace
