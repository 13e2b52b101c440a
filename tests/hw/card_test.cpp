// The capture engine on vivid: device order, source routing, tuning and scan, picture levels, the
// capture pin's frames and the card's sound; and an unplugged card.
#include "platform/media/devices/realcards.h"
#include "common/Commands.h"
#include "tests/hw/hwrig.h"
#include "tests/media/avicheck.h"

#include <algorithm>
#include <cmath>

using namespace orv::hw;
using orv::test::Pump;
using orv::test::PumpUntil;
using orv::test::RecordingWnd;

namespace {

std::vector<std::string> DeviceNames(const GUID& category) {
  CoInitialize(nullptr);
  struct Uninit {
    ~Uninit() { CoUninitialize(); }
  } uninit;
  ComPtr<ICreateDevEnum> devEnum;
  CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum));
  ComPtr<IEnumMoniker> e;
  std::vector<std::string> names;
  if (!devEnum || devEnum->CreateClassEnumerator(category, &e, 0) != S_OK) return names;
  ComPtr<IMoniker> m;
  while (e->Next(1, &m, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    VARIANT v;
    VariantInit(&v);
    m->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag));
    if (bag && bag->Read(u"FriendlyName", &v, nullptr) == S_OK) names.push_back(orv::media::Narrow(v.bstrVal));
    VariantClear(&v);
  }
  return names;
}

IPin* OutputPin(IBaseFilter* f, const GUID& category) {
  auto* fb = orv::media::AsFilterBase(f);
  auto* p = fb ? fb->FindPin(PINDIR_OUTPUT, category) : nullptr;
  return p ? static_cast<IPin*>(p) : nullptr;
}

// Mean step between neighbouring luma samples of a YUYV frame: small for a test picture's bars,
// large for noise.
double Roughness(const std::vector<BYTE>& yuyv, int width, int height) {
  if (yuyv.size() < static_cast<std::size_t>(width) * height * 2 || width < 4) return -1;
  double sum = 0;
  long n = 0;
  for (int y = height / 4; y < height; y += 7)
    for (int x = 1; x < width; ++x, ++n)
      sum += std::abs(int(yuyv[(y * width + x) * 2]) - int(yuyv[(y * width + x - 1) * 2]));
  return sum / n;
}

// Runs the engine's graph with sinks on the capture pins for `ms` and stops it again.
void RunCaptureInto(CCaptureGraph& g, SampleSink* video, SampleSink* audio, int ms) {
  g.StopPreview();
  ComPtr<IBaseFilter> hv = static_cast<IBaseFilter*>(video);
  ComPtr<IBaseFilter> ha = audio ? static_cast<IBaseFilter*>(audio) : nullptr;
  ASSERT_EQ(S_OK, g.m_pGraph->AddFilter(hv, u"Video Sink"));
  ASSERT_EQ(S_OK, g.m_pGraph->ConnectDirect(OutputPin(g.m_pVideoCapture, PIN_CATEGORY_CAPTURE), video->Input(), nullptr));
  if (audio) {
    ASSERT_TRUE(g.m_pAudioCapture);
    ASSERT_EQ(S_OK, g.m_pGraph->AddFilter(ha, u"Audio Sink"));
    ASSERT_EQ(S_OK,
              g.m_pGraph->ConnectDirect(OutputPin(g.m_pAudioCapture, PIN_CATEGORY_CAPTURE), audio->Input(), nullptr));
  }
  ComPtr<IMediaControl> control;
  control.QueryFrom(g.m_pGraph);
  ASSERT_EQ(S_OK, control->Run());
  Pump();
  usleep(ms * 1000);
  control->Stop();
  g.m_pGraph->RemoveFilter(hv);
  if (ha) g.m_pGraph->RemoveFilter(ha);
}

}  // namespace

