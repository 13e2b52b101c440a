// The capture engine: the media graph of the capture card, its preview, tuning and picture controls.
#pragma once

#include "capture/Crossbar.h"
#include "common/CaptureDevices.h"
#include "common/ChannelPlans.h"
#include "common/Recording.h"
#include "platform/media/com/dshow.h"
#include "platform/ui/afxwin.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// Scan parameters shared by the user-interface thread and the scan workers (one set per process).
extern std::atomic<int> g_nScanStop;          // 1 asks the running scan to stop
extern std::atomic<HWND> g_hwndScanNotify;    // receives WM_TUNER_NOTIFY 50 per channel with a signal
extern std::atomic<int> g_nScanSource;        // SOURCE_TV (antenna) or SOURCE_CATV (cable)

class CGraphBase {
 public:
  CGraphBase();
  virtual ~CGraphBase();
  CGraphBase(const CGraphBase&) = delete;
  CGraphBase& operator=(const CGraphBase&) = delete;

  void TearDownGraph();
  void RemoveDownstream(IBaseFilter* pFilter);
  void FreeFilters();

  ComPtr<IFileSinkFilter> m_pFileSink;
  ComPtr<IConfigAviMux> m_pMuxConfig;
  ComPtr<IVideoWindow> m_pRenderWindow;
  ComPtr<ISoundOutput> m_pSoundOutput;  // the sound played through, while the graph has it
  ComPtr<IMediaEventEx> m_pMediaEvent;
  ComPtr<IAMDroppedFrames> m_pDroppedFrames;
  ComPtr<ICaptureStreamState> m_pStreamState;
  ComPtr<IBaseFilter> m_pMux;
  ComPtr<ICaptureGraphBuilder> m_pBuilder;
  ComPtr<IGraphBuilder> m_pGraph;
  ComPtr<IAMVideoCompression> m_pVideoCompression;
  ComPtr<IAMVfwCaptureDialogs> m_pCaptureDialogs;
  ComPtr<IAMStreamConfig> m_pAudioConfig;
  ComPtr<IAMStreamConfig> m_pVideoConfig;
  ComPtr<IBaseFilter> m_pVideoCapture;
  ComPtr<IBaseFilter> m_pAudioCapture;
  ComPtr<IBaseFilter> m_pVbiCapture;  // the card's VBI device, in the graph while its captions are used
  CCrossbar* m_pCrossbar = nullptr;
  HWND m_hwndOwner = nullptr;
  int m_nVideoDevice = 0;
  int m_nAudioDevice = 0;
  bool m_bOwnSound = false;  // the audio device is the card's own sound (what sound through's auto asks)
  const orv::plans::Region* m_pRegion = &orv::plans::RegionOrDefault("");
  const orv::plans::TvStandard* m_pStandard = &orv::plans::Standards()[0];
  BOOL m_bCaptureBuilt;
  BOOL m_bPreviewBuilt;
  BOOL m_bCapturing;
  BOOL m_bPreviewing;
  BOOL m_bVideoFormatOK = FALSE;
  BOOL m_bSetFrameRate = FALSE;
  double m_dFrameRate = 0.0;
  BOOL m_bWantPreview = FALSE;
  BOOL m_bNoPreviewPin;
  int m_nCrossbarInputs = 0;
  char m_szCaptureFile[260] = {};
  int m_nMasterStream = 0;
  BOOL m_bCaptureAudio;
  int m_nDropped;
  long m_nAccessDropped = -1;  // the last capture's access copy's pictures left out, -1 for none
  int m_nCaptured;
  int m_nSource = 0;
  int m_nChannel = -1;  // the tuner's channel as last tuned, -1 before
  DWORD m_dwCaptureStart = 0;
  BOOL m_bTimed = FALSE;
  DWORD m_dwTimeLimit = 0;
  // The recording page's choices, read when a capture is built.
  orv::record::Format m_recordFormat = orv::record::Format::Spec;
  DWORD m_dwStopOnNoSignalMs = 0;  // 0: a lost signal never ends the capture
  // The card's format before a capture in the standard's own frame changed it; put back after.
  AM_MEDIA_TYPE* m_pCardFormat = nullptr;
};

class CCaptureGraph : public CGraphBase {
 public:
  // pOwner: the video window (or none): owner of message boxes, of the renderer window and timers.
  explicit CCaptureGraph(CWnd* pOwner);
  // Stops a running channel scan and waits for its worker before the graph goes.
  ~CCaptureGraph() override;

  // Persisted choices, profile section "orvane".
  void LoadProfile();
  void SaveProfile();

  int Restart();
  int RebuildAll();
  // After the device page's OK: re-reads the devices, region and standard from the profile and
  // rebuilds the graph on them.
  int UseStoredDevices();
  // Hands the region's plans to the tuner and sets the standard on the card (auto: the card's
  // detection where it has one, else the region's).
  void ApplyRegionAndStandard();
  // The video and audio capture devices in enumeration order; the standards of the card in use.
  CaptureDevices ListDevices();
  int BuildGraph();
  int MakeBuilder();
  int MakeGraph();
  void SelectTunerInput();
  // Formats the message of a string id (in the language in use) and shows it in a warning box
  // owned by the owner window; returns 0.
  int ErrorBox(UINT message, ...);

  // Live preview.
  int BuildPreviewGraph();
  int StartPreview();
  int StopPreview();
  // x, y, width, height in the owner's client area: right and bottom carry the width and height.
  HRESULT SetVideoPosition(const RECT* pPlacement);
  // Puts the renderer's window on the owner at the picture's first place and shows it.
  void ShowRenderWindow(BOOL bDrain);

