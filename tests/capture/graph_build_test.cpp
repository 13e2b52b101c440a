// Graph construction and live preview of the capture engine: messages, card shapes, teardown.
#include "tests/capture/enginerig.h"

#include "platform/store/registry.h"

#include <gtest/gtest.h>

using orv::media::InjectFault;
using orv::test::Calls;
using orv::test::EngineRig;
using Strings = std::vector<std::string>;

namespace {

// routes: made at the start, the tuner input.
struct CardCase { const char* card; const char* winIni; Strings messages; const char* videoFilter; bool audio, noPreviewPin;
                  Strings routes; std::size_t rateSets; };

TEST(CaptureGraph, CardShapesPreviewIntoTheOwnerAtTheForcedRateOnTheTuner) {
  const Strings tuner{"Crossbar0.Route(0,1)", "Crossbar0.Route(1,3)"};
  const CardCase cases[] = {
      {"", "", {}, "VideoCapture", true, false, tuner, 1},
      {R"({"audio": false})", "", {}, "VideoCapture", false, false, tuner, 1},
      // Not a picture format: no sound filter is looked for.
      {R"({"format": {"major": "interleaved"}})", "", {}, "VideoCapture", false, false, tuner, 1},
      {R"({"preview_pin": false})", "", {}, "VideoCapture", true, true, tuner, 1},
      {R"({"format": {"format_type": "None"}})", "", {}, "VideoCapture", true, false, tuner, 0},
      {R"({"analog_video_in": false})", "", {}, "VideoCapture", true, false, {}, 1},
      // Card B has no sound, so the sound category holds only A's: index 1 lies beyond it.
      {R"({"devices": [{"name": "A"}, {"name": "B", "audio": false}]})", "[orvane]\nVideoDevice=1\nAudioDevice=1\n",
       {"오디오 캡처필터를 생성할 수 없음."}, "VideoCapture#1", false, false,
       {"Crossbar0#1.Route(0,1)", "Crossbar0#1.Route(1,3)"}, 1},
  };
  for (const CardCase& c : cases) {
    SCOPED_TRACE(c.card);
    EngineRig rig(c.card, c.winIni);
    CCaptureGraph& g = rig.Start();
    EXPECT_EQ(c.messages, rig.Texts());
    FILTER_INFO info{};
    ASSERT_TRUE(g.m_pVideoCapture);
    g.m_pVideoCapture->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    EXPECT_EQ(c.videoFilter, orv::media::Narrow(info.achName));
    EXPECT_EQ(c.audio, g.m_bCaptureAudio && g.m_pAudioCapture && g.m_pAudioConfig);
    EXPECT_EQ(c.noPreviewPin, static_cast<bool>(g.m_bNoPreviewPin));
    Strings routes = Calls("Crossbar");
    std::erase_if(routes, [](const std::string& call) { return call.find(".Route(") == std::string::npos; });
    EXPECT_EQ(c.routes, routes);
    EXPECT_EQ(c.routes.empty(), g.m_pCrossbar == nullptr);
    EXPECT_EQ(1u, Calls("VideoRenderer.put_Owner(window)").size());
    // 14.99 frames per second, set before the graph runs.
    EXPECT_EQ(Strings(c.rateSets, std::string(c.videoFilter) + ".SetFormat(AvgTimePerFrame=667111)"),
              Calls(std::string(c.videoFilter) + ".SetFormat"));
    EXPECT_TRUE(g.m_bPreviewing);
    EXPECT_EQ(1u, Calls("Graph.Run").size());
  }
}

TEST(CaptureGraph, WithoutCaptureFilterEveryOperationFailsAndOnlyPictureLevelsSaySo) {
  EngineRig rig("", "[orvane]\nVideoDevice=5\n");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ((Strings{"에러 1: 비디오 필터생성 할 수 없음."}), rig.Texts());
  EXPECT_FALSE(g.m_pGraph || g.m_pVideoCapture || g.m_pBuilder);
  EXPECT_EQ(0, g.BuildPreviewGraph());
  EXPECT_EQ(0, g.StartPreview());
  EXPECT_EQ(0, g.SelectSource(3));
  EXPECT_EQ(2, g.m_nSource);
  EXPECT_EQ(0, g.TuneChannel(7));
  EXPECT_EQ(0, g.SetBrightness(10));
  EXPECT_EQ((Strings{"에러 1: 비디오 필터생성 할 수 없음.", "에러 80004003: IAMVideoProcAmp객체 인터페이스를 얻을 수 없음"}),
            rig.Texts());
  EXPECT_EQ(0, orv::media::LiveFilters());
}

struct FailureCase { const char* fault; HRESULT hr; Strings messages; bool graphKept; };

class BuildFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(BuildFailure, ShowsItsMessageWithTheStatusAndLeavesTheRightGraph) {
  const FailureCase& c = GetParam();
  EngineRig rig;
  InjectFault(c.fault, c.hr);
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(c.messages, rig.Texts());
  for (const auto& call : rig.boxes.calls) {
    EXPECT_EQ(rig.owner.GetSafeHwnd(), call.owner);
    EXPECT_EQ(MB_OK | MB_ICONWARNING | MB_TASKMODAL, call.type);
  }
  EXPECT_EQ(c.graphKept, static_cast<bool>(g.m_pGraph));
  EXPECT_EQ(c.graphKept, static_cast<bool>(g.m_pVideoCapture));
  if (!c.graphKept) {
    EXPECT_FALSE(g.m_bPreviewing);
    EXPECT_EQ(nullptr, g.m_pCrossbar);
  }
  // A later rebuild starts from nothing and succeeds once the fault is gone.
  orv::media::ClearFaults();
  rig.boxes.calls.clear();
  g.RebuildAll();
  EXPECT_TRUE(rig.Texts().empty());
  EXPECT_TRUE(g.m_bPreviewing);
}

INSTANTIATE_TEST_SUITE_P(
    CaptureGraph, BuildFailure,
    ::testing::Values(
        FailureCase{"CoCreateInstance:CLSID_CaptureGraphBuilder", E_FAIL, {"그래프빌더를 초기화할 수 없음"}, false},
        FailureCase{"CoCreateInstance:CLSID_SystemDeviceEnum", E_FAIL, {}, false},
        FailureCase{"CreateClassEnumerator:CLSID_VideoInputDeviceCategory", S_FALSE, {}, false},
        FailureCase{"BindToObject:CLSID_VideoInputDeviceCategory", E_OUTOFMEMORY,
                    {"에러 8007000e: 비디오 필터생성 할 수 없음."}, false},
        FailureCase{"CoCreateInstance:CLSID_FilterGraph", E_FAIL, {"필터그래프 생성 할 수 없음."}, false},
        FailureCase{"SetFiltergraph", E_UNEXPECTED, {"빌더로 그래프를 전달 할 수 없음"}, false},
        FailureCase{"AddFilter:VideoCapture", E_INVALIDARG,
                    {"에러 80070057: 비디오 캡처필터를 필터그래프로 추가할 수 없음"}, false},
        FailureCase{"FindInterface:IID_IAMStreamConfig:VideoCapture", E_NOINTERFACE,
                    {"에러 80004002: 비디오 캡처를 찾을 수 없음 :IAMStreamConfig"}, true},
        FailureCase{"BindToObject:CLSID_AudioInputDeviceCategory", E_FAIL, {"오디오 캡처필터를 생성할 수 없음."}, true},
        FailureCase{"AddFilter:AudioCapture", E_FAIL, {"에러 80004005: 오디오캡처를 필터그래프로 추가 할 수없음."}, false},
        FailureCase{"FindInterface:IID_IAMStreamConfig:AudioCapture", E_NOINTERFACE,
                    {"오디오 캡처장치를 찾을 수 없음:IAMStreamConfig"}, true},
        // The renderer cannot be found either when the preview stream was not rendered.
        FailureCase{"RenderStream:PIN_CATEGORY_PREVIEW", VFW_E_CANNOT_RENDER,
                    {"이 그래프는 미리보기 할 수 없음!", "이 그래프는 정상적으로 미리보기를 실행 할 수 없음."}, true},
        FailureCase{"FindInterface:IID_IVideoWindow", E_NOINTERFACE,
                    {"이 그래프는 정상적으로 미리보기를 실행 할 수 없음."}, true},
        FailureCase{"SetFormat:VideoCapture", VFW_E_INVALIDMEDIATYPE, {"80040200: 미리보기를 위한 프레임율을 설정할 수없음"},
                    true},
        FailureCase{"Run", E_OUTOFMEMORY, {"에러 8007000e: 미리보기 그래프를 실행할 수 없음."}, true}));

TEST(CaptureGraph, TeardownDetachesTheRendererAndRemovesOnlyWhatThePreviewAdded) {
  EngineRig rig(R"({"preview_pin": false})");
  CCaptureGraph& g = rig.Start();
  // Without a preview pin the renderer hangs on a tee behind the capture pin.
  EXPECT_EQ(1u, Calls("Builder.FindInterface(PIN_CATEGORY_CAPTURE,VideoCapture,IID_IVideoWindow)").size());
  g.StopPreview();
  orv::media::ClearJournal();
  g.TearDownGraph();
  EXPECT_EQ((Strings{"VideoRenderer.put_Owner(0)", "VideoRenderer.put_Visible(0)"}), Calls("VideoRenderer.put_"));
  EXPECT_FALSE(g.m_pRenderWindow || g.m_bPreviewBuilt || g.m_bNoPreviewPin);
  // The card's own sound plays through from a tee of its own.
  EXPECT_EQ((Strings{"Graph.RemoveFilter(VideoRenderer)", "Graph.RemoveFilter(SmartTee)",
                     "Graph.RemoveFilter(SoundRenderer)", "Graph.RemoveFilter(SmartTee)"}),
            Calls("Graph.RemoveFilter"));
}

}  // namespace