TEST(Card, RealCardIsListedFirstAndTheVirtualCardAfterIt) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0) << "vivid is not loaded";
  const auto video = DeviceNames(CLSID_VideoInputDeviceCategory);
  ASSERT_EQ(2u, video.size());
  EXPECT_EQ(v.card, video[0]);
  EXPECT_EQ("Orvane Virtual TV Card", video[1]);
  // vivid has no sound device of its own: its sound is the default capture device.
  const auto audio = DeviceNames(CLSID_AudioInputDeviceCategory);
  ASSERT_EQ(2u, audio.size());
  EXPECT_EQ(v.card + " (default sound input)", audio[0]);
  EXPECT_EQ("Orvane Virtual TV Card Audio", audio[1]);

  // ORVANE_DEVICES=virtual still lists only the virtual card.
  setenv("ORVANE_DEVICES", "virtual", 1);
  EXPECT_EQ(std::vector<std::string>{"Orvane Virtual TV Card"}, DeviceNames(CLSID_VideoInputDeviceCategory));
  setenv("ORVANE_DEVICES", "all", 1);
  // "VideoDevice"=1 picks the virtual card.
  HwEngine second("[orvane]\nVideoDevice=1\nAudioDevice=1\n");
  CCaptureGraph& g = second.Start();
  EXPECT_TRUE(second.boxes.calls.empty());
  EXPECT_NE(nullptr, orv::media::AsFilterBase(g.m_pVideoCapture));
  EXPECT_EQ("VideoCapture", orv::media::AsFilterBase(g.m_pVideoCapture)->Kind());
  orv::media::VirtualCardState s;
  ASSERT_TRUE(orv::media::GetVirtualCardState(0, &s));
  EXPECT_EQ(1, s.routes[0][0]);  // the virtual card got the tuner routing
}

TEST(Card, SourcesRouteToTunerSVideoAndWebcamWithTheirSound) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  EXPECT_TRUE(rig.boxes.calls.empty()) << rig.boxes.calls.front().text;
  EXPECT_EQ(3, g.m_nCrossbarInputs);
  EXPECT_EQ(1, v.Input()) << "the engine starts on the tuner";
  auto audioInput = [&] {
    v4l2_audio a{};
    return ioctl(v.fd, VIDIOC_G_AUDIO, &a) == 0 ? static_cast<int>(a.index) : -1;
  };
  EXPECT_EQ(0, audioInput());  // "TV"
  EXPECT_EQ(1, g.SelectSource(3));
  EXPECT_EQ(2, v.Input());  // S-Video 0
  EXPECT_EQ(1, audioInput());  // "Line-In"
  EXPECT_EQ(1, g.SelectSource(2));
  EXPECT_EQ(0, v.Input());  // Webcam 0: vivid has no composite input
  EXPECT_EQ(1, g.SelectSource(1));
  EXPECT_EQ(1, v.Input());
  EXPECT_EQ(0, audioInput());
  EXPECT_EQ(1, g.SelectSource(0));
  EXPECT_EQ(1, v.Input());
  EXPECT_TRUE(rig.boxes.calls.empty());
}

TEST(Card, TheStandardFollowsTheSelectedInput) {
  ORV_NEEDS_VM();
  Vivid v;
  ASSERT_GE(v.fd, 0);
  // A card left in PAL on its tuner and in NTSC on S-Video, where a PAL picture comes in. (vivid
  // picks the standard menu's item at the signal mode's index on every input change: PAL-BGH.)
  ASSERT_TRUE(v.SetInput(2));
  ASSERT_TRUE(v.SetStd(V4L2_STD_NTSC_M));
  ASSERT_TRUE(v.SetMenu("Standard", "PAL-BGH"));
  ASSERT_TRUE(v.SetMenu("Standard Signal Mode", "Selected Standard"));
  ASSERT_TRUE(v.SetInput(1));
  ASSERT_TRUE(v.SetStd(V4L2_STD_PAL_BG));
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  ASSERT_TRUE(g.m_bPreviewing);
  // The tuner gets the channel plans' standard.
  EXPECT_EQ(1, v.Input());
  EXPECT_EQ(V4L2_STD_NTSC_M, v.Std());
  // S-Video the one the card detects, while the preview runs.
  EXPECT_EQ(1, g.SelectSource(3));
  EXPECT_EQ(2, v.Input());
  EXPECT_EQ(V4L2_STD_PAL_BG | V4L2_STD_PAL_H, v.Std());
  // The webcam input has none.
  EXPECT_EQ(1, g.SelectSource(2));
  EXPECT_EQ(0, v.Input());
  EXPECT_EQ(0u, v.Std());
  EXPECT_EQ(1, g.SelectSource(0));
  EXPECT_EQ(V4L2_STD_NTSC_M, v.Std());
  EXPECT_TRUE(g.m_bPreviewing);
  EXPECT_TRUE(rig.boxes.calls.empty()) << rig.boxes.calls.front().text;
  // The picture goes on after every change.
  ComPtr<SampleSink> hold = new SampleSink;
  RunCaptureInto(g, hold.Get(), nullptr, 1000);
  std::lock_guard lock(hold->mutex);
  EXPECT_GT(hold->count, 3);
  EXPECT_EQ(480, hold->vih.bmiHeader.biHeight);
}