  // File capture.
  int StartFileCapture(LPCSTR fileName, BOOL timed, UINT seconds);
  int IsCaptureTimeUp();
  int StopFileCapture();
  int SetCaptureFileName(LPCSTR fileName);
  int BuildCaptureGraph();
  int StartCapture();
  int StopCapture();
  void ShowCaptureResult();
  // Whether the recording ended by itself while capturing: the file could take no more, the card
  // is gone, or the signal has been gone for the recording page's time. The file is closed as soon
  // as this sees it; the boxes and the live picture wait for StopFileCapture.
  BOOL CaptureHalted();
  // Frames the capture pin has dropped since the capture started.
  int DroppedSoFar();
  // How the card's stream fares while capturing: pictures coming, none (no signal), restarting.
  CAPTURE_STREAM_STATE StreamStateSoFar();
  // The live picture deinterlaced or not, as the recording page says.
  void ApplyPreviewDeinterlace();

  // Measures of the live picture and of the sound going into the file (the levels window, the
  // status dialog's meters), taken by the graph off this thread: reading never waits for the
  // streams. The picture is measured only while watched; that holds across rebuilt graphs.
  void WatchLevels(BOOL on);
  BOOL ReadPictureLevels(orv::PictureLevels* levels);
  BOOL ReadSoundLevels(orv::SoundLevels* levels);
  void ClearClipMarks();

  // Sound through: the card's sound to the speakers as win.ini's SoundThrough asks, from the same
  // reader that records it (through a tee). Applying a changed choice (or one of captions) rebuilds the
  // live picture's graph; a running capture keeps what it has.
  void RenderSoundThrough();
  // The captions of the card's VBI device (its own device, listed under the card's name) into the
  // sink: the mux of a recording. A card without one records as before, with a line in the log.
  void RenderCaptions(IBaseFilter* pSink);
  // The same captions drawn over the live picture, when win.ini's ShowCaptions asks for them.
  void RenderLiveCaptions();
  void ApplySoundThrough();
  // The level the sound played through takes where no mixer of the platform sets the speakers'.
  void SetSoundThroughLevel(LONG volume, BOOL mute);

  // Source, tuning and channel scan.
  int SelectSource(int nSource);
  int TuneChannel(int nChannel);
  HRESULT FindTuner(IAMTVTuner** ppTuner);
  int StartChannelScan(HWND hwndNotify, int nSource);
  void StopChannelScan();

  // Picture controls on the 0..255 level scale.
  int SetBrightness(int nLevel);
  int SetContrast(int nLevel);
  int SetHue(int nLevel);
  int SetSaturation(int nLevel);
  BYTE GetBrightness();
  BYTE GetContrast();
  BYTE GetHue();
  BYTE GetSaturation();

  // The frame duration given to the stream configuration, in 100 ns units.
  REFERENCE_TIME FrameDuration() const;

 private:
  HRESULT BindDevice(IEnumMoniker* pEnum, int index, IBaseFilter** ppFilter);
  void FindCrossbar();
  int SetProcAmp(LONG property, int nLevel);
  BYTE GetProcAmp(LONG property);
  // Stops the running scans and waits for their workers, serving their sends meanwhile: the
  // workers walk the graph without a lock, so whatever tears parts of it down calls this first.
  void WaitForScans();
  void CollectCaptureEvents();
  // Gives the capture log its end reason and stops the graph, which completes the file; once a capture.
  HRESULT CloseRecording();
  int FailCaptureBuild(UINT message);
  // Sets the capture pin to the standard's own size and full rate; the card's format is kept to be
  // put back by RestoreCardFormat.
  void UseStandardFrame();
  void RestoreCardFormat();
  // Polls the decoder's lock (at most every kSignalPollMs); true once it has been gone long enough.
  bool SignalGoneTooLong();
  // The capture log's account of this capture (device, input, tuning, picture, sound, format, who
  // and what), a JSON object's text; in CaptureLog.cpp with the two below.
  std::string CaptureDescription();
  // Why the running capture ends, as its log says it.
  const char* EndReason();
  // The result box's line on the files written beside the recording; "" when there are none.
  std::string SideFilesLine() const;
  // The card's VBI device into the graph once (quiet: no log line when there is none); false without.
  bool AddVbiDevice(bool quiet);
  void RenderVbi(const GUID& category, IBaseFilter* pSink, bool quiet);

  BOOL m_bWatchLevels = FALSE;
  LONG m_nThroughVolume = 0xFFFF;
  BOOL m_bThroughMute = FALSE;
  HRESULT m_hrCaptureHalt = S_OK;  // why the graph ended the recording, S_OK while it has not
  BOOL m_bSignalEnded = FALSE;     // the recording ended because the signal went away
  bool m_bRecordingClosed = false;  // the graph has stopped and the file is complete
  bool m_bSignalLost = false;
  DWORD m_dwSignalLostAt = 0;
  DWORD m_dwSignalPolledAt = 0;

  struct ScanWorker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<ScanWorker> m_scans;
};

// The scan worker's procedure; pParam is the engine. Returns 0.
UINT ChannelScanThread(LPVOID pParam);

// The 0..255 picture level scale on a property's driver range (min..max): the value a level
// writes (only its low 8 bits count), and the level a value reads back as. Reading is the exact
// inverse of writing, the smallest level that writes the value, so a level saved at exit and
// applied at the next start stays where it was.
LONG PictureValueFromLevel(LONG property, LONG min, LONG max, int level);
BYTE PictureLevelFromValue(LONG property, LONG min, LONG max, LONG value);
