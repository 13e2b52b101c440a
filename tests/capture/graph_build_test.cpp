// Graph construction and live preview of the capture engine: messages, statuses, profile, teardown.
#include "tests/capture/enginerig.h"

#include "platform/store/registry.h"

#include <gtest/gtest.h>

using orv::media::InjectFault;
using orv::test::Calls;
using orv::test::EngineRig;

namespace {

// The caption the platform gives a message box without one.
std::string DefaultCaption() {
  std::string caption;
  orv::ui::SetMessageBoxHook([&](const orv::ui::MessageBoxCall& c) {
    caption = c.caption;
    return IDOK;
  });
  MessageBoxA(nullptr, "", nullptr, MB_OK);
  orv::ui::SetMessageBoxHook(nullptr);
  return caption;
}

TEST(CaptureGraph, DefaultCardBuildsAndPreviewsIntoTheOwnerWithoutMessages) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  EXPECT_TRUE(rig.Texts().empty());
  EXPECT_TRUE(g.m_pVideoCapture && g.m_pAudioCapture && g.m_pGraph && g.m_pBuilder && g.m_pVideoConfig);
  EXPECT_TRUE(g.m_pAudioConfig);
  EXPECT_TRUE(g.m_bPreviewBuilt && g.m_bPreviewing);
  EXPECT_TRUE(g.m_bCaptureAudio);
  EXPECT_FALSE(g.m_bNoPreviewPin);
  EXPECT_EQ(3, g.m_nCrossbarInputs);
  EXPECT_EQ(2, g.m_nSource);
  // The renderer joins the owner as a plain child at (10, 10), as large as the owner's client area.
  EXPECT_EQ((std::vector<std::string>{"VideoRenderer.put_Owner(window)", "VideoRenderer.put_MessageDrain(window)",
                                      "VideoRenderer.put_WindowStyle(1073741824)",
                                      "VideoRenderer.SetWindowPosition(10,10,400,300)", "VideoRenderer.put_Visible(-1)"}),
            Calls("VideoRenderer."));
  // Forced to 14.99 frames per second before the graph runs.
  EXPECT_EQ((std::vector<std::string>{"VideoCapture.SetFormat(AvgTimePerFrame=667111)"}), Calls("VideoCapture.SetFormat"));
  EXPECT_EQ(667111, g.FrameDuration());
  AM_MEDIA_TYPE* mt = nullptr;
  ASSERT_EQ(S_OK, g.m_pVideoConfig->GetFormat(&mt));
  EXPECT_EQ(667111, reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat)->AvgTimePerFrame);
  DeleteMediaType(mt);
  // The crossbar is routed to the tuner input.
  EXPECT_EQ(1, orv::test::CardState().routes[0][0]);
  EXPECT_EQ(1u, Calls("Graph.Run").size());
}

struct FailureCase {
  const char* fault;
  HRESULT hr;
  std::vector<std::string> messages;
  bool graphKept;
};

class BuildFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(BuildFailure, ShowsItsMessageWithTheStatusAndLeavesTheRightGraph) {
  const FailureCase& c = GetParam();
  EngineRig rig;
  InjectFault(c.fault, c.hr);
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(c.messages, rig.Texts());
  const std::string caption = DefaultCaption();
  for (const auto& call : rig.boxes.calls) {
    EXPECT_EQ(rig.owner.GetSafeHwnd(), call.owner);
    EXPECT_EQ(caption, call.caption);
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

TEST(CaptureGraph, AFailingRunStopsTheGraphAndLeavesPreviewOff) {
  EngineRig rig;
  InjectFault("Run", E_FAIL);
  CCaptureGraph& g = rig.Start();
  EXPECT_FALSE(g.m_bPreviewing);
  EXPECT_TRUE(g.m_bPreviewBuilt);
  const auto calls = Calls("Graph.");
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ("Graph.Run()", calls[calls.size() - 2]);
  EXPECT_EQ("Graph.Stop()", calls.back());
}

TEST(CaptureGraph, StopPreviewFailureKeepsPreviewingAndSaysSo) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  InjectFault("Stop", VFW_E_NOT_CONNECTED);
  EXPECT_EQ(0, g.StopPreview());
  EXPECT_EQ((std::vector<std::string>{"에러 80040209: 미리보기 그래프를 멈출 수 없음"}), rig.Texts());
  EXPECT_TRUE(g.m_bPreviewing);
  orv::media::ClearFaults();
  EXPECT_EQ(1, g.StopPreview());
  EXPECT_FALSE(g.m_bPreviewing);
}

TEST(CaptureGraph, VideoDeviceBeyondTheLastGivesStatusOneAndNoGraph) {
  EngineRig rig("", "[orvane]\nVideoDevice=5\n");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(5, g.m_nVideoDevice);
  EXPECT_EQ((std::vector<std::string>{"에러 1: 비디오 필터생성 할 수 없음."}), rig.Texts());
  EXPECT_FALSE(g.m_pGraph);
  EXPECT_FALSE(g.m_pVideoCapture);
  EXPECT_FALSE(g.m_pBuilder);
  // Preview and the rest fail their preconditions quietly.
  EXPECT_EQ(0, g.BuildPreviewGraph());
  EXPECT_EQ(0, g.StartPreview());
  EXPECT_EQ(0, g.SelectSource(3));
  EXPECT_EQ(0, g.TuneChannel(7));
  EXPECT_EQ(1u, rig.Texts().size());
  EXPECT_EQ(0, orv::media::LiveFilters());
}

TEST(CaptureGraph, EmptyAudioCategoryTurnsAudioOffWithoutAMessage) {
  EngineRig rig(R"({"audio": false})");
  CCaptureGraph& g = rig.Start();
  EXPECT_TRUE(rig.Texts().empty());
  EXPECT_FALSE(g.m_bCaptureAudio);
  EXPECT_FALSE(g.m_pAudioCapture);
  EXPECT_TRUE(g.m_bPreviewing);
}

TEST(CaptureGraph, NonVideoMajorTypeLeavesOutTheAudioFilter) {
  EngineRig rig(R"({"format": {"major": "interleaved"}})");
  CCaptureGraph& g = rig.Start();
  EXPECT_FALSE(g.m_bVideoFormatOK);
  EXPECT_FALSE(g.m_bCaptureAudio);
  EXPECT_FALSE(g.m_pAudioCapture);
  EXPECT_TRUE(Calls("DevEnum.CreateClassEnumerator(CLSID_AudioInputDeviceCategory").empty());
  EXPECT_TRUE(g.m_bPreviewing);
}

TEST(CaptureGraph, FilterWithoutPreviewPinPreviewsFromTheCapturePinSilently) {
  EngineRig rig(R"({"preview_pin": false})");
  CCaptureGraph& g = rig.Start();
  EXPECT_TRUE(rig.Texts().empty());
  EXPECT_TRUE(g.m_bNoPreviewPin);
  EXPECT_TRUE(g.m_pRenderWindow);
  EXPECT_EQ(1u, Calls("Builder.FindInterface(PIN_CATEGORY_CAPTURE,VideoCapture,IID_IVideoWindow)").size());
  EXPECT_TRUE(Calls("Builder.FindInterface(PIN_CATEGORY_PREVIEW,VideoCapture,IID_IVideoWindow)").empty());
  // Teardown removes the tee and the renderer and clears the flag.
  g.StopPreview();
  g.TearDownGraph();
  EXPECT_FALSE(g.m_bNoPreviewPin);
  EXPECT_EQ(1u, Calls("Graph.RemoveFilter(SmartTee)").size());
  EXPECT_EQ(1u, Calls("Graph.RemoveFilter(VideoRenderer)").size());
}

TEST(CaptureGraph, OtherFormatTypeKeepsItsFrameRateQuietly) {
  EngineRig rig(R"({"format": {"format_type": "None"}})");
  CCaptureGraph& g = rig.Start();
  EXPECT_TRUE(rig.Texts().empty());
  EXPECT_TRUE(Calls("VideoCapture.SetFormat").empty());
  EXPECT_TRUE(g.m_bPreviewing);
}

TEST(CaptureGraph, StartPreviewTwiceRunsOnceAndStopWhenStoppedSaysNothing) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(1, g.StartPreview());
  EXPECT_EQ(1u, Calls("Graph.Run").size());
  EXPECT_EQ(1, g.StopPreview());
  EXPECT_EQ(0, g.StopPreview());
  EXPECT_EQ(1u, Calls("Graph.Stop").size());
  EXPECT_TRUE(rig.Texts().empty());
  // A stopped preview runs again without rebuilding.
  EXPECT_EQ(1, g.StartPreview());
  EXPECT_EQ(2u, Calls("Graph.Run").size());
}

TEST(CaptureGraph, PreviewBuildPreconditions) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(1, g.BuildPreviewGraph());  // already built
  g.StopPreview();
  g.TearDownGraph();
  EXPECT_FALSE(g.m_bPreviewBuilt);
  EXPECT_EQ(0, g.StartPreview());
  g.m_pAudioCapture.Reset();  // audio wanted but no audio filter
  EXPECT_EQ(0, g.BuildPreviewGraph());
  g.m_bCaptureAudio = FALSE;
  EXPECT_EQ(1, g.BuildPreviewGraph());
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(CaptureGraph, SetVideoPositionPassesRightAndBottomAsWidthAndHeight) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  const RECT placement{9, 18, 622, 446};
  EXPECT_EQ(S_OK, g.SetVideoPosition(&placement));
  EXPECT_EQ("VideoRenderer.SetWindowPosition(9,18,622,446)", Calls("VideoRenderer.SetWindowPosition").back());
  InjectFault("SetWindowPosition", E_UNEXPECTED);
  EXPECT_EQ(E_UNEXPECTED, g.SetVideoPosition(&placement));
  EXPECT_NE(S_OK, g.SetVideoPosition(nullptr));
  // Without a renderer there is nothing to place, and nothing breaks.
  orv::media::ClearFaults();
  g.StopPreview();
  g.TearDownGraph();
  EXPECT_NE(S_OK, g.SetVideoPosition(&placement));
}

