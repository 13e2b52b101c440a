// File capture on the virtual card: the AVI file as ffprobe and ffmpeg read it, the time limit,
// the result box, and captures that cannot start or cannot keep up.
#include "bench/avsync.h"
#include "platform/media/avi/testing.h"
#include "tests/capture/enginerig.h"
#include "tests/media/avicheck.h"

#include <filesystem>
#include <gtest/gtest.h>

using orv::test::EngineRig;
using orv::test::Number;
using Strings = std::vector<std::string>;

namespace {

constexpr double kFrame = 667111 / 1e7;  // seconds per frame at 14.99 frames per second

std::string Clip(const char* name = "clip.avi") { return orv::test::ConfigDir() + "/" + name; }

// Ends a capture as the video window's timer does: at the first check that finds the time up.
bool WaitForTimeUp(CCaptureGraph& e, int ms) {
  return orv::test::PumpUntil([&] { return e.IsCaptureTimeUp() == 1; }, ms);
}

void Wait(int ms) { orv::test::PumpUntil([] { return false; }, ms); }

// The file's one picture stream (an empty object when there is not exactly one).
nlohmann::json Video(const std::string& path) {
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  EXPECT_EQ(1u, video.size()) << path;
  return video.size() == 1 ? video[0] : nlohmann::json::object();
}

int CaptureTicks(const orv::test::RecordingWnd& w) {
  int n = 0;
  for (const auto& m : w.Of(WM_TIMER)) n += m.wParam == 1;
  return n;
}

TEST(FileCapture, TimedCaptureWritesYuy2AndPcmThatMatchTheResult) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 3));
  EXPECT_TRUE(e.m_bCapturing && !e.m_bPreviewing);
  ASSERT_TRUE(WaitForTimeUp(e, 8000));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_TRUE(e.m_bPreviewing);  // the live picture is back
  e.ShowCaptureResult();
  char expected[200];
  std::snprintf(expected, sizeof expected, "동영상을 다음과 같이 캡처했습니다. \n캡처: %d 프레임, 놓침: %d 프레임 ",
                e.m_nCaptured, e.m_nDropped);
  EXPECT_EQ(Strings{expected}, rig.Texts());
  EXPECT_EQ("동영상 캡처완료", rig.boxes.calls.back().caption);

  const auto video = Video(path);
  const auto audio = orv::test::StreamsOf(orv::test::Probe(path), "audio");
  ASSERT_EQ(1u, audio.size());
  EXPECT_EQ((Strings{"YUY2", "10000000/667111", "pcm_s16le"}),
            (Strings{video.value("codec_tag_string", ""), video.value("avg_frame_rate", ""),
                     audio[0].value("codec_name", "")}));
  EXPECT_EQ(640, Number(video, "width"));
  // Every frame the card delivered is in the file. Frames the card missed (a busy machine) are
  // empty chunks: they count in the stream's length only.
  const long long frames = Number(video, "nb_frames");
  EXPECT_GT(e.m_nCaptured, 30);
  EXPECT_EQ(e.m_nCaptured, Number(video, "nb_read_packets"));
  EXPECT_LE(frames, e.m_nCaptured + e.m_nDropped);
  // As long as the limit, and picture and sound end together.
  EXPECT_NEAR(3.0, frames * kFrame, 2 * kFrame);
  const auto sound = orv::test::SoundSamples(path);
  EXPECT_NEAR(frames * kFrame, sound.size() / 2 / 44100.0, 2 * kFrame);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  // Real pictures (the moving box changes them) and real sound (the card's hiss or tone).
  const auto sums = orv::test::PictureChecksums(path);
  EXPECT_EQ(static_cast<std::size_t>(e.m_nCaptured), sums.size());
  EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), sums.size() / 2);
  int peak = 0;
  for (std::int16_t s : sound) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GT(peak, 300);
}

