// The graph as the capture engine drives it: look-ups, configuration, rendering, running, faults.
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>

using orv::test::BindDevice;
using orv::test::Calls;
using orv::test::FindPin;
using orv::test::GraphRig;
using orv::test::UseCard;

namespace {

template <class T>
HRESULT Find(GraphRig& rig, const GUID* category, IBaseFilter* f, T** out) {
  return rig.builder->FindInterface(category, f, uuidof<T>(), reinterpret_cast<void**>(out));
}

TEST(Graph, FirstCaptureLookupBringsTheCrossbarAndTunerUpstream) {
  UseCard("");
  CoInitialize(nullptr);
  {
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
    ASSERT_EQ(S_OK, builder->SetFiltergraph(graph));
    EXPECT_EQ(E_UNEXPECTED, builder->SetFiltergraph(graph));
    ComPtr<IBaseFilter> cap = BindDevice(CLSID_VideoInputDeviceCategory, 0);
    ASSERT_EQ(S_OK, graph->AddFilter(cap, nullptr));
    IPin* analogIn = FindPin(cap, PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN);
    ASSERT_NE(nullptr, analogIn);
    ComPtr<IPin> peer;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, analogIn->ConnectedTo(&peer));

    ComPtr<IAMTVTuner> tuner;
    EXPECT_EQ(E_NOINTERFACE, builder->FindInterface(&PIN_CATEGORY_PREVIEW, cap, IID_PPV_ARGS(&tuner)));
    EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, cap, IID_PPV_ARGS(&tuner)));
    ComPtr<IAMCrossbar> xbar;
    EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, cap, IID_PPV_ARGS(&xbar)));
    EXPECT_EQ(S_OK, analogIn->ConnectedTo(&peer));
    PIN_INFO info{};
    ASSERT_EQ(S_OK, peer->QueryPinInfo(&info));
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    ComPtr<IAMCrossbar> owner;
    EXPECT_EQ(S_OK, owner.QueryFrom(info.pFilter));
    EXPECT_EQ(xbar.Get(), owner.Get());  // the crossbar next to the capture filter is found first
    info.pFilter->Release();
    // A second look-up adds nothing more.
    EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, cap, IID_PPV_ARGS(&xbar)));
    EXPECT_EQ(1u, Calls("Graph.AddFilter(Tuner").size());
  }
  CoUninitialize();
  EXPECT_EQ(0, orv::media::LiveFilters());
}

TEST(Graph, CaptureFilterPinsAndConfigurationInterfaces) {
  UseCard("");
  GraphRig rig;
  // Pin categories read through IKsPropertySet.
  EXPECT_NE(nullptr, FindPin(rig.capture, PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE));
  EXPECT_NE(nullptr, FindPin(rig.capture, PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW));
  ComPtr<IKsPropertySet> ks;
  ASSERT_EQ(S_OK, ks.QueryFrom(rig.analogIn));
  GUID cat;
  DWORD got = 0;
  EXPECT_EQ(E_PROP_SET_UNSUPPORTED, ks->Get(PIN_CATEGORY_CAPTURE, 0, nullptr, 0, &cat, sizeof cat, &got));
  EXPECT_EQ(E_UNEXPECTED, ks->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &cat, 8, &got));

  ComPtr<IAMStreamConfig> config;
  ASSERT_EQ(S_OK, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &config));
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&mt));
  EXPECT_EQ(MEDIATYPE_Video, mt->majortype);
  EXPECT_EQ(MEDIASUBTYPE_YUY2, mt->subtype);
  ASSERT_EQ(FORMAT_VideoInfo, mt->formattype);
  ASSERT_GE(mt->cbFormat, sizeof(VIDEOINFOHEADER));
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
  EXPECT_EQ(640, vih->bmiHeader.biWidth);
  EXPECT_EQ(480, vih->bmiHeader.biHeight);
  vih->AvgTimePerFrame = 667111;
  EXPECT_EQ(S_OK, config->SetFormat(mt));
  mt->majortype = MEDIATYPE_Audio;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, config->SetFormat(mt));
  DeleteMediaType(mt);
  ASSERT_EQ(S_OK, config->GetFormat(&mt));
  EXPECT_EQ(667111, reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame);
  DeleteMediaType(mt);

  ComPtr<IAMVideoCompression> compression;
  EXPECT_EQ(E_NOINTERFACE, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &compression));
  ComPtr<IAMVfwCaptureDialogs> dialogs;
  EXPECT_EQ(E_NOINTERFACE, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &dialogs));
  ComPtr<IAMDroppedFrames> dropped;
  EXPECT_EQ(S_OK, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &dropped));

  ComPtr<IBaseFilter> audio = BindDevice(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  ComPtr<IAMStreamConfig> audioConfig;
  ASSERT_EQ(S_OK, Find(rig, &PIN_CATEGORY_CAPTURE, audio, &audioConfig));
  ASSERT_EQ(S_OK, audioConfig->GetFormat(&mt));
  EXPECT_EQ(MEDIATYPE_Audio, mt->majortype);
  EXPECT_EQ(FORMAT_WaveFormatEx, mt->formattype);
  DeleteMediaType(mt);
}

