// File capture: the capture stream part of the graph, its start and stop under stream control,
// the time limit, and the result box.
#include "capture/CaptureGraph.h"

#include "common/Commands.h"
#include "platform/media/writer/mediawriter.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {
// The standards' own frames, for the recording formats that keep every line and every frame.
constexpr LONG kStandardWidth = 720;
constexpr LONG kHeight525 = 480, kHeight625 = 576;
constexpr REFERENCE_TIME kPeriod525 = 333667, kPeriod625 = 400000;  // 29.97 and 25 frames per second
// The decoder's lock is asked at most this often while a capture may end on a lost signal.
constexpr DWORD kSignalPollMs = 250;

// The longest time limit the millisecond counter can measure (49.7 days): longer ones are cut to it.
constexpr DWORD kMaxTimeLimitMs = 0xFFFFFFFFu;
constexpr UINT WM_GRAPHNOTIFY = WM_USER + 1;

OAHWND ToOA(HWND h) { return reinterpret_cast<OAHWND>(h); }

// The name as the file sink takes it; false when it does not fit.
bool ToWide(const char* name, WCHAR (&wide)[260]) {
  return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, name, -1, wide, 260) > 0;
}
}  // namespace

int CCaptureGraph::StartFileCapture(LPCSTR fileName, BOOL timed, UINT seconds) {
  WaitForScans();  // the graph changes under a scan worker
  if (m_bPreviewing) StopPreview();
  if (m_bPreviewBuilt) TearDownGraph();
  SetCaptureFileName(fileName);
  BuildCaptureGraph();
  m_bTimed = timed;
  const int started = StartCapture();
  if (started && timed) {
    // Armed only now: a tick while one of StartCapture's boxes is open would end a capture that
    // has not begun.
    m_dwCaptureStart = timeGetTime();
    m_dwTimeLimit = seconds > kMaxTimeLimitMs / 1000u ? kMaxTimeLimitMs : seconds * 1000u;
    SetTimer(m_hwndOwner, kCaptureTimer, kCaptureTimerMs, nullptr);
  }
  if (!started) {
    // Nothing records: the live picture comes back now.
    if (m_bCaptureBuilt) TearDownGraph();
    if (m_bWantPreview) {
      BuildPreviewGraph();
      StartPreview();
    }
  }
  return started;
}

int CCaptureGraph::IsCaptureTimeUp() {
  // A recording the graph had to end is over as well.
  if (CaptureHalted()) return 1;
  // Unsigned difference: a wrap of the millisecond counter does no harm.
  return static_cast<DWORD>(timeGetTime() - m_dwCaptureStart) >= m_dwTimeLimit ? 1 : 0;
}

int CCaptureGraph::StopFileCapture() {
  WaitForScans();
  // Whatever the last start asked for: a limit's timer must never outlive the capture.
  KillTimer(m_hwndOwner, kCaptureTimer);
  if (!StopCapture()) return 0;
  if (m_bWantPreview) {
    BuildPreviewGraph();
    StartPreview();
  }
  return 1;
}

int CCaptureGraph::SetCaptureFileName(LPCSTR fileName) {
  // A name that does not fit is not cut short into another file's name: it is no name at all.
  if (!fileName || std::strlen(fileName) >= sizeof m_szCaptureFile)
    m_szCaptureFile[0] = 0;
  else
    std::strcpy(m_szCaptureFile, fileName);
  std::error_code ec;
  if (!m_szCaptureFile[0] || !std::filesystem::exists(m_szCaptureFile, ec)) return 0;
  WCHAR wide[260];
  if (m_pFileSink && ToWide(m_szCaptureFile, wide)) m_pFileSink->SetFileName(wide, nullptr);
  return 1;
}

int CCaptureGraph::FailCaptureBuild(UINT message) {
  ErrorBox(message);
  TearDownGraph();
  return 0;
}

