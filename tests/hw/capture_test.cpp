// Recording from vivid: a timed capture writes an AVI that an outside reader accepts, with the
// frame count the result box reports; pictures keep their times whatever the card's stamps mark.
#include "tests/hw/hwrig.h"

#include <cmath>

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

// vivid stamps the end of each picture, or its start as its "Timestamp Source" says: switched back
// and forth during a capture, the pictures stay whole frames apart on one timeline.
TEST(Capture, PictureTimesHoldWhenTheCardsStampsMarkTheStartInsteadOfTheEnd) {
  ORV_NEEDS_VM();
  Vivid v;
  ASSERT_GE(v.fd, 0);
  ASSERT_TRUE(v.Set("Timestamp Source", "End of Frame"));
  HwEngine devices;
  orv::test::GraphRig rig;
  ASSERT_TRUE(rig.capture);
  constexpr REFERENCE_TIME kFrame = 333667;  // the tuner's NTSC, every frame kept
  orv::test::SetRate(rig.config, kFrame);
  ComPtr<orv::test::KeepSink> sink = orv::test::AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  for (const char* source : {"Start of Exposure", "End of Frame"}) {
    usleep(700000);
    EXPECT_TRUE(v.Set("Timestamp Source", source)) << source;
  }
  usleep(700000);
  rig.control->Stop();
  std::lock_guard lock(sink->mutex);
  ASSERT_GT(sink->starts.size(), 30u);
  for (std::size_t i = 1; i < sink->starts.size(); ++i) {
    const REFERENCE_TIME step = sink->starts[i] - sink->starts[i - 1];
    const long frames = std::lround(static_cast<double>(step) / kFrame);
    EXPECT_GE(frames, 1) << "picture " << i;
    EXPECT_NEAR(static_cast<double>(frames * kFrame), static_cast<double>(step), 20000) << "picture " << i;  // 2 ms
  }
}