TEST(Card, ChannelThreeOnAntennaGivesAPictureAndEmptyChannelsGiveNoise) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  EXPECT_EQ(980u, v.Frequency());  // 61.25 MHz in 62.5 kHz units
  EXPECT_GT(v.Signal(), 0);

  ComPtr<SampleSink> hold = new SampleSink;
  SampleSink& sink = *hold;
  RunCaptureInto(g, &sink, nullptr, 2500);
  {
    std::lock_guard lock(sink.mutex);
    ASSERT_GT(sink.count, 3);
    EXPECT_EQ(640, sink.vih.bmiHeader.biWidth);
    EXPECT_EQ(480, sink.vih.bmiHeader.biHeight);
    EXPECT_EQ(MEDIASUBTYPE_YUY2.Data1, sink.vih.bmiHeader.biCompression);
    // The engine asks for 14.99 frames a second; vivid keeps NTSC's 29.97, so frames are thinned.
    EXPECT_EQ(667111, sink.vih.AvgTimePerFrame);
    const double span = static_cast<double>(sink.starts.back() - sink.starts.front()) / (sink.count - 1);
    EXPECT_NEAR(667111, span, 667111 * 0.35);
    const double bars = Roughness(sink.last, 640, 480);
    EXPECT_GE(bars, 0);
    EXPECT_LT(bars, 8) << "channel 3 should show vivid's test picture";
  }
  // Frames counted by the capture filter are the frames the sink got.
  ComPtr<IAMDroppedFrames> dropped;
  ASSERT_EQ(S_OK, g.m_pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, g.m_pVideoCapture, IID_PPV_ARGS(&dropped)));
  LONG notDropped = -1, lost = -1;
  dropped->GetNumNotDropped(&notDropped);
  dropped->GetNumDropped(&lost);
  EXPECT_EQ(sink.count, notDropped);
  EXPECT_GE(lost, 0);

  // Channel 5 (77.25 MHz) lies 4 MHz off vivid's grid: no signal, noise.
  ASSERT_EQ(1, g.TuneChannel(5));
  EXPECT_EQ(0, v.Signal());
  ComPtr<SampleSink> holdNoise = new SampleSink;
  SampleSink& noise = *holdNoise;
  RunCaptureInto(g, &noise, nullptr, 1200);
  std::lock_guard lock(noise.mutex);
  ASSERT_GT(noise.count, 0);
  EXPECT_GT(Roughness(noise.last, 640, 480), 20);
}

TEST(Card, BroadcastScanFindsExactlyTheChannelsThatLock) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  RecordingWnd page;
  orv::media::ClearJournal();
  auto tuned = [] {
    int n = 0;
    for (const std::string& c : orv::media::Journal()) n += c.rfind("Tuner.AutoTune(", 0) == 0;
    return n;
  };
  ASSERT_EQ(1, g.StartChannelScan(page, 0));
  ASSERT_TRUE(PumpUntil([&] { return tuned() == 68; }, 90000));
  PumpUntil([] { return false; }, 600);  // the last channel's settle time
  std::vector<LPARAM> found;
  for (const auto& m : page.Of(WM_TUNER_NOTIFY))
    if (m.wParam == 50) found.push_back(m.lParam);
  // vivid's carriers lie every 6 MHz from 49.25 MHz: broadcast 2-4 and 7-13 meet them.
  EXPECT_EQ((std::vector<LPARAM>{2, 3, 4, 7, 8, 9, 10, 11, 12, 13}), found);
  rig.engine.reset();
}

