// Dialog templates as data: controls with id, kind, style, text and place in dialog units.
#pragma once

#include "platform/wintypes.h"

#include <vector>

// Control kinds.
enum class CtlKind { Button, Edit, Static, ListBox, ComboBox, Trackbar, UpDown, Tabs };

// Button styles.
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_TYPEMASK = 0x000F;
// Static styles.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_BITMAP = 0x000E;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_CENTERIMAGE = 0x0200;
// Edit styles.
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_NUMBER = 0x2000;
// List box styles.
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_MULTIPLESEL = 0x0008;
constexpr DWORD LBS_NOINTEGRALHEIGHT = 0x0100;
constexpr DWORD WS_VSCROLL = 0x00200000;
// Combo box styles.
constexpr DWORD CBS_DROPDOWN = 0x0002;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
// Trackbar styles.
constexpr DWORD TBS_HORZ = 0x0000;
constexpr DWORD TBS_BOTH = 0x0008;
constexpr DWORD TBS_NOTICKS = 0x0010;
// Up-down styles.
constexpr DWORD UDS_ALIGNRIGHT = 0x0004;
constexpr DWORD UDS_AUTOBUDDY = 0x0010;
constexpr DWORD UDS_ARROWKEYS = 0x0020;
// Dialog styles.
constexpr DWORD DS_MODALFRAME = 0x80;
constexpr DWORD DS_CENTER = 0x0800;

struct DlgItem {
  int id;  // -1 for controls without an id
  CtlKind kind;
  DWORD style;  // WS_DISABLED, WS_TABSTOP ... and the kind's own styles
  const char* text;
  int x, y, cx, cy;
  std::vector<const char*> initialItems = {};  // a combo box's initial data
  UINT bitmapId = 0;                           // SS_BITMAP
};

struct DialogTemplate {
  const char* caption;
  int cx, cy;
  const char* fontFace;
  int pointSize;
  DWORD style;
  std::vector<DlgItem> items;
};
