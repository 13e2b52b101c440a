// The dialog templates in English: the same controls in the same order as the program's own, with
// room for the longer words. A template not listed here falls back to the program's own.
#include "platform/ui/dlgtemplate.h"
#include "platform/ui/winuser.h"
#include "res/resource.h"

#include <map>

namespace {

constexpr DWORD kSlider = TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr DWORD kList = LBS_NOTIFY | LBS_MULTIPLESEL | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP;
constexpr DWORD kDropList = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
constexpr const char* kFont = "MS Shell Dlg";

const DialogTemplate kAbout = {
    "About OrvaneTuner", 176, 222, kFont, 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDC_STATIC, CtlKind::Static, SS_BITMAP, "", 8, 7, 160, 148, {}, IDB_LOGO},
        {IDC_STATIC, CtlKind::Static, SS_LEFT | SS_NOPREFIX, "OrvaneTuner for Win2000 Version 1.0", 18, 160, 150, 8},
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK", 63, 187, 50, 28},
    }};

const DialogTemplate kCapture = {
    "Capture Settings", 216, 138, kFont, 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "Start Capture", 90, 112, 62, 18},
        {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Cancel", 157, 112, 52, 18},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Capture File", 7, 5, 202, 36},
        {IDC_CAPTURE_FILE, CtlKind::Edit, ES_AUTOHSCROLL | WS_DISABLED, "", 14, 19, 126, 14},
        {IDC_CAPTURE_CHOOSE, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "File Name...", 145, 18, 58, 16},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Time Limit (seconds)", 7, 46, 104, 40},
        {IDC_CAPTURE_LIMIT, CtlKind::Edit, ES_NUMBER | ES_AUTOHSCROLL | WS_DISABLED | WS_TABSTOP, "", 14, 62, 60, 14},
        {IDC_CAPTURE_SPIN, CtlKind::UpDown, UDS_ALIGNRIGHT | UDS_ARROWKEYS | WS_DISABLED, "", 0, 0, 0, 0},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Free Disk Space", 116, 46, 93, 40},
        {IDC_CAPTURE_FREE, CtlKind::Static, SS_RIGHT, "", 122, 64, 58, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "MB", 184, 64, 18, 10},
        {IDC_CAPTURE_USE_LIMIT, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "Limit the Capture Time", 9, 92, 120, 10},
    }};

const DialogTemplate kChannelPage = {
    "Channels", 233, 135, kFont, 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Channel Band", 7, 4, 219, 26},
        {IDC_CHANNEL_TV, CtlKind::Button, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, "Terrestrial", 20, 15, 80, 10},
        {IDC_CHANNEL_CATV, CtlKind::Button, BS_AUTORADIOBUTTON, "Cable", 120, 15, 80, 10},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Channel Editing", 7, 33, 219, 98},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Not Registered", 15, 44, 75, 8},
        {IDC_CHANNEL_UNREGISTERED, CtlKind::ListBox, kList, "", 15, 54, 75, 72},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Registered", 143, 44, 75, 8},
        {IDC_CHANNEL_REGISTERED, CtlKind::ListBox, kList, "", 143, 54, 75, 72},
        {IDC_CHANNEL_REGISTER, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, ">", 96, 54, 42, 12},
        {IDC_CHANNEL_UNREGISTER, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "<", 96, 69, 42, 12},
        {IDC_CHANNEL_REGISTER_ALL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, ">>", 96, 84, 42, 12},
        {IDC_CHANNEL_UNREGISTER_ALL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "<<", 96, 99, 42, 12},
        {IDC_CHANNEL_RESTORE, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Restore", 96, 114, 42, 12},
    }};

