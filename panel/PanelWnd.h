// The skinned control panel: 28 painted buttons, the display, the keyboard map, number entry and
// the registered-channel lists. It drives the video window only through WM_TUNER_NOTIFY.
#pragma once

#include "common/Settings.h"

#include "mixer/Mixer.h"
#include "panel/CoverWnd.h"
#include "platform/ui/afxdlgs.h"
#include "platform/ui/afxwin.h"

class CPanelWnd : public CWnd {
 public:
  CPanelWnd();
  ~CPanelWnd() override;
  virtual BOOL Create(LPCSTR title, const RECT& rect);

  static constexpr int kWidth = 550;
  static constexpr int kHeight = 150;
  static constexpr int kButtonCount = 28;
  // Button indices. The digits 1 to 9 are 11 to 19 in order; the lid covers 11 to 25 and 27.
  enum Button {
    BTN_EXIT = 0, BTN_MINIMIZE = 1, BTN_VOLUME_UP = 2, BTN_VOLUME_DOWN = 3, BTN_CHANNEL_UP = 4,
    BTN_CHANNEL_DOWN = 5, BTN_ADD_CHANNEL = 6, BTN_ERASE_CHANNEL = 7, BTN_MUTE = 8, BTN_SOURCE = 9,
    BTN_LOGO = 10, BTN_DIGIT_1 = 11, BTN_DIGIT_9 = 19, BTN_DIGIT_0 = 20, BTN_ADJUST_TARGET = 21,
    BTN_ADJUST_DOWN = 22, BTN_ADJUST_UP = 23, BTN_SETTINGS = 24, BTN_COVER = 25, BTN_TOPMOST = 26,
    BTN_CAPTURE = 27, BTN_NONE = -1
  };
  static constexpr UINT_PTR kEntryTimer = 100;
  static constexpr UINT kEntryTimeout = 1500;  // ms

  HWND m_hwndVideo = nullptr;  // the video window; set by start-up once both windows exist
  int m_nSource = 0;           // 0 TV, 1 cable TV, 2 Video, 3 S-Video
  int m_nVolume = 2;           // 0..20
  int m_nAudioSelect = 0;      // 0: volume and mute act on the master line, else on line-in
  int m_nTVChannel = kDefaultChannel;
  int m_nCATVChannel = kDefaultChannel;
  int m_nSavedChannel = kDefaultChannel;  // channel in force when a number entry began
  int m_nDigitCount = 0;     // digits entered so far
  char m_szTVChannels[kTVBand.chars + 1] = {};
  char m_szCATVChannels[kCATVBand.chars + 1] = {};
  int m_nAdjustTarget = 0;  // an AdjustTarget
  int m_nBright = kDefaultPictureLevel;
  int m_nContrast = kDefaultPictureLevel;
  int m_nHue = kDefaultPictureLevel;
  int m_nSaturation = kDefaultPictureLevel;
  BOOL m_bTopMost = FALSE;  // TOP indicator
  BOOL m_bMute = FALSE;
  BOOL m_bCapture = FALSE;  // CAP indicator
  RECT m_rcButton[kButtonCount] = {};
  // The bitmaps stay selected into their memory DCs for the panel's lifetime.
  CBitmap m_bmpSkin, m_bmpSkinPressed, m_bmpLcd;
  CDC m_dcSkin;
  CDC m_dcSkinPressed;
  CDC m_dcLcd;
  int m_nButton = -1;  // button the current press (or key) is on
  BOOL m_bPressed = FALSE;
  CCoverWnd m_wndCover;
  CMixer m_mixer;
  CToolTipCtrl m_toolTip;

  // Message handlers.
  int OnCreate(LPCREATESTRUCT cs);
  void OnPaint();
  void OnLButtonDown(UINT nFlags, CPoint point);
  void OnMouseMove(UINT nFlags, CPoint point);
  void OnLButtonUp(UINT nFlags, CPoint point);
  LRESULT OnNcHitTest(CPoint point);
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnSysKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnTimer(UINT_PTR nIDEvent);
  LRESULT OnMixerControlChange(WPARAM wParam, LPARAM lParam);
  LRESULT OnTunerNotify(WPARAM code, LPARAM arg);
  BOOL PreTranslateMessage(MSG* pMsg) override;

  // Drawing.
  void DrawLcd(CDC* pDC);
  void DrawButton(BOOL bPressed);

  // Buttons and commands.
  int ButtonFromPoint(CPoint point) const;
  void RunButton(int nIndex);
  void SendVideoCommand(WPARAM code, LPARAM arg);
  int KeyToButton(UINT nChar);
  void EnterDigit();

  // Settings.
  void LoadAudioSettings();
  void LoadVideoSettings();
  void LoadChannelSettings();
  void SaveChannelSettings();

  // Channel list.
  void ChannelUp();
  void ChannelDown();

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  // A tuner band as the panel holds it: its shape, its list and its current channel. The external
  // inputs have none.
  struct BandView {
    const ChannelBand* band = nullptr;
    char* list = nullptr;
    int* channel = nullptr;
    explicit operator bool() const { return band != nullptr; }
  };
  BandView BandOf(int source);
  BandView CurrentBand() { return BandOf(m_nSource); }
  void StepChannel(int dir, WPARAM code);

  void ExitProgram();
  void NextSource();
  void SetCurrentChannelFlag(char flag);
  void AdjustPicture(int delta);
  int* PictureValue(int target);  // the member of a picture-adjust target
  void CancelNumberEntry();
  int MixerLine() const;
  void HideTip();
  void SetVolumeLevel(int level);

  // Level the volume buttons last wrote, -1 for none (see KeepWrittenLevel).
  int m_nWrittenVolume = -1;
  void InvalidateDisplay();
};
