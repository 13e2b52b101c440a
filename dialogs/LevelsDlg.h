// The levels window: the live picture's luma as a waveform and a histogram with YMIN, YMAX and
// BRNG, and the sound's meters. It is modeless, so it stays beside the picture controls while
// they are set, after the settings sheet closes and during a recording; it opens where it last
// was (Position key), the first time beside the window given.
#pragma once

#include "dialogs/LevelViews.h"
#include "platform/ui/afxdlgs.h"

#include <memory>

class CLevelsDlg : public CDialog {
 public:
  static constexpr UINT kRefreshMs = 100;  // the measures come at most ten times a second

  // source: where the measures come from; it outlives the window.
  explicit CLevelsDlg(CLevelsSource* source);
  ~CLevelsDlg() override;

  // Shows the window (an open one comes to the front, keeping its place).
  BOOL Open(CWnd* beside);

  BOOL OnInitDialog() override;
  // There is no OK: Enter outside a button does nothing.
  void OnOK() override {}
  // Escape, the close box and "닫기": the window goes (its place is kept).
  void OnCancel() override;
  void OnTimer(UINT_PTR id);

 protected:
  bool OnCommand(UINT id, UINT code) override;
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 private:
  void Refresh();
  void Place(CWnd* beside);
  void SavePlace();

  CLevelsSource* m_pSource;
  std::unique_ptr<orv::PictureLevels> m_picture = std::make_unique<orv::PictureLevels>();
  CWaveformView m_waveform;
  CHistogramView m_histogram;
  CMeterView m_meters;
};
