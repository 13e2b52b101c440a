// The private command message between the program's windows, and its codes.
// A code means something only together with its receiver; receivers ignore codes they do not know.
#pragma once

#include "platform/ui/winuser.h"

constexpr UINT WM_TUNER_NOTIFY = WM_USER + 10;  // wParam: code, lParam: argument

// Codes the video window receives.
namespace VideoCmd {
constexpr WPARAM ChannelUp = 4;         // lParam: channel
constexpr WPARAM ChannelDown = 5;       // lParam: channel
constexpr WPARAM SelectSource = 9;      // lParam: source 0..3
constexpr WPARAM TuneChannel = 20;      // lParam: channel
constexpr WPARAM AdjustTarget = 21;     // lParam: 0 brightness, 1 contrast, 2 hue, 3 saturation
constexpr WPARAM AdjustValue = 22;      // lParam: value 0..255
constexpr WPARAM AdjustStep = 23;       // lParam: value 0..255 (same as 22)
constexpr WPARAM OpenSettings = 24;     // lParam: 0
constexpr WPARAM TopMost = 26;          // lParam: 1 on, 0 off
constexpr WPARAM Capture = 27;          // lParam: 0
constexpr WPARAM ScanTV = 50;           // lParam: window to notify
constexpr WPARAM ScanCATV = 51;         // lParam: window to notify
constexpr WPARAM SetBrightness = 52;    // lParam: value
constexpr WPARAM SetContrast = 53;
constexpr WPARAM SetHue = 54;
constexpr WPARAM SetSaturation = 55;
constexpr WPARAM StopScan = 56;         // lParam: 0
constexpr WPARAM OpenLevels = 60;       // lParam: 0; the levels window opens, or comes to the front
}  // namespace VideoCmd

// Codes the control panel receives from the video window.
namespace PanelCmd {
constexpr WPARAM SettingsAccepted = 24;  // reload channel, audio and video settings
constexpr WPARAM TopMostOff = 26;        // always-on-top was switched off
constexpr WPARAM CaptureEnded = 27;      // the capture finished or was cancelled
}  // namespace PanelCmd

// Code the channel setup page receives from a scan worker.
namespace PageCmd {
constexpr WPARAM SignalFound = 50;  // lParam: channel
}  // namespace PageCmd

// Picture-adjust targets and sources.
enum AdjustTarget { ADJUST_BRIGHTNESS = 0, ADJUST_CONTRAST = 1, ADJUST_HUE = 2, ADJUST_SATURATION = 3 };
constexpr int kAdjustTargets = 4;
enum Source { SOURCE_TV = 0, SOURCE_CATV = 1, SOURCE_VIDEO = 2, SOURCE_SVIDEO = 3 };

// The video window's capture timer: set by the capture engine while a capture with a time limit
// runs, handled by the video window, which ends the capture when the limit is reached.
constexpr UINT_PTR kCaptureTimer = 1;
constexpr UINT kCaptureTimerMs = 33;
