// File capture on the virtual card: the AVI file as ffprobe and ffmpeg read it, the time limit,
// the result box, and captures that cannot start or cannot go on.
#include "bench/avsync.h"
#include "platform/media/avi/testing.h"
#include "tests/capture/enginerig.h"
#include "tests/media/avicheck.h"

#include <filesystem>
#include <gtest/gtest.h>

using orv::test::EngineRig;

namespace {

constexpr double kFrame = 667111 / 1e7;  // seconds per frame at 14.99 frames per second

std::string Clip(const char* name = "clip.avi") { return orv::test::ConfigDir() + "/" + name; }

// Ends a capture as the video window's timer does: at the first check that finds the time up.
bool WaitForTimeUp(CCaptureGraph& e, int ms) {
  return orv::test::PumpUntil([&] { return e.IsCaptureTimeUp() == 1; }, ms);
}

void Wait(int ms) { orv::test::PumpUntil([] { return false; }, ms); }

bool Has(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class FileCapture : public ::testing::Test {
 protected:
  void TearDown() override {
    orv::media::SetAviDiskLimitForTests(0);
    orv::media::SetAviWriteDelayForTests(0);
    orv::media::SetAviQueueLimitForTests(0);
  }
};

TEST_F(FileCapture, TimedCaptureWritesYuy2AndPcmThatMatchTheResult) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 3));
  EXPECT_TRUE(e.m_bCapturing);
  EXPECT_FALSE(e.m_bPreviewing);
  ASSERT_TRUE(WaitForTimeUp(e, 8000));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_TRUE(e.m_bPreviewing);  // the live picture is back
  e.ShowCaptureResult();
  ASSERT_FALSE(rig.boxes.calls.empty());
  const std::string result = rig.boxes.calls.back().text;

  const auto probe = orv::test::Probe(path);
  ASSERT_TRUE(probe.is_object()) << "ffprobe cannot read " << path;
  const auto video = orv::test::StreamsOf(probe, "video");
  const auto audio = orv::test::StreamsOf(probe, "audio");
  ASSERT_EQ(1u, video.size());
  ASSERT_EQ(1u, audio.size());
  EXPECT_EQ("rawvideo", video[0].value("codec_name", ""));
  EXPECT_EQ("YUY2", video[0].value("codec_tag_string", ""));
  EXPECT_EQ(640, orv::test::Number(video[0], "width"));
  EXPECT_EQ(480, orv::test::Number(video[0], "height"));
  EXPECT_EQ("10000000/667111", video[0].value("avg_frame_rate", ""));  // 14.99 frames per second
  EXPECT_EQ("pcm_s16le", audio[0].value("codec_name", ""));
  EXPECT_EQ(44100, orv::test::Number(audio[0], "sample_rate"));
  EXPECT_EQ(2, orv::test::Number(audio[0], "channels"));

  // Every frame the card delivered is in the file, and the box says how many. Frames the card
  // missed (a busy machine) are empty chunks: they count in the stream's length only.
  const long long frames = orv::test::Number(video[0], "nb_frames");
  EXPECT_GT(e.m_nCaptured, 30);
  EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  EXPECT_LE(frames, e.m_nCaptured + e.m_nDropped);
  char expected[200];
  std::snprintf(expected, sizeof expected, "동영상을 다음과 같이 캡처했습니다. \n캡처: %d 프레임, 놓침: %d 프레임 ",
                e.m_nCaptured, e.m_nDropped);
  EXPECT_EQ(expected, result);

  // As long as the limit, and picture and sound end together.
  const double videoSeconds = frames * kFrame;
  EXPECT_NEAR(3.0, videoSeconds, 2 * kFrame);
  const auto sound = orv::test::SoundSamples(path);
  EXPECT_NEAR(videoSeconds, sound.size() / 2 / 44100.0, 2 * kFrame);
  EXPECT_EQ("", orv::test::DecodeErrors(path));

  // Real pictures (the moving box changes them) and real sound (the card's hiss or tone).
  const auto sums = orv::test::PictureChecksums(path);
  EXPECT_EQ(static_cast<std::size_t>(e.m_nCaptured), sums.size());
  EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), sums.size() / 2);
  int peak = 0;
  for (std::int16_t s : sound) peak = std::max(peak, std::abs(static_cast<int>(s)));
  EXPECT_GT(peak, 300);
}

