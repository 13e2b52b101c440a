// The dialog templates: every control, in the order the dialogs create them (tab order and the
// first focus follow it).
#include "platform/ui/dlgtemplate.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Ctl {
  int id;
  CtlKind kind;
  std::string text;
};

TEST(DialogTemplates, ControlsComeInTheirOrder) {
  using K = CtlKind;
  struct Want {
    UINT id;
    std::vector<Ctl> controls;
  };
  const Want wants[] = {
      {IDD_ABOUTBOX,
       {{-1, K::Static, ""}, {-1, K::Static, "OrvaneTuner for Win2000 버전 1.0"}, {IDOK, K::Button, "확인"}}},
      {IDD_CAPTURE,
       {{IDOK, K::Button, "캡처 시작"},
        {IDCANCEL, K::Button, "취소"},
        {-1, K::Button, "캡처 파일"},
        {1000, K::Edit, ""},
        {1001, K::Button, "파일명설정"},
        {-1, K::Button, "캡처 시간 제한 설정(초)"},
        {1002, K::Edit, ""},
        {1003, K::UpDown, ""},
        {-1, K::Button, "사용 가능한 하드 디스크 용량"},
        {1011, K::Static, ""},
        {-1, K::Static, "MB"},
        {1007, K::Button, "캡처 시간 제한 사용"}}},
      {IDD_CHANNEL_SETUP,
       {{-1, K::Button, "채널설정모드"},
        {1003, K::Button, "공중파 채널"},
        {1004, K::Button, "케이블 채널"},
        {-1, K::Button, "채널편집"},
        {-1, K::Static, "비등록채널"},
        {1001, K::ListBox, ""},
        {-1, K::Static, "등록채널"},
        {1002, K::ListBox, ""},
        {1006, K::Button, ">"},
        {1007, K::Button, "<"},
        {1008, K::Button, ">>"},
        {1009, K::Button, "<<"},
        {1010, K::Button, "복원"}}},
      {IDD_VIDEO_SETUP,
       {{-1, K::Button, "색상설정"},
        {-1, K::Static, "밝기"},
        {1000, K::Trackbar, ""},
        {-1, K::Static, "명암"},
        {1001, K::Trackbar, ""},
        {-1, K::Static, "채도"},
        {1002, K::Trackbar, ""},
        {-1, K::Static, "농도"},
        {1003, K::Trackbar, ""},
        {1004, K::Static, ""},
        {1005, K::Static, ""},
        {1006, K::Static, ""},
        {1007, K::Static, ""},
        {-1, K::Button, "색상모드"},
        {1008, K::ComboBox, ""}}},
      {IDD_AUDIO_SETUP,
       {{-1, K::Button, "볼륨설정"},
        {-1, K::Static, "메인볼륨"},
        {1000, K::Trackbar, ""},
        {1002, K::Button, "음소거"},
        {-1, K::Static, "라인볼륨"},
        {1001, K::Trackbar, ""},
        {1003, K::Button, "음소거"},
        {-1, K::Button, "설정볼륨선택"},
        {1004, K::Button, "메인 볼륨"},
        {1005, K::Button, "라인 인 볼륨"}}},
      {IDD_CAPTURE_STATUS,
       {{IDOK, K::Button, "캡처종료"},
        {-1, K::Button, ""},
        {1010, K::Static, "캡처 진행 중..."},
        {1012, K::Static, "0:00:00"}}},
  };
  for (const Want& w : wants) {
    const DialogTemplate* t = OwnResources()->Dialog(w.id);
    ASSERT_NE(nullptr, t) << w.id;
    ASSERT_EQ(w.controls.size(), t->items.size()) << "template " << w.id;
    for (std::size_t i = 0; i < w.controls.size(); ++i) {
      const Ctl& c = w.controls[i];
      EXPECT_EQ(c.id, t->items[i].id) << "template " << w.id << ", control " << i;
      EXPECT_EQ(c.kind, t->items[i].kind) << "template " << w.id << ", control " << i;
      EXPECT_EQ(c.text, t->items[i].text) << "template " << w.id << ", control " << i;
    }
  }
}

}  // namespace
