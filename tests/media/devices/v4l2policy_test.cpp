// Real-card policy that needs no hardware.
#include "platform/media/devices/realcards.h"
#include "platform/media/devices/v4l2policy.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

using namespace orv::media;

namespace {
CardInput Camera(std::uint32_t i, const char* name, std::uint32_t audioset = 0) { return {i, name, false, true, audioset, 0}; }
CardInput Tuner(std::uint32_t i, const char* name, std::uint32_t audioset = 0) { return {i, name, true, false, audioset, 0}; }
}  // namespace

TEST(V4l2Layout, InputsTakeTheirPlacesByKindAndName) {
  // want: S-Video, tuner, composite, tuner's sound, line sound.
  struct Case { const char* what; std::vector<CardInput> video; std::vector<CardAudioInput> audio; std::vector<int> want; } cases[] = {
      {"vivid: no composite, the first other camera input takes its place",
       {Camera(0, "Webcam 0"), Tuner(1, "TV 0", 3), Camera(2, "S-Video 0", 3), Camera(3, "HDMI 0")},
       {{0, "TV"}, {1, "Line-In"}}, {2, 1, 0, 0, 1}},
      {"a PCI card, sound without names",
       {Tuner(0, "Television", 1), Camera(1, "Composite1", 2), Camera(2, "S-Video", 2)},
       {{0, "Tuner"}, {1, "Input 2"}}, {2, 0, 1, 0, 1}},
      {"a USB grabber: no tuner, no sound, capitals", {Camera(0, "COMPOSITE"), Camera(1, "SVIDEO")}, {}, {1, -1, 0, -1, -1}},
      {"two S-Video inputs: the second takes the composite place",
       {Tuner(0, "TV 0"), Camera(1, "S-Video 0"), Camera(2, "S-Video 1")}, {}, {1, 0, 2, -1, -1}},
      {"sound without telling names: the tuner's own from its audio set",
       {Camera(0, "Camera"), Tuner(1, "Antenna", 2)}, {{0, "Audio 1"}, {1, "Audio 2"}}, {-1, 1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CrossbarLayout l = MapCardInputs(c.video, c.audio);
    const auto& in = l.input;
    EXPECT_EQ(c.want, (std::vector<int>{in[kXbarSVideo], in[kXbarTuner], in[kXbarComposite], in[kXbarAudioTuner], in[kXbarAudioLine]}));
  }
}

TEST(V4l2Controls, DriverRangesAreShownFromZero) {
  // Hue -128..128 and vivid's brightness on input 1, 256..511; clamped to the driver's range.
  const DriverRange hue{-128, 128, 1, 0}, bright{256, 511, 1, 384};
  const std::tuple<DriverRange, LONG, LONG> to[] = {{hue, 0, -128}, {hue, 128, 0}, {hue, 256, 128}, {bright, 0, 256},
                                                    {bright, 255, 511}, {bright, 900, 511}, {bright, -5, 256}};
  for (const auto& [r, shown, driver] : to) EXPECT_EQ(driver, ToDriverValue(r, shown)) << shown;
  EXPECT_EQ(128, FromDriverValue(hue, 0));
  for (LONG v : {0L, 1L, 127L, 255L}) EXPECT_EQ(v, FromDriverValue(bright, ToDriverValue(bright, v)));
}

TEST(V4l2Streaming, FramesAreThinnedEvenlyAndLostOnesCountAtTheWantedRate) {
  // By count (the driver's period known) and by time (not known): 25 frames per second down to
  // 14.99 keeps 3 of every 5, never two gaps in a row, through a millisecond of jitter either way;
  // at 30 kept at 15, ten frames lost by the driver are five of the file's.
  for (const bool byCount : {true, false}) {
    SCOPED_TRACE(byCount ? "by count" : "by time");
    FrameDecimator d;
    d.Reset(byCount ? 400000 : 0, 667111);
    int kept = 0, run = 0, longestGap = 0;
    std::uint32_t missed = 0, total = 0;
    for (int i = 0; i < 2500; ++i) {
      if (d.Keep(i * 400000LL + (i % 3 - 1) * 10000, 0, &missed))
        ++kept, run = 0;
      else
        longestGap = std::max(longestGap, ++run);
      total += missed;
    }
    EXPECT_NEAR(2500 * 400000.0 / 667111, kept, 1.0);
    EXPECT_EQ(std::pair(1, 0u), std::pair(longestGap, total));
    d.Reset(byCount ? 333667 : 0, 667334);
    kept = 0, total = 0;
    for (int i = 0; i < 60; ++i)  // frames 40..49 never come
      if (i < 40 || i >= 50) kept += d.Keep(i * 333667LL, i == 50 ? 10 : 0, &missed), total += missed;
    EXPECT_EQ(std::pair(25, 5u), std::pair(kept, total));
  }
  // The driver already at (about) the rate, or faster wanted than offered: every frame.
  FrameDecimator d;
  std::uint32_t missed = 0;
  for (auto [source, wanted] : {std::pair{666667LL, 667111LL}, {400000LL, 333667LL}}) {
    d.Reset(source, wanted);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(d.Keep(i * source, 0, &missed));
  }
  d.Reset(333667, 0);  // nothing wanted: every frame, and every lost one counts
  EXPECT_TRUE(d.Keep(0, 3, &missed));
  EXPECT_EQ(3u, missed);
}

TEST(V4l2Tuning, ALockCountsOnceItHoldsAfterTheTunerSettled) {
  // Readings: ms after tuning, signal; verdicts after each: W wait, F found, N not found.
  struct Case { const char* what; std::vector<std::pair<int, int>> readings; std::string verdicts; } cases[] = {
      {"a steady lock", {{50, 1}, {75, 1}, {100, 1}, {125, 1}, {150, 1}}, "WWWWF"}, {"readings far apart", {{60, 1}, {170, 1}}, "WF"},
      {"the last channel's lock fading", {{0, 1}, {25, 1}, {50, 0}, {100, 0}, {150, 0}, {175, 0}}, "WWWWWN"},
      {"a signal that comes and goes", {{50, 1}, {75, 0}, {100, 1}, {125, 0}, {150, 1}, {175, 0}}, "WWWWWN"},
      {"a lock that comes too late to hold", {{50, 0}, {150, 0}, {175, 1}}, "WWN"}, {"held at the last moment", {{150, 1}, {200, 1}, {250, 1}}, "WWF"},
      {"a lock that breaks before it held", {{50, 1}, {125, 1}, {140, 0}, {160, 1}}, "WWWN"},
      {"a busy machine's first reading late", {{240, 1}, {300, 1}, {345, 1}}, "WWF"},
      {"late, and nothing there", {{240, 0}, {300, 0}, {345, 0}}, "WWN"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LockWatch w;
    std::string got;
    for (auto [ms, signal] : c.readings)
      got += "WFN"[static_cast<int>(w.Reading(ms * 10000LL, signal ? 65535 : 0))];
    EXPECT_EQ(c.verdicts, got);
  }
}

TEST(V4l2Streaming, SequenceGapsCountLostFrames) {
  // The first sets the start; a repeat, a restart or going backwards lose nothing; 0 is lost across the wrap.
  SequenceGaps g;
  const std::pair<std::uint32_t, std::uint32_t> seq[] = {{41, 0}, {42, 0}, {46, 3}, {46, 0}, {2, 0}, {3, 0}, {0xFFFFFFFFu, 0}, {1, 1}};
  for (auto [n, lost] : seq) EXPECT_EQ(lost, g.Next(n)) << n;
  g.Reset();
  EXPECT_EQ(0u, g.Next(100));
}

TEST(Sysfs, SoundAndVbiOfTheSameDeviceOrOfASiblingFunction) {
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/orv-sysfs-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const fs::path root = tmpl;
  // saa7134: the same function; bttv: sound on function 1 (card0 is another card on the bridge);
  // vivid: no sound of its own; em28xx: another interface.
  const std::string pci = "pci0000:00/0000:00:1e.0/0000:01:";
  const std::pair<const char*, std::string> links[] = {
      {"video4linux/video0", pci + "05.0"}, {"sound/card1", pci + "05.0"}, {"video4linux/video1", pci + "06.0"},
      {"sound/card0", pci + "07.0"}, {"sound/card2", pci + "06.1"}, {"video4linux/video2", "platform/vivid.0"},
      {"sound/card3", "platform/snd_dummy.0"}, {"video4linux/video3", "usb1/1-1/1-1:1.0"}, {"sound/card4", "usb1/1-1/1-1:1.1"},
      {"video4linux/vbi0", pci + "05.0"}, {"video4linux/vbi10", "platform/vivid.0"}, {"video4linux/vbi2", "platform/vivid.0"}};
  for (const auto& [entry, device] : links) {  // a class entry whose "device" link points at the device
    fs::create_directories(root / "devices" / device);
    fs::create_directories(root / "class" / entry);
    fs::create_directory_symlink(root / "devices" / device, root / "class" / entry / "device");
  }
  fs::create_directories(root / "class/sound/controlC0");
  for (auto [node, card] : {std::pair{"video0", 1}, {"video1", 2}, {"video2", -1}, {"video3", 4}, {"video9", -1}})
    EXPECT_EQ(card, SoundCardOfNode(root, node)) << node;
  EXPECT_EQ(-1, SoundCardOfNode((root / "missing").string(), "video0"));
  // The VBI node of the same device, the lowest numbered of them; none for a card without.
  for (auto [node, vbi] : {std::pair{"video0", "/dev/vbi0"}, {"video2", "/dev/vbi2"}, {"video1", ""}, {"video9", ""}})
    EXPECT_EQ(vbi, VbiNodeOf(root, node)) << node;
  fs::remove_all(root);
}

TEST(V4l2Formats, BitRateOfAFormatStaysInItsField) {
  // 640x480 YUY2 at 29.97 frames per second; a driver's period of one 100 ns unit says the largest.
  VIDEOINFOHEADER vih;
  const FrameFormat f{KindOf(V4L2_PIX_FMT_YUYV), 640, 480, 1280};
  for (auto [period, rate] : {std::pair{333667LL, 147308544u}, {1LL, 0xFFFFFFFFu}}) {
    MakeVideoType(f, period, &vih);
    EXPECT_EQ(rate, vih.dwBitRate) << period;
  }
}
