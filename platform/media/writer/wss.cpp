#include "platform/media/writer/wss.h"

#include <libzvbi.h>

namespace orv::media::wss {
namespace {

// Line 23 of the first field carries it.
constexpr unsigned kLine = 23;
constexpr std::uint16_t kBits = 0x3FFF;

}  // namespace

std::optional<std::uint16_t> ValueOfName(const std::string& name) {
  if (name == "4:3") return 0x8;              // full format 4:3
  if (name == "14:9") return 0x1;             // box 14:9, centre
  if (name == "16:9 letterbox") return 0xB;   // box 16:9, centre
  if (name == "16:9") return 0x7;             // full format 16:9, anamorphic
  return std::nullopt;
}

std::array<std::uint8_t, 3> Triplet(std::uint16_t value) {
  value &= kBits;
  return {kMarker, static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>(value >> 8)};
}

std::optional<std::uint16_t> ValueIn(const std::uint8_t* triplets, std::size_t size) {
  std::optional<std::uint16_t> value;
  for (std::size_t i = 0; i + 3 <= size; i += 3)
    if (triplets[i] == kMarker) value = static_cast<std::uint16_t>((triplets[i + 1] | triplets[i + 2] << 8) & kBits);
  return value;
}

Decoder::Decoder(Changed changed) : m_vbi(vbi_decoder_new()), m_changed(std::move(changed)) {
  if (m_vbi) vbi_event_handler_register(m_vbi, VBI_EVENT_ASPECT, &Decoder::OnEvent, this);
}

Decoder::~Decoder() {
  if (m_vbi) vbi_decoder_delete(m_vbi);
}

void Decoder::Feed(const std::uint8_t* triplets, std::size_t size, double seconds) {
  const auto value = ValueIn(triplets, size);
  if (!value || !m_vbi) return;
  if (value != m_value) m_since = seconds;
  m_value = value;
  vbi_sliced line{};
  line.id = VBI_SLICED_WSS_625;
  line.line = kLine;
  line.data[0] = static_cast<std::uint8_t>(*value & 0xFF);
  line.data[1] = static_cast<std::uint8_t>(*value >> 8);
  vbi_decode(m_vbi, &line, 1, seconds);
}

void Decoder::OnEvent(vbi_event* event, void* self) {
  auto* d = static_cast<Decoder*>(self);
  if (event->type != VBI_EVENT_ASPECT) return;
  const vbi_aspect_ratio& a = event->ev.aspect;
  // libzvbi gives a squeezed picture's ratio as 3/4, a picture of square shape as 1.
  const Aspect aspect{a.ratio > 0 && a.ratio < 1, a.first_line, a.last_line, d->m_value.value_or(0)};
  if (d->m_current && *d->m_current == aspect) return;
  d->m_current = aspect;
  if (d->m_changed) d->m_changed(aspect, d->m_since);
}

}  // namespace orv::media::wss
