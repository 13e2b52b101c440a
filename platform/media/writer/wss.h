// Wide-screen signalling: line 23 of a 625-line picture says the picture's shape (EN 300 294). A
// VBI sample carries its 14 bits as a triplet of its own beside line 21's cc_data triplets. What the
// bits mean is libzvbi's to decode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

typedef struct vbi_decoder vbi_decoder;
struct vbi_event;

namespace orv::media::wss {

// The triplet's first byte: no A/53 marker (those are 0xF8..0xFF), so caption decoders pass it by
// and it never goes into a picture stream's caption data. Then the bits, the low byte first.
constexpr std::uint8_t kMarker = 0xF0;

// The aspect groups (bits 0..3, the fourth the others' parity) the virtual card sends by name:
// "4:3", "14:9" and "16:9 letterbox" (boxes in a 4:3 picture), "16:9" (anamorphic, the full picture).
std::optional<std::uint16_t> ValueOfName(const std::string& name);

std::array<std::uint8_t, 3> Triplet(std::uint16_t value);
// The bits of the last WSS triplet among a sample's triplets.
std::optional<std::uint16_t> ValueIn(const std::uint8_t* triplets, std::size_t size);

// What the signal says, as libzvbi decodes it.
struct Aspect {
  bool anamorphic = false;     // a 16:9 picture squeezed into the 4:3 frame
  int firstLine = 0, lastLine = 0;  // the picture's lines in the frame (a letterbox leaves some out)
  std::uint16_t value = 0;     // the bits
  bool operator==(const Aspect&) const = default;
  // "16:9" or "4:3": the shape the frame is shown at.
  const char* DisplayName() const { return anamorphic ? "16:9" : "4:3"; }
};

// Told of every change of the aspect, with the time its bits first came. libzvbi takes a value
// only once it has come in a few frames running, so a damaged line makes no change.
class Decoder {
 public:
  using Changed = std::function<void(const Aspect& aspect, double since)>;
  explicit Decoder(Changed changed);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // One frame's VBI sample (cc_data and WSS triplets), received at `seconds`.
  void Feed(const std::uint8_t* triplets, std::size_t size, double seconds);
  const std::optional<Aspect>& Current() const { return m_current; }

 private:
  static void OnEvent(::vbi_event* event, void* self);
  vbi_decoder* m_vbi;
  Changed m_changed;
  std::optional<std::uint16_t> m_value;  // the bits of the last frame
  double m_since = 0;  // when m_value first came
  std::optional<Aspect> m_current;
};

}  // namespace orv::media::wss
