// Master and line-in volume and mute of the sound card's mixer, on a small 0..m_nMaxLevel scale.
// Owner's order: construct; set m_hwndNotify and m_nMaxLevel; Open; use the four operations as often
// as needed and read back on MM_MIXM_CONTROL_CHANGE; destroy (which closes). The operations also
// work before Open: they then address mixer device 0 by its identifier.
#pragma once

#include "platform/mixer/mmsystem.h"
#include "platform/ui/winuser.h"

// The mixer rounds a level when it writes it and truncates when it reads it back, so levels 3, 7,
// 11, 15 and 19 of the 0..20 scale come back one lower. An owner that wrote `written` (-1: none)
// shows that level for a reading exactly one lower: taking the reading would move its control back
// a step at once, and stepping up could never pass level 2.
int KeepWrittenLevel(int read, int written);

// Line selectors.
constexpr int MIXLINE_MASTER = -1;  // the speakers destination itself
constexpr int MIXLINE_LINEIN = 3;   // the line-in source (else the first auxiliary source)

class CMixer {
 public:
  CMixer();
  virtual ~CMixer();
  CMixer(const CMixer&) = delete;
  CMixer& operator=(const CMixer&) = delete;

  // 1 when mixer 0 was opened with notices to m_hwndNotify and its capabilities read, else 0.
  int Open();
  // Returns mixerClose's result, or 0 when nothing was open; m_hwndNotify is cleared.
  MMRESULT Close();

  // Set operations return the platform's result (0 = success).
  MMRESULT SetVolume(int nLine, int nLevel);
  int GetVolume(int nLine);  // 0..m_nMaxLevel
  MMRESULT SetMute(int nLine, int bMute);
  int GetMute(int nLine);  // 1 muted, 0 not
  // Whether the mixer is the virtual one, whose levels reach no speakers.
  bool IsVirtual() const;

  // Steps the operations above are built from.
  void SelectLine(int nLine);
  LONG FindLineInSource();
  DWORD GetLineID();
  DWORD GetChannelCount();
  DWORD GetControlID(DWORD dwControlType);

  // Source index that no mixer has: what FindLineInSource gives when neither a line-in nor an
  // auxiliary source exists, so line-in operations fail instead of acting on the master line.
  static constexpr LONG kNoSource = 0x7FFFFFFF;

  HWND m_hwndNotify = nullptr;
  HMIXER m_hMixer = nullptr;
  UINT m_uMixerId = 0;
  DWORD m_dwDestination = 0;
  LONG m_dwSource = MIXLINE_MASTER;
  int m_nMaxLevel = 8;

 private:
  HMIXEROBJ Object() const;
  DWORD ObjectFlags() const;
  bool QueryCurrentLine(MIXERLINE* line);
};