const DialogTemplate kVideoPage = {
    "Video", 233, 135, kFont, 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Colour", 7, 4, 219, 88},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Brightness", 13, 19, 44, 8},
        {IDC_VIDEO_BRIGHT, CtlKind::Trackbar, kSlider, "", 58, 16, 132, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Contrast", 13, 37, 44, 8},
        {IDC_VIDEO_CONTRAST, CtlKind::Trackbar, kSlider, "", 58, 34, 132, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Hue", 13, 55, 44, 8},
        {IDC_VIDEO_HUE, CtlKind::Trackbar, kSlider, "", 58, 52, 132, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Saturation", 13, 73, 44, 8},
        {IDC_VIDEO_SATURATION, CtlKind::Trackbar, kSlider, "", 58, 70, 132, 14},
        {IDC_VIDEO_BRIGHT_VALUE, CtlKind::Static, SS_CENTER, "", 192, 19, 28, 8},
        {IDC_VIDEO_CONTRAST_VALUE, CtlKind::Static, SS_CENTER, "", 192, 37, 28, 8},
        {IDC_VIDEO_HUE_VALUE, CtlKind::Static, SS_CENTER, "", 192, 55, 28, 8},
        {IDC_VIDEO_SATURATION_VALUE, CtlKind::Static, SS_CENTER, "", 192, 73, 28, 8},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Colour Mode", 7, 96, 146, 34},
        {IDC_VIDEO_MODE, CtlKind::ComboBox, CBS_DROPDOWN | WS_VSCROLL | WS_TABSTOP, "", 15, 110, 130, 60,
         {"Custom", "Default", "Bright Surroundings", "Dark Surroundings"}},
        {IDC_VIDEO_CAPTIONS, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "Captions", 160, 96, 66, 10},
        {IDC_VIDEO_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Levels...", 160, 109, 66, 15},
    }};

const DialogTemplate kAudioPage = {
    "Audio", 233, 135, kFont, 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Volume", 7, 4, 219, 70},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Master", 15, 21, 40, 8},
        {IDC_AUDIO_MASTER, CtlKind::Trackbar, kSlider, "", 58, 17, 120, 14},
        {IDC_AUDIO_MASTER_MUTE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "Mute", 183, 19, 38, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Line In", 15, 47, 40, 8},
        {IDC_AUDIO_LINEIN, CtlKind::Trackbar, kSlider, "", 58, 43, 120, 14},
        {IDC_AUDIO_LINEIN_MUTE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "Mute", 183, 45, 38, 10},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Volume Set by the Panel", 7, 78, 219, 28},
        {IDC_AUDIO_SELECT_MASTER, CtlKind::Button, BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, "Master Volume", 20, 91, 80, 10},
        {IDC_AUDIO_SELECT_LINEIN, CtlKind::Button, BS_AUTORADIOBUTTON, "Line-In Volume", 120, 91, 90, 10},
        {IDC_AUDIO_SOUND_THROUGH, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP, "Hear the card's sound", 9, 115, 148, 10},
        {IDC_AUDIO_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Levels...", 160, 112, 66, 15},
    }};

const DialogTemplate kDevicePage = {
    "Devices", 233, 135, kFont, 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Devices", 7, 4, 219, 124},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Video capture", 15, 20, 50, 8},
        {IDC_DEVICE_VIDEO, CtlKind::ComboBox, kDropList, "", 68, 18, 150, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Sound capture", 15, 48, 50, 8},
        {IDC_DEVICE_AUDIO, CtlKind::ComboBox, kDropList, "", 68, 46, 150, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "TV standard", 15, 76, 50, 8},
        {IDC_DEVICE_STANDARD, CtlKind::ComboBox, kDropList, "", 68, 74, 150, 120},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Region", 15, 104, 50, 8},
        {IDC_DEVICE_REGION, CtlKind::ComboBox, kDropList, "", 68, 102, 150, 100},
    }};

const DialogTemplate kRecordPage = {
    "Recording", 233, 135, kFont, 10, 0,
    {
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "Recording", 7, 4, 219, 124},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Format", 15, 14, 200, 8},
        {IDC_RECORD_FORMAT, CtlKind::ComboBox, kDropList, "", 15, 24, 203, 80},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "End the recording when the signal is gone for", 15, 42, 200, 8},
        {IDC_RECORD_STOP, CtlKind::Edit, ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP, "", 15, 52, 50, 14},
        {IDC_RECORD_STOP_SPIN, CtlKind::UpDown, UDS_ALIGNRIGHT | UDS_ARROWKEYS, "", 0, 0, 0, 0},
        {IDC_RECORD_STOP_UNIT, CtlKind::Static, SS_LEFT, "", 70, 55, 148, 8},
        {IDC_RECORD_DEINTERLACE, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP,
         "Deinterlace the live picture (never the recording)", 15, 69, 203, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Operator", 15, 84, 40, 8},
        {IDC_RECORD_OPERATOR, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 58, 82, 160, 14},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Notes", 15, 100, 40, 8},
        {IDC_RECORD_NOTES, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 58, 98, 160, 14},
        {IDC_RECORD_WRITE_LOG, CtlKind::Button, BS_AUTOCHECKBOX | WS_TABSTOP,
         "Write log and checksums", 15, 115, 95, 10},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Teletext page", 112, 116, 56, 8},
        {IDC_RECORD_TELETEXT, CtlKind::Edit, ES_AUTOHSCROLL | WS_TABSTOP, "", 170, 113, 48, 13},
    }};

