// Resource ids of the program's own module.
#pragma once

#include "platform/ui/afxwin.h"

// Strings.
constexpr UINT IDS_VIDEO_TITLE = 102;          // the video window's title, also the single-copy key
constexpr UINT IDS_PANEL_TITLE = 103;
constexpr UINT IDS_TOOLTIP_FIRST = 109;        // 109 + button index
constexpr UINT IDS_SETTINGS_CAPTION = 133;
constexpr UINT IDS_ALREADY_RUNNING = 147;
constexpr UINT IDS_ALREADY_RUNNING_CAPTION = 148;
constexpr UINT IDS_COLOUR_TOO_FEW = 149;
constexpr UINT IDS_COLOUR_CAPTION = 150;
constexpr UINT IDS_COLOUR_WARNING = 151;
constexpr UINT IDS_TOPMOST_CAPTION = 152;
constexpr UINT IDS_TOPMOST_QUESTION = 153;
constexpr UINT IDS_CAPTURE_RESULT = 154;
constexpr UINT IDS_CAPTURE_RESULT_CAPTION = 155;

// The capture engine's error messages (%x: the status code) and the capture dialog's path check.
constexpr UINT IDS_ERR_NO_FILE_NAME = 160;
constexpr UINT IDS_ERR_SET_FILE = 161;
constexpr UINT IDS_ERR_MASTER_STREAM = 162;
constexpr UINT IDS_ERR_RENDER_VIDEO = 163;
constexpr UINT IDS_ERR_RENDER_PREVIEW = 164;
constexpr UINT IDS_ERR_RENDER_AUDIO = 165;
constexpr UINT IDS_ERR_NO_PREVIEW = 166;
constexpr UINT IDS_ERR_FRAME_RATE = 167;
constexpr UINT IDS_ERR_MEDIA_CONTROL = 168;
constexpr UINT IDS_ERR_START_GRAPH = 169;
constexpr UINT IDS_ERR_RUN_GRAPH = 170;
constexpr UINT IDS_ERR_STOP_GRAPH = 171;
constexpr UINT IDS_ERR_DISK_FULL = 172;
constexpr UINT IDS_ERR_WRITE_FILE = 173;
constexpr UINT IDS_ERR_BUILDER = 174;
constexpr UINT IDS_ERR_VIDEO_FILTER = 175;
constexpr UINT IDS_ERR_FILTER_GRAPH = 176;
constexpr UINT IDS_ERR_GRAPH_TO_BUILDER = 177;
constexpr UINT IDS_ERR_ADD_VIDEO = 178;
constexpr UINT IDS_ERR_VIDEO_CONFIG = 179;
constexpr UINT IDS_ERR_AUDIO_FILTER = 180;
constexpr UINT IDS_ERR_ADD_AUDIO = 181;
constexpr UINT IDS_ERR_AUDIO_CONFIG = 182;
constexpr UINT IDS_ERR_PREVIEW_GRAPH = 183;
constexpr UINT IDS_ERR_PREVIEW_RUN = 184;
constexpr UINT IDS_ERR_PREVIEW_RATE = 185;
constexpr UINT IDS_ERR_RUN_PREVIEW = 186;
constexpr UINT IDS_ERR_STOP_PREVIEW = 187;
constexpr UINT IDS_ERR_PROC_AMP = 188;
constexpr UINT IDS_PATH_TOO_LONG = 189;
// The device page's lists: region names, the automatic standard, the card's own sound.
constexpr UINT IDS_REGION_KR = 190;
constexpr UINT IDS_REGION_US = 191;
constexpr UINT IDS_REGION_JP = 192;
constexpr UINT IDS_REGION_EU = 193;
constexpr UINT IDS_REGION_UK = 194;
constexpr UINT IDS_REGION_FR = 195;
constexpr UINT IDS_REGION_OIRT = 196;
constexpr UINT IDS_REGION_CN = 197;
constexpr UINT IDS_REGION_AU = 198;
constexpr UINT IDS_STANDARD_AUTO = 199;
constexpr UINT IDS_OWN_SOUND = 200;
// The recording page's formats, in the order of the recording formats; its wait's unit and range.
constexpr UINT IDS_FORMAT_SPEC = 201;
constexpr UINT IDS_FORMAT_FULL = 202;
constexpr UINT IDS_FORMAT_LOSSLESS = 203;
constexpr UINT IDS_FORMAT_COMPACT = 204;
constexpr UINT IDS_RECORD_STOP_UNIT = 205;   // %d: the longest wait
constexpr UINT IDS_RECORD_STOP_RANGE = 206;  // %d, %d: the range a typed wait must be in
// The capture status dialog's count of frames dropped so far.
constexpr UINT IDS_DROPPED_FRAMES = 207;
// The capture command during a timed capture: whether to end it before its limit.
constexpr UINT IDS_CAPTURE_END_NOW = 208;
constexpr UINT IDS_CAPTURE_END_CAPTION = 209;
// A recording ended because the card's picture changed size or format during it.
constexpr UINT IDS_ERR_FORMAT_CHANGED = 210;
// The capture status while the card sends no picture, or its stream is being started again.
constexpr UINT IDS_STATUS_NO_SIGNAL = 230;
constexpr UINT IDS_STATUS_RESTARTING = 231;
// The levels window's readouts: the picture's luma (%d YMIN, %d YMAX, %s BRNG in percent), the
// sound's peaks (%s: one value per channel), a channel whose clip mark is on (%s: its value).
constexpr UINT IDS_LEVELS_PICTURE = 211;
constexpr UINT IDS_LEVELS_NO_PICTURE = 212;
constexpr UINT IDS_LEVELS_SOUND = 213;
constexpr UINT IDS_LEVELS_NO_SOUND = 214;
constexpr UINT IDS_LEVELS_CLIPPED = 215;
// The recording page's operator or notes that cannot be stored; %d: the most bytes.
constexpr UINT IDS_RECORD_NOTE_INVALID = 240;
// The result box's line on the files written beside the recording: %s the folder, %s their names.
constexpr UINT IDS_CAPTURE_SIDE_FILES = 241;
// A recording that cannot start because FFmpeg's libraries for it cannot be loaded.
constexpr UINT IDS_ERR_MEDIA_LIBRARY = 242;
// The lossless master with a compact access copy; the result box's line on that copy (%s its file
// name, %d the pictures it left out while it was behind).
constexpr UINT IDS_FORMAT_LOSSLESS_COMPACT = 243;
constexpr UINT IDS_CAPTURE_ACCESS_COPY = 244;
// The recording page's teletext subtitle page: the word for the first page flagged as subtitles,
// and the message for a page that is neither it nor a page number (%s the word, %d, %d the range).
constexpr UINT IDS_TELETEXT_AUTO = 245;
constexpr UINT IDS_TELETEXT_PAGE_INVALID = 246;

