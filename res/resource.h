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
