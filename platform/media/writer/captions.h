// Line 21 captions (CEA-608) as a capture carries them: byte pairs with odd parity, one pair per
// field and frame, here in ATSC A/53's cc_data triplets (a marker byte, then the pair). Encoding a
// pop-on caption (for the virtual card), SMPTE time codes, and the decoding of channel 1 (CC1) into
// what a television shows, through libzvbi's caption decoder.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct vbi_decoder vbi_decoder;
struct vbi_event;
struct vbi_page;

namespace orv::media::cc {

// cc_data's first byte for a pair of field 1 (CC1, CC2) and of field 2 (CC3, CC4, XDS).
constexpr std::uint8_t kField1 = 0xFC;
constexpr std::uint8_t kField2 = 0xFD;
// A pair that says nothing (two nulls with their parity): what a field carries between captions.
constexpr std::uint8_t kNull = 0x80;
// A row holds 32 characters; a pop-on caption here takes at most 4 rows, at the bottom.
constexpr std::size_t kColumns = 32;
constexpr std::size_t kMaxRows = 4;

using Pair = std::array<std::uint8_t, 2>;

// The byte with odd parity in its top bit, as line 21 sends it.
std::uint8_t WithParity(std::uint8_t c);

// The pairs that put `text` (UTF-8; '\n' or wrapping at 32 columns start a row) on the screen as a
// pop-on caption of CC1: load it into the hidden memory, then swap it in with the last pair. Control
// pairs are sent twice, as broadcasters do. A character line 21 cannot show becomes '?'.
std::vector<Pair> PopOnCaption(const std::string& text);

// Frame `frame` of a picture stream as a SMPTE time code: drop-frame ("HH:MM:SS;FF") at 29.97
// frames a second, else "HH:MM:SS:FF" at `fps` whole frames a second.
std::string TimeCode(std::int64_t frame, bool dropFrame, int fps);

// Appends a character as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// "HH:MM:SS,mmm", as SubRip writes a time.
std::string SrtTime(double seconds);

// A row of the caption on the screen: its place (row 1..15, column 0..31) and its text, UTF-8.
struct Row {
  int row = 0;
  int column = 0;
  std::string text;
  bool operator==(const Row&) const = default;
};
// The caption's text: its rows top to bottom, joined by '\n'.
std::string TextOf(const std::vector<Row>& rows);
// The rows of a libzvbi page, from row `from` on, that hold text: each at its page row and first
// cell, the blank cells at either end left out and those between made spaces.
std::vector<Row> TextRows(const vbi_page& page, int from, bool (*blank)(unsigned unicode));

// What channel 1 shows, as a television's decoder does it: pop-on, roll-up and paint-on captions
// are libzvbi's to decode. Told of every change of the screen, and of the current programme's name
// that field 2's extended data services (XDS) send, each time it changes.
class Decoder {
 public:
  using Changed = std::function<void(const std::vector<Row>& rows, double seconds)>;
  using Programme = std::function<void(const std::string& name, double seconds)>;
  explicit Decoder(Changed changed, Programme programme = nullptr);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // One frame's cc_data triplets, received at `seconds`.
  void Feed(const std::uint8_t* triplets, std::size_t size, double seconds);

 private:
  static void OnEvent(::vbi_event* event, void* self);
  static void OnProgramme(::vbi_event* event, void* self);
  vbi_decoder* m_vbi;
  Changed m_changed;
  Programme m_programme;
  std::string m_programmeName;
  double m_now = 0;
  std::vector<Row> m_shown;
};

}  // namespace orv::media::cc