int CaptureTicks(const orv::test::RecordingWnd& w) {
  int n = 0;
  for (const auto& m : w.Of(WM_TIMER)) n += m.wParam == 1;
  return n;
}

TEST_F(FileCapture, UntimedCaptureRunsUntilStoppedWithoutTimer) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), FALSE, 1));
  Wait(1500);
  EXPECT_TRUE(e.m_bCapturing);
  EXPECT_EQ(0, CaptureTicks(rig.owner));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_EQ(0, e.StopFileCapture());  // nothing left to stop
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  EXPECT_NEAR(1.5, orv::test::Number(video[0], "nb_read_packets") * kFrame, 0.5);
  EXPECT_TRUE(rig.Texts().empty());

  // An untimed start over a running timed capture: the stop ends the limit's timer all the same.
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 60));
  ASSERT_EQ(1, e.StartFileCapture(Clip("b.avi").c_str(), FALSE, 0));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_FALSE(::KillTimer(rig.owner.m_hWnd, 1));
}

TEST_F(FileCapture, TimeLimitIsCheckedFromTheStartAndZeroIsUpAtOnce) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, 0));
  EXPECT_EQ(1, e.IsCaptureTimeUp());
  EXPECT_TRUE(orv::test::PumpUntil([&] { return CaptureTicks(rig.owner) > 0; }));  // the 33 ms timer runs
  ASSERT_EQ(1, e.StopFileCapture());
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));  // and is gone with the capture

  ASSERT_EQ(1, e.StartFileCapture(Clip("b.avi").c_str(), TRUE, 2));
  EXPECT_EQ(0, e.IsCaptureTimeUp());
  EXPECT_EQ(2000u, e.m_dwTimeLimit);
  e.m_dwCaptureStart = timeGetTime() - 1900;
  EXPECT_EQ(0, e.IsCaptureTimeUp());
  e.m_dwCaptureStart = timeGetTime() - 2000;
  EXPECT_EQ(1, e.IsCaptureTimeUp());
  e.StopFileCapture();

  // Limits beyond what 32 bits of milliseconds hold are the longest limit, not a wrapped short one.
  for (auto [seconds, limit] : {std::pair<UINT, DWORD>{4294967u, 4294967000u}, {4294968u, 0xFFFFFFFFu},
                                {0xFFFFFFFFu, 0xFFFFFFFFu}}) {
    ASSERT_EQ(1, e.StartFileCapture(Clip("c.avi").c_str(), TRUE, seconds));
    EXPECT_EQ(limit, e.m_dwTimeLimit) << seconds;
    EXPECT_EQ(0, e.IsCaptureTimeUp()) << seconds;
    e.StopFileCapture();
  }
}

TEST_F(FileCapture, EmptyFileNameIsRefusedAndThePictureComesBack) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  EXPECT_EQ(0, e.StartFileCapture("", TRUE, 5));
  EXPECT_EQ(std::vector<std::string>{"파일명 이 설정이 안되어있습니다."}, rig.Texts());
  EXPECT_FALSE(e.m_bCapturing);
  EXPECT_TRUE(e.m_bPreviewing);
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));  // no timer waits to end a capture that never ran
}

TEST_F(FileCapture, PathsThatCannotBeWrittenAreRefusedBeforeAnythingRuns) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string folder = orv::test::ConfigDir();
  for (const std::string& path : {folder + "/missing/clip.avi", folder}) {
    rig.boxes.calls.clear();
    EXPECT_EQ(0, e.StartFileCapture(path.c_str(), FALSE, 0)) << path;
    EXPECT_EQ(std::vector<std::string>{"캡처 파일을 설정 할 수없습니다."}, rig.Texts()) << path;
    EXPECT_TRUE(e.m_bPreviewing) << path;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
  // A name too long to keep is no name, rather than the name of some other file.
  const std::string tooLong = folder + "/" + std::string(300, 'a') + ".avi";
  rig.boxes.calls.clear();
  EXPECT_EQ(0, e.StartFileCapture(tooLong.c_str(), FALSE, 0));
  EXPECT_EQ(std::vector<std::string>{"파일명 이 설정이 안되어있습니다."}, rig.Texts());
}

