// The program's dialog templates, in dialog units. Controls are listed in the order the dialog
// creates them, which is also the tab order; the first control that takes the focus gets it.
#include "platform/ui/dlgtemplate.h"
#include "platform/ui/winuser.h"
#include "res/resource.h"

namespace {

constexpr DWORD kSlider = TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr DWORD kList = LBS_NOTIFY | LBS_MULTIPLESEL | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;

// About box.
const DialogTemplate kAbout = {
    "OrvaneTuner 정보", 176, 222, "굴림", 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDC_STATIC, CtlKind::Static, SS_BITMAP, "", 8, 7, 160, 148, {}, IDB_LOGO},
        {IDC_STATIC, CtlKind::Static, SS_LEFT | SS_NOPREFIX, "OrvaneTuner for Win2000 버전 1.0", 34, 160, 108, 8},
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "확인", 63, 187, 50, 28},
    }};

// Capture settings.
const DialogTemplate kCapture = {
    "캡처설정", 216, 138, "굴림", 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "캡처 시작", 100, 112, 52, 18},
        {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "취소", 157, 112, 52, 18},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "캡처 파일", 7, 5, 202, 36},
        {IDC_CAPTURE_FILE, CtlKind::Edit, ES_AUTOHSCROLL | WS_DISABLED, "", 14, 19, 132, 14},
        {IDC_CAPTURE_CHOOSE, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "파일명설정", 151, 18, 52, 16},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "캡처 시간 제한 설정(초)", 7, 46, 104, 40},
        {IDC_CAPTURE_LIMIT, CtlKind::Edit, ES_NUMBER | ES_AUTOHSCROLL | WS_DISABLED | WS_TABSTOP, "", 14, 62, 60, 14},
        {IDC_CAPTURE_SPIN, CtlKind::UpDown, UDS_ALIGNRIGHT | UDS_ARROWKEYS | WS_DISABLED, "", 0, 0, 0, 0},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "사용 가능한 하드 디스크 용량", 116, 46, 93, 40},
        {IDC_CAPTURE_FREE, CtlKind::Static, SS_RIGHT, "", 122, 64, 58, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "MB", 184, 64, 18, 10},
        {IDC_CAPTURE_USE_LIMIT, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "캡처 시간 제한 사용", 9, 92, 120, 10},
    }};

// Channel setup page.
const DialogTemplate kChannelPage = {
    "채널설정", 233, 135, "굴림", 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "채널설정모드", 7, 4, 219, 26},
        {IDC_CHANNEL_TV, CtlKind::Button, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, "공중파 채널", 20, 15, 80, 10},
        {IDC_CHANNEL_CATV, CtlKind::Button, BS_AUTORADIOBUTTON, "케이블 채널", 120, 15, 80, 10},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "채널편집", 7, 33, 219, 98},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "비등록채널", 15, 44, 70, 8},
        {IDC_CHANNEL_UNREGISTERED, CtlKind::ListBox, kList, "", 15, 54, 75, 72},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "등록채널", 143, 44, 70, 8},
        {IDC_CHANNEL_REGISTERED, CtlKind::ListBox, kList, "", 143, 54, 75, 72},
        {IDC_CHANNEL_REGISTER, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, ">", 98, 54, 38, 12},
        {IDC_CHANNEL_UNREGISTER, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "<", 98, 69, 38, 12},
        {IDC_CHANNEL_REGISTER_ALL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, ">>", 98, 84, 38, 12},
        {IDC_CHANNEL_UNREGISTER_ALL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "<<", 98, 99, 38, 12},
        {IDC_CHANNEL_RESTORE, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "복원", 98, 114, 38, 12},
    }};

