// The capture engine on vivid: source routing with the standard per input, tuning and scan, the
// sound card's; and an unplugged card.
#include "platform/media/devices/realcards.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/soundout.h"
#include "common/Commands.h"
#include "tests/hw/hwrig.h"

#include <alsa/asoundlib.h>
#include <atomic>
#include <cmath>
#include <thread>
#include <gmock/gmock.h>

using namespace orv::hw;
using orv::test::KeepSink;
using orv::test::PumpUntil;

namespace {

// Mean step between neighbouring luma samples of a 640x480 YUYV frame: small for a test picture's
// bars, large for noise.
double Roughness(const std::vector<BYTE>& yuyv) {
  if (yuyv.size() < 640u * 480 * 2) return -1;
  double sum = 0;
  long n = 0;
  for (int y = 120; y < 480; y += 7)
    for (int x = 1; x < 640; ++x, ++n) sum += std::abs(int(yuyv[(y * 640 + x) * 2]) - int(yuyv[(y * 640 + x - 1) * 2]));
  return sum / n;
}

// Runs the engine's graph with sinks on the capture pins for `ms` and stops it again.
ComPtr<KeepSink> RunCaptureInto(CCaptureGraph& g, int ms) {
  g.StopPreview();
  ComPtr<KeepSink> video = orv::test::AttachSink(g.m_pGraph, g.m_pVideoCapture, PIN_CATEGORY_CAPTURE);
  ComPtr<IMediaControl> control;
  control.QueryFrom(g.m_pGraph);
  EXPECT_EQ(S_OK, control->Run());
  orv::test::Pump();
  usleep(ms * 1000);
  control->Stop();
  g.m_pGraph->RemoveFilter(static_cast<IBaseFilter*>(video.Get()));
  return video;
}

}  // namespace

// The card left in PAL on its tuner and in NTSC on S-Video, where a PAL picture comes in (vivid
// picks the standard menu's item on every input change: PAL-BGH).
TEST(Card, SourcesRouteWithTheirSoundAndTheStandardFollowsTheInput) {
  ORV_NEEDS_VM();
  Vivid v;
  ASSERT_GE(v.fd, 0);
  ASSERT_TRUE(v.SetInput(2));
  ASSERT_TRUE(v.SetStd(V4L2_STD_NTSC_M));
  ASSERT_TRUE(v.Set("Standard", "PAL-BGH"));
  ASSERT_TRUE(v.Set("Standard Signal Mode", "Selected Standard"));
  ASSERT_TRUE(v.SetInput(1));
  ASSERT_TRUE(v.SetStd(V4L2_STD_PAL_BG));
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  ASSERT_TRUE(g.m_bPreviewing);
  EXPECT_EQ(3, g.m_nCrossbarInputs);
  const struct { int source, input, audio; v4l2_std_id std; } steps[] = {
      {0, 1, 0, V4L2_STD_NTSC_M},                  // the tuner: the channel plans' standard, sound "TV"
      {3, 2, 1, V4L2_STD_PAL_BG | V4L2_STD_PAL_H},  // S-Video: the one detected, sound "Line-In"
      {2, 0, -1, 0},                               // Webcam 0 (vivid has no composite): no standard
      {1, 1, 0, V4L2_STD_NTSC_M},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE("source " + std::to_string(s.source));
    EXPECT_EQ(1, s.source ? g.SelectSource(s.source) : 1);
    EXPECT_EQ(s.input, v.Input());
    EXPECT_EQ(s.std, v.Std());
    v4l2_audio audio{};
    EXPECT_EQ(s.audio, ioctl(v.fd, VIDIOC_G_AUDIO, &audio) == 0 ? static_cast<int>(audio.index) : -1);
  }
  EXPECT_TRUE(g.m_bPreviewing);
  EXPECT_TRUE(rig.boxes.calls.empty()) << rig.boxes.calls.front().text;
  // The picture goes on after every change.
  auto sink = RunCaptureInto(g, 1000);
  std::lock_guard lock(sink->mutex);
  EXPECT_GT(sink->data.size(), 3u);
  EXPECT_EQ(480, sink->vih.bmiHeader.biHeight);
}