TEST(Graph, TunerRangesSignalsAndProcAmp) {
  UseCard(R"({"tuner": {"antenna_signal": [2, 7, 69], "cable_signal": [1, 125]}})");
  GraphRig rig;
  ComPtr<IAMTVTuner> tuner;
  ASSERT_EQ(S_OK, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &tuner));
  LONG lo = 0, hi = 0;
  EXPECT_EQ(S_OK, tuner->put_InputType(0, TunerInputAntenna));
  tuner->ChannelMinMax(&lo, &hi);
  EXPECT_EQ(2, lo);
  EXPECT_EQ(69, hi);
  std::vector<LONG> found;
  for (LONG ch = lo; ch <= hi; ++ch) {
    LONG signal = -5;
    ASSERT_EQ(S_OK, tuner->AutoTune(ch, &signal));
    if (signal == AMTUNER_SIGNALPRESENT) found.push_back(ch);
  }
  EXPECT_EQ((std::vector<LONG>{2, 7, 69}), found);
  EXPECT_EQ(E_INVALIDARG, tuner->put_Channel(70, AMTUNER_SUBCHAN_NO_TUNE, AMTUNER_SUBCHAN_DEFAULT));
  EXPECT_EQ(E_INVALIDARG, tuner->put_InputType(0, static_cast<TunerInputType>(2)));

  EXPECT_EQ(S_OK, tuner->put_InputType(0, TunerInputCable));
  tuner->ChannelMinMax(&lo, &hi);
  EXPECT_EQ(1, lo);
  EXPECT_EQ(125, hi);
  EXPECT_EQ(S_OK, tuner->put_Channel(125, AMTUNER_SUBCHAN_NO_TUNE, AMTUNER_SUBCHAN_DEFAULT));
  orv::media::VirtualCardState state;
  orv::media::GetVirtualCardState(0, &state);
  EXPECT_EQ(125, state.tunerChannel);
  EXPECT_EQ(TunerInputCable, state.tunerInputType);

  ComPtr<IAMVideoProcAmp> amp;
  ASSERT_EQ(S_OK, amp.QueryFrom(rig.capture));
  for (LONG prop = VideoProcAmp_Brightness; prop <= VideoProcAmp_Saturation; ++prop) {
    LONG min, max, step, def, caps;
    ASSERT_EQ(S_OK, amp->GetRange(prop, &min, &max, &step, &def, &caps));
    EXPECT_EQ(0, min);
    EXPECT_EQ(10000, max);
    EXPECT_EQ(S_OK, amp->Set(prop, 4961, VideoProcAmp_Flags_Manual));
    LONG value = 0, flags = 0;
    EXPECT_EQ(S_OK, amp->Get(prop, &value, &flags));
    EXPECT_EQ(4961, value);
    EXPECT_EQ(E_INVALIDARG, amp->Set(prop, 10001, VideoProcAmp_Flags_Manual));
  }
  LONG v, f;
  EXPECT_EQ(E_PROP_ID_UNSUPPORTED, amp->Get(VideoProcAmp_Gamma, &v, &f));
}