int CCaptureGraph::BuildCaptureGraph() {
  if (m_bCaptureBuilt) return 1;
  if (m_bCapturing || m_bPreviewing || !m_pVideoCapture || (m_bCaptureAudio && !m_pAudioCapture)) return 0;
  if (!m_szCaptureFile[0]) return ErrorBox(IDS_ERR_NO_FILE_NAME);
  if (m_bPreviewBuilt) TearDownGraph();
  RestoreCardFormat();
  m_recordFormat = orv::record::StoredFormat();
  m_dwStopOnNoSignalMs = static_cast<DWORD>(orv::record::StoredStopOnNoSignal()) * 1000u;
  const orv::record::FormatInfo& format = orv::record::InfoOf(m_recordFormat);
  // Before the pins connect, so that every filter sees the frame the card delivers.
  if (format.standardFrame) UseStandardFrame();

  WCHAR wide[260];
  HRESULT hr = ToWide(m_szCaptureFile, wide)
                   ? m_pBuilder->SetOutputFileName(format.matroska ? &MEDIASUBTYPE_Matroska : &MEDIASUBTYPE_Avi, wide,
                                                   &m_pMux, &m_pFileSink)
                   : E_INVALIDARG;
  if (FAILED(hr)) return FailCaptureBuild(IDS_ERR_SET_FILE);

  if (SUCCEEDED(m_pMuxConfig.QueryFrom(m_pMux))) {
    m_pMuxConfig->SetOutputCompatibilityIndex(TRUE);
    if (m_bCaptureAudio && FAILED(m_pMuxConfig->SetMasterStream(m_nMasterStream))) ErrorBox(IDS_ERR_MASTER_STREAM);
  }
  if (m_recordFormat != orv::record::Format::Spec) {
    static constexpr RECORD_CODING kCodings[] = {RECORD_AS_DELIVERED, RECORD_UNCOMPRESSED_422, RECORD_FFV1_PCM,
                                                 RECORD_H264_AAC, RECORD_FFV1_PCM_AND_H264_AAC};
    ComPtr<IConfigRecordMux> coding;
    if (FAILED(coding.QueryFrom(m_pMux)) ||
        FAILED(coding->SetRecordCoding(kCodings[static_cast<int>(m_recordFormat)])) ||
        FAILED(coding->SetRecordLog(orv::record::StoredCaptureNotes().writeLog ? CaptureDescription().c_str() : nullptr)))
      return FailCaptureBuild(IDS_ERR_SET_FILE);
  }

  if (FAILED(m_pBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, nullptr, m_pMux)))
    return FailCaptureBuild(IDS_ERR_RENDER_VIDEO);

  if (m_bWantPreview) {
    hr = m_pBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, m_pVideoCapture, nullptr, nullptr);
    if (hr == VFW_S_NOPREVIEWPIN)
      m_bNoPreviewPin = TRUE;
    else if (hr != S_OK)
      return FailCaptureBuild(IDS_ERR_RENDER_PREVIEW);
  }

  if (m_bCaptureAudio && FAILED(m_pBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, m_pAudioCapture, nullptr, m_pMux)))
    return FailCaptureBuild(IDS_ERR_RENDER_AUDIO);
  // The same reader's sound to the speakers, through a tee between it and the mux.
  if (m_bWantPreview) RenderSoundThrough();
  // The archival formats keep the captions of the card's VBI device, after the picture and sound.
  if (m_recordFormat != orv::record::Format::Spec) RenderCaptions(m_pMux);

  hr = m_pBuilder->FindInterface(m_bNoPreviewPin ? &PIN_CATEGORY_CAPTURE : &PIN_CATEGORY_PREVIEW, m_pVideoCapture,
                                 IID_PPV_ARGS(&m_pRenderWindow));
  if (FAILED(hr) || !m_pRenderWindow) {
    if (m_bWantPreview) ErrorBox(IDS_ERR_NO_PREVIEW);
  } else {
    ShowRenderWindow(FALSE);
    ApplyPreviewDeinterlace();
    if (m_bWantPreview) RenderLiveCaptions();
  }

  // The standard's own frame comes with its rate.
  if (m_bSetFrameRate && !format.standardFrame) {
    AM_MEDIA_TYPE* pmt = nullptr;
    if (!m_pVideoConfig || m_pVideoConfig->GetFormat(&pmt) != S_OK || !pmt) {
      ErrorBox(IDS_ERR_FRAME_RATE);
    } else if (pmt->formattype == FORMAT_VideoInfo && pmt->pbFormat && pmt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat)->AvgTimePerFrame = FrameDuration();
      if (m_pVideoConfig->SetFormat(pmt) != S_OK) ErrorBox(IDS_ERR_FRAME_RATE);
    }
    if (pmt) DeleteMediaType(pmt);
  }

  if (SUCCEEDED(m_pMediaEvent.QueryFrom(m_pGraph)))
    m_pMediaEvent->SetNotifyWindow(ToOA(m_hwndOwner), static_cast<LONG>(WM_GRAPHNOTIFY), 0);

  m_bCaptureBuilt = TRUE;
  return 1;
}