// Bitmaps and the icon.
constexpr UINT IDB_SKIN = 130;
constexpr UINT IDB_SKIN_PRESSED = 131;
constexpr UINT IDB_LCD = 132;
constexpr UINT IDB_COVER = 133;
constexpr UINT IDB_FRAME = 134;
constexpr UINT IDB_LOGO = 140;
constexpr UINT IDI_APP = 128;

// The program's own (Korean) resources.
const ResourceModule* OwnResources();

// Dialog templates.
constexpr UINT IDD_ABOUTBOX = 100;
constexpr UINT IDD_CAPTURE = 102;
constexpr UINT IDD_CHANNEL_SETUP = 129;
constexpr UINT IDD_VIDEO_SETUP = 130;
constexpr UINT IDD_AUDIO_SETUP = 131;
constexpr UINT IDD_CAPTURE_STATUS = 138;
constexpr UINT IDD_DEVICE_SETUP = 139;
constexpr UINT IDD_RECORD_SETUP = 141;
constexpr UINT IDD_LEVELS = 142;

// Dialog controls, by template. A control without an id of its own (labels, group boxes) has -1.
constexpr int IDC_STATIC = -1;

// IDD_CAPTURE.
constexpr int IDC_CAPTURE_FILE = 1000;      // the path, shown only
constexpr int IDC_CAPTURE_CHOOSE = 1001;    // "파일명설정": the file chooser
constexpr int IDC_CAPTURE_LIMIT = 1002;     // the time limit in seconds
constexpr int IDC_CAPTURE_SPIN = 1003;      // its up-down control
constexpr int IDC_CAPTURE_USE_LIMIT = 1007; // "캡처 시간 제한 사용"
constexpr int IDC_CAPTURE_FREE = 1011;      // free megabytes of the file's folder

