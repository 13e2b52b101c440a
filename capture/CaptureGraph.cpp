#include "capture/CaptureGraph.h"

#include "common/SoundThrough.h"
#include "platform/log.h"

#include "common/Commands.h"
#include "common/Settings.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/writer/sidefiles.h"
#include "platform/store/registry.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <utility>
#include <vector>

std::atomic<int> g_nScanStop{0};
std::atomic<HWND> g_hwndScanNotify{nullptr};
std::atomic<int> g_nScanSource{0};

namespace {
OAHWND ToOA(HWND h) { return reinterpret_cast<OAHWND>(h); }
}  // namespace

// ---- CGraphBase ---------------------------------------------------------------------------------

CGraphBase::CGraphBase()
    : m_bCaptureBuilt(FALSE),
      m_bPreviewBuilt(FALSE),
      m_bCapturing(FALSE),
      m_bPreviewing(FALSE),
      m_bNoPreviewPin(FALSE),
      m_bCaptureAudio(FALSE),
      m_nDropped(0),
      m_nCaptured(0) {
  CoInitialize(nullptr);
}

CGraphBase::~CGraphBase() {
  TearDownGraph();
  FreeFilters();
  CoUninitialize();
}

void CGraphBase::TearDownGraph() {
  m_pFileSink.Reset();
  m_pMuxConfig.Reset();
  m_pMux.Reset();
  if (m_pRenderWindow) {
    m_pRenderWindow->put_Owner(0);
    m_pRenderWindow->put_Visible(OAFALSE);
    m_pRenderWindow.Reset();
  }
  m_pMediaEvent.Reset();
  m_pDroppedFrames.Reset();
  m_pStreamState.Reset();
  m_pSoundOutput.Reset();
  if (m_pVideoCapture) RemoveDownstream(m_pVideoCapture);
  if (m_pAudioCapture) RemoveDownstream(m_pAudioCapture);
  if (m_pVbiCapture) {
    RemoveDownstream(m_pVbiCapture);
    if (m_pGraph) m_pGraph->RemoveFilter(m_pVbiCapture);
    m_pVbiCapture.Reset();
  }
  m_bCaptureBuilt = FALSE;
  m_bPreviewBuilt = FALSE;
  m_bNoPreviewPin = FALSE;
}

void CGraphBase::RemoveDownstream(IBaseFilter* pFilter) {
  if (!pFilter || !m_pGraph) return;
  ComPtr<IEnumPins> pins;
  if (FAILED(pFilter->EnumPins(&pins)) || !pins) return;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IPin> other;
    if (pin->ConnectedTo(&other) != S_OK || !other) continue;
    PIN_INFO info{};
    if (FAILED(other->QueryPinInfo(&info))) break;
    ComPtr<IBaseFilter> downstream;
    downstream.Attach(info.pFilter);
    if (info.dir == PINDIR_INPUT) {
      RemoveDownstream(downstream);
      m_pGraph->Disconnect(other);
      m_pGraph->Disconnect(pin);
      m_pGraph->RemoveFilter(downstream);
    }
  }
}

void CGraphBase::FreeFilters() {
  // The card keeps its format across graphs: it gets its own back before it goes.
  if (m_pCardFormat && m_pVideoConfig) m_pVideoConfig->SetFormat(m_pCardFormat);
  if (m_pCardFormat) DeleteMediaType(m_pCardFormat);
  m_pCardFormat = nullptr;
  m_pGraph.Reset();
  m_pBuilder.Reset();
  m_pVideoCapture.Reset();
  m_pAudioCapture.Reset();
  m_pVbiCapture.Reset();
  m_pAudioConfig.Reset();
  m_pVideoConfig.Reset();
  m_pVideoCompression.Reset();
  m_pCaptureDialogs.Reset();
  delete m_pCrossbar;
  m_pCrossbar = nullptr;
}

// ---- CCaptureGraph: construction, profile, graph ------------------------------------------------

CCaptureGraph::CCaptureGraph(CWnd* pOwner) {
  m_hwndOwner = pOwner ? pOwner->GetSafeHwnd() : nullptr;
  m_nSource = SOURCE_VIDEO;
}

CCaptureGraph::~CCaptureGraph() {
  // The workers use the builder and the capture filter: they must be gone before the graph is.
  WaitForScans();
  // A recording's checksum still being read is worth the wait: without it the file has none.
  orv::media::WaitForChecksums();
}

