// The recording page: what it shows from win.ini, what Enter, OK and Cancel store, and a wait,
// notes or teletext page that are refused.
#include "res/resource.h"
#include "tests/dialogs/rig.h"

#include <QCheckBox>
#include <QTest>
#include <QToolButton>

using namespace dlgtest;

namespace {

class RecordPage : public FlowTest {
 protected:
  int Run(const std::function<void(HWND page, HWND sheet)>& body) { return RunFlow(4, "녹화", {}, body); }
  static std::string Stored() { return orv::test::ReadConfigFile("win.ini"); }
};

TEST_F(RecordPage, ShowsTheStoredChoicesAndEnterStoresNewOnes) {
  using Shown = std::tuple<int, std::string, bool, std::string, std::string, bool, std::string>;
  for (const auto& [winIni, shown] :
       {std::pair{"", Shown{0, "0", false, "", "", true, "자동"}}, {"[orvane]\nTeletextPage=999\n", {0, "0", false, "", "", true, "자동"}},
        {"[orvane]\nRecordFormat=lossless\nStopOnNoSignal=30\nDeinterlacePreview=1\nOperator=김 기록\nNotes=VHS 7, side A\nWriteLog=0\n"
         "TeletextPage=888\n",
         {2, "30", true, "김 기록", "VHS 7, side A", false, "888"}}}) {
    orv::test::FreshConfigDir();
    orv::test::WriteConfigFile("win.ini", winIni);
    Run([&](HWND page, HWND) {
      EXPECT_EQ(shown, Shown(Inner<QComboBox>(page, IDC_RECORD_FORMAT)->currentIndex(), Text(page, IDC_RECORD_STOP),
                             Inner<QCheckBox>(page, IDC_RECORD_DEINTERLACE)->isChecked(), Text(page, IDC_RECORD_OPERATOR),
                             Text(page, IDC_RECORD_NOTES), Inner<QCheckBox>(page, IDC_RECORD_WRITE_LOG)->isChecked(),
                             Text(page, IDC_RECORD_TELETEXT)));
    });
    EXPECT_EQ(winIni, Stored()) << "shown and cancelled: nothing stored";
  }
  EXPECT_EQ(IDOK, Run([&](HWND page, HWND) {
              auto* list = Inner<QComboBox>(page, IDC_RECORD_FORMAT);
              EXPECT_EQ((QStringList{"기본 (640×480, 14.99fps, 무압축 AVI)", "전체 프레임 (720×480/576, 무압축 AVI)",
                                     "무손실 (FFV1, MKV)", "압축 (H.264, MKV, 시간당 약 2GB)",
                                     "무손실 원본과 압축 사본 (FFV1과 H.264, MKV 두 개)"}),
                        (QStringList{list->itemText(0), list->itemText(1), list->itemText(2), list->itemText(3),
                                     list->itemText(4)}));
              EXPECT_EQ(5, list->count());
              EXPECT_EQ("초 (0 = 끝내지 않음, 최대 86400)", Text(page, IDC_RECORD_STOP_UNIT));
              Choose(page, IDC_RECORD_FORMAT, 4);
              Inner<QLineEdit>(page, IDC_RECORD_STOP)->setText("120");
              Click(page, IDC_RECORD_DEINTERLACE);  // off again
              Inner<QLineEdit>(page, IDC_RECORD_OPERATOR)->setText("홍길동");
              Inner<QLineEdit>(page, IDC_RECORD_NOTES)->setText("Betacam 12 — 1987 뉴스");
              Click(page, IDC_RECORD_WRITE_LOG);  // on again
              Inner<QLineEdit>(page, IDC_RECORD_TELETEXT)->setText(" 777 ");
              QTest::keyClick(Inner<QLineEdit>(page, IDC_RECORD_STOP), Qt::Key_Return);
            }));
  EXPECT_NE(std::string::npos, Stored().find("RecordFormat=lossless+compact\nStopOnNoSignal=120\nDeinterlacePreview=0\n"
                                             "Operator=홍길동\nNotes=Betacam 12 — 1987 뉴스\nWriteLog=1\nTeletextPage=777\n"))
      << Stored();
  EXPECT_EQ(1, recordingApplied);
  EXPECT_EQ(IDOK, Run([&](HWND, HWND sheet) { Click(sheet, IDOK); }));
  EXPECT_EQ(1, recordingApplied) << "the same choices again: nothing to apply";
}

// A wait that is not a number, or out of range, and an operator or notes that would not stay one
// line, are refused by OK and by a change of page with a message and the focus on the field; the
// arrows go on from a number typed in range.
TEST_F(RecordPage, RefusedWaitOrNotesKeepWhatWasStored) {
  const std::string before = "[orvane]\nStopOnNoSignal=30\nOperator=김\n", notANumber = "정수를 입력하십시오.";
  const std::string notOneLine = "작업자와 메모는 제어 문자 없이 한 줄로, 1000바이트까지 입력할 수 있습니다.";
  const std::string notAPage = "자막 페이지는 자동 또는 100에서 899 사이의 번호로 입력하십시오.";
  orv::test::WriteConfigFile("win.ini", before);
  for (const auto& [id, typed, message] :
       {std::tuple{IDC_RECORD_STOP, std::string(), notANumber}, {IDC_RECORD_STOP, "86401", "0에서 86400 사이의 정수를 입력하십시오."},
        {IDC_RECORD_STOP, "99999999999", notANumber}, {IDC_RECORD_OPERATOR, "김\t이", notOneLine},
        {IDC_RECORD_NOTES, "tape\x7f", notOneLine}, {IDC_RECORD_NOTES, "\xc2\x85next line", notOneLine},
        {IDC_RECORD_NOTES, std::string(1001, 'a'), notOneLine}, {IDC_RECORD_TELETEXT, "99", notAPage},
        {IDC_RECORD_TELETEXT, "900", notAPage}, {IDC_RECORD_TELETEXT, "8 88", notAPage}}) {
    SCOPED_TRACE(typed);
    orv::test::MessageBoxAnswerer boxes(IDOK);
    EXPECT_EQ(IDCANCEL, Run([&, id = id, typed = typed](HWND page, HWND sheet) {
                auto* edit = Inner<QLineEdit>(page, id);
                edit->setText(QString::fromStdString(typed));
                ShowPage(sheet, 0);
                Click(sheet, IDOK);
                EXPECT_TRUE(IsWindowVisible(sheet) && Tabs(sheet)->currentIndex() == 4);
                EXPECT_EQ(edit, edit->window()->focusWidget());
              }));
    ASSERT_EQ(2u, boxes.calls.size());
    EXPECT_EQ(message, boxes.calls[1].text);
    EXPECT_EQ(before, Stored());
  }
  EXPECT_EQ(IDOK, Run([&](HWND page, HWND sheet) {
              auto* edit = Inner<QLineEdit>(page, IDC_RECORD_STOP);
              auto* up = orv::ui::ControlData(GetDlgItem(page, IDC_RECORD_STOP_SPIN))->inner->findChildren<QToolButton*>()[0];
              up->click();
              EXPECT_EQ("31", Text(page, IDC_RECORD_STOP));
              edit->setText("86399");
              emit edit->textEdited(edit->text());
              up->click();
              up->click();  // the top of the range
              EXPECT_EQ("86400", Text(page, IDC_RECORD_STOP));
              Click(sheet, IDOK);
            }));
  EXPECT_NE(std::string::npos, Stored().find("StopOnNoSignal=86400\n")) << Stored();
}

}  // namespace
