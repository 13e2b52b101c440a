// The program's own resource module: the Korean string table (dialogs and artwork join it).
#include "res/resource.h"

#include "platform/ui/afxres.h"

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
      {IDS_ERR_NO_FILE_NAME, "파일명 이 설정이 안되어있습니다."},
      {IDS_ERR_SET_FILE, "캡처 파일을 설정 할 수없습니다."},
      {IDS_ERR_MASTER_STREAM, "SetMasterStream 실패!"},
      {IDS_ERR_RENDER_VIDEO, "비디오 캡처 스트림을 렌더링 할 수없습니다."},
      {IDS_ERR_RENDER_PREVIEW, "비디오 미리보기 스트림을 렌더링 할 수 없습니다."},
      {IDS_ERR_RENDER_AUDIO, "오디오 캡처 스트림을 렌더링 할 수없습니다."},
      {IDS_ERR_NO_PREVIEW, "이 그래프는 미리보기 할 수없습니다."},
      {IDS_ERR_FRAME_RATE, "캡처 프레임 레이트를 설정 할 수없습니다."},
      {IDS_ERR_MEDIA_CONTROL, "에러 %x: IMediaControl 인터페이스를 구할 수 없습니다."},
      {IDS_ERR_START_GRAPH, "에러 %x: 그래프를 시작할 수 없습니다."},
      {IDS_ERR_RUN_GRAPH, "에러 %x: 그래프를 실행할 수 없습니다."},
      {IDS_ERR_STOP_GRAPH, "에러 %x: 그래프를 멈출 수 없습니다."},
      {IDS_ERR_DISK_FULL, "디스크 공간이 부족하여 캡처를 멈췄습니다. 멈추기 전까지 캡처한 내용은 파일에 남아 있습니다."},
      {IDS_ERR_WRITE_FILE, "에러 %x: 캡처 파일에 쓸 수 없어 캡처를 멈췄습니다."},
      {IDS_ERR_MEDIA_LIBRARY, "녹화에 필요한 FFmpeg 라이브러리(libavcodec, libavformat, libswresample)를 불러올 수 없습니다. 설치되어 있는지 확인하십시오."},
      {IDS_ERR_FORMAT_CHANGED, "녹화 중에 화면 형식이 바뀌어 녹화를 멈췄습니다. 바뀌기 전까지의 내용은 파일에 남아 있습니다."},
      {IDS_RECORD_NOTE_INVALID, "작업자와 메모는 제어 문자 없이 한 줄로, %d바이트까지 입력할 수 있습니다."},
      {IDS_CAPTURE_SIDE_FILES, "%s 폴더에 함께 남긴 파일: %s"},
      {IDS_ERR_BUILDER, "그래프빌더를 초기화할 수 없음"},
      {IDS_ERR_VIDEO_FILTER, "에러 %x: 비디오 필터생성 할 수 없음."},
      {IDS_ERR_FILTER_GRAPH, "필터그래프 생성 할 수 없음."},
      {IDS_ERR_GRAPH_TO_BUILDER, "빌더로 그래프를 전달 할 수 없음"},
      {IDS_ERR_ADD_VIDEO, "에러 %x: 비디오 캡처필터를 필터그래프로 추가할 수 없음"},
      {IDS_ERR_VIDEO_CONFIG, "에러 %x: 비디오 캡처를 찾을 수 없음 :IAMStreamConfig"},
      {IDS_ERR_AUDIO_FILTER, "오디오 캡처필터를 생성할 수 없음."},
      {IDS_ERR_ADD_AUDIO, "에러 %x: 오디오캡처를 필터그래프로 추가 할 수없음."},
      {IDS_ERR_AUDIO_CONFIG, "오디오 캡처장치를 찾을 수 없음:IAMStreamConfig"},
      {IDS_ERR_PREVIEW_GRAPH, "이 그래프는 미리보기 할 수 없음!"},
      {IDS_ERR_PREVIEW_RUN, "이 그래프는 정상적으로 미리보기를 실행 할 수 없음."},
      {IDS_ERR_PREVIEW_RATE, "%x: 미리보기를 위한 프레임율을 설정할 수없음"},
      {IDS_ERR_RUN_PREVIEW, "에러 %x: 미리보기 그래프를 실행할 수 없음."},
      {IDS_ERR_STOP_PREVIEW, "에러 %x: 미리보기 그래프를 멈출 수 없음"},
      {IDS_ERR_PROC_AMP, "에러 %x: IAMVideoProcAmp객체 인터페이스를 얻을 수 없음"},
      {IDS_PATH_TOO_LONG, "파일 경로가 너무 깁니다. 더 짧은 폴더나 파일 이름을 골라 주십시오."},
      {IDS_REGION_KR, "한국"},
      {IDS_REGION_US, "미국"},
      {IDS_REGION_JP, "일본"},
      {IDS_REGION_EU, "서유럽"},
      {IDS_REGION_UK, "영국·아일랜드"},
      {IDS_REGION_FR, "프랑스"},
      {IDS_REGION_OIRT, "동유럽"},
      {IDS_REGION_CN, "중국"},
      {IDS_REGION_AU, "호주"},
      {IDS_STANDARD_AUTO, "자동"},
      {IDS_OWN_SOUND, " (카드 음성)"},
      {IDS_FORMAT_SPEC, "기본 (640×480, 14.99fps, 무압축 AVI)"},
      {IDS_FORMAT_FULL, "전체 프레임 (720×480/576, 무압축 AVI)"},
      {IDS_FORMAT_LOSSLESS, "무손실 (FFV1, MKV)"},
      {IDS_FORMAT_COMPACT, "압축 (H.264, MKV, 시간당 약 2GB)"},
      {IDS_FORMAT_LOSSLESS_COMPACT, "무손실 원본과 압축 사본 (FFV1과 H.264, MKV 두 개)"},
      {IDS_CAPTURE_ACCESS_COPY, "압축 사본 %s: 처리가 밀려 빠진 프레임 %d개"},
      {IDS_TELETEXT_AUTO, "자동"},
      {IDS_TELETEXT_PAGE_INVALID, "자막 페이지는 %s 또는 %d에서 %d 사이의 번호로 입력하십시오."},
      {IDS_RECORD_STOP_UNIT, "초 (0 = 끝내지 않음, 최대 %d)"},
      {IDS_RECORD_STOP_RANGE, "%d에서 %d 사이의 정수를 입력하십시오."},
      {IDS_DROPPED_FRAMES, "놓친 프레임: %d"},
      {IDS_CAPTURE_END_NOW, "캡처를 지금 끝내시겠습니까?"},
      {IDS_CAPTURE_END_CAPTION, "캡처 끝내기"},
      {IDS_STATUS_NO_SIGNAL, "신호 없음"},
      {IDS_STATUS_RESTARTING, "다시 시작하는 중"},
      {IDS_LEVELS_PICTURE, "YMIN %d   YMAX %d   BRNG %s%%"},
      {IDS_LEVELS_NO_PICTURE, "화면을 재는 중..."},
      {IDS_LEVELS_SOUND, "소리 최고값 (dBFS): %s"},
      {IDS_LEVELS_NO_SOUND, "잰 소리 없음"},
      {IDS_LEVELS_CLIPPED, "%s (클립)"},
      // The platform layers' own texts.
      {AFX_IDS_ERROR_CAPTION, "오류"},
      {AFX_IDS_OK, "확인"},
      {AFX_IDS_CANCEL, "취소"},
      {AFX_IDS_YES, "예"},
      {AFX_IDS_NO, "아니요"},
      {AFX_IDS_APPLY, "적용"},
      {AFX_IDS_HELP, "도움말"},
      {AFX_IDS_PARSE_UINT, "부호 없는 정수를 입력하십시오."},
      {AFX_IDS_PARSE_INT, "정수를 입력하십시오."},
      {AFX_IDS_REPLACE_CAPTION, "다른 이름으로 저장 확인"},
      {AFX_IDS_REPLACE_QUESTION, "%s이(가) 이미 있습니다.\n바꾸시겠습니까?"},
      {AFX_IDS_SOUND_BUSY, "캡처 장치의 사운드 입력을 다른 프로그램이 사용하고 있습니다:\n%s\n그 프로그램을 닫은 뒤 다시 캡처하십시오."},
      {AFX_IDS_DEVICE_LOST, "캡처 장치가 응답하지 않습니다 (분리됨?):\n%s\n미리보기와 캡처가 멈췄습니다."},
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