int CCaptureGraph::StartCapture() {
  if (m_bCapturing) return 1;
  if (m_bPreviewing) StopPreview();
  if (!m_bCaptureBuilt) return 0;
  m_nDropped = 0;
  m_nAccessDropped = -1;
  m_nCaptured = 0;
  // What the graph said while it showed the live picture (a card lost then) is not this capture's.
  CollectCaptureEvents();
  m_hrCaptureHalt = S_OK;
  m_bSignalEnded = FALSE;
  m_bRecordingClosed = false;
  m_bSignalLost = false;
  m_dwSignalPolledAt = timeGetTime() - kSignalPollMs;

  REFERENCE_TIME never = MAXLONGLONG;
  // The preview runs at once (if wanted); the capture stream is held back while the graph starts.
  HRESULT hr = m_bWantPreview ? m_pBuilder->ControlStream(&PIN_CATEGORY_PREVIEW, nullptr, nullptr, &never, 0, 0)
                              : m_pBuilder->ControlStream(&PIN_CATEGORY_PREVIEW, nullptr, &never, nullptr, 0, 0);
  bool controlled = false;
  if (SUCCEEDED(hr)) {
    hr = m_pBuilder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, &never, nullptr, 0, 0);
    controlled = SUCCEEDED(hr);
  }

  ComPtr<IMediaControl> control;
  hr = control.QueryFrom(m_pGraph);
  if (FAILED(hr)) return ErrorBox(IDS_ERR_MEDIA_CONTROL, hr);
  hr = controlled ? control->Run() : control->Pause();
  if (FAILED(hr)) {
    control->Stop();
    control.Reset();
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)) return ErrorBox(IDS_ERR_MEDIA_LIBRARY);
    return ErrorBox(IDS_ERR_START_GRAPH, hr);
  }
  // Counted either way, so that a capture without stream control still reports its frames.
  if (!m_pDroppedFrames)
    m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(&m_pDroppedFrames));
  if (!m_pStreamState && m_pVideoCapture) m_pStreamState.QueryFrom(m_pVideoCapture);
  if (controlled) {
    m_pBuilder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, 0, 0);
    if (m_pDroppedFrames) {
      LONG n = 0;
      if (SUCCEEDED(m_pDroppedFrames->GetNumDropped(&n))) m_nDropped = n;
      if (SUCCEEDED(m_pDroppedFrames->GetNumNotDropped(&n))) m_nCaptured = n;
    }
  } else {
    hr = control->Run();
    if (FAILED(hr)) {
      control->Stop();
      control.Reset();
      return ErrorBox(IDS_ERR_RUN_GRAPH, hr);
    }
  }
  m_bCapturing = TRUE;
  return 1;
}

