// Line 21 from vivid's VBI device: with the tuner on an NTSC channel vivid sends "Hello world!" and
// "Closed captions test" on CC1 in turn. A 10 s lossless capture keeps them beside the file, read
// once from the driver's sliced VBI and once from its raw lines sliced by libzvbi.
#include "platform/media/devices/realcards.h"
#include "platform/media/devices/testing.h"
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/sidefiles.h"
#include "tests/hw/hwrig.h"

#include <cmath>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

using namespace orv::hw;

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The SRT's captions: start in seconds and text.
std::vector<std::pair<double, std::string>> Captions(const std::string& srt) {
  std::vector<std::pair<double, std::string>> out;
  const std::regex entry(R"((\d\d):(\d\d):(\d\d),(\d\d\d) --> [^\n]*\n([^\n]*)\n)");
  for (auto it = std::sregex_iterator(srt.begin(), srt.end(), entry); it != std::sregex_iterator(); ++it)
    out.emplace_back(std::stoi((*it)[1]) * 3600.0 + std::stoi((*it)[2]) * 60.0 + std::stoi((*it)[3]) + std::stoi((*it)[4]) / 1000.0,
                     (*it)[5].str());
  return out;
}

// The SCC's runs of pairs without their time codes, the first and last (cut by the capture) left out.
std::set<std::string> Runs(const std::string& scc) {
  std::vector<std::string> lines;
  std::istringstream in(scc);
  for (std::string line; std::getline(in, line);)
    if (const auto tab = line.find('\t'); tab != std::string::npos) lines.push_back(line.substr(tab + 1));
  return lines.size() > 2 ? std::set<std::string>(lines.begin() + 1, lines.end() - 1) : std::set<std::string>{};
}

}  // namespace

TEST(Captions, VividsLineTwentyOneSlicedAndRawGiveTheSameCaptionsOnTheFilesTimeline) {
  ORV_NEEDS_VM();
  std::set<std::string> runs[2];
  for (const bool raw : {false, true}) {
    SCOPED_TRACE(raw ? "raw lines sliced by libzvbi" : "sliced by the driver");
    orv::media::SetRawVbiForTests(raw);
    HwEngine rig("[orvane]\nRecordFormat=lossless\nRegion=US\nStandard=NTSC-M\n");
    CCaptureGraph& g = rig.Start();
    g.SelectSource(0);
    ASSERT_EQ(1, g.TuneChannel(3));
    const std::string path = orv::test::ConfigDir() + "/captions.mkv";
    ASSERT_TRUE(CaptureTimed(g, path, 10, 40000));

    const auto captions = Captions(ReadText(orv::media::SrtOf(path)));
    ASSERT_GE(captions.size(), 6u) << ReadText(orv::media::SrtOf(path));
    // vivid starts a caption each second: each appears (its end of caption) a whole number of
    // seconds after the last one of the same text, within a frame; the two texts take turns, but a
    // VM without KVM is slow enough for vivid to skip frames, and with them a caption now and then.
    int turns = 0;
    for (std::size_t k = 0; k < captions.size(); ++k) {
      EXPECT_TRUE(captions[k].second == "Hello world!" || captions[k].second == "Closed captions test") << captions[k].second;
      if (k > 0) turns += captions[k - 1].second != captions[k].second;
      for (std::size_t j = k; j-- > 0;) {
        if (captions[j].second != captions[k].second) continue;
        const double step = captions[k].first - captions[j].first;
        EXPECT_NEAR(std::round(step), step, 1001 / 30000.0) << k;
        break;
      }
    }
    EXPECT_GE(2 * turns, static_cast<int>(captions.size()));
    const std::string scc = ReadText(orv::media::SccOf(path));
    EXPECT_EQ(0u, scc.rfind("Scenarist_SCC V1.0\n", 0));
    runs[raw] = Runs(scc);
    EXPECT_EQ(1u, orv::test::StreamsOf(orv::test::Probe(path), "subtitle").size());
  }
  orv::media::SetRawVbiForTests(false);
  EXPECT_FALSE(runs[0].empty());
  EXPECT_EQ(runs[0], runs[1]);
}