TEST(Card, ChannelThreeOnAntennaGivesAPictureAndEmptyChannelsGiveNoise) {
  ORV_NEEDS_VM();
  HwEngine rig;
  Vivid v;
  ASSERT_GE(v.fd, 0);
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  EXPECT_EQ(980u, v.Get(VIDIOC_G_FREQUENCY, &v4l2_frequency::frequency));  // 61.25 MHz in 62.5 kHz units
  EXPECT_GT(v.Get(VIDIOC_G_TUNER, &v4l2_tuner::signal), 0);
  // The decoder as the engine asks it: lines for the recording's frame, lock for the end of a tape.
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(S_OK, decoder.QueryFrom(g.m_pVideoCapture));
  const auto locked = [&] {
    LONG answer = -1;
    EXPECT_EQ(S_OK, decoder->get_HorizontalLocked(&answer));
    return answer;
  };
  LONG lines = 0;
  EXPECT_EQ(S_OK, decoder->get_NumberOfLines(&lines));
  EXPECT_EQ((std::pair<LONG, LONG>(525, 1)), std::pair(lines, locked()));
  auto sink = RunCaptureInto(g, 2500);
  {
    std::lock_guard lock(sink->mutex);
    const auto n = static_cast<LONG>(sink->data.size());
    ASSERT_GT(n, 3);
    // The engine asks for 14.99 frames a second; vivid keeps NTSC's 29.97, so frames are thinned.
    EXPECT_NEAR(667111, static_cast<double>(sink->starts.back() - sink->starts.front()) / (n - 1), 667111 * 0.35);
    EXPECT_LT(Roughness(sink->data.back()), 8) << "channel 3 should show vivid's test picture";
    // Frames counted by the capture filter are the frames the sink got.
    ComPtr<IAMDroppedFrames> dropped;
    ASSERT_EQ(S_OK, dropped.QueryFrom(g.m_pVideoCapture));
    LONG notDropped = -1;
    dropped->GetNumNotDropped(&notDropped);
    EXPECT_EQ(n, notDropped);
  }
  // Channel 5 (77.25 MHz) lies 4 MHz off vivid's grid: no signal, noise.
  ASSERT_EQ(1, g.TuneChannel(5));
  EXPECT_EQ(0, v.Get(VIDIOC_G_TUNER, &v4l2_tuner::signal));
  EXPECT_EQ(0, locked());
  auto noise = RunCaptureInto(g, 1200);
  std::lock_guard lock(noise->mutex);
  ASSERT_FALSE(noise->data.empty());
  EXPECT_GT(Roughness(noise->data.back()), 20);
}

TEST(Card, BroadcastScanFindsExactlyTheChannelsThatLock) {
  ORV_NEEDS_VM();
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  orv::test::RecordingWnd page;
  orv::media::ClearJournal();
  ASSERT_EQ(1, g.StartChannelScan(page, 0));
  ASSERT_TRUE(PumpUntil([&] { return orv::test::Calls("Tuner.AutoTune(").size() == 68; }, 90000));
  PumpUntil([] { return false; }, 600);  // the last channel's settle time
  std::vector<LPARAM> found;
  for (const auto& m : page.Of(WM_TUNER_NOTIFY))
    if (m.wParam == 50) found.push_back(m.lParam);
  // vivid's carriers lie every 6 MHz from 49.25 MHz: broadcast 2-4 and 7-13 meet them.
  EXPECT_EQ((std::vector<LPARAM>{2, 3, 4, 7, 8, 9, 10, 11, 12, 13}), found);
  rig.engine.reset();
}

// Sound played into the loopback card reaches the program's capture from its other end (a busy
// device's message is checked on the ALSA seam).
TEST(Card, TheLoopbackCardCarriesWhatIsPlayed) {
  ORV_NEEDS_VM();
  orv::test::ComScope com;
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:Loopback,1,0", "AudioCapture", &capture));
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph)));
  ASSERT_EQ(S_OK, graph->AddFilter(capture, nullptr));
  auto sink = orv::test::AttachSink(graph, capture, PIN_CATEGORY_CAPTURE);
  ComPtr<IMediaControl> control;
  control.QueryFrom(graph);
  FILE* player = popen("head -c 768000 /dev/urandom | aplay -q -D hw:Loopback,0,0 -t raw -f S16_LE -r 48000 -c 2", "w");
  ASSERT_TRUE(player);
  usleep(300000);
  ASSERT_EQ(S_OK, control->Run());
  usleep(1000000);
  control->Stop();
  pclose(player);
  std::lock_guard lock(sink->mutex);
  ASSERT_FALSE(sink->data.empty());
  const auto& last = sink->data.back();
  EXPECT_GT(std::count_if(last.begin(), last.end(), [](BYTE b) { return b != 0; }), static_cast<long>(last.size() / 2))
      << "the loopback carried silence";
}