void CCaptureGraph::LoadProfile() {
  GetProfileStringA(kProfileSection, "CaptureFile", "", m_szCaptureFile, sizeof m_szCaptureFile);
  m_szCaptureFile[sizeof m_szCaptureFile - 1] = 0;
  m_nVideoDevice = static_cast<int>(GetProfileIntA(kProfileSection, "VideoDevice", 0));
  m_nAudioDevice = static_cast<int>(GetProfileIntA(kProfileSection, "AudioDevice", 0));
  m_pRegion = &orv::plans::StoredRegion();
  m_pStandard = &orv::plans::StoredStandard();
  m_bCaptureAudio = TRUE;
  m_bWantPreview = TRUE;
  m_nMasterStream = 1;
  m_bSetFrameRate = TRUE;
  m_dFrameRate = 14.99;
}

void CCaptureGraph::SaveProfile() {
  char number[16];
  WriteProfileStringA(kProfileSection, "CaptureFile", m_szCaptureFile);
  std::snprintf(number, sizeof number, "%d", m_nVideoDevice);
  WriteProfileStringA(kProfileSection, "VideoDevice", number);
  std::snprintf(number, sizeof number, "%d", m_nAudioDevice);
  WriteProfileStringA(kProfileSection, "AudioDevice", number);
}

int CCaptureGraph::Restart() {
  RebuildAll();
  return 1;
}

int CCaptureGraph::RebuildAll() {
  // A scan worker walks the graph without a lock; never pull the graph from under it.
  WaitForScans();
  if (m_bPreviewing) StopPreview();
  if (m_bCaptureBuilt || m_bPreviewBuilt) TearDownGraph();
  FreeFilters();
  BuildGraph();
  if (m_bWantPreview) {
    BuildPreviewGraph();
    StartPreview();
  }
  SelectTunerInput();
  return 1;
}

int CCaptureGraph::UseStoredDevices() {
  WaitForScans();  // a scan reads the region
  m_nVideoDevice = static_cast<int>(GetProfileIntA(kProfileSection, "VideoDevice", 0));
  m_nAudioDevice = static_cast<int>(GetProfileIntA(kProfileSection, "AudioDevice", 0));
  m_pRegion = &orv::plans::StoredRegion();
  m_pStandard = &orv::plans::StoredStandard();
  // A card switch needs a graph on the new card; audio capture is retried on it.
  m_bCaptureAudio = TRUE;
  return RebuildAll();
}

namespace {
std::vector<TunerChannel> TunerPlanOf(const orv::plans::ChannelPlan& plan) {
  std::vector<TunerChannel> out;
  for (const auto& c : plan.channels) out.push_back({c.number, static_cast<ULONG>(c.visualKHz)});
  return out;
}
}  // namespace

void CCaptureGraph::ApplyRegionAndStandard() {
  if (!m_pVideoCapture) return;
  ComPtr<IAMTVStandard> standard;
  if (SUCCEEDED(standard.QueryFrom(m_pVideoCapture)) && standard) {
    // Korean broadcasts are plain NTSC-M, which the tuner always had; Korea's A2 sound variant is
    // only taken when chosen.
    const char* fallback = std::string_view(m_pRegion->code) == "KR" ? "NTSC-M" : m_pRegion->standard;
    standard->put_Standard(m_pStandard->key, fallback);
  }
  ComPtr<IAMTVTuner> tuner;
  if (FindTuner(&tuner) != S_OK || !tuner) return;
  ComPtr<IAMTunerPlan> plans;
  if (FAILED(plans.QueryFrom(tuner)) || !plans) return;
  for (const auto& [type, plan] : {std::pair{TunerInputAntenna, m_pRegion->broadcast},
                                   std::pair{TunerInputCable, m_pRegion->cable}}) {
    const std::vector<TunerChannel> channels = TunerPlanOf(*plan);
    plans->put_Plan(type, channels.data(), static_cast<LONG>(channels.size()));
  }
}

namespace {
std::vector<std::string> FriendlyNames(REFCLSID category) {
  std::vector<std::string> names;
  ComPtr<ICreateDevEnum> devEnum;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum))))
    return names;
  ComPtr<IEnumMoniker> monikers;
  if (devEnum->CreateClassEnumerator(category, &monikers, 0) != S_OK || !monikers) return names;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    std::string name;
    ComPtr<IPropertyBag> bag;
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) && bag &&
        SUCCEEDED(bag->Read(u"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal)
      name = orv::media::Narrow(v.bstrVal);
    VariantClear(&v);
    names.push_back(name.empty() ? "?" : name);
  }
  return names;
}
}  // namespace