TEST(Graph, CrossbarFilterRoutesLikeACard) {
  UseCard("");
  GraphRig rig;
  ComPtr<IAMCrossbar> x;
  ASSERT_EQ(S_OK, Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &x));
  LONG outs = 0, ins = 0, related = 0, type = 0;
  EXPECT_EQ(S_OK, x->get_PinCounts(&outs, &ins));
  EXPECT_EQ(2, outs);
  EXPECT_EQ(5, ins);
  const LONG types[] = {3, 1, 2, 0x1000, 0x1001};
  const LONG relatedPins[] = {4, 3, 4, 1, 0};
  for (LONG i = 0; i < 5; ++i) {
    ASSERT_EQ(S_OK, x->get_CrossbarPinInfo(TRUE, i, &related, &type));
    EXPECT_EQ(types[i], type);
    EXPECT_EQ(relatedPins[i], related);
  }
  EXPECT_EQ(E_INVALIDARG, x->get_CrossbarPinInfo(FALSE, 2, &related, &type));
  EXPECT_EQ(S_OK, x->CanRoute(0, 2));
  EXPECT_EQ(S_FALSE, x->CanRoute(0, 3));  // sound to the picture output
  EXPECT_EQ(S_FALSE, x->CanRoute(1, 0));
  EXPECT_EQ(VFW_E_CANNOT_CONNECT, x->Route(1, 0));
  EXPECT_EQ(S_OK, x->Route(0, 2));
  EXPECT_EQ(S_OK, x->Route(1, -1));
  orv::media::VirtualCardState state;
  orv::media::GetVirtualCardState(0, &state);
  EXPECT_EQ((std::vector<LONG>{2, -1}), state.routes[0]);
}

TEST(Graph, PreviewAndCaptureRenderingWithAndWithoutPreviewPin) {
  for (bool previewPin : {true, false}) {
    UseCard(previewPin ? "" : R"({"preview_pin": false})");
    GraphRig rig;
    const HRESULT preview = rig.builder->RenderStream(&PIN_CATEGORY_PREVIEW, rig.capture, nullptr, nullptr);
    EXPECT_EQ(previewPin ? S_OK : VFW_S_NOPREVIEWPIN, preview);
    ComPtr<IVideoWindow> window;
    EXPECT_EQ(S_OK, Find(rig, previewPin ? &PIN_CATEGORY_PREVIEW : &PIN_CATEGORY_CAPTURE, rig.capture, &window));
    EXPECT_EQ(S_OK, window->put_Owner(0));

    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    EXPECT_EQ(E_INVALIDARG, rig.builder->SetOutputFileName(&MEDIATYPE_Video, u"/tmp/x.avi", &mux, &sink));
    ASSERT_EQ(S_OK, rig.builder->SetOutputFileName(&MEDIASUBTYPE_Avi, u"/tmp/x.avi", &mux, &sink));
    ComPtr<IConfigAviMux> muxConfig;
    EXPECT_EQ(S_OK, muxConfig.QueryFrom(mux));
    EXPECT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_CAPTURE, rig.capture, nullptr, mux));
    ComPtr<IBaseFilter> audio = BindDevice(CLSID_AudioInputDeviceCategory, 0);
    rig.graph->AddFilter(audio, nullptr);
    EXPECT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_CAPTURE, audio, nullptr, mux));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, rig.builder->RenderStream(&PIN_CATEGORY_CAPTURE, audio, nullptr, mux));
    // Preview stays available after the capture stream went to the file.
    window.Reset();
    EXPECT_EQ(S_OK, Find(rig, previewPin ? &PIN_CATEGORY_PREVIEW : &PIN_CATEGORY_CAPTURE, rig.capture, &window));

    // Without a preview pin the tee's outputs take the stream control.
    REFERENCE_TIME never = MAXLONGLONG;
    EXPECT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_PREVIEW, nullptr, nullptr, &never, 0, 0));
    EXPECT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, &never, nullptr, 0, 0));
    ComPtr<IMediaControl> control;
    ASSERT_EQ(S_OK, control.QueryFrom(rig.graph));
    EXPECT_EQ(S_OK, control->Run());
    OAFilterState state = -1;
    control->GetState(0, &state);
    EXPECT_EQ(State_Running, state);
    EXPECT_EQ(VFW_E_NOT_STOPPED, [&] {
      ComPtr<IAMStreamConfig> config;
      Find(rig, &PIN_CATEGORY_CAPTURE, rig.capture, &config);
      AM_MEDIA_TYPE* mt = nullptr;
      config->GetFormat(&mt);
      const HRESULT hr = config->SetFormat(mt);
      DeleteMediaType(mt);
      return hr;
    }());
    EXPECT_EQ(S_OK, control->Stop());
  }
  EXPECT_EQ(0, orv::media::LiveFilters());
  EXPECT_EQ(0, orv::media::LiveMediaObjects());
}