// Sound through on real ALSA devices: a beep played into one loopback reaches the program's capture,
// which plays it on a second loopback, where it is read back. The beep's time out less its time in
// (both from the devices' delays) is the latency a viewer hears.
TEST(Card, SoundThroughPlaysTheCardsSoundWithin100Milliseconds) {
  ORV_NEEDS_VM();
  constexpr unsigned kRate = 48000;
  constexpr snd_pcm_uframes_t kChunk = kRate / 100;
  auto open = [](const char* name, snd_pcm_stream_t dir) {
    snd_pcm_t* h = nullptr;
    EXPECT_EQ(0, snd_pcm_open(&h, name, dir, 0)) << name;
    if (h) EXPECT_EQ(0, snd_pcm_set_params(h, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, 2, kRate, 1, 40000));
    return h;
  };
  auto seconds = [] { return static_cast<double>(orv::media::MonotonicNow()) / 1e7; };

  // The card's input: silence until asked for a 50 ms square wave, dated when it leaves the device.
  snd_pcm_t* in = open("plughw:Loopback,0,0", SND_PCM_STREAM_PLAYBACK);
  ASSERT_TRUE(in);
  std::atomic<bool> stop{false}, beep{false};
  std::atomic<double> beepAt{0};
  std::thread near([&] {
    std::vector<std::int16_t> chunk(kChunk * 2);
    for (int left = 0; !stop;) {
      if (beep.exchange(false)) left = 5;
      for (std::size_t k = 0; k < chunk.size(); ++k) chunk[k] = left > 0 ? ((k / 40) % 2 ? 20000 : -20000) : 0;
      if (const snd_pcm_sframes_t n = snd_pcm_writei(in, chunk.data(), kChunk); n < 0) snd_pcm_recover(in, static_cast<int>(n), 1);
      if (left == 5) {
        snd_pcm_sframes_t queued = 0;
        snd_pcm_delay(in, &queued);
        beepAt = seconds() + static_cast<double>(queued - static_cast<snd_pcm_sframes_t>(kChunk)) / kRate;
      }
      if (left > 0) --left;
    }
  });

  // The tests' silent output gives way to libasound for this one.
  struct RealOutput {
    const orv::media::AlsaPlaybackCalls* silent = orv::media::SetAlsaPlaybackCallsForTests(nullptr);
    ~RealOutput() { orv::media::SetAlsaPlaybackCallsForTests(silent); }
  } real;
  orv::test::EmptyGraph rig;
  ComPtr<IBaseFilter> capture;
  ASSERT_EQ(S_OK, orv::media::CreateAlsaCaptureFilter("plughw:Loopback,1,0", "AudioCapture", &capture));
  ComPtr<IBaseFilter> renderer = orv::media::NewSoundRenderer();
  ComPtr<ISoundOutput> output;
  ASSERT_EQ(S_OK, output.QueryFrom(renderer));
  output->put_Device("plughw:Loopback,0,1");
  ASSERT_EQ(S_OK, rig.graph->AddFilter(capture, nullptr));
  ASSERT_EQ(S_OK, rig.graph->AddFilter(renderer, nullptr));
  ASSERT_EQ(S_OK, rig.builder->RenderStream(&PIN_CATEGORY_CAPTURE, capture, nullptr, renderer));
  ASSERT_EQ(S_OK, rig.control->Run());

  // The far end: the first loud sample, dated by what the device still holds. (A capture whose
  // reads are shorter than its start threshold must be started.)
  snd_pcm_t* out = open("plughw:Loopback,1,1", SND_PCM_STREAM_CAPTURE);
  ASSERT_TRUE(out);
  snd_pcm_start(out);
  double heardAt = 0;
  std::vector<std::int16_t> buffer(kChunk * 2);
  const double until = seconds() + 5;
  for (int read = 0; heardAt == 0 && seconds() < until; ++read) {
    const snd_pcm_sframes_t n = snd_pcm_readi(out, buffer.data(), kChunk);
    if (n < 0) {
      snd_pcm_recover(out, static_cast<int>(n), 1);
      if (snd_pcm_state(out) == SND_PCM_STATE_PREPARED) snd_pcm_start(out);
      continue;
    }
    if (read == 100) beep = true;  // a second in, when both ends have settled
    snd_pcm_sframes_t held = 0;
    snd_pcm_delay(out, &held);
    const double now = seconds();
    for (snd_pcm_sframes_t k = 0; k < n && beepAt > 0; ++k)
      if (std::abs(buffer[k * 2]) > 8000) {
        heardAt = now - static_cast<double>(held + n - k) / kRate;
        break;
      }
  }
  stop = true;
  near.join();
  rig.control->Stop();
  snd_pcm_close(in);
  snd_pcm_close(out);
  ASSERT_GT(heardAt, 0.0) << "the beep never came out";
  const double latency = heardAt - beepAt;
  std::printf("sound through: %.0f ms from the card's input to the output\n", latency * 1000);
  EXPECT_GT(latency, 0.0);
  EXPECT_LE(latency, 0.100);
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
  ASSERT_TRUE(v.Set("Disconnect"));  // vivid's button: an unplugged USB card from then on
  ASSERT_TRUE(PumpUntil([&] { return !rig.boxes.calls.empty(); }, 5000)) << "no message about the lost card";
  EXPECT_THAT(rig.boxes.calls.front().text, ::testing::HasSubstr(v.node));
  g.StopFileCapture();
  // What was recorded before the card went is a file an outside reader plays to the end.
  EXPECT_GT(orv::test::PicturesIn(path), 5);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  // The engine goes on without the card: nothing crashes, tuning and levels just fail.
  g.StopPreview();
  g.SelectSource(3);
  g.TuneChannel(4);
  g.SetBrightness(10);
  // Gone from the list: the virtual card is device 0 again.
  const CaptureDevices left = g.ListDevices();
  ASSERT_EQ(1u, left.video.size());
  EXPECT_EQ("Orvane Virtual TV Card", left.video[0].name);
  rig.engine.reset();
}