CaptureDevices CCaptureGraph::ListDevices() {
  CaptureDevices list;
  list.audio = FriendlyNames(CLSID_AudioInputDeviceCategory);
  const std::vector<std::string> video = FriendlyNames(CLSID_VideoInputDeviceCategory);
  for (std::size_t i = 0; i < video.size(); ++i) {
    CaptureDevices::Video v;
    v.name = video[i];
    // A card's sound is listed under its name; else, one entry per card, in the same order.
    for (std::size_t a = 0; a < list.audio.size() && v.ownAudio < 0; ++a)
      if (list.audio[a].rfind(v.name, 0) == 0) v.ownAudio = static_cast<int>(a);
    if (v.ownAudio < 0 && list.audio.size() == video.size()) v.ownAudio = static_cast<int>(i);
    list.video.push_back(v);
  }
  // Only the card in use is asked: opening another could disturb what it is doing.
  ComPtr<IAMTVStandard> standard;
  if (m_nVideoDevice >= 0 && m_nVideoDevice < static_cast<int>(list.video.size()) && m_pVideoCapture &&
      SUCCEEDED(standard.QueryFrom(m_pVideoCapture)) && standard) {
    CaptureDevices::Video& v = list.video[static_cast<std::size_t>(m_nVideoDevice)];
    for (const auto& s : orv::plans::Standards()) {
      if (s.key == std::string_view(orv::plans::kAutoStandard)) continue;
      const HRESULT hr = standard->SupportsStandard(s.key);
      if (hr == E_NOTIMPL) break;
      v.standardsKnown = true;
      if (hr == S_OK) v.standards.push_back(s.key);
    }
  }
  return list;
}

int CCaptureGraph::MakeBuilder() {
  if (m_pBuilder) return 1;
  return SUCCEEDED(CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&m_pBuilder)))
             ? 1
             : 0;
}

int CCaptureGraph::MakeGraph() {
  if (m_pGraph) return 1;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&m_pGraph)))) return 0;
  if (m_bWatchLevels) WatchLevels(TRUE);
  return 1;
}

void CCaptureGraph::RenderSoundThrough() {
  m_pSoundOutput.Reset();
  if (!m_bCaptureAudio || !m_pAudioCapture || !orv::sound::PlaysThrough(orv::sound::StoredThrough(), m_bOwnSound))
    return;
  // The sound's capture pin feeds a tee; the renderer is found downstream of it.
  ComPtr<ISoundOutput> output;
  if (FAILED(m_pBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, m_pAudioCapture, nullptr, nullptr)) ||
      FAILED(m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pAudioCapture, IID_PPV_ARGS(&output)))) {
    orv::LogError("capture", "sound through: the card's sound cannot be played; the picture goes on without it");
    return;
  }
  output->put_Device(orv::sound::StoredThroughDevice().c_str());
  output->put_Level(m_nThroughVolume, m_bThroughMute);
  m_pSoundOutput = std::move(output);
}

bool CCaptureGraph::AddVbiDevice(bool quiet) {
  if (m_pVbiCapture) return true;
  const std::vector<std::string> video = FriendlyNames(CLSID_VideoInputDeviceCategory);
  if (m_nVideoDevice < 0 || m_nVideoDevice >= static_cast<int>(video.size())) return false;
  const std::string& card = video[static_cast<std::size_t>(m_nVideoDevice)];
  const std::vector<std::string> vbi = FriendlyNames(CLSID_VbiInputDeviceCategory);
  const auto own = std::find_if(vbi.begin(), vbi.end(), [&](const std::string& n) { return n.rfind(card, 0) == 0; });
  ComPtr<ICreateDevEnum> devEnum;
  ComPtr<IEnumMoniker> monikers;
  if (own == vbi.end() ||
      FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum))) ||
      devEnum->CreateClassEnumerator(CLSID_VbiInputDeviceCategory, &monikers, 0) != S_OK || !monikers) {
    if (!quiet) orv::LogError("capture", "%s has no VBI device: the recording has no captions", card.c_str());
    return false;
  }
  HRESULT hr = BindDevice(monikers, static_cast<int>(own - vbi.begin()), &m_pVbiCapture);
  if (SUCCEEDED(hr) && m_pVbiCapture) hr = m_pGraph->AddFilter(m_pVbiCapture, nullptr);
  if (FAILED(hr) || !m_pVbiCapture) {
    orv::LogError("capture", "%s: its VBI device cannot be used (%08x): no captions", card.c_str(), static_cast<unsigned>(hr));
    m_pVbiCapture.Reset();
    return false;
  }
  return true;
}