TEST(Graph, RemovingFiltersBreaksTheirConnections) {
  UseCard("");
  GraphRig rig;
  ASSERT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_PREVIEW, rig.capture, nullptr, nullptr));
  IPin* preview = FindPin(rig.capture, PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW);
  ComPtr<IPin> rendererIn;
  ASSERT_EQ(S_OK, preview->ConnectedTo(&rendererIn));
  PIN_INFO info{};
  rendererIn->QueryPinInfo(&info);
  EXPECT_EQ(PINDIR_INPUT, info.dir);
  EXPECT_EQ(S_OK, rig.graph->RemoveFilter(info.pFilter));
  EXPECT_EQ(VFW_E_NOT_FOUND, rig.graph->RemoveFilter(info.pFilter));
  info.pFilter->Release();
  ComPtr<IPin> none;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, preview->ConnectedTo(&none));
  EXPECT_EQ(VFW_E_NOT_CONNECTED, rendererIn->ConnectedTo(&none));
}

// A filter that records how the graph started it, and can refuse to start.
class StartProbe : public orv::media::FilterBase {
 public:
  StartProbe(const char* name, HRESULT result) : FilterBase(GUID_NULL, name, "Probe"), m_result(result) {}
  ORV_UNKNOWN_IMPL
  int runs = 0, stops = 0;

 protected:
  HRESULT OnRun() override {
    ++runs;
    return m_result;
  }
  void OnStop() override { ++stops; }

 private:
  HRESULT m_result;
};

TEST(Graph, RunGivesEveryFilterOneMonotonicStartAndFailsWithAFilterThatCannotStart) {
  CoInitialize(nullptr);
  {
    for (const HRESULT refusal : {S_OK, static_cast<HRESULT>(0x80070010u) /* EBUSY */}) {
      ComPtr<IGraphBuilder> graph;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
      // Filters start downstream first (last added first): the source that refuses starts last.
      ComPtr<IBaseFilter> source = static_cast<IBaseFilter*>(new StartProbe("Source", refusal));
      ComPtr<IBaseFilter> sink = static_cast<IBaseFilter*>(new StartProbe("Sink", S_OK));
      ASSERT_EQ(S_OK, graph->AddFilter(source, nullptr));
      ASSERT_EQ(S_OK, graph->AddFilter(sink, nullptr));
      auto* src = static_cast<StartProbe*>(orv::media::AsFilterBase(source));
      auto* snk = static_cast<StartProbe*>(orv::media::AsFilterBase(sink));
      ComPtr<IMediaControl> control;
      ASSERT_EQ(S_OK, control.QueryFrom(graph));

      const REFERENCE_TIME before = orv::media::MonotonicNow();
      EXPECT_EQ(refusal, control->Run());
      const REFERENCE_TIME after = orv::media::MonotonicNow();
      EXPECT_EQ(1, src->runs);
      EXPECT_EQ(1, snk->runs);
      OAFilterState state = -1;
      control->GetState(0, &state);
      if (refusal == S_OK) {
        EXPECT_EQ(State_Running, state);
        EXPECT_EQ(State_Running, src->State());
        EXPECT_GE(src->StreamStart(), before);
        EXPECT_LE(src->StreamStart(), after);
        EXPECT_EQ(src->StreamStart(), snk->StreamStart());
        // Running again changes nothing: the streams keep their zero.
        const REFERENCE_TIME zero = src->StreamStart();
        EXPECT_EQ(S_OK, control->Run());
        EXPECT_EQ(1, src->runs);
        EXPECT_EQ(zero, snk->StreamStart());
        EXPECT_EQ(S_OK, control->Stop());
      } else {
        // The sink that had started is stopped again; nothing is left running.
        EXPECT_EQ(State_Stopped, state);
        EXPECT_EQ(1, snk->stops);
        EXPECT_EQ(State_Stopped, snk->State());
        EXPECT_EQ(State_Stopped, src->State());
      }
    }
  }
  CoUninitialize();
}