// IDD_CAPTURE_STATUS.
constexpr int IDC_STATUS_TEXT = 1010;
constexpr int IDC_STATUS_ELAPSED = 1012;
constexpr int IDC_STATUS_DROPPED = 1013;
constexpr int IDC_STATUS_METERS = 1014;  // where the sound meters are drawn
constexpr int IDC_STATUS_SOUND = 1015;   // their values
constexpr int IDC_STATUS_LEVELS = 1016;  // opens the levels window

// IDD_CHANNEL_SETUP.
constexpr int IDC_CHANNEL_UNREGISTERED = 1001;
constexpr int IDC_CHANNEL_REGISTERED = 1002;
constexpr int IDC_CHANNEL_TV = 1003;    // band radio buttons
constexpr int IDC_CHANNEL_CATV = 1004;
constexpr int IDC_CHANNEL_REGISTER = 1006;       // ">"
constexpr int IDC_CHANNEL_UNREGISTER = 1007;     // "<"
constexpr int IDC_CHANNEL_REGISTER_ALL = 1008;   // ">>"
constexpr int IDC_CHANNEL_UNREGISTER_ALL = 1009; // "<<"
constexpr int IDC_CHANNEL_RESTORE = 1010;        // "복원"

// IDD_VIDEO_SETUP: a slider and a value label per picture value, in the order of the picture-adjust
// targets (brightness, contrast, hue, saturation).
constexpr int IDC_VIDEO_BRIGHT = 1000;
constexpr int IDC_VIDEO_CONTRAST = 1001;
constexpr int IDC_VIDEO_HUE = 1002;
constexpr int IDC_VIDEO_SATURATION = 1003;
constexpr int IDC_VIDEO_BRIGHT_VALUE = 1004;
constexpr int IDC_VIDEO_CONTRAST_VALUE = 1005;
constexpr int IDC_VIDEO_HUE_VALUE = 1006;
constexpr int IDC_VIDEO_SATURATION_VALUE = 1007;
constexpr int IDC_VIDEO_MODE = 1008;  // colour mode box
constexpr int IDC_VIDEO_LEVELS = 1009;  // opens the levels window
constexpr int IDC_VIDEO_CAPTIONS = 1010;  // the card's captions over the live picture

// IDD_DEVICE_SETUP: drop-downs, in the page's order.
constexpr int IDC_DEVICE_VIDEO = 1000;
constexpr int IDC_DEVICE_AUDIO = 1001;
constexpr int IDC_DEVICE_STANDARD = 1002;
constexpr int IDC_DEVICE_REGION = 1003;

// IDD_RECORD_SETUP, in the page's order.
constexpr int IDC_RECORD_FORMAT = 1000;       // drop-down of the formats
constexpr int IDC_RECORD_STOP = 1001;         // seconds without signal before a capture ends
constexpr int IDC_RECORD_STOP_SPIN = 1002;
constexpr int IDC_RECORD_STOP_UNIT = 1003;    // its unit and range
constexpr int IDC_RECORD_DEINTERLACE = 1004;  // deinterlaced live picture
constexpr int IDC_RECORD_OPERATOR = 1005;     // who records, for the capture log and the file's tags
constexpr int IDC_RECORD_NOTES = 1006;        // what is recorded
constexpr int IDC_RECORD_WRITE_LOG = 1007;    // the capture log and checksums beside the file
constexpr int IDC_RECORD_TELETEXT = 1008;     // the teletext page kept as subtitles, or auto

// IDD_AUDIO_SETUP.
constexpr int IDC_AUDIO_MASTER = 1000;  // sliders
constexpr int IDC_AUDIO_LINEIN = 1001;
constexpr int IDC_AUDIO_MASTER_MUTE = 1002;
constexpr int IDC_AUDIO_LINEIN_MUTE = 1003;
constexpr int IDC_AUDIO_SELECT_MASTER = 1004;  // which line the panel's volume buttons set
constexpr int IDC_AUDIO_SELECT_LINEIN = 1005;
constexpr int IDC_AUDIO_SOUND_THROUGH = 1006;  // the card's sound on the speakers
constexpr int IDC_AUDIO_LEVELS = 1007;         // opens the levels window

// IDD_LEVELS: where the waveform, histogram and meters are drawn, and the readouts.
constexpr int IDC_LEVELS_WAVEFORM = 1000;
constexpr int IDC_LEVELS_HISTOGRAM = 1001;
constexpr int IDC_LEVELS_PICTURE = 1002;
constexpr int IDC_LEVELS_METERS = 1003;
constexpr int IDC_LEVELS_SOUND = 1004;
constexpr int IDC_LEVELS_CLEAR_CLIP = 1005;