void CCaptureGraph::RenderVbi(const GUID& category, IBaseFilter* pSink, bool quiet) {
  if (!pSink || !AddVbiDevice(quiet)) return;
  if (const HRESULT hr = m_pBuilder->RenderStream(&category, m_pVbiCapture, nullptr, pSink); FAILED(hr))
    orv::LogError("capture", "the card's captions cannot be %s (%08x)", category == PIN_CATEGORY_CAPTURE ? "recorded" : "shown",
                  static_cast<unsigned>(hr));
}

void CCaptureGraph::RenderCaptions(IBaseFilter* pSink) { RenderVbi(PIN_CATEGORY_CAPTURE, pSink, false); }

void CCaptureGraph::RenderLiveCaptions() {
  if (!orv::record::StoredShowCaptions() || !m_pRenderWindow) return;
  ComPtr<IBaseFilter> renderer;
  if (SUCCEEDED(renderer.QueryFrom(m_pRenderWindow))) RenderVbi(PIN_CATEGORY_PREVIEW, renderer, true);
}

void CCaptureGraph::ApplySoundThrough() {
  if (m_bCapturing || !m_bWantPreview) return;
  WaitForScans();
  if (m_bPreviewing) StopPreview();
  if (m_bPreviewBuilt) TearDownGraph();
  BuildPreviewGraph();
  StartPreview();
}

void CCaptureGraph::SetSoundThroughLevel(LONG volume, BOOL mute) {
  m_nThroughVolume = volume;
  m_bThroughMute = mute;
  if (m_pSoundOutput) m_pSoundOutput->put_Level(volume, mute);
}

void CCaptureGraph::WatchLevels(BOOL on) {
  m_bWatchLevels = on;
  ComPtr<ISignalLevels> levels;
  if (m_pGraph && SUCCEEDED(levels.QueryFrom(m_pGraph))) levels->put_Watch(on);
}

BOOL CCaptureGraph::ReadPictureLevels(orv::PictureLevels* out) {
  ComPtr<ISignalLevels> levels;
  return m_pGraph && SUCCEEDED(levels.QueryFrom(m_pGraph)) && levels->GetPictureLevels(out) == S_OK;
}

BOOL CCaptureGraph::ReadSoundLevels(orv::SoundLevels* out) {
  ComPtr<ISignalLevels> levels;
  return m_pGraph && SUCCEEDED(levels.QueryFrom(m_pGraph)) && levels->GetSoundLevels(out) == S_OK;
}

void CCaptureGraph::ClearClipMarks() {
  ComPtr<ISignalLevels> levels;
  if (m_pGraph && SUCCEEDED(levels.QueryFrom(m_pGraph))) levels->ClearClip();
}

// Walks the category's monikers and binds the one at `index`. The status is the last enumeration
// or binding result: S_FALSE when the index lies beyond the last device.
HRESULT CCaptureGraph::BindDevice(IEnumMoniker* pEnum, int index, IBaseFilter** ppFilter) {
  *ppFilter = nullptr;
  pEnum->Reset();
  HRESULT hr;
  ComPtr<IMoniker> moniker;
  for (int i = 0; (hr = pEnum->Next(1, &moniker, nullptr)) == S_OK; ++i) {
    if (i == index) return moniker->BindToObject(nullptr, nullptr, IID_PPV_ARGS(ppFilter));
  }
  return hr;
}

