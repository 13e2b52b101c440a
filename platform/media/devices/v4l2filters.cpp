// The filters of a V4L2 card: its inputs as a crossbar, its tuner, and the capture filter with its
// picture controls and frame counts, which turns the card's buffers into samples.
#include "platform/media/devices/v4l2device.h"

#include "platform/log.h"
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <shared_mutex>
#include <thread>

namespace orv::media {
namespace {

std::string ConnectorLabel(LONG type) {
  switch (type) {
    case PhysConn_Video_Tuner: return "Video Tuner";
    case PhysConn_Video_Composite: return "Video Composite";
    case PhysConn_Video_SVideo: return "Video SVideo";
    case PhysConn_Video_VideoDecoder: return "Video Decoder";
    case PhysConn_Audio_Tuner: return "Audio Tuner";
    case PhysConn_Audio_Line: return "Audio Line";
    case PhysConn_Audio_AudioDecoder: return "Audio Decoder";
    default: return "Connector " + std::to_string(type);
  }
}

constexpr LONG kInputTypes[kXbarInputs] = {PhysConn_Video_SVideo, PhysConn_Video_Tuner, PhysConn_Video_Composite,
                                           PhysConn_Audio_Tuner, PhysConn_Audio_Line};
constexpr LONG kOutputTypes[kXbarOutputs] = {PhysConn_Video_VideoDecoder, PhysConn_Audio_AudioDecoder};

// Between readings of the tuner while it settles.
constexpr auto kSettlePoll = std::chrono::milliseconds(25);

bool IsAudioPin(LONG type) { return type >= 0x1000; }

class V4l2Crossbar : public FilterBase, public IAMCrossbar {
 public:
  explicit V4l2Crossbar(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("Crossbar0"), "Crossbar"), m_card(std::move(card)) {
    // Inputs before outputs, in index order.
    for (LONG t : kInputTypes)
      AddPin({ConnectorLabel(t) + " In", PINDIR_INPUT, GUID_NULL,
              IsAudioPin(t) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
    for (LONG t : kOutputTypes)
      AddPin({ConnectorLabel(t) + " Out", PINDIR_OUTPUT, GUID_NULL,
              IsAudioPin(t) ? MEDIATYPE_AnalogAudio : MEDIATYPE_AnalogVideo, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  PinBase* InputPin(int i) const { return PinAt(static_cast<std::size_t>(i)); }
  PinBase* OutputPin(int i) const { return PinAt(static_cast<std::size_t>(kXbarInputs + i)); }

  HRESULT get_PinCounts(LONG* outputs, LONG* inputs) override {
    if (!outputs || !inputs) return E_POINTER;
    if (HRESULT hr = Check("get_PinCounts"); hr != S_OK) return hr;
    *outputs = kXbarOutputs;
    *inputs = kXbarInputs;
    return S_OK;
  }

  // Every pin of a kind is offered, even one the card lacks, so path numbers stay the same on
  // every card; routing to a missing one fails.
  HRESULT CanRoute(LONG output, LONG input) override {
    if (HRESULT hr = Check("CanRoute", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    if (output < 0 || output >= kXbarOutputs || input < 0 || input >= kXbarInputs) return E_INVALIDARG;
    return IsAudioPin(kInputTypes[input]) == IsAudioPin(kOutputTypes[output]) ? S_OK : S_FALSE;
  }

  HRESULT Route(LONG output, LONG input) override {
    if (HRESULT hr = Check("Route", std::to_string(output) + "," + std::to_string(input)); hr != S_OK) return hr;
    if (output < 0 || output >= kXbarOutputs) return E_INVALIDARG;
    if (input == -1) return E_NOTIMPL;  // a card's decoder always shows some input
    const HRESULT can = CanRoute(output, input);
    if (can != S_OK) return FAILED(can) ? can : VFW_E_CANNOT_CONNECT;
    return output == kXbarVideoOut ? m_card->SelectVideo(input) : m_card->SelectAudio(input);
  }

  HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* related, LONG* type) override {
    if (!related || !type) return E_POINTER;
    if (HRESULT hr = Check("get_CrossbarPinInfo", std::to_string(isInput ? 1 : 0) + "," + std::to_string(index));
        hr != S_OK)
      return hr;
    const CrossbarLayout& l = m_card->Layout();
    const bool sound = l.input[kXbarAudioTuner] >= 0 || l.input[kXbarAudioLine] >= 0;
    if (isInput) {
      if (index < 0 || index >= kXbarInputs) return E_INVALIDARG;
      *type = kInputTypes[index];
      switch (index) {
        case kXbarTuner: *related = l.input[kXbarAudioTuner] >= 0 ? kXbarAudioTuner : -1; break;
        case kXbarSVideo:
        case kXbarComposite: *related = l.input[kXbarAudioLine] >= 0 ? kXbarAudioLine : -1; break;
        case kXbarAudioTuner: *related = kXbarTuner; break;
        default: *related = kXbarSVideo; break;
      }
    } else {
      if (index < 0 || index >= kXbarOutputs) return E_INVALIDARG;
      *type = kOutputTypes[index];
      *related = index == kXbarVideoOut ? (sound ? kXbarAudioOut : -1) : kXbarVideoOut;
    }
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMCrossbar) return static_cast<IAMCrossbar*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::shared_ptr<V4l2Card> m_card;
};

// ---- Tuner -----------------------------------------------------------------------------------------

class V4l2Tuner : public FilterBase, public IAMTVTuner, public IAMTunerPlan {
 public:
  explicit V4l2Tuner(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("Tuner"), "Tuner"), m_card(std::move(card)) {
    AddPin({"Analog Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogVideo, true, false, nullptr});
    AddPin({"Analog Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AnalogAudio, true, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  HRESULT ChannelMinMax(LONG* min, LONG* max) override {
    if (!min || !max) return E_POINTER;
    if (HRESULT hr = Check("ChannelMinMax"); hr != S_OK) return hr;
    std::lock_guard lock(m_card->tunerMutex);
    m_card->plans.Range(m_card->plan, min, max);
    return S_OK;
  }

  HRESULT put_Channel(LONG channel, LONG video, LONG audio) override {
    if (HRESULT hr = Check("put_Channel", std::to_string(channel) + "," + std::to_string(video) + "," +
                                              std::to_string(audio));
        hr != S_OK)
      return hr;
    std::lock_guard lock(m_card->tunerMutex);
    if (!m_card->plans.ToKHz(m_card->plan, channel)) return E_INVALIDARG;
    m_card->channel = channel;
    return m_card->Tune();
  }

  HRESULT put_InputType(LONG index, TunerInputType type) override {
    if (HRESULT hr = Check("put_InputType", std::to_string(index) + "," + std::to_string(type)); hr != S_OK)
      return hr;
    if (index != 0 || (type != TunerInputCable && type != TunerInputAntenna)) return E_INVALIDARG;
    std::lock_guard lock(m_card->tunerMutex);
    m_card->plan = type;
    // The same number on the other plan; a number the plan lacks (antenna 1, cable 70+) stays untuned.
    return m_card->plans.ToKHz(type, m_card->channel) ? m_card->Tune() : S_OK;
  }

  HRESULT put_Plan(TunerInputType type, const TunerChannel* channels, LONG count) override {
    if (HRESULT hr = Check("put_Plan", std::to_string(type) + "," + std::to_string(count)); hr != S_OK) return hr;
    if ((type != TunerInputCable && type != TunerInputAntenna) || (count > 0 && !channels)) return E_INVALIDARG;
    std::lock_guard lock(m_card->tunerMutex);
    m_card->plans.Set(type, channels, count);
    // The number tuned now may mean another carrier, or none, in the new plan.
    return type == m_card->plan && m_card->plans.ToKHz(type, m_card->channel) ? m_card->Tune() : S_OK;
  }

  HRESULT AutoTune(LONG channel, LONG* found) override {
    if (!found) return E_POINTER;
    *found = AMTUNER_NOSIGNAL;
    if (HRESULT hr = Check("AutoTune", std::to_string(channel)); hr != S_OK) return hr;
    std::lock_guard lock(m_card->tunerMutex);
    if (!m_card->plans.ToKHz(m_card->plan, channel)) return E_INVALIDARG;
    m_card->channel = channel;
    if (HRESULT hr = m_card->Tune(); FAILED(hr)) return hr;
    // The tuner and decoder settle; a lock must then hold (the one of the channel tuned before
    // can linger for a moment).
    const auto tuned = std::chrono::steady_clock::now();
    LockWatch watch;
    LockWatch::Verdict verdict = LockWatch::Verdict::Wait;
    int signal = 0, afc = 0;
    std::this_thread::sleep_for(std::chrono::microseconds(LockWatch::kSettle / 10));
    while (verdict == LockWatch::Verdict::Wait) {
      if (!m_card->ReadTuner(&signal, &afc)) return m_card->Lost() ? DeviceErrorOf(ENODEV) : S_OK;
      using std::chrono::microseconds;
      const auto since = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - tuned);
      verdict = watch.Reading(since.count() * 10, signal);
      if (verdict == LockWatch::Verdict::Wait) std::this_thread::sleep_for(kSettlePoll);
    }
    if (verdict != LockWatch::Verdict::Found) signal = 0;
    // Fine tuning: follow the AFC one tuner step at a time, within half a megahertz.
    for (int step = 0; signal > 0 && afc != 0 && step < 8; ++step) {
      if (FAILED(m_card->NudgeFrequency(afc < 0 ? 1 : -1))) break;
      std::this_thread::sleep_for(kSettlePoll);
      const int before = afc;
      if (!m_card->ReadTuner(&signal, &afc) || (afc != 0 && (afc < 0) != (before < 0))) break;
    }
    *found = signal > 0 ? AMTUNER_SIGNALPRESENT : AMTUNER_NOSIGNAL;
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMTVTuner) return static_cast<IAMTVTuner*>(this);
    if (riid == IID_IAMTunerPlan) return static_cast<IAMTunerPlan*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::shared_ptr<V4l2Card> m_card;
};

// ---- Capture filter --------------------------------------------------------------------------------

const char* PropertyName(LONG property) {
  static const char* const kNames[] = {"VideoProcAmp_Brightness", "VideoProcAmp_Contrast", "VideoProcAmp_Hue",
                                       "VideoProcAmp_Saturation"};
  return property >= 0 && property < 4 ? kNames[property] : "VideoProcAmp_Other";
}

class V4l2VideoCapture : public FilterBase,
                         public IAMVideoProcAmp,
                         public IAMDroppedFrames,
                         public IAMTVStandard,
                         public IAMAnalogVideoDecoder,
                         public ICaptureStreamState {
 public:
  explicit V4l2VideoCapture(std::shared_ptr<V4l2Card> card)
      : FilterBase(GUID_NULL, card->InstanceName("VideoCapture"), "VideoCapture"), m_card(std::move(card)) {
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_Video, true, true, m_card->Format()});
    AddPin({"Preview", PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, MEDIATYPE_Video, true, true, nullptr});
    m_analogIn =
        AddPin({"Analog Video In", PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN, MEDIATYPE_AnalogVideo, true, false, nullptr});
  }
  ~V4l2VideoCapture() override { OnStop(); }
  ORV_UNKNOWN_IMPL

  HRESULT OnSetFormat(PinBase*, const AM_MEDIA_TYPE& mt) override { return m_card->TakeFormat(mt); }
  HRESULT ConnectUpstream(IFilterGraph* graph) override {
    if (!graph || m_analogIn->IsConnected()) return S_FALSE;
    auto* xbar = new V4l2Crossbar(m_card);
    ComPtr<IBaseFilter> holdX = static_cast<IBaseFilter*>(xbar);
    if (HRESULT hr = graph->AddFilter(holdX, Widen(xbar->Instance()).c_str()); FAILED(hr)) return hr;
    if (m_card->HasTuner()) {
      auto* tuner = new V4l2Tuner(m_card);
      ComPtr<IBaseFilter> holdT = static_cast<IBaseFilter*>(tuner);
      if (HRESULT hr = graph->AddFilter(holdT, Widen(tuner->Instance()).c_str()); FAILED(hr)) {
        graph->RemoveFilter(holdX);
        return hr;
      }
      graph->ConnectDirect(tuner->PinAt(0), xbar->InputPin(kXbarTuner), nullptr);
      graph->ConnectDirect(tuner->PinAt(1), xbar->InputPin(kXbarAudioTuner), nullptr);
    }
    graph->ConnectDirect(xbar->OutputPin(kXbarVideoOut), m_analogIn, nullptr);
    return S_OK;
  }

  HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* def, LONG* caps) override {
    if (!min || !max || !step || !def || !caps) return E_POINTER;
    if (HRESULT hr = Check("GetRange", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    // Read afresh every time: some drivers move a range with the input.
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    *min = 0;
    *max = r.max - r.min;
    *step = r.step;
    *def = FromDriverValue(r, r.def);
    *caps = VideoProcAmp_Flags_Manual;
    return S_OK;
  }

  HRESULT Set(LONG property, LONG value, LONG flags) override {
    if (HRESULT hr = Check("Set", std::to_string(property) + "," + std::to_string(value) + "," + std::to_string(flags),
                           {"IAMVideoProcAmp", PropertyName(property)});
        hr != S_OK)
      return hr;
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    if (value < 0 || value > r.max - r.min) return E_INVALIDARG;
    return m_card->SetControl(property, ToDriverValue(r, value));
  }

  HRESULT Get(LONG property, LONG* value, LONG* flags) override {
    if (!value || !flags) return E_POINTER;
    if (HRESULT hr = Check("Get", std::to_string(property), {"IAMVideoProcAmp", PropertyName(property)}); hr != S_OK)
      return hr;
    DriverRange r;
    if (!m_card->QueryControl(property, &r)) return E_PROP_ID_UNSUPPORTED;
    LONG driver = 0;
    if (HRESULT hr = m_card->GetControl(property, &driver); FAILED(hr)) return hr;
    *value = FromDriverValue(r, driver);
    *flags = VideoProcAmp_Flags_Manual;
    return S_OK;
  }

  HRESULT put_Standard(const char* key, const char* fallback) override {
    if (!key || !fallback) return E_POINTER;
    if (HRESULT hr = Check("put_Standard", std::string(key) + "," + fallback); hr != S_OK) return hr;
    const StdMask chosen = StandardOfKey(key);
    if (!chosen && std::string_view(key) != "auto") return E_INVALIDARG;
    return m_card->SetStandard(chosen, StandardOfKey(fallback));
  }

  HRESULT SupportsStandard(const char* key) override {
    const StdMask mask = key ? StandardOfKey(key) : 0;
    return mask ? m_card->SupportsStandard(mask) : E_INVALIDARG;
  }

  HRESULT GetNumDropped(LONG* dropped) override {
    if (!dropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumDropped"); hr != S_OK) return hr;
    *dropped = m_counts->dropped;
    return S_OK;
  }

  HRESULT GetNumNotDropped(LONG* notDropped) override {
    if (!notDropped) return E_POINTER;
    if (HRESULT hr = Check("GetNumNotDropped"); hr != S_OK) return hr;
    *notDropped = m_counts->delivered;
    return S_OK;
  }

  HRESULT GetStreamState(CAPTURE_STREAM_STATE* state) override {
    if (!state) return E_POINTER;
    *state = static_cast<CAPTURE_STREAM_STATE>(m_counts->state.load());
    return S_OK;
  }

  HRESULT get_NumberOfLines(LONG* lines) override {
    if (!lines) return E_POINTER;
    if (HRESULT hr = Check("get_NumberOfLines"); hr != S_OK) return hr;
    return m_card->DecoderLines(lines);
  }

  HRESULT get_HorizontalLocked(LONG* locked) override {
    if (!locked) return E_POINTER;
    if (HRESULT hr = Check("get_HorizontalLocked"); hr != S_OK) return hr;
    return m_card->DecoderLocked(locked);
  }

  HRESULT get_FieldOrder(AM_FIELD_ORDER* order) override {
    if (!order) return E_POINTER;
    *order = m_card->FieldOrder(m_firstField);
    return S_OK;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IAMVideoProcAmp) return static_cast<IAMVideoProcAmp*>(this);
    if (riid == IID_IAMDroppedFrames) return static_cast<IAMDroppedFrames*>(this);
    if (riid == IID_ICaptureStreamState) return static_cast<ICaptureStreamState*>(this);
    if (riid == IID_IAMTVStandard) return static_cast<IAMTVStandard*>(this);
    if (riid == IID_IAMAnalogVideoDecoder) return static_cast<IAMAnalogVideoDecoder*>(this);
    return FilterBase::Lookup(riid);
  }

  HRESULT OnRun() override {
    if (State() == State_Stopped) {
      m_counts->Reset();
    }
    m_gaps.Reset();
    m_type.reset();
    m_weaver.Reset();
    const HRESULT hr = m_card->StartStreaming(
        [this](const v4l2_buffer& b, const BYTE* data, const FrameFormat& f) { OnFrame(b, data, f); },
        [this](V4l2Card::StreamEvent e, long ms) { OnStreamEvent(e, ms); });
    if (FAILED(hr)) {
      LogError("v4l2", "%s: cannot start streaming (%08x)", m_card->Node().path.c_str(), static_cast<unsigned>(hr));
      m_card->StopStreaming();
    }
    return hr;
  }
  void OnStop() override { m_card->StopStreaming(); }

 private:
  // On the card's streaming thread: the state the status shows, and the events the capture keeps.
  void OnStreamEvent(V4l2Card::StreamEvent e, long ms) {
    const REFERENCE_TIME at = MonotonicNow() - StreamStart();
    switch (e) {
      case V4l2Card::StreamEvent::Stalled:
        m_counts->state = CAPTURE_STREAM_NO_SIGNAL;
        break;
      case V4l2Card::StreamEvent::Resumed:
        // Kept at its start, with its length.
        m_counts->state = CAPTURE_STREAM_OK;
        m_counts->events.Note("v4l2", CaptureEventKind::Stall, at - ms * 10000LL, ms);
        break;
      case V4l2Card::StreamEvent::Restarting:
        m_counts->state = CAPTURE_STREAM_RESTARTING;
        m_counts->events.Note("v4l2", CaptureEventKind::Restart, at);
        break;
      case V4l2Card::StreamEvent::LockLost:
        m_counts->events.Note("v4l2", CaptureEventKind::SignalLost, at);
        break;
      case V4l2Card::StreamEvent::LockRegained:
        m_counts->events.Note("v4l2", CaptureEventKind::SignalRegained, at);
        break;
      case V4l2Card::StreamEvent::Restarted:
        // The driver counts afresh, and fields pair afresh.
        m_gaps.Reset();
        m_weaver.Reset();
        m_counts->state = CAPTURE_STREAM_NO_SIGNAL;
        break;
      case V4l2Card::StreamEvent::Lost:
        m_counts->events.Note("v4l2", CaptureEventKind::DeviceGone, at);
        AbortGraph(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
        break;
    }
  }

  // On the card's streaming thread.
  void OnFrame(const v4l2_buffer& b, const BYTE* data, const FrameFormat& f) {
    PinBase* capture = PinAt(0);
    PinBase* preview = PinAt(1);
    if (!m_type || m_typeFormat.width != f.width || m_typeFormat.height != f.height || m_typeFormat.kind != f.kind ||
        m_typeFormat.field != f.field) {
      // The sample's own type: the pin's format, with the size the driver really delivers.
      AM_MEDIA_TYPE pinType{};
      m_card->Format()->Copy(&pinType);
      REFERENCE_TIME wanted = f.period;
      if (pinType.formattype == FORMAT_VideoInfo && pinType.pbFormat && pinType.cbFormat >= sizeof(VIDEOINFOHEADER))
        wanted = reinterpret_cast<VIDEOINFOHEADER*>(pinType.pbFormat)->AvgTimePerFrame;
      FreeMediaType(pinType);
      auto* vih = new VIDEOINFOHEADER;
      AM_MEDIA_TYPE mt = MakeVideoType(f, wanted, vih);
      auto* copy = new AM_MEDIA_TYPE{};
      CopyMediaType(copy, &mt);
      delete vih;
      m_type.reset(copy, [](AM_MEDIA_TYPE* p) {
        FreeMediaType(*p);
        delete p;
      });
      m_typeFormat = f;
      m_wanted = wanted;
      m_decimator.Reset(f.period, wanted);
      m_weaver.Reset();
    }
    REFERENCE_TIME at = PictureStart(b, f.span, MonotonicNow());
    std::uint32_t sequence = b.sequence;

    const PixelKind& k = *f.kind;
    const std::vector<Plane> stored = StoredPlanes(k, f.width, f.height);
    const BYTE* out = data;
    std::size_t size = k.layout == Layout::Compressed ? b.bytesused : StoredSize(k, f.width, f.height);
    if (f.field == V4L2_FIELD_ALTERNATE) {
      // One field per buffer: a frame is whole after both.
      if (!m_weaver.Add(f, data, b.bytesused, b.field, at, b.sequence)) return;
      m_firstField = m_weaver.FirstField();
      at = m_weaver.At();
      sequence = m_weaver.Sequence();
      out = m_weaver.Frame();
    } else if (k.layout == Layout::Compressed) {
      if (b.bytesused == 0) return;
    } else if (b.bytesused < Extent(PlanesOf(k, f.width, f.height, f.stride))) {
      return;  // a short buffer
    }

    // Thinned to the wanted rate before anything is counted: the counts are the file's frames.
    const std::uint32_t lost = m_gaps.Next(sequence);
    std::uint32_t missed = 0;
    const bool keep = m_decimator.Keep(at - StreamStart(), lost, &missed);
    std::shared_lock lock(StreamMutex());
    const bool capturing = capture->IsConnected() && capture->StreamOn();
    if (capturing) m_counts->dropped += static_cast<LONG>(missed);
    if (capturing && missed) m_counts->events.Note("v4l2", CaptureEventKind::FramesLost, at - StreamStart(), static_cast<long>(missed));
    // A buffer the driver flags as bad is what the card saw: kept, and counted.
    if (capturing && (b.flags & V4L2_BUF_FLAG_ERROR)) m_counts->events.Note("v4l2", CaptureEventKind::FlaggedBuffer, at - StreamStart());
    m_lostSinceSent += missed;
    if (!keep) return;

    if (out == data && k.layout != Layout::Compressed) {
      const std::vector<Plane> from = PlanesOf(k, f.width, f.height, f.stride);
      auto alike = [](const Plane& a, const Plane& b) { return a.offset == b.offset && a.stride == b.stride; };
      const bool same = !BottomUp(k) && std::equal(from.begin(), from.end(), stored.begin(), alike);
      if (!same) {
        m_copy.resize(size);
        CopyRows(data, from, m_copy.data(), stored, 1, 0, BottomUp(k));
        out = m_copy.data();
      }
    }
    const REFERENCE_TIME start = at - StreamStart();
    // The counts travel with the picture: one the writer leaves out later moves to dropped.
    MediaSample sample{out, size, start, start + m_wanted, m_type.get(), m_counts};
    sample.lost = std::exchange(m_lostSinceSent, 0);
    if (capturing) {
      if (capture->Deliver(sample))
        ++m_counts->delivered;
      else
        ++m_counts->dropped;
    }
    preview->Deliver(sample);
  }

  std::shared_ptr<V4l2Card> m_card;
  PinBase* m_analogIn = nullptr;
  const std::shared_ptr<FrameCounts> m_counts = std::make_shared<FrameCounts>();
  // Streaming thread only.
  SequenceGaps m_gaps;
  FrameDecimator m_decimator;
  std::shared_ptr<AM_MEDIA_TYPE> m_type;
  FrameFormat m_typeFormat;
  REFERENCE_TIME m_wanted = 0;
  std::uint32_t m_lostSinceSent = 0;  // frames lost since the last picture sent: the file keeps their places
  std::vector<BYTE> m_copy;
  FieldWeaver m_weaver;
  std::atomic<std::uint32_t> m_firstField{0};  // of the frames woven last
};

}  // namespace

HRESULT NewV4l2CaptureFilter(const std::shared_ptr<V4l2Card>& card, IBaseFilter** out) {
  if (HRESULT hr = card->Open(); FAILED(hr)) return hr;
  ComPtr<IBaseFilter> filter = static_cast<IBaseFilter*>(new V4l2VideoCapture(card));
  *out = filter.Detach();
  return S_OK;
}

}  // namespace orv::media