TEST(CaptureGraph, TeardownDetachesTheRendererBeforeReleasingIt) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  g.StopPreview();
  orv::media::ClearJournal();
  g.TearDownGraph();
  EXPECT_EQ((std::vector<std::string>{"VideoRenderer.put_Owner(0)", "VideoRenderer.put_Visible(0)"}),
            Calls("VideoRenderer.put_"));
  EXPECT_FALSE(g.m_pRenderWindow);
  EXPECT_FALSE(g.m_bPreviewBuilt);
  // The card's own filters stay; the renderer is gone.
  EXPECT_TRUE(Calls("Graph.RemoveFilter(Crossbar0)").empty());
  EXPECT_TRUE(Calls("Graph.RemoveFilter(Tuner)").empty());
}

TEST(CaptureGraph, DeletingTheEngineReleasesEveryObject) {
  {
    EngineRig rig;
    rig.Start();
    rig.engine->StopPreview();
  }
  EXPECT_EQ(0, orv::media::LiveFilters());
  EXPECT_EQ(0, orv::media::LiveMediaObjects());
}

TEST(CaptureGraph, RebuildAllStartsAgainFromNothing) {
  EngineRig rig;
  CCaptureGraph& g = rig.Start();
  IBaseFilter* first = g.m_pVideoCapture.Get();
  EXPECT_EQ(1, g.RebuildAll());
  EXPECT_TRUE(g.m_bPreviewing);
  EXPECT_NE(first, g.m_pVideoCapture.Get());
  EXPECT_EQ(2u, Calls("Graph.Run").size());
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(CaptureGraph, ProfileDefaultsAndRoundTrip) {
  EngineRig rig;
  CCaptureGraph g(&rig.owner);
  g.LoadProfile();
  EXPECT_EQ(0, g.m_nVideoDevice);
  EXPECT_EQ(0, g.m_nAudioDevice);
  EXPECT_STREQ("", g.m_szCaptureFile);
  EXPECT_TRUE(g.m_bCaptureAudio && g.m_bWantPreview && g.m_bSetFrameRate);
  EXPECT_EQ(1, g.m_nMasterStream);
  EXPECT_DOUBLE_EQ(14.99, g.m_dFrameRate);
  g.SaveProfile();
  char text[64] = "x";
  GetProfileStringA("orvane", "CaptureFile", "missing", text, sizeof text);
  EXPECT_STREQ("", text);
  GetProfileStringA("orvane", "VideoDevice", "missing", text, sizeof text);
  EXPECT_STREQ("0", text);
  GetProfileStringA("orvane", "AudioDevice", "missing", text, sizeof text);
  EXPECT_STREQ("0", text);

  g.m_nVideoDevice = 1;
  g.m_nAudioDevice = -3;
  std::snprintf(g.m_szCaptureFile, sizeof g.m_szCaptureFile, "/tmp/가나.avi");
  g.SaveProfile();
  CCaptureGraph h(nullptr);
  h.LoadProfile();
  EXPECT_EQ(1, h.m_nVideoDevice);
  EXPECT_EQ(0, h.m_nAudioDevice);  // the profile reads a negative number as 0
  EXPECT_STREQ("/tmp/가나.avi", h.m_szCaptureFile);
  EXPECT_EQ(nullptr, h.m_hwndOwner);
  EXPECT_EQ(2, h.m_nSource);
}

TEST(CaptureGraph, SecondDeviceIsChosenByItsIndex) {
  EngineRig rig(R"({"devices": [{"name": "A"}, {"name": "B", "audio": false}]})",
                "[orvane]\nVideoDevice=1\nAudioDevice=1\n");
  CCaptureGraph& g = rig.Start();
  // Card B has no sound, so the audio category holds only A's: index 1 is beyond it.
  EXPECT_EQ((std::vector<std::string>{"오디오 캡처필터를 생성할 수 없음."}), rig.Texts());
  FILTER_INFO info{};
  ASSERT_TRUE(g.m_pVideoCapture);
  g.m_pVideoCapture->QueryFilterInfo(&info);
  if (info.pGraph) info.pGraph->Release();
  EXPECT_EQ("VideoCapture#1", orv::media::Narrow(info.achName));
  EXPECT_FALSE(g.m_bCaptureAudio);
}

TEST(CaptureGraph, CardWithoutAnalogueInputHasNoCrossbarObject) {
  EngineRig rig(R"({"analog_video_in": false})");
  CCaptureGraph& g = rig.Start();
  EXPECT_EQ(nullptr, g.m_pCrossbar);
  EXPECT_EQ(0, g.m_nCrossbarInputs);
  EXPECT_TRUE(Calls("Crossbar0.Route").empty());
  EXPECT_EQ(0, g.SelectSource(3));  // no crossbar interface; the source is kept all the same
  EXPECT_EQ(3, g.m_nSource);
  EXPECT_TRUE(rig.Texts().empty());
}

}  // namespace
