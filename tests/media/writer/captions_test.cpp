// Line 21's captions: what the virtual card encodes comes back from libzvbi's decoder as the same
// text, the time codes and times of the files beside a recording, field 2 kept beside it, and
// teletext subtitle pages.
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/captions.h"
#include "platform/media/writer/teletext.h"

#include <bit>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

using namespace orv::media;

namespace {

// Runs pairs of field 1 through the decoder, one a frame at 29.97, with nulls on field 2; returns
// what the screen showed after each change, with the frame it changed on.
std::vector<std::pair<int, std::vector<cc::Row>>> Decode(const std::vector<cc::Pair>& pairs, int frames) {
  std::vector<std::pair<int, std::vector<cc::Row>>> shown;
  int frame = 0;
  cc::Decoder decoder([&](const std::vector<cc::Row>& rows, double) { shown.emplace_back(frame, rows); });
  for (; frame < frames; ++frame) {
    const cc::Pair p = frame < static_cast<int>(pairs.size()) ? pairs[static_cast<std::size_t>(frame)] : cc::Pair{cc::kNull, cc::kNull};
    const std::uint8_t data[6] = {cc::kField1, p[0], p[1], cc::kField2, cc::kNull, cc::kNull};
    decoder.Feed(data, sizeof data, frame * 1001 / 30000.0);
  }
  return shown;
}

TEST(Captions, PopOnCaptionsComeBackFromTheDecoderAsSent) {
  struct Case {
    const char* text;
    std::vector<cc::Row> rows;  // as shown: row, column, text
  } cases[] = {
      {"Hello world!", {{15, 8, "Hello world!"}}},
      {"Captions from the virtual card", {{15, 0, "Captions from the virtual card"}}},
      // Characters of the special set (two bytes each) and of the basic set that differ from ASCII.
      {"½ café ♪ Ñ", {{15, 8, "½ café ♪ Ñ"}}},
      // Wrapped at a space before the 32nd column; a forced break; what line 21 cannot show.
      {"The quick brown fox jumps over the lazy dog", {{14, 0, "The quick brown fox jumps over"}, {15, 8, "the lazy dog"}}},
      {"one\ntwo", {{14, 12, "one"}, {15, 12, "two"}}},
      {"日本 ok", {{15, 12, "?? ok"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto pairs = cc::PopOnCaption(c.text);
    for (const cc::Pair& p : pairs)
      for (std::uint8_t b : p) EXPECT_EQ(1, std::popcount(static_cast<unsigned>(b)) % 2) << int{b};
    const auto shown = Decode(pairs, 60);
    // Nothing shows until the first of the two last pairs (end of caption) swaps the caption in; the
    // repeat changes nothing.
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(c.rows, shown.back().second);
    EXPECT_EQ(static_cast<int>(pairs.size()) - 2, shown.back().first);
  }
}

// The pairs as an SCC file shows them: load, erase the hidden memory, row 15 indent 12, text, swap.
TEST(Captions, PairsOfAPopOnCaptionAreTheStandardCodes) {
  const auto pairs = cc::PopOnCaption("Hi");
  std::string hex;
  for (const cc::Pair& p : pairs) {
    char b[8];
    std::snprintf(b, sizeof b, "%s%02x%02x", hex.empty() ? "" : " ", p[0], p[1]);
    hex += b;
  }
  EXPECT_EQ("9420 9420 94ae 94ae 9476 9476 c8e9 942f 942f", hex);
}

TEST(Captions, TimeCodesAndSubRipTimes) {
  struct Case { std::int64_t frame; bool drop; int fps; const char* code; } codes[] = {
      {0, true, 30, "00:00:00;00"},     {29, true, 30, "00:00:00;29"},  {1799, true, 30, "00:00:59;29"},
      {1800, true, 30, "00:01:00;02"},  {3597, true, 30, "00:01:59;29"}, {17982, true, 30, "00:10:00;00"},
      {107892, true, 30, "01:00:00;00"}, {26, false, 25, "00:00:01:01"}, {90000, false, 25, "01:00:00:00"},
  };
  for (const Case& c : codes) EXPECT_EQ(c.code, cc::TimeCode(c.frame, c.drop, c.fps)) << c.frame;
  EXPECT_EQ("00:00:00,000", cc::SrtTime(-1));
  EXPECT_EQ("00:00:01,335", cc::SrtTime(1.3347));
  EXPECT_EQ("01:02:03,004", cc::SrtTime(3723.004));
}

}  // namespace

namespace {

// Field 2's extended data: the current programme's name (class 0x01, type 0x03), its end and the
// checksum that makes the packet's sum 0 in 7 bits; with parity, in pairs.
std::vector<cc::Pair> ProgrammeName(const std::string& name) {
  std::vector<std::uint8_t> bytes{0x01, 0x03};
  bytes.insert(bytes.end(), name.begin(), name.end());
  if (bytes.size() % 2) bytes.push_back(0);
  bytes.push_back(0x0F);
  unsigned sum = 0;
  for (std::uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<std::uint8_t>((128 - sum % 128) % 128));
  std::vector<cc::Pair> pairs;
  for (std::size_t i = 0; i < bytes.size(); i += 2) pairs.push_back({cc::WithParity(bytes[i]), cc::WithParity(bytes[i + 1])});
  return pairs;
}

}  // namespace

// Field 2 goes into a file of its own beside the recording, made only when it carries anything, and
// its XDS programme name is told once and again when it changes; a packet with a bad checksum names
// nothing.
TEST(Captions, FieldTwoIsKeptAndItsProgrammeNameTold) {
  const std::string dir = ::testing::TempDir();
  struct Case { const char* file; std::vector<std::string> names; bool damaged; std::vector<std::string> told; } cases[] = {
      {"none.mkv", {}, false, {}},
      // libzvbi takes a name once it came twice running.
      {"two.mkv", {"Evening News", "Evening News", "Evening News", "Late Film", "Late Film"}, false, {"Evening News@1", "Late Film@4"}},
      {"damaged.mkv", {"Evening News", "Evening News"}, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir + "/" + c.file;
    CaptionFiles::ClearFormer(path);
    std::vector<std::string> told;
    CaptionFiles files(path, 333667, nullptr, [&](const std::string& name, double seconds) {
      told.push_back(name + "@" + std::to_string(static_cast<int>(seconds)));
    });
    ASSERT_TRUE(files.Start());
    // Each name's packet from the start of its second, a pair a frame.
    std::vector<cc::Pair> field2(30 * std::max<std::size_t>(c.names.size(), 1), cc::Pair{cc::kNull, cc::kNull});
    for (std::size_t k = 0; k < c.names.size(); ++k) {
      auto pairs = ProgrammeName(c.names[k]);
      if (c.damaged) pairs.back()[1] ^= 0x81;  // the checksum off by one, its parity kept
      std::copy(pairs.begin(), pairs.end(), field2.begin() + static_cast<std::ptrdiff_t>(30 * k));
    }
    for (std::size_t f = 0; f < field2.size(); ++f) {
      const std::uint8_t data[6] = {cc::kField1, cc::kNull, cc::kNull, cc::kField2, field2[f][0], field2[f][1]};
      ASSERT_TRUE(files.Frame(static_cast<std::int64_t>(f), f * 1001 / 30000.0, data, sizeof data));
    }
    ASSERT_TRUE(files.Finish(field2.size() * 1001 / 30000.0));
    EXPECT_EQ(c.told, told);
    std::FILE* f = std::fopen(Field2SccOf(path).c_str(), "r");
    EXPECT_EQ(!c.names.empty(), f != nullptr);
    if (!f) continue;
    char text[64] = {};
    ASSERT_NE(nullptr, std::fgets(text, sizeof text, f));
    EXPECT_STREQ("Scenarist_SCC V1.0\n", text);
    ASSERT_NE(nullptr, std::fgets(text, sizeof text, f));
    ASSERT_NE(nullptr, std::fgets(text, sizeof text, f));
    // The packet's first pair at the first frame's time code: 0x01 and 0x03 with their parity.
    EXPECT_EQ(0, std::strncmp(text, "00:00:00;00\t0183 ", 17)) << text;
    std::fclose(f);
  }
}

// A teletext subtitle page as the virtual card sends it comes back from libzvbi's decoder as its
// text, for the page asked for or, with auto, the first page flagged as subtitles; other pages show
// nothing.
TEST(Captions, TeletextSubtitlePagesComeBackAsSent) {
  const struct { int sent, asked; std::string text, shown; } cases[] = {
      {888, 888, "Hello subtitles", "Hello subtitles"},
      {777, ttx::kAutoPage, "Two lines\nof subtitles", "Two lines\nof subtitles"},
      {801, ttx::kAutoPage, "Magazine eight", "Magazine eight"},
      {888, 777, "Not this page", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::string> shown;
    ttx::Decoder decoder(c.asked, [&](const std::vector<cc::Row>& rows, double) { shown.push_back(cc::TextOf(rows)); });
    std::vector<std::uint8_t> sample;
    unsigned line = 7;
    for (const auto& packet : ttx::SubtitlePage(c.sent, c.text)) ttx::AppendPacket(sample, line++, packet.data());
    // Line 21's readers pass the packets by: no triplet of theirs among them.
    for (std::size_t i = 0; i < sample.size(); i += 3) ASSERT_TRUE(sample[i] == ttx::kPacket || sample[i] == ttx::kData) << i;
    decoder.Feed(sample.data(), sample.size(), 0.0);
    EXPECT_EQ(c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown}, shown);
    EXPECT_EQ(c.shown.empty() && c.asked == ttx::kAutoPage ? 0 : c.asked == ttx::kAutoPage ? c.sent : c.asked, decoder.Page());
  }
}
