// Recording from vivid: a timed capture writes an AVI that an outside reader accepts, with the
// frame count the result box reports.
#include "tests/hw/hwrig.h"

using namespace orv::hw;

TEST(Capture, TimedCaptureFromTheCardIsAnAviWithTheReportedFrames) {
  ORV_NEEDS_VM();
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  const std::string path = orv::test::ConfigDir() + "/vivid.avi";
  ASSERT_EQ(1, g.StartFileCapture(path.c_str(), TRUE, 3));
  ASSERT_TRUE(orv::test::PumpUntil([&] { return g.IsCaptureTimeUp() == 1; }, 15000));
  ASSERT_EQ(1, g.StopFileCapture());
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