int CCaptureGraph::BuildGraph() {
  if (!MakeBuilder()) return ErrorBox(IDS_ERR_BUILDER);

  HRESULT hr;
  {
    ComPtr<ICreateDevEnum> devEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum))))
      return 0;
    ComPtr<IEnumMoniker> monikers;
    hr = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    devEnum.Reset();
    if (hr != S_OK || !monikers) return 0;
    hr = BindDevice(monikers, m_nVideoDevice, &m_pVideoCapture);
  }
  if (!m_pVideoCapture) {
    ErrorBox(IDS_ERR_VIDEO_FILTER, hr);
    FreeFilters();
    return 0;
  }

  if (!MakeGraph()) {
    ErrorBox(IDS_ERR_FILTER_GRAPH);
    FreeFilters();
    return 0;
  }
  if (FAILED(m_pBuilder->SetFiltergraph(m_pGraph))) {
    ErrorBox(IDS_ERR_GRAPH_TO_BUILDER);
    FreeFilters();
    return 0;
  }
  if (FAILED(hr = m_pGraph->AddFilter(m_pVideoCapture, nullptr))) {
    ErrorBox(IDS_ERR_ADD_VIDEO, hr);
    FreeFilters();
    return 0;
  }

  // These look-ups also bring the card's crossbar and tuner into the graph.
  m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(&m_pVideoCompression));
  hr = m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(&m_pVideoConfig));
  if (hr != S_OK) ErrorBox(IDS_ERR_VIDEO_CONFIG, hr);

  m_bVideoFormatOK = TRUE;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (m_pVideoConfig && m_pVideoConfig->GetFormat(&pmt) == S_OK && pmt) {
    if (pmt->majortype != MEDIATYPE_Video) {
      m_bVideoFormatOK = FALSE;
      m_bCaptureAudio = FALSE;
    }
  }
  if (pmt) DeleteMediaType(pmt);

  m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(&m_pCaptureDialogs));
  FindCrossbar();
  ApplyRegionAndStandard();

  if (!m_bVideoFormatOK) return 1;

  ComPtr<ICreateDevEnum> devEnum;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum)))) {
    FreeFilters();
    return 0;
  }
  {
    ComPtr<IEnumMoniker> monikers;
    hr = devEnum->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &monikers, 0);
    devEnum.Reset();
    if (hr != S_OK || !monikers) {
      m_bCaptureAudio = FALSE;
      return 1;
    }
    BindDevice(monikers, m_nAudioDevice, &m_pAudioCapture);
  }
  if (!m_pAudioCapture) {
    m_bCaptureAudio = FALSE;
    ErrorBox(IDS_ERR_AUDIO_FILTER);
    return 1;
  }
  if (FAILED(hr = m_pGraph->AddFilter(m_pAudioCapture, nullptr))) {
    ErrorBox(IDS_ERR_ADD_AUDIO, hr);
    FreeFilters();
    return 0;
  }
  if (m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pAudioCapture, IID_PPV_ARGS(&m_pAudioConfig)) != S_OK)
    ErrorBox(IDS_ERR_AUDIO_CONFIG);
  m_bOwnSound = orv::sound::IsCardsOwnSound(ListDevices(), m_nVideoDevice, m_nAudioDevice);
  return 1;
}

// The crossbar object sits on the capture filter's analogue video input.
void CCaptureGraph::FindCrossbar() {
  delete m_pCrossbar;
  m_pCrossbar = nullptr;
  m_nCrossbarInputs = 0;
  ComPtr<IEnumPins> pins;
  if (FAILED(m_pVideoCapture->EnumPins(&pins)) || !pins) return;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION dir;
    if (FAILED(pin->QueryDirection(&dir)) || dir != PINDIR_INPUT) continue;
    ComPtr<IKsPropertySet> ks;
    if (FAILED(ks.QueryFrom(pin))) continue;
    GUID category = GUID_NULL;
    DWORD returned = 0;
    if (FAILED(ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof category, &returned)))
      continue;
    if (category == PIN_CATEGORY_ANALOGVIDEOIN) {
      m_pCrossbar = new CCrossbar(pin);
      LONG count = 0;
      m_pCrossbar->CountInputs(&count);
      m_nCrossbarInputs = count;
      break;
    }
  }
}

void CCaptureGraph::SelectTunerInput() {
  if (!m_pCrossbar || m_nCrossbarInputs == 0) return;
  LONG pick = 0;
  for (LONG i = 0; i < m_nCrossbarInputs; ++i) {
    LONG type = 0;
    if (m_pCrossbar->GetInputConnector(i, &type) == S_OK && type == PhysConn_Video_Tuner) {
      pick = i;
      break;
    }
  }
  m_pCrossbar->RouteInput(pick);
}

