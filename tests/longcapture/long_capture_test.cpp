// A capture that grows past 1 GB: the file goes on in OpenDML RIFF chunks, keeps the legacy index
// in its first chunk, and ffprobe and ffmpeg still read all of it.
#include "tests/capture/enginerig.h"
#include "tests/media/avicheck.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

struct Chunk {
  std::string id, form;
  std::uint64_t at = 0, size = 0;
};

// The chunks between `from` and `to`; lists and RIFFs carry their form type.
std::vector<Chunk> Chunks(std::ifstream& f, std::uint64_t from, std::uint64_t to) {
  std::vector<Chunk> out;
  char head[12];
  for (std::uint64_t at = from; at + 8 <= to && f.seekg(static_cast<std::streamoff>(at)).read(head, 12);) {
    std::uint32_t size;  // little-endian, as this machine
    std::memcpy(&size, head + 4, 4);
    const std::string id(head, 4);
    out.push_back({id, id == "RIFF" || id == "LIST" ? std::string(head + 8, 4) : "", at, size});
    at += 8 + size + (size & 1);
  }
  return out;
}

TEST(LongCapture, PastOneGigabyteTheFileStaysWhole) {
  // Large frames reach 1 GB in about half a minute at 14.99 frames per second.
  orv::test::EngineRig rig(R"({"format": {"width": 1280, "height": 960}})");
  CCaptureGraph& e = rig.Start();
  const std::string path = orv::test::ConfigDir() + "/long.avi";
  constexpr std::uintmax_t kTarget = (1ull << 30) + (100ull << 20);
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), FALSE, 0));
  std::error_code ec;
  const bool grown = orv::test::PumpUntil([&] { return std::filesystem::file_size(path, ec) > kTarget; }, 5 * 60 * 1000);
  ASSERT_EQ(1, e.StopFileCapture());
  ASSERT_TRUE(grown) << "the file did not grow past 1 GB";
  EXPECT_TRUE(rig.Texts().empty());

  // Top level: the first RIFF AVI chunk, then AVIX chunks; the legacy index in the first.
  const std::uint64_t size = std::filesystem::file_size(path);
  std::ifstream f(path, std::ios::binary);
  const auto top = Chunks(f, 0, size);
  ASSERT_GE(top.size(), 2u);
  EXPECT_EQ("AVI ", top[0].form);
  for (std::size_t i = 1; i < top.size(); ++i) EXPECT_EQ("AVIX", top[i].form) << i;
  EXPECT_EQ(size, top.back().at + 8 + top.back().size);
  const auto first = Chunks(f, 12, top[0].at + 8 + top[0].size);
  EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](const Chunk& c) { return c.id == "idx1"; }));

  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  // Every frame counted captured is read back: frames the writer left out to follow the sound's
  // clock count as dropped.
  EXPECT_EQ(e.m_nCaptured, orv::test::Number(video[0], "nb_read_packets"));
  const double videoSeconds = orv::test::Number(video[0], "nb_frames") * 667111 / 1e7;
  const double audioSeconds = orv::test::SoundSamples(path).size() / 2 / 44100.0;
  EXPECT_GT(videoSeconds, 25.0);
  // Sync does not drift with length: whatever differs is the last moments before the stop (a
  // sound buffer is a tenth of a second; frames still queued on a busy disk may be refused).
  EXPECT_NEAR(videoSeconds, audioSeconds, 0.5);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  std::filesystem::remove(path);
}

}  // namespace