const DialogTemplate kCaptureStatus = {
    "Capture Status", 140, 172, kFont, 10, DS_MODALFRAME | DS_CENTER | WS_SYSMENU,
    {
        {IDOK, CtlKind::Button, BS_DEFPUSHBUTTON | WS_TABSTOP, "Stop Capture", 7, 144, 66, 22},
        {IDC_STATIC, CtlKind::Button, BS_GROUPBOX, "", 7, 4, 126, 88},
        {IDC_STATUS_TEXT, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "Capturing...", 14, 16, 112, 22},
        {IDC_STATUS_ELAPSED, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "0:00:00", 14, 44, 112, 22},
        {IDC_STATUS_DROPPED, CtlKind::Static, SS_CENTER | SS_CENTERIMAGE, "", 14, 70, 112, 12},
        {IDC_STATUS_METERS, CtlKind::Static, SS_LEFT, "", 7, 97, 126, 22},
        {IDC_STATUS_SOUND, CtlKind::Static, SS_CENTER, "", 7, 122, 126, 18},
        {IDC_STATUS_LEVELS, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Levels", 77, 144, 56, 22},
    }};

const DialogTemplate kLevels = {
    "Levels", 300, 198, kFont, 10, WS_SYSMENU,
    {
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Waveform (luma, bright at the top)", 7, 4, 190, 8},
        {IDC_LEVELS_WAVEFORM, CtlKind::Static, SS_LEFT, "", 7, 14, 190, 100},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Histogram (luma)", 203, 4, 90, 8},
        {IDC_LEVELS_HISTOGRAM, CtlKind::Static, SS_LEFT, "", 203, 14, 90, 100},
        {IDC_LEVELS_PICTURE, CtlKind::Static, SS_LEFT, "", 7, 118, 286, 9},
        {IDC_STATIC, CtlKind::Static, SS_LEFT, "Sound (-60 to 0 dBFS, peaks held 2 s)", 7, 132, 286, 8},
        {IDC_LEVELS_METERS, CtlKind::Static, SS_LEFT, "", 7, 142, 286, 22},
        {IDC_LEVELS_SOUND, CtlKind::Static, SS_LEFT, "", 7, 166, 286, 9},
        {IDC_LEVELS_CLEAR_CLIP, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Clear Clip Marks", 7, 178, 90, 15},
        {IDCANCEL, CtlKind::Button, BS_PUSHBUTTON | WS_TABSTOP, "Close", 243, 178, 50, 15},
    }};

// One entry per template.
const std::map<UINT, const DialogTemplate*> kTemplates = {
    {IDD_ABOUTBOX, &kAbout},           {IDD_CAPTURE, &kCapture},       {IDD_CHANNEL_SETUP, &kChannelPage},
    {IDD_VIDEO_SETUP, &kVideoPage},    {IDD_AUDIO_SETUP, &kAudioPage}, {IDD_CAPTURE_STATUS, &kCaptureStatus},
    {IDD_DEVICE_SETUP, &kDevicePage},     {IDD_RECORD_SETUP, &kRecordPage}, {IDD_LEVELS, &kLevels},
};

}  // namespace

const DialogTemplate* EnglishDialog(UINT id) {
  auto it = kTemplates.find(id);
  return it == kTemplates.end() ? nullptr : it->second;
}