int CCaptureGraph::ErrorBox(UINT message, ...) {
  va_list args;
  va_start(args, message);
  // At most 1024 characters, as wvsprintf allows.
  std::string text = AfxFormatStringV(message, args).substr(0, 1024);
  va_end(args);
  MessageBoxA(m_hwndOwner, text.c_str(), nullptr, MB_OK | MB_ICONWARNING | MB_TASKMODAL);
  return 0;
}

// ---- Live preview ---------------------------------------------------------------------------------

REFERENCE_TIME CCaptureGraph::FrameDuration() const {
  if (m_dFrameRate <= 0.0) return 0;
  return static_cast<REFERENCE_TIME>(10000000.0 / m_dFrameRate);
}

int CCaptureGraph::BuildPreviewGraph() {
  if (m_bPreviewBuilt) return 1;
  if (m_bCapturing || m_bPreviewing || !m_pVideoCapture || (m_bCaptureAudio && !m_pAudioCapture)) return 0;
  if (m_bCaptureBuilt) TearDownGraph();
  RestoreCardFormat();

  HRESULT hr = m_pBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, m_pVideoCapture, nullptr, nullptr);
  if (hr == VFW_S_NOPREVIEWPIN)
    m_bNoPreviewPin = TRUE;
  else if (hr != S_OK)
    ErrorBox(IDS_ERR_PREVIEW_GRAPH);

  hr = m_pBuilder->FindInterface(m_bNoPreviewPin ? &PIN_CATEGORY_CAPTURE : &PIN_CATEGORY_PREVIEW, m_pVideoCapture,
                                 IID_PPV_ARGS(&m_pRenderWindow));
  if (FAILED(hr) || !m_pRenderWindow) {
    ErrorBox(IDS_ERR_PREVIEW_RUN);
  } else {
    ShowRenderWindow(TRUE);
    ApplyPreviewDeinterlace();
    RenderLiveCaptions();
  }

  AM_MEDIA_TYPE* pmt = nullptr;
  if (m_pVideoConfig && m_bSetFrameRate && m_pVideoConfig->GetFormat(&pmt) == S_OK && pmt) {
    if (pmt->formattype == FORMAT_VideoInfo && pmt->pbFormat && pmt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      reinterpret_cast<VIDEOINFOHEADER*>(pmt->pbFormat)->AvgTimePerFrame = FrameDuration();
      hr = m_pVideoConfig->SetFormat(pmt);
      if (hr != S_OK) ErrorBox(IDS_ERR_PREVIEW_RATE, hr);
    }
  }
  if (pmt) DeleteMediaType(pmt);

  RenderSoundThrough();
  m_bPreviewBuilt = TRUE;
  return 1;
}

int CCaptureGraph::StartPreview() {
  if (m_bPreviewing) return 1;
  if (!m_bPreviewBuilt) return 0;
  ComPtr<IMediaControl> control;
  HRESULT hr = control.QueryFrom(m_pGraph);
  if (FAILED(hr)) return ErrorBox(IDS_ERR_RUN_PREVIEW, hr);
  hr = control->Run();
  if (FAILED(hr) && m_pSoundOutput) {
    // The card's sound cannot be read now (another program holds it): the picture goes on alone.
    control->Stop();
    orv::LogError("capture", "sound through: the card's sound cannot be read (%08x); the picture goes on without it",
                  static_cast<unsigned>(hr));
    m_pSoundOutput.Reset();
    RemoveDownstream(m_pAudioCapture);
    hr = control->Run();
  }
  if (FAILED(hr)) {
    control->Stop();
    return ErrorBox(IDS_ERR_RUN_PREVIEW, hr);
  }
  m_bPreviewing = TRUE;
  return 1;
}

int CCaptureGraph::StopPreview() {
  if (!m_bPreviewing) return 0;
  ComPtr<IMediaControl> control;
  HRESULT hr = control.QueryFrom(m_pGraph);
  if (SUCCEEDED(hr)) hr = control->Stop();
  if (FAILED(hr)) return ErrorBox(IDS_ERR_STOP_PREVIEW, hr);
  m_bPreviewing = FALSE;
  InvalidateRect(m_hwndOwner, nullptr, TRUE);
  return 1;
}

