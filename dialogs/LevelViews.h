// What the levels window and the capture status dialog draw: the live picture's luma as a
// waveform and a histogram, and sound meters; where they get their measures from; and the
// readouts beside them.
#pragma once

#include "platform/levels.h"
#include "platform/ui/afxwin.h"

#include <string>

// The measures, as the capture engine takes them (the video window hands one over). Reading never
// waits for the streams: the engine measures on threads of its own.
class CLevelsSource {
 public:
  virtual ~CLevelsSource() = default;
  // The picture is measured only while someone watches it.
  virtual void WatchPicture(bool on) = 0;
  virtual bool ReadPicture(orv::PictureLevels* levels) = 0;
  virtual bool ReadSound(orv::SoundLevels* levels) = 0;
  virtual void ClearClip() = 0;
};

// A view drawn in the place of a placeholder control of its dialog, taking over its id.
class CLevelView : public CWnd {
 public:
  BOOL CreateOver(CWnd* dialog, int placeholderId);

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  // Draws into 32-bit pixels 0xffRRGGBB, rows top-down.
  virtual void Draw(BYTE* bits, int width, int height, int stride) = 0;
};

// A view of the picture's luma measures.
class CPictureLevelView : public CLevelView {
 public:
  // levels: what to show, kept by the dialog; null or not `valid`: an empty view.
  void Show(const orv::PictureLevels* levels, bool valid);

 protected:
  const orv::PictureLevels* m_levels = nullptr;
  bool m_valid = false;
};

// Columns by picture column, rows by level (white at the top), with the lines of black and white.
class CWaveformView : public CPictureLevelView {
 protected:
  void Draw(BYTE* bits, int width, int height, int stride) override;
};

// How many pixels have each level, dark on the left, with the lines of black and white.
class CHistogramView : public CPictureLevelView {
 protected:
  void Draw(BYTE* bits, int width, int height, int stride) override;
};

// A bar per channel from -60 to 0 dBFS with its two-second hold and, at the right end, the clip
// mark. A click tells the dialog (WM_COMMAND with the view's id, BN_CLICKED), which clears the marks.
class CMeterView : public CLevelView {
 public:
  void Show(const orv::SoundLevels& levels);

 protected:
  bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void Draw(BYTE* bits, int width, int height, int stride) override;

 private:
  orv::SoundLevels m_levels;
};

// Asks the main window (the video window) to open the levels window, as the buttons of the video
// and audio pages and of the capture status dialog do.
void AskForLevelsWindow();

// "YMIN 16   YMAX 235   BRNG 0.0%", or that the picture is being measured.
std::string PictureReadout(const orv::PictureLevels* levels, bool valid);
// The peak of each channel, "-6.0 / -20.0" with a clip mark's note, or that there is no sound.
std::string SoundReadout(const orv::SoundLevels& levels);