TEST_F(FileCapture, GraphThatCannotStartShowsWhyAndLeavesNoTimer) {
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
  EXPECT_EQ(std::vector<std::string>{"에러 80004005: 그래프를 시작할 수 없습니다."}, rig.Texts());
  EXPECT_FALSE(e.m_bCapturing);
  EXPECT_TRUE(e.m_bPreviewing);
  rig.owner.log.clear();
  Wait(150);
  EXPECT_EQ(0, CaptureTicks(rig.owner));
}

TEST_F(FileCapture, ExistingFileIsReplacedAndItsNameGoesToTheSink) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  EXPECT_EQ(0, e.SetCaptureFileName(path.c_str()));
  { std::FILE* f = std::fopen(path.c_str(), "w"); std::fputs("old", f); std::fclose(f); }
  EXPECT_EQ(1, e.SetCaptureFileName(path.c_str()));
  EXPECT_STREQ(path.c_str(), e.m_szCaptureFile);
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), FALSE, 0));
  Wait(500);
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  EXPECT_EQ(1u, orv::test::StreamsOf(orv::test::Probe(path), "video").size());
}

// Without stream control the graph is paused, then run: the frames are still counted, and each
// capture counts only its own.
TEST_F(FileCapture, CaptureWithoutStreamControlStillCountsItsFrames) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  orv::media::InjectFault("ControlStream:Builder", E_FAIL);
  for (const char* name : {"a.avi", "b.avi"}) {
    const std::string path = Clip(name);
    ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 1));
    ASSERT_TRUE(WaitForTimeUp(e, 5000));
    ASSERT_EQ(1, e.StopFileCapture());
    const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
    ASSERT_EQ(1u, video.size()) << name;
    EXPECT_GT(e.m_nCaptured, 5) << name;
    EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets")) << name;
  }
  EXPECT_FALSE(orv::test::Calls("Graph.Pause").empty());
  EXPECT_TRUE(rig.Texts().empty());
}

TEST_F(FileCapture, CardWithoutSoundRecordsPictureOnlyAndSetsNoMasterStream) {
  EngineRig rig(R"({"audio": false})");
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  orv::media::ClearJournal();
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 1));
  ASSERT_TRUE(WaitForTimeUp(e, 5000));
  ASSERT_EQ(1, e.StopFileCapture());
  const auto probe = orv::test::Probe(path);
  EXPECT_EQ(1u, orv::test::StreamsOf(probe, "video").size());
  EXPECT_EQ(0u, orv::test::StreamsOf(probe, "audio").size());
  EXPECT_TRUE(orv::test::Calls("AviMux.SetMasterStream").empty());
  EXPECT_EQ(std::vector<std::string>{"AviMux.SetOutputCompatibilityIndex(1)"},
            orv::test::Calls("AviMux.SetOutputCompatibilityIndex"));
  EXPECT_TRUE(rig.Texts().empty());
}

TEST_F(FileCapture, CardWithoutPreviewPinRecordsWhileThePreviewRuns) {
  EngineRig rig(R"({"preview_pin": false})");
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  orv::media::ClearJournal();
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 1));
  EXPECT_TRUE(e.m_bNoPreviewPin);
  // The tee behind the capture pin takes the stream control: the capture pin itself is never held
  // back, so the preview behind the tee keeps running.
  EXPECT_TRUE(orv::test::Calls("VideoCapture.StartAt").empty());
  EXPECT_FALSE(orv::test::Calls("SmartTee.StartAt").empty());
  ASSERT_TRUE(WaitForTimeUp(e, 5000));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_TRUE(rig.Texts().empty());
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  EXPECT_GT(e.m_nCaptured, 10);
}