TEST(Card, PictureLevelsUseTheDriverRangesOfTheCurrentInput) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  // The level mapping on a 0-based range of width R = max - min + 1.
  auto written = [](int min, int max, int level, bool saturation) {
    const int r = max - min + 1;
    return min + (saturation ? (max - min) * level / 256 : r * level / 256);
  };
  struct Control {
    unsigned cid;
    int (CCaptureGraph::*set)(int);
    BYTE (CCaptureGraph::*get)();
    bool saturation;
  } controls[] = {{V4L2_CID_BRIGHTNESS, &CCaptureGraph::SetBrightness, &CCaptureGraph::GetBrightness, false},
                  {V4L2_CID_CONTRAST, &CCaptureGraph::SetContrast, &CCaptureGraph::GetContrast, false},
                  {V4L2_CID_HUE, &CCaptureGraph::SetHue, &CCaptureGraph::GetHue, false},
                  {V4L2_CID_SATURATION, &CCaptureGraph::SetSaturation, &CCaptureGraph::GetSaturation, true}};
  for (int source : {0, 3}) {
    g.SelectSource(source);
    for (const Control& c : controls) {
      int min, max;
      v.Range(c.cid, &min, &max);
      for (int level : {0, 1, 100, 127, 200, 255}) {
        SCOPED_TRACE("source " + std::to_string(source) + " control " + std::to_string(c.cid) + " level " +
                     std::to_string(level));
        EXPECT_EQ(1, (g.*c.set)(level));
        const int driver = v.Control(c.cid);
        EXPECT_EQ(written(min, max, level, c.saturation), driver);
        // Reading is the inverse of writing: the smallest level that writes this driver value.
        const int back = (g.*c.get)();
        EXPECT_EQ(driver, written(min, max, back, c.saturation));
        EXPECT_TRUE(back == 0 || written(min, max, back - 1, c.saturation) != driver) << back;
      }
    }
  }
  // The ranges seen: hue is signed, brightness moves with the input (128*N .. 255+128*N).
  int min, max;
  v.Range(V4L2_CID_HUE, &min, &max);
  EXPECT_EQ(-128, min);
  g.SelectSource(3);
  v.Range(V4L2_CID_BRIGHTNESS, &min, &max);
  EXPECT_EQ(256, min);
  g.SetBrightness(127);
  EXPECT_EQ(256 + 127, v.Control(V4L2_CID_BRIGHTNESS));
  EXPECT_EQ(127, g.GetBrightness());  // as written, also on a range 256 wide
  g.SelectSource(0);
  v.Range(V4L2_CID_BRIGHTNESS, &min, &max);
  EXPECT_EQ(128, min);
  EXPECT_TRUE(rig.boxes.calls.empty());
}

TEST(Card, TheCardsSoundIsCapturedAt48kHzStereo) {
  ORV_NEEDS_VM();
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  ASSERT_TRUE(g.m_pAudioCapture) << "no audio capture filter";
  EXPECT_TRUE(g.m_bCaptureAudio);
  ComPtr<SampleSink> holdVideo = new SampleSink, holdAudio = new SampleSink;
  SampleSink& audio = *holdAudio;
  RunCaptureInto(g, holdVideo.Get(), &audio, 1500);
  std::lock_guard lock(audio.mutex);
  EXPECT_EQ(48000u, audio.wfx.nSamplesPerSec);
  EXPECT_EQ(2, audio.wfx.nChannels);
  EXPECT_EQ(16, audio.wfx.wBitsPerSample);
  // About a second and a half of sound; snd-dummy gives silence but keeps time.
  EXPECT_GT(audio.bytes, 48000u * 4);
  EXPECT_LT(audio.bytes, 48000u * 4 * 2);
  // On the graph's clock from the device's status: the first buffer near the start, then a tenth
  // of a second apart.
  ASSERT_GE(audio.starts.size(), 3u);
  EXPECT_GT(audio.starts[0], -2000000);
  EXPECT_LT(audio.starts[0], 2000000);
  for (std::size_t i = 1; i < audio.starts.size(); ++i) EXPECT_NEAR(1000000, audio.starts[i] - audio.starts[i - 1], 300000) << i;
}