void CCaptureGraph::CollectCaptureEvents() {
  if (!m_pMediaEvent) return;
  LONG code = 0;
  LONG_PTR param1 = 0, param2 = 0;
  while (m_pMediaEvent->GetEvent(&code, &param1, &param2, 0) == S_OK) {
    if (code == EC_ERRORABORT && m_hrCaptureHalt == S_OK)
      m_hrCaptureHalt = FAILED(static_cast<HRESULT>(param1)) ? static_cast<HRESULT>(param1) : E_FAIL;
    m_pMediaEvent->FreeEventParams(code, param1, param2);
  }
}

BOOL CCaptureGraph::CaptureHalted() {
  if (!m_bCapturing) return FALSE;
  CollectCaptureEvents();
  if (m_hrCaptureHalt == S_OK && !m_bSignalEnded && SignalGoneTooLong()) m_bSignalEnded = TRUE;
  if (m_hrCaptureHalt == S_OK && !m_bSignalEnded) return FALSE;
  // Ended now, not when a box open meanwhile (the card's own "unplugged?") is answered: until the
  // graph stops, the sound goes on and the file fills with the last picture repeated.
  CloseRecording();
  return TRUE;
}

HRESULT CCaptureGraph::CloseRecording() {
  if (m_bRecordingClosed) return S_OK;
  ComPtr<IConfigRecordMux> record;
  if (SUCCEEDED(record.QueryFrom(m_pMux))) record->SetEndReason(EndReason());
  ComPtr<IMediaControl> control;
  HRESULT hr = control.QueryFrom(m_pGraph);
  if (SUCCEEDED(hr)) hr = control->Stop();
  m_bRecordingClosed = SUCCEEDED(hr);
  return hr;
}

bool CCaptureGraph::SignalGoneTooLong() {
  if (!m_dwStopOnNoSignalMs || !m_pVideoCapture) return false;
  const DWORD now = timeGetTime();
  if (now - m_dwSignalPolledAt < kSignalPollMs) return false;
  m_dwSignalPolledAt = now;
  ComPtr<IAMAnalogVideoDecoder> decoder;
  LONG locked = 1;
  // A card that cannot tell is taken to have a signal: the capture then runs until stopped.
  if (FAILED(decoder.QueryFrom(m_pVideoCapture)) || FAILED(decoder->get_HorizontalLocked(&locked))) locked = 1;
  if (locked) {
    m_bSignalLost = false;
    return false;
  }
  if (!m_bSignalLost) {
    m_bSignalLost = true;
    m_dwSignalLostAt = now;
  }
  return now - m_dwSignalLostAt >= m_dwStopOnNoSignalMs;
}

int CCaptureGraph::DroppedSoFar() {
  LONG n = 0;
  if (!m_bCapturing || !m_pDroppedFrames || FAILED(m_pDroppedFrames->GetNumDropped(&n))) return m_nDropped;
  return n;
}

CAPTURE_STREAM_STATE CCaptureGraph::StreamStateSoFar() {
  CAPTURE_STREAM_STATE state = CAPTURE_STREAM_OK;
  if (!m_bCapturing || !m_pStreamState || FAILED(m_pStreamState->GetStreamState(&state))) return CAPTURE_STREAM_OK;
  return state;
}

void CCaptureGraph::ApplyPreviewDeinterlace() {
  ComPtr<IVideoDeinterlace> deinterlace;
  if (m_pRenderWindow && SUCCEEDED(deinterlace.QueryFrom(m_pRenderWindow)))
    deinterlace->put_Deinterlace(orv::record::StoredDeinterlacePreview() ? TRUE : FALSE);
}