HRESULT CCaptureGraph::SetVideoPosition(const RECT* pPlacement) {
  if (!pPlacement || !m_pRenderWindow) return E_POINTER;
  return m_pRenderWindow->SetWindowPosition(pPlacement->left, pPlacement->top, pPlacement->right,
                                            pPlacement->bottom);
}

// ---- Source, tuning, channel scan -----------------------------------------------------------------

int CCaptureGraph::SelectSource(int nSource) {
  if (!m_pBuilder) return 0;
  m_nSource = nSource;
  ComPtr<IAMCrossbar> xbar;
  if (FAILED(m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(&xbar))) || !xbar)
    return 0;
  // Tuner for both bands, then the Video and S-Video inputs as this card family wires them.
  LONG input = nSource;
  if (nSource == SOURCE_TV || nSource == SOURCE_CATV)
    input = 1;
  else if (nSource == SOURCE_SVIDEO)
    input = 0;
  xbar->Route(0, input);
  xbar.Reset();
  if (m_pCrossbar) m_pCrossbar->RouteInput(nSource == SOURCE_TV ? 1 : nSource);
  return 1;
}

HRESULT CCaptureGraph::FindTuner(IAMTVTuner** ppTuner) {
  if (!ppTuner) return E_POINTER;
  *ppTuner = nullptr;
  if (!m_pBuilder) return E_POINTER;
  return m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, m_pVideoCapture, IID_PPV_ARGS(ppTuner));
}

int CCaptureGraph::TuneChannel(int nChannel) {
  ComPtr<IAMTVTuner> tuner;
  if (FindTuner(&tuner) != S_OK || !tuner) return 0;
  tuner->put_Channel(nChannel, AMTUNER_SUBCHAN_NO_TUNE, AMTUNER_SUBCHAN_DEFAULT);
  m_nChannel = nChannel;
  // The external inputs keep whatever band the tuner had: they do not go through it.
  if (m_nSource == SOURCE_TV || m_nSource == SOURCE_CATV)
    tuner->put_InputType(0, m_nSource == SOURCE_TV ? TunerInputAntenna : TunerInputCable);
  return 1;
}

int CCaptureGraph::StartChannelScan(HWND hwndNotify, int nSource) {
  g_hwndScanNotify = hwndNotify;
  g_nScanSource = nSource;
  g_nScanStop = 0;
  // Workers of earlier scans that have ended are collected here.
  for (auto it = m_scans.begin(); it != m_scans.end();) {
    if (*it->done) {
      it->thread.join();
      it = m_scans.erase(it);
    } else {
      ++it;
    }
  }
  auto done = std::make_shared<std::atomic<bool>>(false);
  try {
    std::thread t([this, done] {
      ChannelScanThread(this);
      *done = true;
    });
    m_scans.push_back({std::move(t), done});
  } catch (const std::system_error&) {
    return 0;
  }
  return 1;
}

void CCaptureGraph::StopChannelScan() { g_nScanStop = 1; }

void CCaptureGraph::WaitForScans() {
  if (m_scans.empty()) return;
  g_nScanStop = 1;
  auto allDone = [this] {
    return std::all_of(m_scans.begin(), m_scans.end(), [](const ScanWorker& w) { return w.done->load(); });
  };
  // A worker may be inside a SendMessageA to a window of this thread: keep serving those.
  if (orv::ui::IsUiThread()) orv::ui::WaitPumpingSentMessages(allDone);
  for (ScanWorker& w : m_scans) w.thread.join();
  m_scans.clear();
}

UINT ChannelScanThread(LPVOID pParam) {
  auto* engine = static_cast<CCaptureGraph*>(pParam);
  ComPtr<IAMTVTuner> tuner;
  if (!engine || engine->FindTuner(&tuner) != S_OK || !tuner) return 0;
  if (tuner->put_InputType(0, g_nScanSource == SOURCE_TV ? TunerInputAntenna : TunerInputCable) != S_OK) return 0;
  LONG lo = 0, hi = -1;
  if (FAILED(tuner->ChannelMinMax(&lo, &hi))) return 0;
  const orv::plans::ChannelPlan& plan =
      g_nScanSource == SOURCE_TV ? *engine->m_pRegion->broadcast : *engine->m_pRegion->cable;
  for (LONG channel = lo; channel <= hi; ++channel) {
    if (g_nScanStop == 1) break;
    // A number the region's plan lacks (E13..E20) is no channel: not tuned, never found.
    if (!orv::plans::FindChannel(plan, channel)) continue;
    LONG signal = AMTUNER_NOSIGNAL;
    if (SUCCEEDED(tuner->AutoTune(channel, &signal)) && signal == AMTUNER_SIGNALPRESENT)
      SendMessageA(g_hwndScanNotify, WM_TUNER_NOTIFY, PageCmd::SignalFound, channel);
  }
  return 0;
}