TEST(Faults, NamedOperationsFailWithTheChosenResult) {
  UseCard("");
  CoInitialize(nullptr);
  orv::media::InjectFault("CoCreateInstance:CLSID_FilterGraph", E_OUTOFMEMORY);
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(E_OUTOFMEMORY, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
  ComPtr<ICaptureGraphBuilder> builder;
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&builder)));
  orv::media::ClearFaults();

  // Qualifiers narrow a fault to one object; skip and times pick the calls.
  orv::media::InjectFault("AddFilter:AudioCapture", static_cast<HRESULT>(0x80070005u));
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph));
  ComPtr<IBaseFilter> video = BindDevice(CLSID_VideoInputDeviceCategory, 0);
  ComPtr<IBaseFilter> audio = BindDevice(CLSID_AudioInputDeviceCategory, 0);
  EXPECT_EQ(S_OK, graph->AddFilter(video, nullptr));
  EXPECT_EQ(static_cast<HRESULT>(0x80070005u), graph->AddFilter(audio, nullptr));
  orv::media::ClearFaults();
  orv::media::InjectFault("FindInterface:IID_IAMStreamConfig:AudioCapture", E_NOINTERFACE);
  orv::media::InjectFault("Run", E_FAIL, 1, 1);
  builder->SetFiltergraph(graph);
  EXPECT_EQ(S_OK, graph->AddFilter(audio, nullptr));
  ComPtr<IAMStreamConfig> config;
  EXPECT_EQ(S_OK, builder->FindInterface(&PIN_CATEGORY_CAPTURE, video, IID_PPV_ARGS(&config)));
  EXPECT_EQ(E_NOINTERFACE, builder->FindInterface(&PIN_CATEGORY_CAPTURE, audio, IID_PPV_ARGS(&config)));
  ComPtr<IMediaControl> control;
  control.QueryFrom(graph);
  EXPECT_EQ(S_OK, control->Run());
  EXPECT_EQ(E_FAIL, control->Run());
  EXPECT_EQ(S_OK, control->Run());
  control->Stop();

  // Operations sharing a name are told apart by their interface and property.
  orv::media::ClearFaults();
  orv::media::InjectFault("Get:IAMVideoProcAmp:VideoProcAmp_Hue", E_UNEXPECTED);
  ComPtr<IAMVideoProcAmp> amp;
  ASSERT_EQ(S_OK, amp.QueryFrom(video));
  LONG value = 0, flags = 0;
  EXPECT_EQ(S_OK, amp->Get(VideoProcAmp_Brightness, &value, &flags));
  EXPECT_EQ(E_UNEXPECTED, amp->Get(VideoProcAmp_Hue, &value, &flags));
  EXPECT_EQ(PIN_CATEGORY_ANALOGVIDEOIN,
            orv::test::PinCategory(FindPin(video, PINDIR_INPUT, PIN_CATEGORY_ANALOGVIDEOIN)));
  amp.Reset();

  // A description's faults are installed with the card.
  UseCard(R"({"faults": [{"op": "CreateClassEnumerator:CLSID_AudioInputDeviceCategory", "hr": "S_FALSE"},
                         {"op": "BindToObject", "hr": "0x80070005"}]})");
  EXPECT_EQ(nullptr, BindDevice(CLSID_AudioInputDeviceCategory, 0).Get());
  EXPECT_EQ(nullptr, BindDevice(CLSID_VideoInputDeviceCategory, 0).Get());
  UseCard("");
  EXPECT_NE(nullptr, BindDevice(CLSID_VideoInputDeviceCategory, 0).Get());
  control.Reset();
  config.Reset();
  audio.Reset();
  video.Reset();
  graph.Reset();
  builder.Reset();
  CoUninitialize();
}

}  // namespace
