// Real-card policy that needs no hardware: the crossbar layout from a card's inputs, driver ranges
// shown 0-based, frame-rate thinning, dropped frames from sequence numbers, device order and the
// card's own sound device found through sysfs.
#include "platform/media/v4l2card.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace orv::media;

namespace {
CardInput Camera(std::uint32_t i, const char* name, std::uint32_t audioset = 0) {
  return {i, name, false, true, audioset, 0};
}
CardInput Tuner(std::uint32_t i, const char* name, std::uint32_t audioset = 0) {
  return {i, name, true, false, audioset, 0};
}
}  // namespace

TEST(V4l2Layout, VividDefaultInputs) {
  // Webcam, TV, S-Video, HDMI with sound inputs "TV" and "Line-In".
  const CrossbarLayout l = MapCardInputs(
      {Camera(0, "Webcam 0"), Tuner(1, "TV 0", 3), Camera(2, "S-Video 0", 3), Camera(3, "HDMI 0")},
      {{0, "TV"}, {1, "Line-In"}});
  EXPECT_EQ(2, l.input[kXbarSVideo]);
  EXPECT_EQ(1, l.input[kXbarTuner]);
  EXPECT_EQ(0, l.input[kXbarComposite]);  // no composite: the first other camera input
  EXPECT_EQ(0, l.input[kXbarAudioTuner]);
  EXPECT_EQ(1, l.input[kXbarAudioLine]);
}

TEST(V4l2Layout, CaptureCardNamesAndMissingKinds) {
  // A typical PCI card: composite before S-Video, sound without names.
  CrossbarLayout l = MapCardInputs({Tuner(0, "Television", 1), Camera(1, "Composite1", 2), Camera(2, "S-Video", 2)},
                                   {{0, "Tuner"}, {1, "Input 2"}});
  EXPECT_EQ(2, l.input[kXbarSVideo]);
  EXPECT_EQ(0, l.input[kXbarTuner]);
  EXPECT_EQ(1, l.input[kXbarComposite]);
  EXPECT_EQ(0, l.input[kXbarAudioTuner]);
  EXPECT_EQ(1, l.input[kXbarAudioLine]);

  // A USB grabber: no tuner, no sound inputs; "SVIDEO" spelt in capitals.
  l = MapCardInputs({Camera(0, "COMPOSITE"), Camera(1, "SVIDEO")}, {});
  EXPECT_EQ(1, l.input[kXbarSVideo]);
  EXPECT_EQ(-1, l.input[kXbarTuner]);
  EXPECT_EQ(0, l.input[kXbarComposite]);
  EXPECT_EQ(-1, l.input[kXbarAudioTuner]);
  EXPECT_EQ(-1, l.input[kXbarAudioLine]);

  // vivid with TV, S-Video, S-Video: the second S-Video takes the composite place.
  l = MapCardInputs({Tuner(0, "TV 0"), Camera(1, "S-Video 0"), Camera(2, "S-Video 1")}, {});
  EXPECT_EQ(1, l.input[kXbarSVideo]);
  EXPECT_EQ(2, l.input[kXbarComposite]);

  // Sound inputs with no telling names: the tuner's own from its audio set, then the other one.
  l = MapCardInputs({Camera(0, "Camera"), Tuner(1, "Antenna", 2)}, {{0, "Audio 1"}, {1, "Audio 2"}});
  EXPECT_EQ(1, l.input[kXbarAudioTuner]);
  EXPECT_EQ(0, l.input[kXbarAudioLine]);
  EXPECT_EQ(-1, l.input[kXbarSVideo]);
  EXPECT_EQ(0, l.input[kXbarComposite]);
}

TEST(V4l2Controls, DriverRangesAreShownFromZero) {
  const DriverRange hue{-128, 128, 1, 0};
  EXPECT_EQ(-128, ToDriverValue(hue, 0));
  EXPECT_EQ(0, ToDriverValue(hue, 128));
  EXPECT_EQ(128, ToDriverValue(hue, 256));
  EXPECT_EQ(128, FromDriverValue(hue, 0));
  // vivid's brightness on input 1: 256..511.
  const DriverRange bright{256, 511, 1, 384};
  EXPECT_EQ(256, ToDriverValue(bright, 0));
  EXPECT_EQ(511, ToDriverValue(bright, 255));
  EXPECT_EQ(511, ToDriverValue(bright, 900));  // clamped, never outside the driver's range
  EXPECT_EQ(256, ToDriverValue(bright, -5));
  for (LONG v : {0L, 1L, 127L, 255L}) EXPECT_EQ(v, FromDriverValue(bright, ToDriverValue(bright, v)));
}

