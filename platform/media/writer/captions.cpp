#include "platform/media/writer/captions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <map>

#include <libzvbi.h>

namespace orv::media::cc {
namespace {

// Channel 1's control codes (first byte 0x14): resume caption loading, erase the hidden memory, end
// of caption (swap the memories).
constexpr Pair kResumeLoading{0x14, 0x20};
constexpr Pair kEraseHidden{0x14, 0x2E};
constexpr Pair kEndOfCaption{0x14, 0x2F};
// Preamble address codes of channel 1, white text, indent 0, for rows 1..15.
constexpr Pair kRowCodes[15] = {{0x11, 0x40}, {0x11, 0x60}, {0x12, 0x40}, {0x12, 0x60}, {0x15, 0x40},
                                {0x15, 0x60}, {0x16, 0x40}, {0x16, 0x60}, {0x17, 0x40}, {0x17, 0x60},
                                {0x10, 0x40}, {0x13, 0x40}, {0x13, 0x60}, {0x14, 0x40}, {0x14, 0x60}};
constexpr int kBottomRow = 15;
// A row's indent goes in steps of 4 columns (bits 1..3 of the address's second byte).
constexpr int kIndentStep = 4;
constexpr std::uint8_t kIndentCode = 0x10;
// Special characters: 0x11 (channel 1), then 0x30..0x3F.
constexpr std::uint8_t kSpecialFirst = 0x11, kSpecialFrom = 0x30, kSpecialTo = 0x3F;

// The code points of a UTF-8 text; a byte that is not UTF-8 is taken as Latin-1.
std::vector<char32_t> CodePoints(const std::string& text) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int length = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
    bool ok = length > 0 && i + length <= text.size();
    for (int k = 1; ok && k < length; ++k) {
      const auto n = static_cast<unsigned char>(text[i + k]);
      ok = (n & 0xC0) == 0x80;
      c = (c << 6) | (n & 0x3F);
    }
    out.push_back(ok ? c : b);
    i += ok ? length : 1;
  }
  return out;
}


// Line 21's codes for a character: one byte of the basic set, or a special character's pair. The
// character sets are libzvbi's (vbi_caption_unicode), read backwards.
struct Code {
  std::uint8_t first, second;  // second 0: a basic character in `first`
};
const std::map<char32_t, Code>& CodesByCharacter() {
  static const std::map<char32_t, Code> codes = [] {
    std::map<char32_t, Code> m;
    for (unsigned c = 0x20; c < 0x80; ++c) m.emplace(vbi_caption_unicode(c, 0), Code{static_cast<std::uint8_t>(c), 0});
    for (unsigned c = kSpecialFrom; c <= kSpecialTo; ++c)
      m.emplace(vbi_caption_unicode(0x1100 | c, 0), Code{kSpecialFirst, static_cast<std::uint8_t>(c)});
    return m;
  }();
  return codes;
}

// The text cut into rows of at most 32 characters, at spaces where it can be.
std::vector<std::vector<char32_t>> Rows(const std::string& text) {
  std::vector<std::vector<char32_t>> rows(1);
  std::vector<char32_t> word;
  auto flushWord = [&] {
    while (!word.empty()) {
      auto& row = rows.back();
      const std::size_t room = kColumns - row.size() - (row.empty() ? 0 : 1);
      if (word.size() <= room) {
        if (!row.empty()) row.push_back(U' ');
        row.insert(row.end(), word.begin(), word.end());
        word.clear();
      } else if (row.empty()) {
        row.assign(word.begin(), word.begin() + kColumns);
        word.erase(word.begin(), word.begin() + kColumns);
        rows.emplace_back();
      } else {
        rows.emplace_back();
      }
    }
  };
  for (char32_t c : CodePoints(text)) {
    if (c == U'\n') {
      flushWord();
      rows.emplace_back();
    } else if (c == U' ' || c == U'\t') {
      flushWord();
    } else {
      word.push_back(c);
    }
  }
  flushWord();
  std::erase_if(rows, [](const auto& r) { return r.empty(); });
  if (rows.size() > kMaxRows) rows.resize(kMaxRows);
  return rows;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::uint8_t WithParity(std::uint8_t c) {
  c &= 0x7F;
  return std::popcount(static_cast<unsigned>(c)) % 2 == 0 ? static_cast<std::uint8_t>(c | 0x80) : c;
}

std::vector<Pair> PopOnCaption(const std::string& text) {
  std::vector<Pair> out;
  auto control = [&out](Pair p) {
    const Pair sent{WithParity(p[0]), WithParity(p[1])};
    out.push_back(sent);
    out.push_back(sent);
  };
  control(kResumeLoading);
  control(kEraseHidden);
  const auto rows = Rows(text);
  const auto& codes = CodesByCharacter();
  int row = kBottomRow - static_cast<int>(rows.size()) + 1;
  for (const auto& chars : rows) {
    // Centred, as near as the indent's steps of four allow.
    const int indent = static_cast<int>((kColumns - chars.size()) / 2) / kIndentStep;
    Pair address = kRowCodes[row - 1];
    address[1] = static_cast<std::uint8_t>(address[1] | kIndentCode | (indent << 1));
    control(address);
    std::vector<std::uint8_t> basic;  // waiting for a second to share a pair
    auto flush = [&] {
      if (basic.empty()) return;
      out.push_back({WithParity(basic[0]), basic.size() > 1 ? WithParity(basic[1]) : kNull});
      basic.clear();
    };
    for (char32_t c : chars) {
      const auto found = codes.find(c);
      const Code code = found != codes.end() ? found->second : Code{'?', 0};
      if (code.second) {
        flush();
        control({code.first, code.second});
      } else {
        basic.push_back(code.first);
        if (basic.size() == 2) flush();
      }
    }
    flush();
    ++row;
  }
  control(kEndOfCaption);
  return out;
}

std::string TimeCode(std::int64_t frame, bool dropFrame, int fps) {
  if (frame < 0) frame = 0;
  if (dropFrame) {
    // Frame numbers 0 and 1 are left out of every minute but each tenth: 17982 frames in ten minutes,
    // 1798 in each minute after the first.
    fps = 30;
    const std::int64_t tens = frame / 17982, rest = frame % 17982;
    frame += 18 * tens + (rest >= 2 ? 2 * ((rest - 2) / 1798) : 0);
  }
  if (fps <= 0) fps = 25;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld%c%02lld", static_cast<long long>(frame / (3600LL * fps)),
                static_cast<long long>(frame / (60LL * fps) % 60), static_cast<long long>(frame / fps % 60),
                dropFrame ? ';' : ':', static_cast<long long>(frame % fps));
  return text;
}