// Line 23 from vivid on a PAL channel: at "16x9 Anamorphic" its wide-screen signal says the full
// frame is 16:9, and a lossless capture is shown so; at "16x9" (a letterbox in a 4:3 frame) it
// stays 4:3. The capture log tells the signal from the start, and the teletext page asked for is in
// the SRT. From the driver's sliced lines and from the raw lines sliced by libzvbi.
TEST(Captions, VividsWideScreenSignalGivesTheFileItsShape) {
  ORV_NEEDS_VM();
  const struct { const char* item; bool raw; const char* shown; } cases[] = {
      {"16x9 Anamorphic", false, "16:9"}, {"16x9 Anamorphic", true, "16:9"}, {"16x9", false, "4:3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.item) + (c.raw ? ", raw lines" : ", sliced"));
    orv::media::SetRawVbiForTests(c.raw);
    Vivid v;
    ASSERT_TRUE(v.Set("Standard Aspect Ratio", c.item));
    HwEngine rig("[orvane]\nRecordFormat=lossless\nRegion=EU\nStandard=PAL-BG\nTeletextPage=110\n");
    CCaptureGraph& g = rig.Start();
    g.SelectSource(0);
    ASSERT_EQ(1, g.TuneChannel(5));  // E5, 175.25 MHz: a channel vivid gives a picture on
    const std::string path = orv::test::ConfigDir() + "/wss.mkv";
    ASSERT_TRUE(CaptureTimed(g, path, 3, 30000));
    const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
    ASSERT_EQ(1u, video.size());
    EXPECT_EQ(c.shown, video[0].value("display_aspect_ratio", "")) << video[0].dump();
    // Each wss event as "aspect@t" (t in tenths of a second on the file's timeline): the first within
    // the first frames (a slow VM's vivid skips some).
    std::vector<std::string> told;
    std::istringstream log(ReadText(orv::media::CaptureLogOf(path)));
    for (std::string line; std::getline(log, line);)
      if (const auto j = nlohmann::json::parse(line, nullptr, false); j.is_object() && j.value("event", "") == "wss")
        told.push_back(j["aspect"].get<std::string>() + "@" + std::to_string(std::lround(j["t"].get<double>() * 10)));
    // From the start, and what it says at the end. vivid now and then sends a few frames of 4:3 as
    // the capture starts; its signal then comes back.
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(c.shown, told.front().substr(0, told.front().find('@'))) << ::testing::PrintToString(told);
    EXPECT_LE(std::stoi(told.front().substr(told.front().find('@') + 1)), 2) << ::testing::PrintToString(told);
    // vivid's teletext: page 100 + n in frame n of its VBI stream, rows "Page: 110 Row: 01" and on.
    EXPECT_NE(std::string::npos, ReadText(orv::media::SrtOf(path)).find("Page: 110 Row: 01")) << ReadText(orv::media::SrtOf(path));
    EXPECT_EQ(c.shown, told.back().substr(0, told.back().find('@'))) << ::testing::PrintToString(told);
  }
  orv::media::SetRawVbiForTests(false);
}

// A VBI device another program streams from costs the recording its captions only.
TEST(Captions, ABusyVbiDeviceLeavesTheRecordingWithoutCaptions) {
  ORV_NEEDS_VM();
  HwEngine rig("[orvane]\nRecordFormat=lossless\nRegion=US\nStandard=NTSC-M\n");
  CCaptureGraph& g = rig.Start();
  g.SelectSource(0);
  ASSERT_EQ(1, g.TuneChannel(3));
  const std::string vbi = orv::media::VbiNodeOf("/sys", "video0");
  ASSERT_FALSE(vbi.empty());
  const int other = ::open(vbi.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  v4l2_format f{};
  f.type = V4L2_BUF_TYPE_VBI_CAPTURE;
  ASSERT_EQ(0, ::ioctl(other, VIDIOC_G_FMT, &f));
  v4l2_requestbuffers req{};
  req.count = 2, req.type = V4L2_BUF_TYPE_VBI_CAPTURE, req.memory = V4L2_MEMORY_MMAP;
  ASSERT_EQ(0, ::ioctl(other, VIDIOC_REQBUFS, &req));
  const std::string path = orv::test::ConfigDir() + "/busy.mkv";
  ASSERT_TRUE(CaptureTimed(g, path, 2, 20000));
  ::close(other);
  EXPECT_GT(g.m_nCaptured, 20);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  EXPECT_EQ("", ReadText(orv::media::SrtOf(path)));
}