// Video setup page.
const DialogTemplate kVideoPage = {
    "비디오설정", 233, 135, "굴림", 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "색상설정", 7, 4, 219, 88},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "밝기", 15, 19, 30, 8},
        {IDC_VIDEO_BRIGHT, CtlKind::Trackbar, kSlider, "", 48, 16, 140, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "명암", 15, 37, 30, 8},
        {IDC_VIDEO_CONTRAST, CtlKind::Trackbar, kSlider, "", 48, 34, 140, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "채도", 15, 55, 30, 8},
        {IDC_VIDEO_HUE, CtlKind::Trackbar, kSlider, "", 48, 52, 140, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "농도", 15, 73, 30, 8},
        {IDC_VIDEO_SATURATION, CtlKind::Trackbar, kSlider, "", 48, 70, 140, 14},
        {IDC_VIDEO_BRIGHT_VALUE, CtlKind::Static, SS_CENTER, "", 192, 19, 28, 8},
        {IDC_VIDEO_CONTRAST_VALUE, CtlKind::Static, SS_CENTER, "", 192, 37, 28, 8},
        {IDC_VIDEO_HUE_VALUE, CtlKind::Static, SS_CENTER, "", 192, 55, 28, 8},
        {IDC_VIDEO_SATURATION_VALUE, CtlKind::Static, SS_CENTER, "", 192, 73, 28, 8},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "색상모드", 7, 96, 146, 34},
        {IDC_VIDEO_MODE, CtlKind::ComboBox, CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, "", 15, 110, 130, 60,
         {"사용자 정의", "기본값 정의", "주변이 밝을 때", "주변이 어두울 때"}},
        {IDC_VIDEO_CAPTIONS, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "자막 표시", 160, 96, 66, 10},
        {IDC_VIDEO_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "신호 레벨...", 160, 109, 66, 15},
    }};

// Audio setup page.
const DialogTemplate kAudioPage = {
    "오디오설정", 233, 135, "굴림", 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "볼륨설정", 7, 4, 219, 70},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "메인볼륨", 15, 21, 40, 8},
        {IDC_AUDIO_MASTER, CtlKind::Trackbar, kSlider, "", 58, 17, 120, 14},
        {IDC_AUDIO_MASTER_MUTE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "음소거", 183, 19, 38, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "라인볼륨", 15, 47, 40, 8},
        {IDC_AUDIO_LINEIN, CtlKind::Trackbar, kSlider, "", 58, 43, 120, 14},
        {IDC_AUDIO_LINEIN_MUTE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "음소거", 183, 45, 38, 10},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "설정볼륨선택", 7, 78, 219, 28},
        {IDC_AUDIO_SELECT_MASTER, CtlKind::Button, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, "메인 볼륨", 20, 91, 80, 10},
        {IDC_AUDIO_SELECT_LINEIN, CtlKind::Button, BS_AUTORADIOBUTTON, "라인 인 볼륨", 120, 91, 90, 10},
        {IDC_AUDIO_SOUND_THROUGH, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "카드 소리를 스피커로 듣기", 9, 115, 148, 10},
        {IDC_AUDIO_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "신호 레벨...", 160, 112, 66, 15},
    }};

// Device page: the capture card, its sound, the TV standard and the region's channel plans.
constexpr DWORD kDropList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
const DialogTemplate kDevicePage = {
    "장치", 233, 135, "굴림", 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "장치설정", 7, 4, 219, 124},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "비디오 캡처 장치", 15, 20, 50, 8},
        {IDC_DEVICE_VIDEO, CtlKind::ComboBox, kDropList, "", 68, 18, 150, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "오디오 캡처 장치", 15, 48, 50, 8},
        {IDC_DEVICE_AUDIO, CtlKind::ComboBox, kDropList, "", 68, 46, 150, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "TV 방식", 15, 76, 50, 8},
        {IDC_DEVICE_STANDARD, CtlKind::ComboBox, kDropList, "", 68, 74, 150, 120},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "지역", 15, 104, 50, 8},
        {IDC_DEVICE_REGION, CtlKind::ComboBox, kDropList, "", 68, 102, 150, 100},
    }};