TEST(V4l2Streaming, FramesAreThinnedEvenlyToTheWantedRate) {
  FrameDecimator d;
  // 25 frames per second down to 14.99: 3 of every 5, never two gaps in a row.
  d.Reset(400000, 667111);
  int kept = 0, run = 0, longestGap = 0;
  for (int i = 0; i < 2500; ++i) {
    if (d.Keep()) {
      ++kept;
      run = 0;
    } else {
      longestGap = std::max(longestGap, ++run);
    }
  }
  EXPECT_NEAR(2500 * 400000.0 / 667111, kept, 1.0);
  EXPECT_EQ(1, longestGap);
  // The driver already at (about) the rate, or faster wanted than offered: every frame.
  d.Reset(666667, 667111);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(d.Keep());
  d.Reset(400000, 333667);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(d.Keep());
}

TEST(V4l2Streaming, SequenceGapsCountLostFrames) {
  SequenceGaps g;
  EXPECT_EQ(0u, g.Next(41));  // the first frame sets the start
  EXPECT_EQ(0u, g.Next(42));
  EXPECT_EQ(3u, g.Next(46));
  EXPECT_EQ(0u, g.Next(46));  // repeated
  EXPECT_EQ(0u, g.Next(2));   // the driver counted again from the start
  EXPECT_EQ(0u, g.Next(3));
  EXPECT_EQ(0u, g.Next(0xFFFFFFFFu));  // backwards: not a loss
  EXPECT_EQ(1u, g.Next(1));  // across the wrap, 0 is missing
  g.Reset();
  EXPECT_EQ(0u, g.Next(100));
}

TEST(V4l2Devices, OrderIsByBusThenNodeNumber) {
  std::vector<VideoNode> nodes = {{"/dev/video10", 10, "usb-0000:00:14.0-1", "USB"},
                                  {"/dev/video2", 2, "PCI:0000:01:05.0", "PCI second node"},
                                  {"/dev/video1", 1, "PCI:0000:01:05.0", "PCI first node"},
                                  {"/dev/video0", 0, "platform:vivid-000", "vivid"}};
  SortVideoNodes(&nodes);
  ASSERT_EQ(4u, nodes.size());
  EXPECT_EQ("/dev/video1", nodes[0].path);
  EXPECT_EQ("/dev/video2", nodes[1].path);
  EXPECT_EQ("/dev/video0", nodes[2].path);
  EXPECT_EQ("/dev/video10", nodes[3].path);
}

class SysfsTree : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/orv-sysfs-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    root = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  // A class entry whose "device" link points at a device directory.
  void Device(const std::string& classEntry, const std::string& device) {
    namespace fs = std::filesystem;
    fs::create_directories(root / "devices" / device);
    fs::create_directories(root / "class" / classEntry);
    fs::create_directory_symlink(root / "devices" / device, root / "class" / classEntry / "device");
  }
  std::filesystem::path root;
};

TEST_F(SysfsTree, SoundOfTheSameDeviceOrOfASiblingFunction) {
  Device("video4linux/video0", "pci0000:00/0000:00:1e.0/0000:01:05.0");   // saa7134: same function
  Device("sound/card1", "pci0000:00/0000:00:1e.0/0000:01:05.0");
  Device("video4linux/video1", "pci0000:00/0000:00:1e.0/0000:01:06.0");   // bttv: audio on function 1
  Device("sound/card0", "pci0000:00/0000:00:1e.0/0000:01:07.0");          // another card on the bridge
  Device("sound/card2", "pci0000:00/0000:00:1e.0/0000:01:06.1");
  Device("video4linux/video2", "platform/vivid.0");                       // no sound of its own
  Device("sound/card3", "platform/snd_dummy.0");
  Device("video4linux/video3", "usb1/1-1/1-1:1.0");                       // em28xx: another interface
  Device("sound/card4", "usb1/1-1/1-1:1.1");
  std::filesystem::create_directories(root / "class/sound/controlC0");
  EXPECT_EQ(1, SoundCardOfNode(root, "video0"));
  EXPECT_EQ(2, SoundCardOfNode(root, "video1"));
  EXPECT_EQ(-1, SoundCardOfNode(root, "video2"));
  EXPECT_EQ(4, SoundCardOfNode(root, "video3"));
  EXPECT_EQ(-1, SoundCardOfNode(root, "video9"));
  EXPECT_EQ(-1, SoundCardOfNode((root / "missing").string(), "video0"));
}
