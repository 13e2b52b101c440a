// String ids of the texts the platform layers show themselves (message-box buttons and caption,
// property-sheet buttons, input checks, the file chooser's question, the sound and device reports).
// The program's resource modules answer them like any other id, so they follow the language.
#pragma once

#include "platform/wintypes.h"

#include <cstdarg>
#include <string>

constexpr UINT AFX_IDS_ERROR_CAPTION = 0xF100;   // a message box's caption when none is given
constexpr UINT AFX_IDS_OK = 0xF101;              // standard buttons
constexpr UINT AFX_IDS_CANCEL = 0xF102;
constexpr UINT AFX_IDS_YES = 0xF103;
constexpr UINT AFX_IDS_NO = 0xF104;
constexpr UINT AFX_IDS_APPLY = 0xF105;
constexpr UINT AFX_IDS_HELP = 0xF106;
constexpr UINT AFX_IDS_PARSE_UINT = 0xF110;      // DDX_Text checks
constexpr UINT AFX_IDS_PARSE_INT = 0xF111;
constexpr UINT AFX_IDS_REPLACE_CAPTION = 0xF120; // the file chooser's overwrite question
constexpr UINT AFX_IDS_REPLACE_QUESTION = 0xF121;  // %s: the file's name
constexpr UINT AFX_IDS_SOUND_BUSY = 0xF130;      // %s: the sound device
constexpr UINT AFX_IDS_DEVICE_LOST = 0xF131;     // %s: the device

// The text of a string id in the language in use, printf-formatted with the arguments; empty when
// no module has the id.
std::string AfxFormatString(UINT id, ...);
std::string AfxFormatStringV(UINT id, va_list args);