void CCaptureGraph::UseStandardFrame() {
  ComPtr<IAMAnalogVideoDecoder> decoder;
  LONG lines = 0;
  // An input without a TV standard (a camera) keeps its own frame.
  if (!m_pVideoConfig || FAILED(decoder.QueryFrom(m_pVideoCapture)) || FAILED(decoder->get_NumberOfLines(&lines)))
    return;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (m_pVideoConfig->GetFormat(&pmt) != S_OK || !pmt) {
    ErrorBox(IDS_ERR_FRAME_RATE);
    return;
  }
  if (pmt->formattype != FORMAT_VideoInfo || !pmt->pbFormat || pmt->cbFormat < sizeof(VIDEOINFOHEADER)) {
    DeleteMediaType(pmt);
    return;
  }
  // A second copy of the card's format, kept to be put back.
  if (!m_pCardFormat && m_pVideoConfig->GetFormat(&m_pCardFormat) != S_OK) m_pCardFormat = nullptr;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat);
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  const LONG height = lines == 525 ? kHeight525 : kHeight625;
  bmi.biWidth = kStandardWidth;
  bmi.biHeight = bmi.biHeight < 0 ? -height : height;
  // Uncompressed pictures grow with the frame; a compressed one keeps the size its card gives.
  if (pmt->subtype != MEDIASUBTYPE_MJPG)
    bmi.biSizeImage = static_cast<DWORD>(kStandardWidth * height * bmi.biBitCount / 8);
  pmt->lSampleSize = bmi.biSizeImage;
  vih->AvgTimePerFrame = lines == 525 ? kPeriod525 : kPeriod625;
  if (m_pVideoConfig->SetFormat(pmt) != S_OK) ErrorBox(IDS_ERR_FRAME_RATE);
  DeleteMediaType(pmt);
}

void CCaptureGraph::RestoreCardFormat() {
  if (!m_pCardFormat) return;
  if (m_pVideoConfig) m_pVideoConfig->SetFormat(m_pCardFormat);
  DeleteMediaType(m_pCardFormat);
  m_pCardFormat = nullptr;
}

int CCaptureGraph::StopCapture() {
  if (!m_bCapturing) return 0;
  if (const HRESULT hr = CloseRecording(); FAILED(hr)) return ErrorBox(IDS_ERR_STOP_GRAPH, hr);
  ComPtr<IConfigRecordMux> record;
  record.QueryFrom(m_pMux);
  // The file is complete once the graph has stopped; what went wrong on the way is known now.
  CollectCaptureEvents();
  m_bCapturing = FALSE;
  InvalidateRect(m_hwndOwner, nullptr, TRUE);
  if (m_pDroppedFrames) {
    LONG n = 0;
    if (SUCCEEDED(m_pDroppedFrames->GetNumDropped(&n))) m_nDropped = n;
    if (SUCCEEDED(m_pDroppedFrames->GetNumNotDropped(&n))) m_nCaptured = n;
  }
  // The mux may be gone by the time the result is shown.
  if (LONG n = 0; record && record->GetAccessCopyDropped(&n) == S_OK) m_nAccessDropped = n;
  if (m_hrCaptureHalt == HRESULT_FROM_WIN32(ERROR_DISK_FULL))
    ErrorBox(IDS_ERR_DISK_FULL);
  else if (m_hrCaptureHalt == VFW_E_TYPE_NOT_ACCEPTED)
    ErrorBox(IDS_ERR_FORMAT_CHANGED);
  // An unplugged card has said so in a box of its own; the file up to then is whole.
  else if (m_hrCaptureHalt != S_OK && m_hrCaptureHalt != HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED))
    ErrorBox(IDS_ERR_WRITE_FILE, m_hrCaptureHalt);
  return 1;
}

void CCaptureGraph::ShowCaptureResult() {
  std::string text = AfxFormatString(IDS_CAPTURE_RESULT, m_nCaptured, m_nDropped);
  if (m_nAccessDropped >= 0 && m_szCaptureFile[0]) {
    const std::string copy = std::filesystem::path(orv::media::AccessCopyOf(m_szCaptureFile)).filename().string();
    text += "\n" + AfxFormatString(IDS_CAPTURE_ACCESS_COPY, copy.c_str(), static_cast<int>(m_nAccessDropped));
  }
  if (const std::string side = SideFilesLine(); !side.empty()) text += "\n" + side;
  MessageBoxA(nullptr, text.c_str(), AfxFormatString(IDS_CAPTURE_RESULT_CAPTION).c_str(), MB_OK);
}
