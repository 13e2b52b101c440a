// The virtual capture card: capture filter, crossbars, tuner and audio capture filter.
#include "platform/media/devices/virtualdevice.h"

#include "platform/media/devices/channels.h"
#include "platform/media/devices/realcards.h"
#include "platform/media/writer/teletext.h"
#include "platform/media/writer/wss.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orv::media {
namespace {

bool IsAudioConnector(LONG type) { return type >= 0x1000; }

// The time between pictures on true time, for a picture clock `ppm` millionths fast.
REFERENCE_TIME PicturePeriod(REFERENCE_TIME nominal, LONG ppm) {
  return std::max<REFERENCE_TIME>(1, std::llround(static_cast<double>(nominal) / (1.0 + ppm * 1e-6)));
}

const char* PropertyName(LONG property) {
  static const char* const kNames[] = {"VideoProcAmp_Brightness", "VideoProcAmp_Contrast", "VideoProcAmp_Hue",
                                       "VideoProcAmp_Saturation"};
  return property >= 0 && property < 4 ? kNames[property] : "VideoProcAmp_Other";
}

std::string ConnectorLabel(LONG type) {
  static const char* const kVideo[] = {"Video Tuner", "Video Composite", "Video SVideo", "Video RGB", "Video YRYBY",
                                       "Video SerialDigital", "Video ParallelDigital", "Video SCSI", "Video AUX",
                                       "Video 1394", "Video USB", "Video Decoder", "Video Encoder"};
  static const char* const kAudio[] = {"Audio Tuner", "Audio Line", "Audio Mic", "Audio AESDigital",
                                       "Audio SPDIFDigital", "Audio SCSI", "Audio AUX", "Audio 1394",
                                       "Audio USB", "Audio Decoder"};
  if (type >= 1 && type <= 13) return kVideo[type - 1];
  if (type >= 0x1000 && type <= 0x1009) return kAudio[type - 0x1000];
  return "Connector " + std::to_string(type);
}

AM_MEDIA_TYPE VideoType(const VideoFormatDesc& f, VIDEOINFOHEADER* vih) {
  AM_MEDIA_TYPE mt{};
  mt.majortype = f.major;
  mt.subtype = f.subtype;
  mt.bFixedSizeSamples = TRUE;
  mt.formattype = f.formatType;
  *vih = VIDEOINFOHEADER{};
  vih->AvgTimePerFrame = f.avgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = f.width;
  vih->bmiHeader.biHeight = f.height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 16;
  vih->bmiHeader.biCompression = f.subtype.Data1;  // the FOURCC, as YUY2 is described
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(f.width * f.height * 2);
  vih->rcSource = {0, 0, f.width, f.height};
  vih->rcTarget = vih->rcSource;
  vih->dwBitRate = static_cast<DWORD>(static_cast<double>(vih->bmiHeader.biSizeImage) * 8 * 10000000.0 /
                                      static_cast<double>(f.avgTimePerFrame));
  mt.lSampleSize = vih->bmiHeader.biSizeImage;
  if (f.formatType == FORMAT_VideoInfo) {
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    mt.pbFormat = reinterpret_cast<BYTE*>(vih);
  }
  return mt;
}

// ---- Crossbar -----------------------------------------------------------------------------------

class VirtualCrossbar : public FilterBase, public IAMCrossbar {
 public:
  VirtualCrossbar(std::shared_ptr<VirtualDevice> device, std::size_t index)
      : FilterBase(GUID_NULL, device->InstanceName("Crossbar" + std::to_string(index)), "Crossbar"),
        m_device(std::move(device)),
        m_index(index),
        m_desc(m_device->Desc().crossbars[index]) {
    // Inputs before outputs, each in index order: callers map enumeration positions to indexes.
    for (const auto& p : m_desc.inputs)
      AddPin({ConnectorLabel(p.type) + " In", PINDIR_INPUT, GUID_NULL,
              IsAudioConnector(p.type) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
    for (const auto& p : m_desc.outputs)
      AddPin({ConnectorLabel(p.type) + " Out", PINDIR_OUTPUT, GUID_NULL,
              IsAudioConnector(p.type) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  PinBase* InputPin(std::size_t i) const { return PinAt(i); }
  PinBase* OutputPin(std::size_t i) const { return PinAt(m_desc.inputs.size() + i); }
  LONG Inputs() const { return static_cast<LONG>(m_desc.inputs.size()); }
  LONG Outputs() const { return static_cast<LONG>(m_desc.outputs.size()); }

  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    if (HRESULT hr = Check("get_PinCounts"); hr != S_OK) return hr;
    *outputs = Outputs();
    *inputs = Inputs();
    return S_OK;
  }

  HRESULT CanRoute(LONG output, LONG input) override {
    if (HRESULT hr = Check("CanRoute", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    return Routable(output, input);
  }

  HRESULT Route(LONG output, LONG input) override {
    if (HRESULT hr = Check("Route", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    if (output < 0 || output >= Outputs()) return E_INVALIDARG;
    if (input != -1) {
      const HRESULT can = Routable(output, input);
      if (FAILED(can)) return can;
      if (can != S_OK) return VFW_E_CANNOT_CONNECT;
    }
    std::lock_guard lock(m_device->mutex);
    m_device->routes[m_index][output] = input;
    return S_OK;
  }

  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override {
    if (!related || !type) return E_POINTER;
    if (HRESULT hr = Check("get_CrossbarPinInfo", std::to_string(isInput ? 1 : 0) + "," + std::to_string(index));
        hr != S_OK)
      return hr;
    const auto& side = isInput ? m_desc.inputs : m_desc.outputs;
    if (index < 0 || index >= static_cast<LONG>(side.size())) return E_INVALIDARG;
    *related = side[index].related;
    *type = side[index].type;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMCrossbar) return static_cast<IAMCrossbar*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  HRESULT Routable(LONG output, LONG input) const {
    if (output < 0 || output >= Outputs() || input < 0 || input >= Inputs()) return E_INVALIDARG;
    // Like a real card: picture to picture outputs, sound to sound outputs.
    if (IsAudioConnector(m_desc.inputs[input].type) != IsAudioConnector(m_desc.outputs[output].type)) return S_FALSE;
    for (const auto& [o, i] : m_desc.refused)
      if (o == output && i == input) return S_FALSE;
    return S_OK;
  }

  std::shared_ptr<VirtualDevice> m_device;
  std::size_t m_index;
  const CrossbarDesc& m_desc;
};

// ---- Tuner --------------------------------------------------------------------------------------

class VirtualTuner : public FilterBase, public IAMTVTuner, public IAMTunerPlan {
 public:
  explicit VirtualTuner(std::shared_ptr<VirtualDevice> device)
      : FilterBase(GUID_NULL, device->InstanceName("Tuner"), "Tuner"), m_device(std::move(device)) {
    AddPin({"Analog Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogVideo, true, false, nullptr});
    AddPin({"Analog Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogAudio, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  HRESULT ChannelMinMax(LONG* min, LONG* max) override {
    if (!min || !max) return E_POINTER;
    if (HRESULT hr = Check("ChannelMinMax"); hr != S_OK) return hr;
    std::lock_guard lock(m_device->mutex);
    Range(m_device->tunerInputType, min, max);
    return S_OK;
  }

  HRESULT put_Channel(LONG channel, LONG video, LONG audio) override {
    if (HRESULT hr = Check("put_Channel", std::to_string(channel) + "," + std::to_string(video) + "," +
                                              std::to_string(audio));
        hr != S_OK)
      return hr;
    std::lock_guard lock(m_device->mutex);
    if (!InRange(channel)) return E_INVALIDARG;
    m_device->tunerChannel = channel;
    return S_OK;
  }

  HRESULT put_InputType(LONG index, TunerInputType type) override {
    if (HRESULT hr = Check("put_InputType", std::to_string(index) + "," + std::to_string(type)); hr != S_OK)
      return hr;
    if (index != 0 || (type != TunerInputCable && type != TunerInputAntenna)) return E_INVALIDARG;
    std::lock_guard lock(m_device->mutex);
    m_device->tunerInputType = type;
    return S_OK;
  }

  HRESULT put_Plan(TunerInputType type, const TunerChannel* channels, LONG count) override {
    if (HRESULT hr = Check("put_Plan", std::to_string(type) + "," + std::to_string(count)); hr != S_OK) return hr;
    if ((type != TunerInputCable && type != TunerInputAntenna) || (count > 0 && !channels)) return E_INVALIDARG;
    std::lock_guard lock(m_device->mutex);
    m_device->plans[type].emplace(channels, channels + std::max<LONG>(count, 0));
    return S_OK;
  }

  HRESULT AutoTune(LONG channel, LONG* found) override {
    if (!found) return E_POINTER;
    if (HRESULT hr = Check("AutoTune", std::to_string(channel)); hr != S_OK) return hr;
    std::lock_guard lock(m_device->mutex);
    if (!InRange(channel)) return E_INVALIDARG;
    m_device->tunerChannel = channel;
    const TunerDesc& t = *m_device->Desc().tuner;
    const auto& signal = m_device->tunerInputType == TunerInputAntenna ? t.antennaSignal : t.cableSignal;
    *found = signal.count(channel) && !m_device->SignalGone(-1) ? AMTUNER_SIGNALPRESENT : AMTUNER_NOSIGNAL;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMTVTuner) return static_cast<IAMTVTuner*>(this);
    if (riid == IID_IAMTunerPlan) return static_cast<IAMTunerPlan*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  const std::vector<TunerChannel>* Plan(LONG inputType) const {
    const auto& p = m_device->plans[inputType == TunerInputAntenna ? TunerInputAntenna : TunerInputCable];
    return p ? &*p : nullptr;
  }
  void Range(LONG inputType, LONG* min, LONG* max) const {
    if (const auto* plan = Plan(inputType)) {
      *min = plan->empty() ? 1 : plan->front().number;
      *max = plan->empty() ? 0 : plan->back().number;
      return;
    }
    const TunerDesc& t = *m_device->Desc().tuner;
    *min = inputType == TunerInputAntenna ? t.antennaMin : t.cableMin;
    *max = inputType == TunerInputAntenna ? t.antennaMax : t.cableMax;
  }
  bool InRange(LONG channel) const {
    // A number the plan lacks is no channel, as on a real tuner.
    if (const auto* plan = Plan(m_device->tunerInputType))
      return std::any_of(plan->begin(), plan->end(), [&](const TunerChannel& c) { return c.number == channel; });
    LONG lo, hi;
    Range(m_device->tunerInputType, &lo, &hi);
    return channel >= lo && channel <= hi;
  }

  std::shared_ptr<VirtualDevice> m_device;
};

// ---- Video capture filter -----------------------------------------------------------------------

// A media type that frees its format block.
std::shared_ptr<AM_MEDIA_TYPE> CopyType(const StreamFormat& format) {
  auto* mt = new AM_MEDIA_TYPE{};
  format.Copy(mt);
  return std::shared_ptr<AM_MEDIA_TYPE>(mt, [](AM_MEDIA_TYPE* p) {
    FreeMediaType(*p);
    delete p;
  });
}

// Plays the description's stream faults on the pictures' clock: what a card does on a bad tape.
class FaultPlayer {
 public:
  FaultPlayer(const DeviceDesc::StreamFaults& f, REFERENCE_TIME period, std::shared_ptr<FrameCounts> counts)
      : m_f(f), m_period(period), m_counts(std::move(counts)) {}
  enum class Fate { Deliver, Skip, Gone };
  // Whether the picture of this time goes out (Gone: not, and the card has just been unplugged);
  // notes the events as they come.
  Fate Deliver(REFERENCE_TIME t) {
    if (m_f.unplugAt >= 0 && t >= m_f.unplugAt) {
      if (m_gone) return Fate::Skip;
      m_gone = true;
      m_counts->events.Note("virtual", CaptureEventKind::DeviceGone, t);
      return Fate::Gone;
    }
    auto within = [t](REFERENCE_TIME at, REFERENCE_TIME length) { return at >= 0 && t >= at && t < at + length; };
    if (within(m_f.stallAt, m_f.stallFor)) {
      if (!m_stalled) m_counts->events.Note("virtual", CaptureEventKind::Stall, t, static_cast<long>(m_f.stallFor / 10000));
      m_stalled = true;
      // After two frame periods without a picture, the status says so.
      if (t - m_f.stallAt >= 2 * m_period) m_counts->state = CAPTURE_STREAM_NO_SIGNAL;
      return Fate::Skip;
    }
    if (within(m_f.streamingErrorAt, kRestartTakes)) {
      if (!m_restarted) m_counts->events.Note("virtual", CaptureEventKind::Restart, t);
      m_restarted = true;
      m_counts->state = CAPTURE_STREAM_RESTARTING;
      return Fate::Skip;
    }
    m_counts->state = CAPTURE_STREAM_OK;
    if (m_f.badBufferAt >= 0 && t >= m_f.badBufferAt && !m_flagged) {
      m_flagged = true;
      m_counts->events.Note("virtual", CaptureEventKind::FlaggedBuffer, t);
    }
    if (const bool lost = within(m_f.noLockAt, m_f.noLockFor); lost != m_lockLost) {
      m_lockLost = lost;
      m_counts->events.Note("virtual", lost ? CaptureEventKind::SignalLost : CaptureEventKind::SignalRegained, t);
    }
    return Fate::Deliver;
  }

 private:
  static constexpr REFERENCE_TIME kRestartTakes = 3000000;  // 300 ms: off, buffers again, on
  const DeviceDesc::StreamFaults m_f;
  const REFERENCE_TIME m_period;
  std::shared_ptr<FrameCounts> m_counts;
  bool m_stalled = false, m_restarted = false, m_flagged = false, m_lockLost = false, m_gone = false;
};

class VirtualVideoCapture : public FilterBase,
                            public IAMVideoProcAmp,
                            public IAMDroppedFrames,
                            public IAMTVStandard,
                            public IAMAnalogVideoDecoder,
                            public ICaptureStreamState {
 public:
  explicit VirtualVideoCapture(std::shared_ptr<VirtualDevice> device)
      : FilterBase(GUID_NULL, device->InstanceName("VideoCapture"), "VideoCapture"), m_device(std::move(device)) {
    const DeviceDesc& s = m_device->Desc();
    const GUID major = s.format.major;
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, major, true, true,
            s.streamConfig ? m_device->videoFormat : nullptr});
    if (s.previewPin) AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, major, true, true, nullptr});
    if (s.analogVideoIn)
      m_analogIn = AddPin({"Analog Video In", PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN, MEDIATYPE_AnalogVideo, true,
                           false, nullptr});
  }
  ~VirtualVideoCapture() override { m_pacer.Stop(); }
  ORV_UNKNOWN_IMPL

  HRESULT ConnectUpstream(IFilterGraph* graph) override;

  // The virtual card has no detection: "auto" is the fallback. Its description can list the
  // standards it takes ("standards"); without that list it takes every one.
  HRESULT put_Standard(const char* key, const char* fallback) override {
    if (!key || !fallback) return E_POINTER;
    if (HRESULT hr = Check("put_Standard", std::string(key) + "," + fallback); hr != S_OK) return hr;
    const std::string chosen = std::string_view(key) == "auto" ? fallback : key;
    if (!StandardOfKey(chosen)) return E_INVALIDARG;
    if (SupportsStandard(chosen.c_str()) == S_FALSE) return E_INVALIDARG;
    std::lock_guard lock(m_device->mutex);
    m_device->ApplyStandard(chosen);
    return S_OK;
  }

  HRESULT SupportsStandard(const char* key) override {
    if (!key || !StandardOfKey(key)) return E_INVALIDARG;
    const auto& listed = m_device->Desc().standards;
    if (!listed) return S_OK;
    return std::find(listed->begin(), listed->end(), key) != listed->end() ? S_OK : S_FALSE;
  }

  HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps) override {
    if (!min || !max || !step || !def || !caps) return E_POINTER;
    if (HRESULT hr = Check("GetRange", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    const ProcAmpRange* r = RangeOf(property);
    if (!r) return E_PROP_ID_UNSUPPORTED;
    *min = r->min;
    *max = r->max;
    *step = r->step;
    *def = r->def;
    *caps = r->caps;
    return S_OK;
  }

  HRESULT Set(LONG property, LONG value, LONG flags) override {
    if (HRESULT hr = Check("Set", std::to_string(property) + "," + std::to_string(value) + "," + std::to_string(flags),
                           {"IAMVideoProcAmp", PropertyName(property)});
        hr != S_OK)
      return hr;
    const ProcAmpRange* r = RangeOf(property);
    if (!r) return E_PROP_ID_UNSUPPORTED;
    if (value < r->min || value > r->max) return E_INVALIDARG;
    std::lock_guard lock(m_device->mutex);
    m_device->procAmp[property] = value;
    return S_OK;
  }

  HRESULT Get(LONG property, LONG* value, LONG* flags) override {
    if (!value || !flags) return E_POINTER;
    if (HRESULT hr = Check("Get", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    if (!RangeOf(property)) return E_PROP_ID_UNSUPPORTED;
    std::lock_guard lock(m_device->mutex);
    *value = m_device->procAmp[property];
    *flags = VideoProcAmp_Flags_Manual;
    return S_OK;
  }

  HRESULT GetNumDropped(LONG* dropped) override {
    if (!dropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumDropped"); hr != S_OK) return hr;
    *dropped = m_counts->dropped;
    return S_OK;
  }

  HRESULT get_NumberOfLines(LONG* lines) override {
    if (!lines) return E_POINTER;
    if (HRESULT hr = Check("get_NumberOfLines"); hr != S_OK) return hr;
    std::lock_guard lock(m_device->mutex);
    *lines = m_device->Lines();
    return S_OK;
  }

  HRESULT get_HorizontalLocked(LONG* locked) override {
    if (!locked) return E_POINTER;
    if (HRESULT hr = Check("get_HorizontalLocked"); hr != S_OK) return hr;
    *locked = m_device->Picture().signal ? 1 : 0;
    return S_OK;
  }

  HRESULT GetStreamState(CAPTURE_STREAM_STATE* state) override {
    if (!state) return E_POINTER;
    *state = static_cast<CAPTURE_STREAM_STATE>(m_counts->state.load());
    return S_OK;
  }

  // Asked at every start by the renderer and the mux: not journaled.
  HRESULT get_FieldOrder(AM_FIELD_ORDER* order) override {
    if (!order) return E_POINTER;
    *order = m_device->FieldOrder();
    return S_OK;
  }

  HRESULT GetNumNotDropped(LONG* notDropped) override {
    if (!notDropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumNotDropped"); hr != S_OK) return hr;
    *notDropped = m_counts->delivered;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMVideoProcAmp) return static_cast<IAMVideoProcAmp*>(this);
    if (riid == IID_IAMDroppedFrames && m_device->Desc().droppedFrames) return static_cast<IAMDroppedFrames*>(this);
    if (riid == IID_ICaptureStreamState) return static_cast<ICaptureStreamState*>(this);
    if (riid == IID_IAMTVStandard) return static_cast<IAMTVStandard*>(this);
    if (riid == IID_IAMAnalogVideoDecoder) return static_cast<IAMAnalogVideoDecoder*>(this);
    return FilterBase::Lookup(riid);
  }
  // Counts are since the graph started, also when it was paused on the way.
  HRESULT Pause() override {
    if (State() == State_Stopped) ResetCounts();
    return FilterBase::Pause();
  }
  HRESULT OnRun() override {
    if (State() == State_Stopped) ResetCounts();
    m_device->runningSince = StreamStart();
    StartStreaming();
    return S_OK;
  }
  void OnStop() override {
    m_pacer.Stop();
    m_device->runningSince = 0;
  }

 private:
  void ResetCounts() { m_counts->Reset(); }
  const ProcAmpRange* RangeOf(LONG property) const {
    if (property < 0 || property > 3 || !m_device->Desc().procAmp[property].present) return nullptr;
    return &m_device->Desc().procAmp[property];
  }

  // Frames at the rate of the current format, drawn by the card and pushed out of the capture and
  // preview pins on the pacer's thread. Their times are the frame slots from the graph's start; the
  // first comes at the card's start latency.
  void StartStreaming() {
    std::shared_ptr<AM_MEDIA_TYPE> type = CopyType(*m_device->videoFormat);
    REFERENCE_TIME period = m_device->Desc().format.avgTimePerFrame;
    int width = m_device->Desc().format.width, height = m_device->Desc().format.height;
    if (type->formattype == FORMAT_VideoInfo && type->pbFormat && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
      if (vih->AvgTimePerFrame > 0) period = vih->AvgTimePerFrame;
      width = vih->bmiHeader.biWidth;
      height = std::abs(vih->bmiHeader.biHeight);
    }
    width = std::clamp(width, 2, 4096);
    height = std::clamp(height, 1, 4096);
    const bool drawable = type->majortype == MEDIATYPE_Video && type->subtype == MEDIASUBTYPE_YUY2;
    PinBase* capture = FindPin(PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE);
    PinBase* preview = FindPin(PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW);
    auto picture = std::make_shared<PictureGenerator>();
    auto buffer = std::make_shared<std::vector<BYTE>>(static_cast<std::size_t>(width) * height * 2);
    const DeviceDesc& desc = m_device->Desc();
    const REFERENCE_TIME latency = desc.videoStartLatencyMs * 10000LL;
    period = PicturePeriod(period, desc.videoClockPpm);
    const Pacer::Clock clock{StreamStart(), (latency + period - 1) / period * period, desc.clockSpeed};
    const bool marks = desc.syncMarks;
    const SyncMarks sync(period);
    std::shared_ptr<FrameCounts> counts = m_counts;
    auto faults = std::make_shared<FaultPlayer>(desc.streamFaults, period, counts);
    m_pacer.Start(period, [=, this](std::int64_t index, REFERENCE_TIME time, int missed) {
      auto wanted = [&](PinBase* pin) { return pin && pin->IsConnected() && pin->StreamOn(); };
      {
        std::shared_lock lock(StreamMutex());
        if (!wanted(capture) && !wanted(preview)) return;
      }
      switch (faults->Deliver(time)) {
        case FaultPlayer::Fate::Deliver: break;
        case FaultPlayer::Fate::Skip: return;
        case FaultPlayer::Fate::Gone:
          AbortGraph(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
          ReportDeviceLost(m_device->Desc().name);
          return;
      }
      if (drawable && marks && sync.IsMarkFrame(time))
        PictureGenerator::DrawWhiteYUY2(buffer->data(), width, height);
      else if (drawable)
        picture->DrawYUY2(m_device->Picture(time), index, buffer->data(), width, height);
      MediaSample sample{buffer->data(), buffer->size(), time, time + period, type.get(), counts};
      sample.lost = static_cast<std::uint32_t>(missed);
      std::shared_lock lock(StreamMutex());
      // Frames the card missed while the capture stream ran, and frames the writer had no room
      // for, are dropped frames.
      switch (capture ? capture->Send(sample) : Delivery::None) {
        case Delivery::Taken:
          ++counts->delivered;
          counts->dropped += missed;
          if (missed) counts->events.Note("virtual", CaptureEventKind::FramesLost, time, missed);
          break;
        case Delivery::Refused:
          counts->dropped += 1 + missed;
          break;
        case Delivery::None:
          break;
      }
      if (preview) preview->Deliver(sample);
    }, clock);
  }

  std::shared_ptr<VirtualDevice> m_device;
  PinBase* m_analogIn = nullptr;
  std::shared_ptr<FrameCounts> m_counts = std::make_shared<FrameCounts>();
  Pacer m_pacer;
};

// Adds the card's crossbars and tuner to the graph and wires them as the description says.
HRESULT VirtualVideoCapture::ConnectUpstream(IFilterGraph* graph) {
  if (!graph || !m_analogIn || m_analogIn->IsConnected()) return S_FALSE;
  const DeviceDesc& s = m_device->Desc();
  std::vector<ComPtr<IBaseFilter>> added;
  std::vector<VirtualCrossbar*> xbars;
  VirtualTuner* tuner = nullptr;
  auto add = [&](FilterBase* f) {
    ComPtr<IBaseFilter> hold = static_cast<IBaseFilter*>(f);
    const HRESULT hr = graph->AddFilter(hold, Widen(f->Instance()).c_str());
    if (SUCCEEDED(hr)) added.push_back(hold);
    return hr;
  };
  HRESULT hr = S_OK;
  for (std::size_t k = 0; k < s.crossbars.size() && SUCCEEDED(hr); ++k) {
    auto* x = new VirtualCrossbar(m_device, k);
    xbars.push_back(x);
    hr = add(x);
  }
  if (s.tuner && SUCCEEDED(hr)) {
    tuner = new VirtualTuner(m_device);
    hr = add(tuner);
  }
  if (FAILED(hr)) {
    for (auto& f : added) graph->RemoveFilter(f);
    return hr;
  }

  // "crossbarN[:k]": output k (default: the first picture output) of crossbar N.
  auto source = [&](const std::string& from, bool audio) -> IPin* {
    if (from == "tuner") return tuner ? tuner->PinAt(0) : nullptr;
    if (from == "tuner-audio") return tuner ? tuner->PinAt(1) : nullptr;
    if (from.rfind("crossbar", 0) != 0) return nullptr;
    char* end = nullptr;
    const long n = std::strtol(from.c_str() + 8, &end, 10);
    if (n < 0 || n >= static_cast<long>(xbars.size())) return nullptr;
    VirtualCrossbar* x = xbars[n];
    if (*end == ':') {
      const long k = std::strtol(end + 1, nullptr, 10);
      return k >= 0 && k < x->Outputs() ? x->OutputPin(k) : nullptr;
    }
    for (LONG k = 0; k < x->Outputs(); ++k)
      if (IsAudioConnector(s.crossbars[n].outputs[k].type) == audio) return x->OutputPin(k);
    return nullptr;
  };
  auto connect = [&](IPin* out, IPin* in) {
    if (out && in && !AsPinBase(out)->IsConnected()) graph->ConnectDirect(out, in, nullptr);
  };

  // Without an explicit tuner feed, the tuner feeds the first tuner inputs, most upstream first.
  bool tunerNamed = false;
  for (const auto& x : s.crossbars)
    for (const auto& p : x.inputs) tunerNamed = tunerNamed || p.from == "tuner" || p.from == "tuner-audio";
  for (std::size_t k = 0; k < s.crossbars.size(); ++k)
    for (std::size_t i = 0; i < s.crossbars[k].inputs.size(); ++i)
      connect(source(s.crossbars[k].inputs[i].from, IsAudioConnector(s.crossbars[k].inputs[i].type)),
              xbars[k]->InputPin(i));
  if (!tunerNamed && tuner)
    for (std::size_t k = s.crossbars.size(); k-- > 0;)
      for (std::size_t i = 0; i < s.crossbars[k].inputs.size(); ++i) {
        const LONG type = s.crossbars[k].inputs[i].type;
        if (type == PhysConn_Video_Tuner) connect(tuner->PinAt(0), xbars[k]->InputPin(i));
        if (type == PhysConn_Audio_Tuner) connect(tuner->PinAt(1), xbars[k]->InputPin(i));
      }
  connect(source(s.analogInFrom, false), m_analogIn);
  return S_OK;
}

// ---- Audio capture filter -----------------------------------------------------------------------

class VirtualAudioCapture : public FilterBase {
 public:
  explicit VirtualAudioCapture(std::shared_ptr<VirtualDevice> device)
      : FilterBase(GUID_NULL, device->InstanceName("AudioCapture"), "AudioCapture"), m_device(std::move(device)) {
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, true, true, m_device->audioFormat});
  }
  ~VirtualAudioCapture() override { m_pacer.Stop(); }

 protected:
  // PCM in buffers of a tenth of a second of the card's sound clock, each sent once it is complete,
  // with the time of its first sample from the graph's start. With nothing connected (the live
  // picture alone) there is nobody to send to: no thread wakes fifty times a second for nothing.
  HRESULT OnRun() override {
    if (!PinAt(0)->IsConnected()) return S_OK;
    std::shared_ptr<AM_MEDIA_TYPE> type = CopyType(*m_device->audioFormat);
    if (type->formattype != FORMAT_WaveFormatEx || !type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX))
      return S_OK;
    const WAVEFORMATEX wfx = *reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.wBitsPerSample != 16 || wfx.nChannels == 0 || wfx.nSamplesPerSec == 0)
      return S_OK;
    const DeviceDesc& desc = m_device->Desc();
    const int rate = static_cast<int>(wfx.nSamplesPerSec), frames = rate / 10, channels = wfx.nChannels;
    // Where sample n falls on the picture's clock, for a sound clock audio_clock_ppm fast.
    const double samplesPerUnit = rate * (1.0 + desc.audioClockPpm * 1e-6) / 1e7;
    auto when = [samplesPerUnit](std::int64_t n) { return static_cast<REFERENCE_TIME>(std::llround(n / samplesPerUnit)); };
    const SyncMarks sync(VideoPeriod());
    const bool marks = desc.syncMarks;
    PinBase* capture = PinAt(0);
    auto sound = std::make_shared<PictureGenerator>();
    auto buffer = std::make_shared<std::vector<std::int16_t>>(static_cast<std::size_t>(frames) * channels);
    auto next = std::make_shared<std::int64_t>(0);  // the next buffer to send
    // Ticks five times a buffer; a late tick sends every buffer completed meanwhile, so no sound is lost.
    m_pacer.Start(when(frames) / 5, [=, this](std::int64_t, REFERENCE_TIME time, int) {
      for (; when((*next + 1) * frames) <= time; ++*next) {
        {
          std::shared_lock lock(StreamMutex());
          if (!capture->IsConnected() || !capture->StreamOn()) continue;
        }
        const std::int64_t first = *next * frames;
        if (marks) {
          for (int f = 0; f < frames; ++f) {
            const std::int16_t v = sync.Beep(when(first + f));
            for (int ch = 0; ch < channels; ++ch) (*buffer)[static_cast<std::size_t>(f) * channels + ch] = v;
          }
        } else {
          sound->DrawPCM(m_device->Picture(), buffer->data(), frames, channels, rate);
        }
        const MediaSample sample{reinterpret_cast<const BYTE*>(buffer->data()), buffer->size() * sizeof(std::int16_t),
                                 when(first), when(first + frames), type.get()};
        std::shared_lock lock(StreamMutex());
        capture->Deliver(sample);
      }
    }, {StreamStart(), 0, desc.clockSpeed});
    return S_OK;
  }
  void OnStop() override { m_pacer.Stop(); }

 private:
  // The picture's frame period, on whose slots the sync marks lie.
  REFERENCE_TIME VideoPeriod() const {
    AM_MEDIA_TYPE mt{};
    m_device->videoFormat->Copy(&mt);
    REFERENCE_TIME period = m_device->Desc().format.avgTimePerFrame;
    if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER) &&
        reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame > 0)
      period = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
    FreeMediaType(mt);
    return PicturePeriod(period, m_device->Desc().videoClockPpm);
  }

  std::shared_ptr<VirtualDevice> m_device;
  Pacer m_pacer;
};

// ---- VBI capture filter -------------------------------------------------------------------------

// The card's VBI device: line 21's pairs of both fields, one sample a frame of the standard on the
// pictures' clock (with the same start latency), out of the capture and preview pins. Field 1 carries the
// description's captions on CC1; field 2 only nulls. Under a 625-line standard with the
// description's aspect, line 23 alone. Without a signal the lines are empty.
class VirtualVbiCapture : public FilterBase {
  static constexpr REFERENCE_TIME kFrame525 = 333667, kFrame625 = 400000, kSecond = 10000000;
  static constexpr unsigned kFirstTeletextLine = 7;

 public:
  explicit VirtualVbiCapture(std::shared_ptr<VirtualDevice> device)
      : FilterBase(GUID_NULL, device->InstanceName("VbiCapture"), "VbiCapture"), m_device(std::move(device)) {
    CAPTIONINFO info{kFrame525, 525};
    auto format = std::make_shared<StreamFormat>(CaptionType(&info));
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_AUXLine21Data, true, true, format});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, MEDIATYPE_AUXLine21Data, true, true, format});
  }
  ~VirtualVbiCapture() override { m_pacer.Stop(); }

  // The stream's type over its format block (not copied).
  static AM_MEDIA_TYPE CaptionType(CAPTIONINFO* info) {
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_AUXLine21Data;
    mt.subtype = MEDIASUBTYPE_CcData;
    mt.formattype = FORMAT_CaptionInfo;
    mt.cbFormat = sizeof *info;
    mt.pbFormat = reinterpret_cast<BYTE*>(info);
    return mt;
  }

 protected:
  HRESULT OnRun() override {
    PinBase* capture = PinAt(0);
    PinBase* preview = PinAt(1);
    if (!capture->IsConnected() && !preview->IsConnected()) return S_OK;
    const DeviceDesc& desc = m_device->Desc();
    LONG lines = 525;
    {
      std::lock_guard lock(m_device->mutex);
      lines = m_device->Lines();
    }
    // The lines come with every frame of the standard, whatever rate the pictures are taken at.
    const REFERENCE_TIME period = PicturePeriod(lines == 525 ? kFrame525 : kFrame625, desc.videoClockPpm);
    CAPTIONINFO info{period, lines};
    const AM_MEDIA_TYPE caption = CaptionType(&info);
    std::shared_ptr<AM_MEDIA_TYPE> type(new AM_MEDIA_TYPE{}, [](AM_MEDIA_TYPE* p) {
      FreeMediaType(*p);
      delete p;
    });
    CopyMediaType(type.get(), &caption);
    // Line 21 is a 525-line standard's: a 625-line picture's VBI carries none of it.
    auto schedule = std::make_shared<CaptionSchedule>(lines == 525 ? desc.captions : std::vector<std::string>{}, period);
    const std::optional<std::uint16_t> wssFrom = lines == 625 ? desc.wss : std::nullopt;
    const bool teletext = lines == 625 && desc.teletextPage != 0;
    const REFERENCE_TIME latency = desc.videoStartLatencyMs * 10000LL;
    const Pacer::Clock clock{StreamStart(), (latency + period - 1) / period * period, desc.clockSpeed};
    m_pacer.Start(period, [=, this](std::int64_t, REFERENCE_TIME time, int) {
      auto wanted = [](PinBase* pin) { return pin->IsConnected() && pin->StreamOn(); };
      {
        std::shared_lock lock(StreamMutex());
        if (!wanted(capture) && !wanted(preview)) return;
      }
      const bool signal = m_device->Picture(time).signal;
      std::vector<BYTE> data;
      if (wssFrom || teletext) {
        // 625 lines: line 23's signal, and the teletext page at the first slot of each second (an
        // empty VBI without a picture).
        if (!signal) return;
        if (wssFrom) {
          const auto t = wss::Triplet(desc.wssUntil >= 0 && time >= desc.wssUntil ? *wss::ValueOfName("4:3") : *wssFrom);
          data.assign(t.begin(), t.end());
        }
        const std::int64_t second = time / kSecond;
        if (teletext && !desc.captions.empty() && time - period < second * kSecond) {
          unsigned line = kFirstTeletextLine;
          const std::string& text = desc.captions[static_cast<std::size_t>(second) % desc.captions.size()];
          for (const auto& packet : ttx::SubtitlePage(desc.teletextPage, text)) ttx::AppendPacket(data, line++, packet.data());
        }
        if (data.empty()) return;
      } else {
        const cc::Pair pair = signal ? schedule->At(time) : cc::Pair{cc::kNull, cc::kNull};
        data = {cc::kField1, pair[0], pair[1], cc::kField2, cc::kNull, cc::kNull};
      }
      const MediaSample sample{data.data(), data.size(), time, time + period, type.get()};
      std::shared_lock lock(StreamMutex());
      capture->Deliver(sample);
      preview->Deliver(sample);
    }, clock);
    return S_OK;
  }
  void OnStop() override { m_pacer.Stop(); }

 private:
  std::shared_ptr<VirtualDevice> m_device;
  Pacer m_pacer;
};

}  // namespace

// ---- VirtualDevice ------------------------------------------------------------------------------

VirtualDevice::VirtualDevice(DeviceDesc desc, int index) : m_desc(std::move(desc)), m_index(index) {
  for (const auto& x : m_desc.crossbars) {
    // Power-on routing: each output carries its first routable input.
    std::vector<LONG> r(x.outputs.size(), -1);
    for (std::size_t o = 0; o < x.outputs.size(); ++o)
      for (std::size_t i = 0; i < x.inputs.size() && r[o] < 0; ++i)
        if (IsAudioConnector(x.inputs[i].type) == IsAudioConnector(x.outputs[o].type)) r[o] = static_cast<LONG>(i);
    routes.push_back(r);
  }
  tunerChannel = m_desc.tuner ? m_desc.tuner->antennaMin : 0;
  for (int i = 0; i < 4; ++i) procAmp[i] = m_desc.procAmp[i].def;

  VIDEOINFOHEADER vih;
  AM_MEDIA_TYPE vt = VideoType(m_desc.format, &vih);
  videoFormat = std::make_shared<StreamFormat>(vt);

  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 44100, 44100 * 4, 4, 16, 0};
  AM_MEDIA_TYPE at{};
  at.majortype = MEDIATYPE_Audio;
  at.subtype = MEDIASUBTYPE_PCM;
  at.bFixedSizeSamples = TRUE;
  at.lSampleSize = 4;
  at.formattype = FORMAT_WaveFormatEx;
  at.cbFormat = sizeof wfx;
  at.pbFormat = reinterpret_cast<BYTE*>(&wfx);
  audioFormat = std::make_shared<StreamFormat>(at);
}

ULONG VirtualDevice::TunedKHz() const {
  const auto& plan = plans[tunerInputType == TunerInputAntenna ? TunerInputAntenna : TunerInputCable];
  if (!plan) return 0;
  for (const TunerChannel& c : *plan)
    if (c.number == tunerChannel) return c.kHz;
  return 0;
}

void VirtualDevice::ApplyStandard(const std::string& key) {
  auto lines = [](const std::string& k) { return k.empty() ? 480u : StandardLines(StandardOfKey(k)); };
  auto period = [](const std::string& k) { return k.empty() ? REFERENCE_TIME{333667} : StandardPeriod(StandardOfKey(k)); };
  const std::uint32_t before = lines(standard), after = lines(key);
  const REFERENCE_TIME beforePeriod = period(standard);
  standard = key;
  // The format the program set (its frame rate) stays while the line count does.
  if (before == after) return;
  VideoFormatDesc f = m_desc.format;
  if (after == 576) {
    f.height = f.height * 576 / 480;
    f.avgTimePerFrame = StandardPeriod(StandardOfKey(key));
  }
  // A picture at the standard's own size takes the new one's, at its full rate if it ran at the old one's.
  AM_MEDIA_TYPE mt{};
  videoFormat->Copy(&mt);
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    if (vih->bmiHeader.biWidth == kStandardWidth && static_cast<std::uint32_t>(std::abs(vih->bmiHeader.biHeight)) == before) {
      f.width = kStandardWidth;
      f.height = static_cast<LONG>(after);
      f.avgTimePerFrame = vih->AvgTimePerFrame == beforePeriod ? period(key) : vih->AvgTimePerFrame;
    }
  }
  FreeMediaType(mt);
  VIDEOINFOHEADER vih;
  videoFormat->Replace(VideoType(f, &vih));
}

LONG VirtualDevice::Lines() const { return standard.empty() ? 525 : StandardScanLines(StandardOfKey(standard)); }

AM_FIELD_ORDER VirtualDevice::FieldOrder() {
  AM_MEDIA_TYPE mt{};
  videoFormat->Copy(&mt);
  LONG height = 0;
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    height = std::abs(reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biHeight);
  FreeMediaType(mt);
  std::lock_guard lock(mutex);
  // A picture of one field's lines or fewer holds a single field.
  if (height <= (Lines() == 525 ? 240 : 288)) return AM_FIELDS_PROGRESSIVE;
  return Lines() == 525 ? AM_FIELDS_BOTTOM_FIRST : AM_FIELDS_TOP_FIRST;
}

bool VirtualDevice::SignalGone(REFERENCE_TIME cardTime) const {
  const REFERENCE_TIME since = runningSince;
  if (m_desc.signalOffAfterS <= 0 || since == 0) return false;
  if (cardTime < 0) cardTime = (MonotonicNow() - since) * m_desc.clockSpeed;
  return cardTime >= m_desc.signalOffAfterS * REFERENCE_TIME{10000000};
}

bool VirtualDevice::NoLock(REFERENCE_TIME cardTime) const {
  const auto& f = m_desc.streamFaults;
  if (f.noLockAt < 0) return false;
  if (cardTime < 0) {
    const REFERENCE_TIME since = runningSince;
    if (since == 0) return false;
    cardTime = (MonotonicNow() - since) * m_desc.clockSpeed;
  }
  return cardTime >= f.noLockAt && cardTime < f.noLockAt + f.noLockFor;
}

std::string VirtualDevice::InstanceName(const std::string& base) const {
  return m_index == 0 ? base : base + "#" + std::to_string(m_index);
}

HRESULT VirtualDevice::CreateVideoFilter(IBaseFilter** out) {
  // The filters share ownership of the card with the device list.
  ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(new VirtualVideoCapture(shared_from_this()));
  *out = f.Detach();
  return S_OK;
}

PictureState VirtualDevice::Picture(REFERENCE_TIME cardTime) {
  const bool gone = SignalGone(cardTime) || NoLock(cardTime);
  const AM_FIELD_ORDER fields = FieldOrder();
  std::lock_guard lock(mutex);
  PictureState s;
  s.fields = fields;
  const DeviceDesc& d = m_desc;
  s.lumaMin = d.lumaMin;
  s.lumaMax = d.lumaMax;
  s.toneScale[0] = d.toneScale[0];
  s.toneScale[1] = d.toneScale[1];
  double* controls[4] = {&s.brightness, &s.contrast, &s.hue, &s.saturation};
  for (int i = 0; i < 4; ++i) {
    const ProcAmpRange& r = d.procAmp[i];
    if (r.present && r.max > r.min)
      *controls[i] = std::clamp(static_cast<double>(procAmp[i] - r.min) / (r.max - r.min), 0.0, 1.0);
  }
  bool tunerNamed = false;
  for (const auto& x : d.crossbars)
    for (const auto& p : x.inputs) tunerNamed = tunerNamed || p.from == "tuner";
  auto tuned = [&] {
    s.input = PictureState::Input::Tuner;
    s.channel = tunerChannel;
    const auto& signal = tunerInputType == TunerInputAntenna ? d.tuner->antennaSignal : d.tuner->cableSignal;
    s.signal = signal.count(tunerChannel) != 0;
  };
  // Follow the picture from the capture filter's input up through the routed crossbars.
  std::string from = d.analogInFrom;
  for (int hop = 0; hop < 16; ++hop) {
    if (from == "tuner") {
      if (d.tuner) tuned();
      break;
    }
    if (from.rfind("crossbar", 0) != 0) break;
    char* end = nullptr;
    const long n = std::strtol(from.c_str() + 8, &end, 10);
    if (n < 0 || n >= static_cast<long>(d.crossbars.size())) break;
    const CrossbarDesc& x = d.crossbars[n];
    long out = -1;
    if (*end == ':') {
      out = std::strtol(end + 1, nullptr, 10);
    } else {
      for (std::size_t k = 0; k < x.outputs.size() && out < 0; ++k)
        if (!IsAudioConnector(x.outputs[k].type)) out = static_cast<long>(k);
    }
    if (out < 0 || out >= static_cast<long>(x.outputs.size())) break;
    const LONG in = routes[n][out];
    if (in < 0 || in >= static_cast<LONG>(x.inputs.size())) break;
    const CrossbarPinDesc& pin = x.inputs[in];
    if (!pin.from.empty()) {
      from = pin.from;
      continue;
    }
    if (pin.type == PhysConn_Video_Tuner && d.tuner && !tunerNamed) {
      tuned();
    } else if (!IsAudioConnector(pin.type)) {
      s.input = PictureState::Input::External;
      s.connector = pin.type;
      s.signal = true;
    }
    break;
  }
  if (gone) s.signal = false;
  return s;
}

HRESULT VirtualDevice::CreateVbiFilter(IBaseFilter** out) {
  ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(new VirtualVbiCapture(shared_from_this()));
  *out = f.Detach();
  return S_OK;
}

HRESULT VirtualDevice::CreateAudioFilter(IBaseFilter** out) {
  ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(new VirtualAudioCapture(shared_from_this()));
  *out = f.Detach();
  return S_OK;
}

}  // namespace orv::media
