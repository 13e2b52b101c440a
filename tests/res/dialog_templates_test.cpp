// The dialog templates: every control, in the order the dialogs create them (tab order and the
// first focus follow it).
#include "platform/ui/dlgtemplate.h"
#include "res/resource.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct Ctl { int id; CtlKind kind; std::string text; };

TEST(DialogTemplates, ControlsComeInTheirOrder) {
  using K = CtlKind;
  const K S = K::Static, B = K::Button, T = K::Trackbar;
  const std::pair<UINT, std::vector<Ctl>> wants[] = {
      {IDD_ABOUTBOX, {{-1, S, ""}, {-1, S, "OrvaneTuner for Win2000 버전 1.0"}, {IDOK, B, "확인"}}},
      {IDD_CAPTURE,
       {{IDOK, B, "캡처 시작"}, {IDCANCEL, B, "취소"}, {-1, B, "캡처 파일"}, {1000, K::Edit, ""},
        {1001, B, "파일명설정"}, {-1, B, "캡처 시간 제한 설정(초)"}, {1002, K::Edit, ""}, {1003, K::UpDown, ""},
        {-1, B, "사용 가능한 하드 디스크 용량"}, {1011, S, ""}, {-1, S, "MB"}, {1007, B, "캡처 시간 제한 사용"}}},
      {IDD_CHANNEL_SETUP,
       {{-1, B, "채널설정모드"}, {1003, B, "공중파 채널"}, {1004, B, "케이블 채널"}, {-1, B, "채널편집"},
        {-1, S, "비등록채널"}, {1001, K::ListBox, ""}, {-1, S, "등록채널"}, {1002, K::ListBox, ""},
        {1006, B, ">"}, {1007, B, "<"}, {1008, B, ">>"}, {1009, B, "<<"}, {1010, B, "복원"}}},
      {IDD_VIDEO_SETUP,
       {{-1, B, "색상설정"}, {-1, S, "밝기"}, {1000, T, ""}, {-1, S, "명암"}, {1001, T, ""}, {-1, S, "채도"},
        {1002, T, ""}, {-1, S, "농도"}, {1003, T, ""}, {1004, S, ""}, {1005, S, ""}, {1006, S, ""},
        {1007, S, ""}, {-1, B, "색상모드"}, {1008, K::ComboBox, ""}, {1010, B, "자막 표시"}, {1009, B, "신호 레벨..."}}},
      {IDD_AUDIO_SETUP,
       {{-1, B, "볼륨설정"}, {-1, S, "메인볼륨"}, {1000, T, ""}, {1002, B, "음소거"}, {-1, S, "라인볼륨"},
        {1001, T, ""}, {1003, B, "음소거"}, {-1, B, "설정볼륨선택"}, {1004, B, "메인 볼륨"},
        {1005, B, "라인 인 볼륨"}, {1006, B, "카드 소리를 스피커로 듣기"}, {1007, B, "신호 레벨..."}}},
      {IDD_CAPTURE_STATUS,
       {{IDOK, B, "캡처종료"}, {-1, B, ""}, {1010, S, "캡처 진행 중..."}, {1012, S, "0:00:00"}, {1013, S, ""},
        {1014, S, ""}, {1015, S, ""}, {1016, B, "신호 레벨"}}},
      {IDD_LEVELS,
       {{-1, S, "파형 (휘도, 위가 밝음)"}, {1000, S, ""}, {-1, S, "히스토그램 (휘도)"}, {1001, S, ""}, {1002, S, ""},
        {-1, S, "소리 (-60에서 0 dBFS, 최고값 2초 유지)"}, {1003, S, ""}, {1004, S, ""}, {1005, B, "클립 표시 지우기"},
        {IDCANCEL, B, "닫기"}}},
      {IDD_RECORD_SETUP,
       {{-1, B, "녹화설정"}, {-1, S, "녹화 형식"}, {1000, K::ComboBox, ""}, {-1, S, "신호가 끊기면 녹화를 끝낼 때까지의 시간"},
        {1001, K::Edit, ""}, {1002, K::UpDown, ""}, {1003, S, ""},
        {1004, B, "미리보기 화면 디인터레이스 (녹화 파일은 그대로)"}, {-1, S, "작업자"}, {1005, K::Edit, ""}, {-1, S, "메모"},
        {1006, K::Edit, ""}, {1007, B, "기록 파일 남기기"}, {-1, S, "텔레텍스트 자막"}, {1008, K::Edit, ""}}},
  };
  for (const auto& [id, controls] : wants) {
    const DialogTemplate* t = OwnResources()->Dialog(id);
    ASSERT_NE(nullptr, t) << id;
    ASSERT_EQ(controls.size(), t->items.size()) << "template " << id;
    for (std::size_t i = 0; i < controls.size(); ++i) {
      SCOPED_TRACE("template " + std::to_string(id) + ", control " + std::to_string(i));
      EXPECT_EQ(controls[i].id, t->items[i].id);
      EXPECT_EQ(controls[i].kind, t->items[i].kind);
      EXPECT_EQ(controls[i].text, t->items[i].text);
    }
  }
}

}  // namespace
