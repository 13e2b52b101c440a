// Recording from vivid: a timed capture writes an AVI that an outside reader accepts, with the
// frame count the result box reports; a card that another program streams from gives the engine's
// message instead of a black picture or an empty file.
#include "tests/hw/hwrig.h"
#include "tests/media/avicheck.h"

#include <sys/mman.h>
#include <sys/wait.h>

using namespace orv::hw;

namespace {

// Another program streaming from the card: a child process that holds vivid's buffers and streams
// until it is let go.
class OtherStreamer {
 public:
  explicit OtherStreamer(const std::string& node) {
    int ready[2], hold[2];
    if (pipe(ready) < 0 || pipe(hold) < 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      // Only system calls from here on: the parent has threads.
      close(ready[0]);
      close(hold[1]);
      char ok = 0;
      const int fd = open(node.c_str(), O_RDWR);
      v4l2_requestbuffers req{};
      req.count = 2;
      req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      req.memory = V4L2_MEMORY_MMAP;
      if (fd >= 0 && ioctl(fd, VIDIOC_REQBUFS, &req) == 0) {
        ok = 1;
        for (std::uint32_t i = 0; i < req.count && ok; ++i) {
          v4l2_buffer b{};
          b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
          b.memory = V4L2_MEMORY_MMAP;
          b.index = i;
          ok = ioctl(fd, VIDIOC_QUERYBUF, &b) == 0 &&
               mmap(nullptr, b.length, PROT_READ, MAP_SHARED, fd, b.m.offset) != MAP_FAILED &&
               ioctl(fd, VIDIOC_QBUF, &b) == 0;
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        ok = ok && ioctl(fd, VIDIOC_STREAMON, &type) == 0;
      }
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      char c;
      while (read(hold[0], &c, 1) < 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    m_hold = hold[1];
    char ok = 0;
    m_streaming = m_pid > 0 && read(ready[0], &ok, 1) == 1 && ok == 1;
    close(ready[0]);
  }
  ~OtherStreamer() { Stop(); }
  bool Streaming() const { return m_streaming; }
  void Stop() {
    if (m_pid <= 0) return;
    close(m_hold);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

 private:
  pid_t m_pid = -1;
  int m_hold = -1;
  bool m_streaming = false;
};

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
  char expected[200];
  std::snprintf(expected, sizeof expected, "동영상을 다음과 같이 캡처했습니다. \n캡처: %d 프레임, 놓침: %d 프레임 ",
                g.m_nCaptured, g.m_nDropped);
  EXPECT_EQ(expected, rig.boxes.calls.back().text);

  const auto probe = orv::test::Probe(path);
  ASSERT_TRUE(probe.is_object()) << "ffprobe cannot read " << path;
  const auto video = orv::test::StreamsOf(probe, "video");
  ASSERT_EQ(1u, video.size());
  EXPECT_EQ(640, orv::test::Number(video[0], "width"));
  EXPECT_EQ(480, orv::test::Number(video[0], "height"));
  EXPECT_EQ("10000000/667111", video[0].value("avg_frame_rate", ""));
  EXPECT_GT(g.m_nCaptured, 20);  // about 45 frames in three seconds at 14.99 a second
  EXPECT_EQ(g.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  // The card's sound comes along when the card has a sound device.
  if (g.m_bCaptureAudio) EXPECT_EQ(1u, orv::test::StreamsOf(probe, "audio").size());
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

TEST(Capture, ACardAnotherProgramStreamsFromGivesTheEnginesMessageAndNoCapture) {
  ORV_NEEDS_VM();
  Vivid v;
  ASSERT_GE(v.fd, 0);
  OtherStreamer other(v.node);
  ASSERT_TRUE(other.Streaming()) << "the second program cannot stream from " << v.node;
  HwEngine rig;
  CCaptureGraph& g = rig.Start();
  // The preview cannot start, and says so with the driver's "busy".
  EXPECT_FALSE(g.m_bPreviewing);
  ASSERT_FALSE(rig.boxes.calls.empty());
  EXPECT_EQ("에러 80070010: 미리보기 그래프를 실행할 수 없음.", rig.boxes.calls.front().text);
  const std::string path = orv::test::ConfigDir() + "/busy.avi";
  rig.boxes.calls.clear();
  EXPECT_EQ(0, g.StartFileCapture(path.c_str(), TRUE, 2));
  ASSERT_FALSE(rig.boxes.calls.empty());
  EXPECT_EQ("에러 80070010: 그래프를 시작할 수 없습니다.", rig.boxes.calls.front().text);
  EXPECT_FALSE(g.m_bCapturing);
  g.StopFileCapture();

  // Once the other program has let go, the same engine records.
  other.Stop();
  rig.boxes.calls.clear();
  ASSERT_EQ(1, g.StartFileCapture(path.c_str(), TRUE, 2));
  ASSERT_TRUE(orv::test::PumpUntil([&] { return g.IsCaptureTimeUp() == 1; }, 15000));
  ASSERT_EQ(1, g.StopFileCapture());
  EXPECT_TRUE(rig.boxes.calls.empty()) << rig.boxes.calls.front().text;
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  EXPECT_GT(g.m_nCaptured, 10);
  EXPECT_EQ(g.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
}

}  // namespace
