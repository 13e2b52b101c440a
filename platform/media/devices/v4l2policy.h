// Internal: the real-card policy that needs no hardware: which input is which, driver ranges shown
// from zero, the picture format, size and TV standard to ask for, how pictures lie in a buffer and
// how fields are woven into frames, thinning to the wanted rate, lost frames, and a tuner's lock.
#pragma once

#include "platform/media/com/dshow.h"
#include "platform/media/devices/channels.h"

#include <cstddef>
#include <cstdint>
#include <linux/videodev2.h>
#include <string>
#include <vector>

namespace orv::media {

// ---- Crossbar layout --------------------------------------------------------------------------------
// One V4L2 video input, as VIDIOC_ENUMINPUT describes it.
struct CardInput {
  std::uint32_t index = 0;
  std::string name;
  bool tuner = false;  // V4L2_INPUT_TYPE_TUNER
  bool camera = false; // V4L2_INPUT_TYPE_CAMERA (composite, S-Video, webcam, HDMI ...)
  std::uint32_t audioset = 0;
  std::uint32_t tunerIndex = 0;
  bool hasStandard = false;  // V4L2_IN_CAP_STD: the input decodes an analogue TV standard
  StdMask standards = 0;     // the standards it can decode
};
struct CardAudioInput {
  std::uint32_t index = 0;
  std::string name;
};

// The crossbar the program expects: video inputs 0 S-Video, 1 tuner, 2 composite (any other camera
// input when the card has no composite), audio inputs 3 tuner sound and 4 line; -1 where the card
// has nothing of that kind.
constexpr int kXbarSVideo = 0, kXbarTuner = 1, kXbarComposite = 2, kXbarAudioTuner = 3, kXbarAudioLine = 4;
constexpr int kXbarInputs = 5, kXbarVideoOut = 0, kXbarAudioOut = 1, kXbarOutputs = 2;
struct CrossbarLayout {
  int input[kXbarInputs] = {-1, -1, -1, -1, -1};  // V4L2 video (0..2) or audio (3, 4) input index
};
CrossbarLayout MapCardInputs(const std::vector<CardInput>& inputs, const std::vector<CardAudioInput>& audio);

// ---- Picture controls ------------------------------------------------------------------------------
// A driver range shown as 0..(max - min): the program's level mapping assumes a 0-based range.
struct DriverRange {
  LONG min = 0, max = 0, step = 1, def = 0;
};
LONG ToDriverValue(const DriverRange& r, LONG shown);    // clamped into the driver's range
LONG FromDriverValue(const DriverRange& r, LONG driver);

// ---- TV standard -----------------------------------------------------------------------------------
// The standard to set when input `in` has just been selected: the plan's on the tuner, what the
// decoder detected (0: nothing) elsewhere, within what the input decodes. 0: leave the driver's,
// also when the one in force (`current`) already is one of them.
StdMask ChooseStandard(const CardInput& in, StdMask planStandard, StdMask detected, StdMask current);

// ---- Picture formats ---------------------------------------------------------------------------------
// How a format a card may deliver lies in memory and how it is stored: under its own FOURCC where
// AVI files know it, else as a bottom-up RGB DIB, which libv4l2 makes from any format it knows.
enum class Layout { Packed, Planar, SemiPlanar, Compressed };
struct PixelKind {
  std::uint32_t v4l2;
  const GUID* subtype;
  WORD bits;  // biBitCount
  Layout layout;
  std::uint32_t bytesPerPixel;  // packed layouts
};
// The kind of a V4L2 pixel format or of a subtype; null for one the program cannot store.
const PixelKind* KindOf(std::uint32_t v4l2);
const PixelKind* KindOfSubtype(const GUID& subtype);
const PixelKind& RgbKind();
bool BottomUp(const PixelKind& k);
// The preferred format among those the card offers itself (not libv4l2's conversions), else RGB.
const PixelKind& ChooseKind(const std::vector<std::uint32_t>& native);

struct PictureSize {
  std::uint32_t width = 0, height = 0;
};
// 640x480 when the card takes it; else the standard's full size (720 wide); else the driver's.
PictureSize ChooseSize(bool takesVga, StdMask standard, PictureSize driver);

// One plane of a picture: `rows` rows of `bytes` bytes, `stride` apart, from `offset`.
struct Plane {
  std::size_t offset, stride, bytes, rows;
};
// The planes of a picture of `rows` lines whose luma (or packed) rows lie `stride` apart.
std::vector<Plane> PlanesOf(const PixelKind& k, std::uint32_t width, std::uint32_t rows, std::size_t stride);
// Bytes a buffer must hold for these planes.
std::size_t Extent(const std::vector<Plane>& planes);
// As stored: rows packed tight, a DIB's padded to 4 bytes.
std::vector<Plane> StoredPlanes(const PixelKind& k, std::uint32_t width, std::uint32_t height);
std::size_t StoredSize(const PixelKind& k, std::uint32_t width, std::uint32_t height);
// Copies rows plane by plane: row r of `from` becomes row r*step+first of `to`, counted from the
// bottom for a bottom-up picture (a DIB).
void CopyRows(const BYTE* src, const std::vector<Plane>& from, BYTE* dst, const std::vector<Plane>& to, int step,
              int first, bool bottomUp);

// What a stream delivers.
struct FrameFormat {
  const PixelKind* kind = nullptr;
  std::uint32_t width = 0, height = 0;  // the whole picture, also when buffers carry single fields
  std::size_t stride = 0;               // the driver's bytes per line
  std::uint32_t sizeImage = 0;
  std::uint32_t field = V4L2_FIELD_NONE;
  REFERENCE_TIME period = 0;  // the driver's frame duration; 0 when it does not tell
  // How long the picture in one buffer takes to capture: a frame's, or a field's when fields come
  // one by one.
  REFERENCE_TIME span = 0;
  // Fields one by one: the standard's first field (V4L2_FIELD_TOP or _BOTTOM), 0 without a standard.
  std::uint32_t firstField = 0;
};
// The start of the picture in a buffer on the monotonic clock. Drivers stamp the end of the
// picture unless they say otherwise; without a monotonic stamp, `dequeued` stands in, an end too.
REFERENCE_TIME PictureStart(const v4l2_buffer& b, REFERENCE_TIME span, REFERENCE_TIME dequeued);
// The media type of pictures of this format at this rate; its format block is *vih.
AM_MEDIA_TYPE MakeVideoType(const FrameFormat& f, REFERENCE_TIME avgTimePerFrame, VIDEOINFOHEADER* vih);
// A V4L2 time per frame in 100 ns units; 0 when it tells none.
REFERENCE_TIME PeriodOf(const v4l2_fract& f);

// ---- Fields ------------------------------------------------------------------------------------------
// How pictures the driver delivers with this field setting come, in the standard given: both fields
// interlaced in the driver's order (V4L2_FIELD_INTERLACED: bottom first on 525 lines, top first on
// 625), a single field or a progressive picture, or fields sent one by one and woven by us (their
// order is the first field's parity: V4L2_FIELD_TOP or _BOTTOM, 0 before one came).
AM_FIELD_ORDER FieldOrderOf(std::uint32_t v4l2Field, StdMask standard, std::uint32_t firstField);

// Fields that come one per buffer (V4L2_FIELD_ALTERNATE) woven into frames: a field's rows go
// between the other field's. A frame starts on the standard's first field (without a standard, on
// the parity that came first) and is whole with the field right after it; after a lost field,
// pairing starts again, so that every frame holds its own two fields in the order the file says.
class FieldWeaver {
 public:
  void Reset() { *this = FieldWeaver{}; }
  // A buffer of `used` bytes holding field `field` (V4L2_FIELD_TOP or _BOTTOM) of a picture of
  // format f, captured at `at`. True when it completes a frame: Frame(), At() and Sequence() tell it.
  bool Add(const FrameFormat& f, const BYTE* data, std::size_t used, std::uint32_t field, REFERENCE_TIME at,
           std::uint32_t sequence);
  const BYTE* Frame() const { return m_frame.data(); }
  std::size_t Size() const { return m_frame.size(); }
  REFERENCE_TIME At() const { return m_at; }  // the first field's time
  std::uint32_t FirstField() const { return m_field; }  // the last frame's first field
  std::uint32_t Sequence() const { return m_sequence; }

