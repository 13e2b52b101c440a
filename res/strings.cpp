// The program's own resource module: the Korean string table (dialogs and artwork join it).
#include "res/resource.h"

#include <map>

// Dialog templates, in dialogs.cpp.
const DialogTemplate* DialogTemplateById(UINT id);

// Drawn by tools/artgen at build time.
bool ArtworkPng(unsigned id, std::string* png);

namespace {

const std::map<UINT, const char*>& StringTable() {
  static const std::map<UINT, const char*> table = {
      {102, "Orvane Tuner( WIN2000 )"},
      {103, "판넬 윈도"},
      {109, "프로그램종료"},
      {110, "프로그램 최소화"},
      {111, "볼륨증가"},
      {112, "볼륨감소"},
      {113, "채널증가"},
      {114, "채널감소"},
      {115, "채널추가"},
      {116, "채널삭제"},
      {117, "음소거"},
      {118, "입력선택"},
      {119, "오르반튜너로고"},
      {120, "숫자1"},
      {121, "숫자2"},
      {122, "숫자3"},
      {123, "숫자4"},
      {124, "숫자5"},
      {125, "숫자6"},
      {126, "숫자7"},
      {127, "숫자8"},
      {128, "숫자9"},
      {129, "숫자0"},
      {130, "조정선택"},
      {131, "색상값감소"},
      {132, "색상값증가"},
      {133, "환경설정"},
      {134, "덮개닫기"},
      {135, "항상위에 위치"},
      {136, "캡처"},
      {147, "Orvane Tuner Already Run."},
      {148, "Orvane Tuner Execute"},
      {149, "적합한 시스템 색상이 아니므로 종료합니다. \n16비트색상 이상으로 설정하시기 바랍니다."},
      {150, "시스템 색상 설정 "},
      {151, "현재 색상설정으로 정상적으로 동작하지 않을수 있습니다. \n 현재 설정으로 계속하시겠습니까?( 16비트 하이컬러 권장)"},
      {152, "항상위 해제"},
      {153, "항상위 기능이 실행중입니다.\n해제하시겠습니까?"},
      {154, "동영상을 다음과 같이 캡처했습니다. \n캡처: %d 프레임, 놓침: %d 프레임 "},
      {155, "동영상 캡처완료"},
  };
  return table;
}

class OwnModule : public ResourceModule {
 public:
  const char* String(UINT id) const override {
    auto it = StringTable().find(id);
    return it == StringTable().end() ? nullptr : it->second;
  }
  const DialogTemplate* Dialog(UINT id) const override { return DialogTemplateById(id); }
  bool BitmapPng(UINT id, std::string* png) const override { return ArtworkPng(id, png); }
};

}  // namespace

const ResourceModule* OwnResources() {
  static OwnModule m;
  return &m;
}
