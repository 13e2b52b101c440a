// The recording page: what it shows from win.ini, what Enter, OK and Cancel store, and a wait that
// is refused.
#include "res/resource.h"
#include "tests/dialogs/rig.h"

#include <QApplication>
#include <QCheckBox>
#include <QTest>
#include <QToolButton>

using namespace dlgtest;

namespace {

constexpr int kFormat = IDC_RECORD_FORMAT, kStop = IDC_RECORD_STOP, kSpin = IDC_RECORD_STOP_SPIN,
              kDeinterlace = IDC_RECORD_DEINTERLACE;

class RecordPage : public FlowTest {
 protected:
  int Run(const std::function<void(HWND page, HWND sheet)>& body) { return RunFlow(4, "녹화", {}, body); }
  static std::string Stored() { return orv::test::ReadConfigFile("win.ini"); }
};

struct Shown { int format; std::string stop; bool deinterlace; };
bool operator==(const Shown& a, const Shown& b) { return std::tie(a.format, a.stop, a.deinterlace) == std::tie(b.format, b.stop, b.deinterlace); }
Shown Read(HWND page) {
  return {Inner<QComboBox>(page, kFormat)->currentIndex(), Text(page, kStop), Inner<QCheckBox>(page, kDeinterlace)->isChecked()};
}

TEST_F(RecordPage, ShowsTheStoredChoicesAndEnterStoresNewOnes) {
  const struct { const char* winIni; Shown shown; } cases[] = {
      {"", {0, "0", false}},
      {"[orvane]\nRecordFormat=lossless\nStopOnNoSignal=30\nDeinterlacePreview=1\n", {2, "30", true}},
      {"[orvane]\nRecordFormat=h264\nStopOnNoSignal=-5\nDeinterlacePreview=on\n", {0, "0", false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.winIni);
    orv::test::FreshConfigDir();
    orv::test::WriteConfigFile("win.ini", c.winIni);
    Run([&](HWND page, HWND) { EXPECT_TRUE(c.shown == Read(page)); });
    EXPECT_EQ(c.winIni, Stored()) << "shown and cancelled: nothing stored";
  }
  EXPECT_EQ(0, recordingApplied);
  std::vector<std::string> names;
  EXPECT_EQ(IDOK, Run([&](HWND page, HWND) {
              auto* list = Inner<QComboBox>(page, kFormat);
              for (int i = 0; i < list->count(); ++i) names.push_back(list->itemText(i).toStdString());
              EXPECT_EQ("초 (0 = 끝내지 않음, 최대 86400)", Text(page, IDC_RECORD_STOP_UNIT));
              Choose(page, kFormat, 3);
              Inner<QLineEdit>(page, kStop)->setText("120");
              Click(page, kDeinterlace);
              QTest::keyClick(Inner<QLineEdit>(page, kStop), Qt::Key_Return);
            }));
  EXPECT_EQ((std::vector<std::string>{"기본 (640×480, 14.99fps, 무압축 AVI)", "전체 프레임 (720×480/576, 무압축 AVI)",
                                      "무손실 (FFV1, MKV)", "압축 (H.264, MKV, 시간당 약 2GB)"}),
            names);
  for (const char* line : {"RecordFormat=compact\n", "StopOnNoSignal=120\n", "DeinterlacePreview=1\n"})
    EXPECT_NE(std::string::npos, Stored().find(line)) << line << " in " << Stored();
  EXPECT_EQ(1, recordingApplied);
  // The same choices again: nothing to apply.
  EXPECT_EQ(IDOK, Run([&](HWND, HWND sheet) { Click(sheet, IDOK); }));
  EXPECT_EQ(1, recordingApplied);
}

// A wait that is not a number, or out of range, is refused by OK and by a change of page with the
// framework's message and the focus on it; the arrows go on from a number typed in range.
TEST_F(RecordPage, RefusedWaitKeepsWhatWasStored) {
  const std::string before = "[orvane]\nStopOnNoSignal=30\n";
  orv::test::WriteConfigFile("win.ini", before);
  const std::string range = "0에서 86400 사이의 정수를 입력하십시오.", notANumber = "정수를 입력하십시오.";
  const struct { const char* typed; std::string message; } cases[] = {
      {"", notANumber}, {"86401", range}, {"99999999999", notANumber}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    orv::test::MessageBoxAnswerer boxes(IDOK);
    EXPECT_EQ(IDCANCEL, Run([&](HWND page, HWND sheet) {
                auto* edit = Inner<QLineEdit>(page, kStop);
                edit->setText(c.typed);
                ShowPage(sheet, 0);
                Click(sheet, IDOK);
                EXPECT_TRUE(IsWindowVisible(sheet));
                EXPECT_EQ(4, Tabs(sheet)->currentIndex());
                EXPECT_EQ(edit, edit->window()->focusWidget());
              }));
    ASSERT_EQ(2u, boxes.calls.size());
    EXPECT_EQ(c.message, boxes.calls[1].text);
    EXPECT_EQ(before, Stored());
  }
  EXPECT_EQ(IDOK, Run([&](HWND page, HWND sheet) {
              auto* edit = Inner<QLineEdit>(page, kStop);
              auto* up = orv::ui::ControlData(GetDlgItem(page, kSpin))->inner->findChildren<QToolButton*>()[0];
              up->click();
              EXPECT_EQ("31", Text(page, kStop));
              edit->setText("86399");
              emit edit->textEdited(edit->text());
              up->click();
              up->click();  // the top of the range
              EXPECT_EQ("86400", Text(page, kStop));
              Click(sheet, IDOK);
            }));
  EXPECT_NE(std::string::npos, Stored().find("StopOnNoSignal=86400\n")) << Stored();
}

}  // namespace