std::string SrtTime(double seconds) {
  const auto ms = static_cast<long long>(std::llround(std::max(0.0, seconds) * 1000));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld,%03lld", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return text;
}

std::string TextOf(const std::vector<Row>& rows) {
  std::string out;
  for (const Row& r : rows) {
    if (!out.empty()) out += '\n';
    out += r.text;
  }
  return out;
}

Decoder::Decoder(Changed changed, Programme programme)
    : m_vbi(vbi_decoder_new()), m_changed(std::move(changed)), m_programme(std::move(programme)) {
  if (m_vbi) vbi_event_handler_register(m_vbi, VBI_EVENT_CAPTION, &Decoder::OnEvent, this);
  if (m_vbi && m_programme) vbi_event_handler_register(m_vbi, VBI_EVENT_PROG_INFO, &Decoder::OnProgramme, this);
}

void Decoder::OnProgramme(vbi_event* event, void* self) {
  auto* d = static_cast<Decoder*>(self);
  const vbi_program_info* info = event->ev.prog_info;
  // The next programme's name is announced too: only the current one's is taken.
  if (event->type != VBI_EVENT_PROG_INFO || !info || info->future) return;
  std::string name;
  for (const signed char c : info->title) {
    if (c == 0) break;
    AppendUtf8(name, vbi_caption_unicode(static_cast<unsigned char>(c) & 0x7F, 0));
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.empty() || name == d->m_programmeName) return;
  d->m_programmeName = name;
  d->m_programme(name, d->m_now);
}

Decoder::~Decoder() {
  if (m_vbi) vbi_decoder_delete(m_vbi);
}

void Decoder::Feed(const std::uint8_t* triplets, std::size_t size, double seconds) {
  if (!m_vbi) return;
  m_now = seconds;
  vbi_sliced lines[8]{};
  int n = 0;
  for (std::size_t i = 0; i + 3 <= size && n < 8; i += 3) {
    const std::uint8_t marker = triplets[i];
    if (marker != kField1 && marker != kField2) continue;  // not valid line 21 data
    lines[n].id = marker == kField1 ? VBI_SLICED_CAPTION_525_F1 : VBI_SLICED_CAPTION_525_F2;
    lines[n].line = marker == kField1 ? 21 : 284;
    lines[n].data[0] = triplets[i + 1];
    lines[n].data[1] = triplets[i + 2];
    ++n;
  }
  if (n > 0) vbi_decode(m_vbi, lines, n, seconds);
}

std::vector<Row> TextRows(const vbi_page& page, int from, bool (*blank)(unsigned unicode)) {
  std::vector<Row> rows;
  for (int r = from; r < page.rows; ++r) {
    const vbi_char* cells = page.text + static_cast<std::ptrdiff_t>(r) * page.columns;
    auto blankAt = [&](int c) { return blank(cells[c].unicode); };
    int first = 0, last = page.columns - 1;
    while (first <= last && blankAt(first)) ++first;
    while (last >= first && blankAt(last)) --last;
    if (first > last) continue;
    Row row{r, first, {}};
    for (int c = first; c <= last; ++c) AppendUtf8(row.text, blankAt(c) ? U' ' : static_cast<char32_t>(cells[c].unicode));
    rows.push_back(std::move(row));
  }
  return rows;
}

void Decoder::OnEvent(vbi_event* event, void* self) {
  auto* d = static_cast<Decoder*>(self);
  if (event->type != VBI_EVENT_CAPTION || event->ev.caption.pgno != 1) return;
  vbi_page page;
  if (!vbi_fetch_cc_page(d->m_vbi, &page, 1, 1)) return;
  std::vector<Row> rows = TextRows(page, 0, [](unsigned u) { return u == 0x20 || u == 0 || !vbi_is_print(u); });
  for (Row& row : rows) {
    // The page has a blank column either side of the caption's 32.
    ++row.row;
    row.column = std::max(0, row.column - 1);
  }
  vbi_unref_page(&page);
  if (rows == d->m_shown) return;
  d->m_shown = rows;
  if (d->m_changed) d->m_changed(rows, d->m_now);
}

}  // namespace orv::media::cc