// ---- Picture controls -----------------------------------------------------------------------------

namespace {
// What a level is multiplied by: the number of values in the range, or for saturation its width.
long long PictureSpan(LONG property, LONG min, LONG max) {
  const long long width = static_cast<long long>(max) - min;
  return property == VideoProcAmp_Saturation ? width : width + 1;
}
}  // namespace

LONG PictureValueFromLevel(LONG property, LONG min, LONG max, int level) {
  return static_cast<LONG>(PictureSpan(property, min, max) * (level & 0xFF) / 256);
}

BYTE PictureLevelFromValue(LONG property, LONG min, LONG max, LONG value) {
  const long long span = PictureSpan(property, min, max);
  if (span <= 0 || value <= 0) return 0;
  // A level L writes span * L / 256, rounded down; the smallest L that reaches value rounds up.
  const long long level = (static_cast<long long>(value) * 256 + span - 1) / span;
  return static_cast<BYTE>(std::min<long long>(level, 255));
}

int CCaptureGraph::SetProcAmp(LONG property, int nLevel) {
  ComPtr<IAMVideoProcAmp> amp;
  HRESULT hr = amp.QueryFrom(m_pVideoCapture);
  if (FAILED(hr) || !amp) return ErrorBox(IDS_ERR_PROC_AMP, hr);
  LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
  if (FAILED(amp->GetRange(property, &min, &max, &step, &def, &caps))) return 0;
  return amp->Set(property, PictureValueFromLevel(property, min, max, nLevel), VideoProcAmp_Flags_Manual) == S_OK ? 1
                                                                                                                 : 0;
}

BYTE CCaptureGraph::GetProcAmp(LONG property) {
  ComPtr<IAMVideoProcAmp> amp;
  HRESULT hr = amp.QueryFrom(m_pVideoCapture);
  if (FAILED(hr) || !amp) return static_cast<BYTE>(ErrorBox(IDS_ERR_PROC_AMP, hr));
  LONG min = 0, max = 0, step = 0, def = 0, caps = 0;
  if (FAILED(amp->GetRange(property, &min, &max, &step, &def, &caps))) return 0;
  LONG value = 0, flags = 0;
  if (FAILED(amp->Get(property, &value, &flags))) return 0;
  return PictureLevelFromValue(property, min, max, value);
}

int CCaptureGraph::SetBrightness(int nLevel) { return SetProcAmp(VideoProcAmp_Brightness, nLevel); }
int CCaptureGraph::SetContrast(int nLevel) { return SetProcAmp(VideoProcAmp_Contrast, nLevel); }
int CCaptureGraph::SetHue(int nLevel) { return SetProcAmp(VideoProcAmp_Hue, nLevel); }
int CCaptureGraph::SetSaturation(int nLevel) { return SetProcAmp(VideoProcAmp_Saturation, nLevel); }
BYTE CCaptureGraph::GetBrightness() { return GetProcAmp(VideoProcAmp_Brightness); }
BYTE CCaptureGraph::GetContrast() { return GetProcAmp(VideoProcAmp_Contrast); }
BYTE CCaptureGraph::GetHue() { return GetProcAmp(VideoProcAmp_Hue); }
BYTE CCaptureGraph::GetSaturation() { return GetProcAmp(VideoProcAmp_Saturation); }

void CCaptureGraph::ShowRenderWindow(BOOL bDrain) {
  // A child of the owner over its client area; only the preview passes input on to the owner.
  m_pRenderWindow->put_Owner(ToOA(m_hwndOwner));
  if (bDrain) m_pRenderWindow->put_MessageDrain(ToOA(m_hwndOwner));
  m_pRenderWindow->put_WindowStyle(static_cast<LONG>(WS_CHILD));
  RECT rc{0, 0, 0, 0};
  GetClientRect(m_hwndOwner, &rc);
  m_pRenderWindow->SetWindowPosition(10, 10, rc.right, rc.bottom);
  m_pRenderWindow->put_Visible(OATRUE);
}