TEST(Card, SoundDataArrivesThroughTheLoopbackCard) {
  ORV_NEEDS_VM();
  CoInitialize(nullptr);
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:Loopback,1,0", "AudioCapture", &capture));
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph)));
  ComPtr<SampleSink> sink = new SampleSink;
  ComPtr<IBaseFilter> hold = static_cast<IBaseFilter*>(sink.Get());
  ASSERT_EQ(S_OK, graph->AddFilter(capture, nullptr));
  ASSERT_EQ(S_OK, graph->AddFilter(hold, nullptr));
  ASSERT_EQ(S_OK, graph->ConnectDirect(OutputPin(capture, PIN_CATEGORY_CAPTURE), sink->Input(), nullptr));
  FILE* player = popen("head -c 768000 /dev/urandom | aplay -q -D hw:Loopback,0,0 -t raw -f S16_LE -r 48000 -c 2", "w");
  ASSERT_TRUE(player);
  ComPtr<IMediaControl> control;
  control.QueryFrom(graph);
  usleep(300000);
  ASSERT_EQ(S_OK, control->Run());
  usleep(1000000);
  control->Stop();
  pclose(player);
  std::lock_guard lock(sink->mutex);
  ASSERT_GT(sink->bytes, 48000u * 2);
  int nonZero = 0;
  for (BYTE b : sink->last) nonZero += b != 0;
  EXPECT_GT(nonZero, static_cast<int>(sink->last.size() / 2)) << "the loopback carried silence";
  sink.Reset();
  hold.Reset();
  graph.Reset();
  capture.Reset();
  CoUninitialize();
}

// Another program records from the loopback card's capture device: the capture cannot start, says
// why with the status, and names the device; once the device is free again the capture starts.
TEST(Card, ABusySoundDeviceStopsTheCaptureAndIsNamed) {
  ORV_NEEDS_VM();
  orv::test::MessageBoxAnswerer boxes;
  CoInitialize(nullptr);
  FILE* holder = popen("timeout 3 arecord -q -D hw:Loopback,1,0 -t raw -f S16_LE -r 48000 -c 2 >/dev/null 2>&1", "w");
  ASSERT_TRUE(holder);
  usleep(500000);
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:Loopback,1,0", "AudioCapture", &capture));
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph)));
  ComPtr<SampleSink> sink = new SampleSink;
  ComPtr<IBaseFilter> hold = static_cast<IBaseFilter*>(sink.Get());
  ASSERT_EQ(S_OK, graph->AddFilter(capture, nullptr));
  ASSERT_EQ(S_OK, graph->AddFilter(hold, nullptr));
  ASSERT_EQ(S_OK, graph->ConnectDirect(OutputPin(capture, PIN_CATEGORY_CAPTURE), sink->Input(), nullptr));
  ComPtr<IMediaControl> control;
  control.QueryFrom(graph);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(static_cast<HRESULT>(0x80070010), control->Run());  // EBUSY
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos, log.find("plughw:Loopback,1,0 is busy")) << log;
  ASSERT_TRUE(PumpUntil([&] { return !boxes.calls.empty(); }));
  EXPECT_NE(std::string::npos, boxes.calls[0].text.find("plughw:Loopback,1,0")) << boxes.calls[0].text;
  pclose(holder);
  EXPECT_EQ(S_OK, control->Run());
  control->Stop();
  sink.Reset();
  hold.Reset();
  graph.Reset();
  capture.Reset();
  CoUninitialize();
}

// Runs last, on its own: vivid cannot be plugged back in without reloading the module.
TEST(Unplug, ACardThatDisappearsEndsPreviewAndCaptureWithAMessageAndThePlayableFile) {
  ORV_NEEDS_VM();
  if (!std::getenv("ORVANE_HW_UNPLUG")) GTEST_SKIP() << "unplugs vivid for good: run alone with ORVANE_HW_UNPLUG=1";
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  ASSERT_TRUE(g.m_bPreviewing);
  // A capture is running when the card goes.
  const std::string path = orv::test::ConfigDir() + "/unplugged.avi";
  ASSERT_EQ(1, g.StartFileCapture(path.c_str(), FALSE, 0));
  PumpUntil([] { return false; }, 2000);
  ASSERT_TRUE(v.Unplug());
  ASSERT_TRUE(PumpUntil([&] { return !rig.boxes.calls.empty(); }, 5000)) << "no message about the lost card";
  EXPECT_NE(std::string::npos, rig.boxes.calls.front().text.find(v.node));
  g.StopFileCapture();
  // What was recorded before the card went is a file an outside reader plays to the end.
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size()) << "ffprobe cannot read " << path;
  EXPECT_GT(orv::test::Number(video[0], "nb_read_packets"), 5);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  // The engine goes on without the card: nothing crashes, tuning and levels just fail.
  g.StopPreview();
  g.SelectSource(3);
  g.TuneChannel(4);
  g.SetBrightness(10);
  rig.engine.reset();
  // Gone from the list: the virtual card is device 0 again.
  EXPECT_EQ(std::vector<std::string>{"Orvane Virtual TV Card"}, DeviceNames(CLSID_VideoInputDeviceCategory));
}