// Recording page: the format, the end of a capture without signal, the live picture's deinterlacing.
const DialogTemplate kRecordPage = {
    "녹화", 233, 135, "굴림", 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "녹화설정", 7, 4, 219, 124},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "녹화 형식", 15, 14, 200, 8},
        {IDC_RECORD_FORMAT, CtlKind::ComboBox, kDropList, "", 15, 24, 203, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "신호가 끊기면 녹화를 끝낼 때까지의 시간", 15, 42, 200, 8},
        {IDC_RECORD_STOP, CtlKind::Edit, ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, "", 15, 52, 50, 14},
        {IDC_RECORD_STOP_SPIN, CtlKind::UpDown, UDS_ALIGNRIGHT | UDS_ARROWKEYS, "", 0, 0, 0, 0},
        {IDC_RECORD_STOP_UNIT, CtlKind::Static, SS_LEFT, "", 70, 55, 148, 8},
        {IDC_RECORD_DEINTERLACE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "미리보기 화면 디인터레이스 (녹화 파일은 그대로)",
         15, 69, 203, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "작업자", 15, 84, 40, 8},
        {IDC_RECORD_OPERATOR, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 58, 82, 160, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "메모", 15, 100, 40, 8},
        {IDC_RECORD_NOTES, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 58, 98, 160, 14},
        {IDC_RECORD_WRITE_LOG, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "기록 파일 남기기",
         15, 115, 90, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "텔레텍스트 자막", 110, 116, 58, 8},
        {IDC_RECORD_TELETEXT, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 170, 113, 48, 13},
    }};

// Capture status.
// Capture status, with the meters of the sound going into the file.
const DialogTemplate kCaptureStatus = {
    "캡처상황", 140, 172, "굴림", 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "캡처종료", 10, 144, 60, 22},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "", 7, 4, 126, 88},
        {IDC_STATUS_TEXT, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "캡처 진행 중...", 14, 16, 112, 22},
        {IDC_STATUS_ELAPSED, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "0:00:00", 14, 44, 112, 22},
        {IDC_STATUS_DROPPED, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "", 14, 70, 112, 12},
        {IDC_STATUS_METERS, CtlKind::Static, SS_LEFT, "", 7, 97, 126, 22},
        {IDC_STATUS_SOUND, CtlKind::Static, SS_CENTER, "", 7, 122, 126, 18},
        {IDC_STATUS_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "신호 레벨", 74, 144, 56, 22},
    }};

// The levels window: the live picture's luma and the sound's meters.
const DialogTemplate kLevels = {
    "신호 레벨", 300, 198, "굴림", 10, WS_SYSMENU,
    {
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "파형 (휘도, 위가 밝음)", 7, 4, 190, 8},
        {IDC_LEVELS_WAVEFORM, CtlKind::Static, SS_LEFT, "", 7, 14, 190, 100},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "히스토그램 (휘도)", 203, 4, 90, 8},
        {IDC_LEVELS_HISTOGRAM, CtlKind::Static, SS_LEFT, "", 203, 14, 90, 100},
        {IDC_LEVELS_PICTURE, CtlKind::Static, SS_LEFT, "", 7, 118, 286, 9},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "소리 (-60에서 0 dBFS, 최고값 2초 유지)", 7, 132, 286, 8},
        {IDC_LEVELS_METERS, CtlKind::Static, SS_LEFT, "", 7, 142, 286, 22},
        {IDC_LEVELS_SOUND, CtlKind::Static, SS_LEFT, "", 7, 166, 286, 9},
        {IDC_LEVELS_CLEAR_CLIP, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "클립 표시 지우기", 7, 178, 90, 15},
        {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "닫기", 243, 178, 50, 15},
    }};

}  // namespace

const DialogTemplate* DialogTemplateById(UINT id) {
  switch (id) {
    case IDD_ABOUTBOX: return &kAbout;
    case IDD_CAPTURE: return &kCapture;
    case IDD_CHANNEL_SETUP: return &kChannelPage;
    case IDD_VIDEO_SETUP: return &kVideoPage;
    case IDD_AUDIO_SETUP: return &kAudioPage;
    case IDD_DEVICE_SETUP: return &kDevicePage;
    case IDD_RECORD_SETUP: return &kRecordPage;
    case IDD_CAPTURE_STATUS: return &kCaptureStatus;
    case IDD_LEVELS: return &kLevels;
    default: return nullptr;
  }
}