TEST(FileCapture, UntimedCaptureRunsUntilStoppedAndNoStopLeavesTheLimitsTimer) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), FALSE, 1));
  Wait(1500);
  EXPECT_TRUE(e.m_bCapturing);
  EXPECT_EQ(0, CaptureTicks(rig.owner));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_EQ(0, e.StopFileCapture());  // nothing left to stop
  EXPECT_NEAR(1.5, Number(Video(Clip()), "nb_read_packets") * kFrame, 0.5);
  EXPECT_TRUE(rig.Texts().empty());
  // An untimed start over a running timed capture: the stop ends the limit's timer all the same.
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, 60));
  ASSERT_EQ(1, e.StartFileCapture(Clip("b.avi").c_str(), FALSE, 0));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_FALSE(::KillTimer(rig.owner.m_hWnd, 1));
}

TEST(FileCapture, TimeLimitCountsFromTheStartAndLongLimitsClamp) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, 0));
  EXPECT_EQ(1, e.IsCaptureTimeUp());
  EXPECT_TRUE(orv::test::PumpUntil([&] { return CaptureTicks(rig.owner) > 0; }));  // the 33 ms timer runs
  ASSERT_EQ(1, e.StopFileCapture());
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));  // and is gone with the capture

  // Limits beyond what 32 bits of milliseconds hold are the longest limit, not a wrapped short one.
  for (auto [seconds, limit] : {std::pair<UINT, DWORD>{2u, 2000u}, {4294967u, 4294967000u}, {4294968u, 0xFFFFFFFFu},
                                {0xFFFFFFFFu, 0xFFFFFFFFu}}) {
    ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, seconds));
    EXPECT_EQ(limit, e.m_dwTimeLimit) << seconds;
    EXPECT_EQ(0, e.IsCaptureTimeUp()) << seconds;
    e.StopFileCapture();
  }
}

TEST(FileCapture, NamesThatCannotBeWrittenAreRefusedAndThePictureComesBack) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string folder = orv::test::ConfigDir();
  // A name too long to keep is no name, rather than the name of some other file.
  for (const auto& [path, message] : {std::pair<std::string, std::string>{"", "파일명 이 설정이 안되어있습니다."},
                                      {folder + "/" + std::string(300, 'a') + ".avi", "파일명 이 설정이 안되어있습니다."},
                                      {folder + "/missing/clip.avi", "캡처 파일을 설정 할 수없습니다."},
                                      {folder, "캡처 파일을 설정 할 수없습니다."}}) {
    rig.boxes.calls.clear();
    EXPECT_EQ(0, e.StartFileCapture(path.c_str(), TRUE, 5)) << path;
    EXPECT_EQ(Strings{message}, rig.Texts()) << path;
    EXPECT_TRUE(!e.m_bCapturing && e.m_bPreviewing) << path;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));  // no timer waits to end a capture that never ran
}

TEST(FileCapture, GraphThatCannotStartShowsWhyAndArmsNoTimer) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  orv::media::InjectFault("Run:Graph", E_FAIL, 0, 1);
  // The box stays up a while, as a user reads it: no capture tick may come meanwhile.
  int ticksDuringBox = -1;
  orv::ui::SetMessageBoxHook([&](const orv::ui::MessageBoxCall& c) {
    rig.boxes.calls.push_back(c);
    Wait(150);
    ticksDuringBox = CaptureTicks(rig.owner);
    return IDOK;
  });
  EXPECT_EQ(0, e.StartFileCapture(Clip().c_str(), TRUE, 5));
  EXPECT_EQ(0, ticksDuringBox);
  EXPECT_EQ(Strings{"에러 80004005: 그래프를 시작할 수 없습니다."}, rig.Texts());
  EXPECT_TRUE(!e.m_bCapturing && e.m_bPreviewing);
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));
}