 private:
  std::vector<BYTE> m_frame;
  bool m_pending = false;
  bool m_countsFrames = false;  // the driver gives both fields one number (seen once); else it may count fields
  std::uint32_t m_first = 0;    // the parity frames start on
  std::uint32_t m_field = 0, m_sequence = 0;
  REFERENCE_TIME m_at = 0;
};

// ---- Frame rate and dropped frames ------------------------------------------------------------------
// Keeps frames evenly so that a source at one frame duration comes out at a longer one. With the
// source's duration known, by counting frames; without it, by their times.
class FrameDecimator {
 public:
  // Durations in 100 ns units; source 0 when the driver does not tell. Wanted at or below the
  // source's keeps every frame.
  void Reset(REFERENCE_TIME source, REFERENCE_TIME wanted);
  // A frame at time t that follows `lost` frames the driver missed: whether it is kept. *missed
  // gets the frames of the wanted rate that are gone with the lost ones (or, by time, whose place
  // stayed empty).
  bool Keep(REFERENCE_TIME t, std::uint32_t lost, std::uint32_t* missed);

 private:
  bool KeepByCount();
  REFERENCE_TIME m_source = 0, m_wanted = 0, m_credit = 0;
  bool m_started = false;
  REFERENCE_TIME m_next = 0;  // by time: where the next kept frame belongs
};

// Frames the driver lost, from the gaps in its sequence numbers.
class SequenceGaps {
 public:
  void Reset() { m_started = false; }
  // Frames missing just before this one.
  std::uint32_t Next(std::uint32_t sequence);

 private:
  bool m_started = false;
  std::uint32_t m_last = 0;
};

// ---- Tuner ------------------------------------------------------------------------------------------
// Whether a freshly tuned channel carries a signal, from the tuner's readings: the first counts once
// the tuner has settled, and the signal must hold across readings some time apart, so the lock of
// the channel tuned before is never taken for this one's. The time to find it counts from the first
// reading that counts: a busy machine that reads late still gives the channel its whole chance.
class LockWatch {
 public:
  enum class Verdict { Wait, Found, NotFound };
  static constexpr REFERENCE_TIME kSettle = 500000;    // 50 ms before the first reading counts
  static constexpr REFERENCE_TIME kHold = 1000000;     // 100 ms of signal
  static constexpr REFERENCE_TIME kBudget = 2500000;   // 250 ms per channel
  // A reading taken `since` after tuning.
  Verdict Reading(REFERENCE_TIME since, int signal);

 private:
  REFERENCE_TIME m_lockedSince = -1;
  REFERENCE_TIME m_firstAt = -1;  // the first reading that counts
};

}  // namespace orv::media
