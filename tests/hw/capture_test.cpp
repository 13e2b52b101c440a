// Recording from vivid: a timed capture writes an AVI that an outside reader accepts, with the
// frame count the result box reports.
#include "tests/hw/hwrig.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace orv::hw;

TEST(Capture, TimedCaptureFromTheCardIsAnAviWithTheReportedFrames) {
  ORV_NEEDS_VM();
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  const std::string path = orv::test::ConfigDir() + "/vivid.avi";
  ASSERT_TRUE(CaptureTimed(g, path, 3, 15000));
  g.ShowCaptureResult();
  ASSERT_FALSE(rig.boxes.calls.empty());
  EXPECT_EQ("동영상을 다음과 같이 캡처했습니다. \n캡처: " + std::to_string(g.m_nCaptured) + " 프레임, 놓침: " +
                std::to_string(g.m_nDropped) + " 프레임 ", rig.boxes.calls.back().text);

  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size()) << "ffprobe cannot read " << path;
  EXPECT_EQ(640, orv::test::Number(video[0], "width"));
  EXPECT_EQ("10000000/667111", video[0].value("avg_frame_rate", ""));
  EXPECT_GT(g.m_nCaptured, 20);  // about 45 frames in three seconds at 14.99 a second
  EXPECT_EQ(g.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

// A 40 s lossless capture while vivid's controls play a bad tape from the side: a fatal streaming
// error at 10 s, a fifth of the buffers dropped from 12 to 17 s, no lock from 20 to 25 s, one
// buffer flagged as bad at 30 s. The capture runs to its limit, the file decodes, picture and sound
// last 40 s, and each event is in the log with its time. (HW_VM_FILTER='Long.*' tests/hw/run-vm.sh)
TEST(Long, CaptureRidesThroughVividsFaults) {
  ORV_NEEDS_VM();
  if (!std::getenv("ORVANE_HW_LONG")) GTEST_SKIP() << "a minute under TCG: run with HW_VM_FILTER='Long.*'";
  HwEngine rig("[orvane]\nRecordFormat=lossless\nStopOnNoSignal=0\n");
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  Vivid side;
  const std::string path = orv::test::ConfigDir() + "/faults.mkv";
  testing::internal::CaptureStderr();
  ASSERT_EQ(1, g.StartFileCapture(path.c_str(), TRUE, 40));
  const std::pair<int, std::function<bool()>> steps[] = {
      {10, [&] { return side.Set("Inject Fatal Streaming Error"); }},
      {12, [&] { return side.SetValue("Percentage of Dropped Buffers", 20); }},
      {17, [&] { return side.SetValue("Percentage of Dropped Buffers", 0); }},
      {20, [&] { return side.Set("Standard Signal Mode", "No Lock"); }},
      {25, [&] { return side.Set("Standard Signal Mode", "Current Standard"); }},
      {30, [&] { return side.Set("Inject V4L2_BUF_FLAG_ERROR"); }},
  };
  QElapsedTimer clock;
  clock.start();
  for (const auto& [second, step] : steps) {
    orv::test::PumpUntil([&] { return clock.elapsed() >= second * 1000; }, 60000);
    EXPECT_TRUE(step()) << "vivid's control at " << second << " s";
  }
  ASSERT_TRUE(orv::test::PumpUntil([&] { return g.IsCaptureTimeUp() == 1; }, 60000));
  ASSERT_EQ(1, g.StopFileCapture());
  const std::string log = testing::internal::GetCapturedStderr();
  std::fputs(log.c_str(), stdout);  // the events, for the record
  const auto events = orv::test::LoggedEvents(log);
  for (auto [name, second] : {std::pair{"restart", 10}, {"signal_lost", 20}, {"signal_regained", 25}, {"flagged_buffer", 30}})
    EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.name == name && std::abs(e.seconds - second) < 1.5; }))
        << name << " near " << second << " s";
  const auto probe = orv::test::Probe(path);
  const double duration = std::stod(probe["format"].value("duration", "0"));
  EXPECT_NEAR(40.0, duration, 1001 / 30000.0 * 1.5);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}
