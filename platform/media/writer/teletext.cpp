#include "platform/media/writer/teletext.h"

#include <algorithm>
#include <libzvbi.h>

namespace orv::media::ttx {
namespace {

constexpr int kColumns = 40;
constexpr int kMaxRows = 3;
constexpr int kBottomRow = 22;  // the rows above the last, where subtitles go
// Control characters of a row: start and end of a box (each sent twice), in white.
constexpr std::uint8_t kStartBox = 0x0B, kEndBox = 0x0A;
// The header's control bits: C4 (erase the page) in the nibble of byte 5, C6 (subtitle) in byte 7.
constexpr std::uint8_t kErase = 0x8, kSubtitle = 0x8;

// The packet's address: magazine (8 written 0) and row, Hamming 8/4 coded.
void Address(Packet& p, int page, int row) {
  const int magazine = (page / 100) & 7;
  p[0] = vbi_ham8(static_cast<unsigned>(magazine | (row & 1) << 3));
  p[1] = vbi_ham8(static_cast<unsigned>(row >> 1));
}

// 888 as libzvbi numbers it: 0x888.
int PageNumber(int page) { return vbi_dec2bcd(page); }

}  // namespace

bool IsPage(int page) { return page >= kFirstPage && page <= kLastPage; }

void AppendPacket(std::vector<std::uint8_t>& sample, unsigned line, const std::uint8_t* packet) {
  sample.insert(sample.end(), {kPacket, static_cast<std::uint8_t>(line & 0xFF), static_cast<std::uint8_t>(line >> 8)});
  for (std::size_t i = 0; i < kPacketBytes; i += 2) sample.insert(sample.end(), {kData, packet[i], packet[i + 1]});
}

std::vector<std::pair<unsigned, Packet>> PacketsIn(const std::uint8_t* triplets, std::size_t size) {
  std::vector<std::pair<unsigned, Packet>> out;
  constexpr std::size_t kTriplets = 1 + kPacketBytes / 2;
  for (std::size_t i = 0; i + 3 <= size; i += 3) {
    if (triplets[i] != kPacket || i + 3 * kTriplets > size) continue;
    Packet p{};
    bool whole = true;
    for (std::size_t k = 0; k < kPacketBytes / 2 && whole; ++k) {
      const std::uint8_t* t = triplets + i + 3 * (k + 1);
      whole = t[0] == kData;
      p[2 * k] = t[1], p[2 * k + 1] = t[2];
    }
    if (whole) out.emplace_back(triplets[i + 1] | triplets[i + 2] << 8, p);
  }
  return out;
}

std::vector<Packet> SubtitlePage(int page, const std::string& text) {
  std::vector<Packet> out;
  Packet header{};
  Address(header, page, 0);
  const int number = PageNumber(page);
  header[2] = vbi_ham8(static_cast<unsigned>(number & 0xF));
  header[3] = vbi_ham8(static_cast<unsigned>(number >> 4 & 0xF));
  header[4] = vbi_ham8(0);
  header[5] = vbi_ham8(kErase);
  header[6] = vbi_ham8(0);
  header[7] = vbi_ham8(kSubtitle);
  header[8] = vbi_ham8(0);
  header[9] = vbi_ham8(0);
  for (std::size_t i = 10; i < kPacketBytes; ++i) header[i] = static_cast<std::uint8_t>(vbi_par8(' '));
  out.push_back(header);
  // Its lines, cut at line breaks and 36 characters (the boxes' controls take four).
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\n' || lines.back().size() == kColumns - 4) lines.emplace_back();
    if (c != '\n') lines.back() += (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  std::erase_if(lines, [](const std::string& l) { return l.empty(); });
  if (lines.size() > kMaxRows) lines.resize(kMaxRows);
  int row = kBottomRow - static_cast<int>(lines.size()) + 1;
  for (const std::string& line : lines) {
    Packet p{};
    Address(p, page, row++);
    std::fill(p.begin() + 2, p.end(), static_cast<std::uint8_t>(vbi_par8(' ')));
    const std::size_t from = 2 + (kColumns - line.size() - 4) / 2;  // centred
    p[from] = p[from + 1] = static_cast<std::uint8_t>(vbi_par8(kStartBox));
    for (std::size_t i = 0; i < line.size(); ++i) p[from + 2 + i] = static_cast<std::uint8_t>(vbi_par8(static_cast<unsigned char>(line[i])));
    p[from + 2 + line.size()] = p[from + 3 + line.size()] = static_cast<std::uint8_t>(vbi_par8(kEndBox));
    out.push_back(p);
  }
  // A header of no page (xFF) in the same magazine ends it, so that it shows at once.
  Packet end = header;
  end[2] = end[3] = vbi_ham8(0xF);
  end[5] = end[7] = vbi_ham8(0);
  out.push_back(end);
  return out;
}

Decoder::Decoder(int page, cc::Decoder::Changed changed)
    : m_vbi(vbi_decoder_new()), m_page(IsPage(page) ? page : kAutoPage), m_changed(std::move(changed)) {
  if (m_vbi) vbi_event_handler_register(m_vbi, VBI_EVENT_TTX_PAGE, &Decoder::OnEvent, this);
}

Decoder::~Decoder() {
  if (m_vbi) vbi_decoder_delete(m_vbi);
}

void Decoder::Feed(const std::uint8_t* triplets, std::size_t size, double seconds) {
  if (!m_vbi) return;
  const auto packets = PacketsIn(triplets, size);
  if (packets.empty()) return;
  m_now = seconds;
  std::vector<vbi_sliced> lines(packets.size());
  for (std::size_t i = 0; i < packets.size(); ++i) {
    const Packet& p = packets[i].second;
    lines[i].id = VBI_SLICED_TELETEXT_B;
    lines[i].line = packets[i].first;
    std::copy(p.begin(), p.end(), lines[i].data);
    // libzvbi does not tell the subtitle flag: auto reads it from the headers (row 0) itself.
    const int address = vbi_unham16p(p.data());
    if (m_page != kAutoPage || address < 0 || (address >> 3) != 0) continue;
    const int units = vbi_unham8(p[2]), tens = vbi_unham8(p[3]), control = vbi_unham8(p[7]);
    if (units < 0 || tens < 0 || control < 0 || units > 9 || tens > 9 || !(control & kSubtitle)) continue;
    const int magazine = (address & 7) ? (address & 7) : 8;
    m_page = magazine * 100 + tens * 10 + units;
  }
  vbi_decode(m_vbi, lines.data(), static_cast<int>(lines.size()), seconds);
}

void Decoder::OnEvent(vbi_event* event, void* self) {
  auto* d = static_cast<Decoder*>(self);
  if (event->type != VBI_EVENT_TTX_PAGE || d->m_page == kAutoPage || event->ev.ttx_page.pgno != PageNumber(d->m_page)) return;
  vbi_page page;
  if (!vbi_fetch_vt_page(d->m_vbi, &page, event->ev.ttx_page.pgno, event->ev.ttx_page.subno, VBI_WST_LEVEL_1p5, 25, FALSE))
    return;
  // Row 0 is the page's header, not the subtitle.
  std::vector<cc::Row> rows = cc::TextRows(page, 1, [](unsigned u) { return u <= 0x20 || !vbi_is_print(u); });
  vbi_unref_page(&page);
  if (rows == d->m_shown) return;
  d->m_shown = rows;
  if (d->m_changed) d->m_changed(rows, d->m_now);
}

}  // namespace orv::media::ttx
