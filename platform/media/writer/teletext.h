// Teletext (625 lines): the packets of 42 bytes a VBI sample carries beside line 21's and line 23's
// triplets, the subtitle page a recording keeps as text, and a subtitle page encoded for the
// virtual card. Pages are libzvbi's to decode.
#pragma once

#include "platform/media/writer/captions.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

typedef struct vbi_decoder vbi_decoder;
struct vbi_event;

namespace orv::media::ttx {

// In a VBI sample a packet is a header triplet (kPacket, then its line) and 21 triplets of data
// (kData, then two of its bytes): triplets still, so that line 21's readers pass them by.
constexpr std::uint8_t kPacket = 0xF2;
constexpr std::uint8_t kData = 0xF1;
constexpr std::size_t kPacketBytes = 42;
using Packet = std::array<std::uint8_t, kPacketBytes>;

void AppendPacket(std::vector<std::uint8_t>& sample, unsigned line, const std::uint8_t* packet);
// The packets of a sample, with their lines.
std::vector<std::pair<unsigned, Packet>> PacketsIn(const std::uint8_t* triplets, std::size_t size);

// Page numbers as people say them: 100..899 (magazine 8 is written 8).
constexpr int kFirstPage = 100, kLastPage = 899;
constexpr int kAutoPage = 0;  // the first page whose header flags it as subtitles
bool IsPage(int page);

// The packets of a subtitle page: its header (erase, subtitle flag), `text` in boxes on the bottom
// rows, one row a line (at most 3 of 36 characters; others become '?'), and a header that ends it.
std::vector<Packet> SubtitlePage(int page, const std::string& text);

// The chosen page as a television shows it: told of every change, rows as line 21's decoder gives
// them (row 1..23).
class Decoder {
 public:
  Decoder(int page, cc::Decoder::Changed changed);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  void Feed(const std::uint8_t* triplets, std::size_t size, double seconds);
  // The page decoded: the one asked for, or the first flagged as subtitles (0 until one comes).
  int Page() const { return m_page; }

 private:
  static void OnEvent(::vbi_event* event, void* self);
  vbi_decoder* m_vbi;
  int m_page;  // 100..899, 0 while auto has found none
  cc::Decoder::Changed m_changed;
  double m_now = 0;
  std::vector<cc::Row> m_shown;
};

}  // namespace orv::media::ttx