// The card's picture starts 150 ms after its sound, and its sound clock runs 2 % fast or slow: in
// the file every flash still has its beep within a frame, and the result box counts the pictures
// the file holds (those the writer left out to follow the sound's clock are dropped ones).
TEST_F(FileCapture, PictureAndSoundStayTogetherOnTheSoundsClock) {
  for (int ppm : {20000, -20000}) {
    EngineRig rig(R"({"sync_marks": true, "video_start_latency_ms": 150, "clock_speed": 5, "audio_clock_ppm": )" +
                  std::to_string(ppm) + R"(, "format": {"width": 160, "height": 120}})");
    CCaptureGraph& e = rig.Start();
    const std::string path = Clip();
    ASSERT_EQ(1, e.StartFileCapture(path.c_str(), FALSE, 0));
    Wait(3000);  // 15 s on the card's clock
    ASSERT_EQ(1, e.StopFileCapture());
    EXPECT_TRUE(rig.Texts().empty());

    const orv::avsync::Analysis sync = orv::avsync::Analyse(path);
    ASSERT_EQ("", sync.error);
    EXPECT_GE(sync.pairs.size(), 10u) << ppm << "\n" << orv::avsync::Report(sync);
    EXPECT_GE(sync.pairs.size() + 1, sync.flashes.size()) << ppm;
    EXPECT_LE(sync.MaxOffsetMs(), kFrame * 1000) << ppm << "\n" << orv::avsync::Report(sync);
    const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
    ASSERT_EQ(1u, video.size());
    EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets")) << ppm;
  }
}

TEST_F(FileCapture, ResultBoxGivesCapturedAndDroppedFrames) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  e.m_nCaptured = 300;
  e.m_nDropped = 2;
  e.ShowCaptureResult();
  ASSERT_EQ(1u, rig.boxes.calls.size());
  const auto& box = rig.boxes.calls[0];
  EXPECT_EQ("동영상을 다음과 같이 캡처했습니다. \n캡처: 300 프레임, 놓침: 2 프레임 ", box.text);
  EXPECT_EQ("동영상 캡처완료", box.caption);
  EXPECT_EQ(nullptr, box.owner);
  EXPECT_EQ(static_cast<UINT>(MB_OK), box.type);
}

TEST_F(FileCapture, DiskThatFillsUpEndsTheCaptureWithAPlayableFile) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  orv::media::SetAviDiskLimitForTests(40u << 20);
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 30));
  // The capture ends by itself long before its limit.
  ASSERT_TRUE(WaitForTimeUp(e, 15000));
  EXPECT_TRUE(e.CaptureHalted());
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_TRUE(Has(rig.Texts(), "디스크 공간이 부족하여 캡처를 멈췄습니다. 멈추기 전까지 캡처한 내용은 파일에 남아 있습니다."));
  EXPECT_TRUE(e.m_bPreviewing);
  EXPECT_LE(std::filesystem::file_size(path), 40u << 20);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  EXPECT_GT(orv::test::Number(video[0], "nb_read_packets"), 20);
  EXPECT_EQ(orv::test::Number(video[0], "nb_frames"), orv::test::Number(video[0], "nb_read_packets"));

  // The next capture, with room again, is a normal one.
  orv::media::SetAviDiskLimitForTests(0);
  rig.boxes.calls.clear();
  ASSERT_EQ(1, e.StartFileCapture(Clip("b.avi").c_str(), TRUE, 1));
  EXPECT_FALSE(e.CaptureHalted());
  ASSERT_TRUE(WaitForTimeUp(e, 5000));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_TRUE(rig.Texts().empty());
}

TEST_F(FileCapture, SlowDiskDropsFramesInsteadOfQueueingThem) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  orv::media::SetAviQueueLimitForTests(3u << 20);  // five frames
  orv::media::SetAviWriteDelayForTests(150000);     // a frame takes 0.15 s to write
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 2));
  ASSERT_TRUE(WaitForTimeUp(e, 6000));
  orv::media::SetAviWriteDelayForTests(0);
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_GT(e.m_nDropped, 5);
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  // Frames that were kept are in the file; the dropped ones are empty chunks that keep the time
  // (in the stream's length, not among the packets a reader gets).
  const auto sums = orv::test::PictureChecksums(path);
  EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  EXPECT_EQ(sums.size(), static_cast<std::size_t>(e.m_nCaptured));
  const long long timeline = orv::test::Number(video[0], "nb_frames");
  EXPECT_GT(timeline, e.m_nCaptured + e.m_nDropped / 2);
  EXPECT_LE(timeline, e.m_nCaptured + e.m_nDropped);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

}  // namespace