// Each card shape records twice; each capture counts only its own frames, and every frame counted
// is in the file. The sync-mark cards start the picture 150 ms after the sound, whose clock runs
// 2 % fast or slow: every flash still has its beep within a frame.
TEST(FileCapture, CardShapesRecordWhatTheyCountAndKeepPictureAndSoundTogether) {
  const struct {
    const char* card;
    const char* fault;
    std::vector<std::pair<const char*, bool>> made;  // calls that must (or must not) be made
    int seconds;
    bool sound = true;
  } cases[] = {
      {"", "", {{"AviMux.SetMasterStream(1)", true}}, 1},
      // Without stream control the graph is paused, then run.
      {"", "ControlStream:Builder", {{"Graph.Pause", true}}, 1},
      {R"({"audio": false})", "", {{"AviMux.SetMasterStream", false}, {"AviMux.SetOutputCompatibilityIndex(1)", true}}, 1, false},
      // The tee behind the capture pin takes the stream control, so the preview behind it runs on.
      {R"({"preview_pin": false})", "", {{"VideoCapture.StartAt", false}, {"SmartTee.StartAt", true}}, 1},
      {R"({"sync_marks": true, "video_start_latency_ms": 150, "clock_speed": 5, "audio_clock_ppm": 20000,
           "format": {"width": 160, "height": 120}})", "", {}, 3},
      {R"({"sync_marks": true, "video_start_latency_ms": 150, "clock_speed": 5, "audio_clock_ppm": -20000,
           "format": {"width": 160, "height": 120}})", "", {}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.card) + c.fault);
    EngineRig rig(c.card);
    CCaptureGraph& e = rig.Start();
    if (*c.fault) orv::media::InjectFault(c.fault, E_FAIL);
    orv::media::ClearJournal();
    for (const char* name : {"a.avi", "b.avi"}) {
      const std::string path = Clip(name);
      ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, c.seconds));
      ASSERT_TRUE(WaitForTimeUp(e, 5000 * c.seconds));
      ASSERT_EQ(1, e.StopFileCapture());
      EXPECT_GT(e.m_nCaptured, 5 * c.seconds) << name;
      EXPECT_EQ(e.m_nCaptured, Number(Video(path), "nb_read_packets")) << name;
      EXPECT_EQ(c.sound ? 1u : 0u, orv::test::StreamsOf(orv::test::Probe(path), "audio").size()) << name;
      if (c.seconds == 1) continue;
      const orv::avsync::Analysis sync = orv::avsync::Analyse(path);
      ASSERT_EQ("", sync.error);
      EXPECT_GE(sync.pairs.size(), 10u) << orv::avsync::Report(sync);
      EXPECT_GE(sync.pairs.size() + 1, sync.flashes.size());
      EXPECT_LE(sync.MaxOffsetMs(), kFrame * 1000) << orv::avsync::Report(sync);
    }
    for (const auto& [call, made] : c.made) EXPECT_EQ(made, !orv::test::Calls(call).empty()) << call;
    EXPECT_TRUE(rig.Texts().empty());
  }
}

TEST(FileCapture, SlowDiskDropsFramesInsteadOfQueueingThem) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  orv::media::SetAviQueueLimitForTests(3u << 20);  // five frames
  orv::media::SetAviWriteDelayForTests(150000);     // a frame takes 0.15 s to write
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 2));
  ASSERT_TRUE(WaitForTimeUp(e, 6000));
  orv::media::SetAviWriteDelayForTests(0);
  ASSERT_EQ(1, e.StopFileCapture());
  orv::media::SetAviQueueLimitForTests(0);
  EXPECT_GT(e.m_nDropped, 5);
  // Frames that were kept are in the file; the dropped ones are empty chunks that keep the time
  // (in the stream's length, not among the packets a reader gets).
  const auto video = Video(path);
  EXPECT_EQ(e.m_nCaptured, Number(video, "nb_read_packets"));
  EXPECT_EQ(orv::test::PictureChecksums(path).size(), static_cast<std::size_t>(e.m_nCaptured));
  EXPECT_GT(Number(video, "nb_frames"), e.m_nCaptured + e.m_nDropped / 2);
  EXPECT_LE(Number(video, "nb_frames"), e.m_nCaptured + e.m_nDropped);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

}  // namespace
