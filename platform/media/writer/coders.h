// How the writer's streams are stored: a coder per stream turns what the pins deliver into the
// container's packets (copied as delivered, converted to 4:2:2, or encoded with FFV1, H.264 or AAC).
// Coders run on the writing thread only.
#pragma once

#include "platform/media/com/dshow.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace orv::media {

// Takes a packet whose times are in the coder's unit (a frame, or a sample of sound); false when
// the file can take no more.
using EmitFn = std::function<bool(AVPacket*)>;

// What became of a picture: in the file, left out (unreadable: its source counts it as dropped), or
// the file can take no more.
enum class Coded { Written, LeftOut, Failed };

class PictureCoder {
 public:
  // Fills in the stream's parameters for the coding and opens what it needs; null (with *hr) for a
  // picture format it cannot store. unit: one frame.
  static std::unique_ptr<PictureCoder> Create(RECORD_CODING coding, const AM_MEDIA_TYPE& mt, AM_FIELD_ORDER fields,
                                              AVStream* st, AVRational unit, bool globalHeader, HRESULT* hr);
  virtual ~PictureCoder() = default;
  // A picture as the pin delivered it, for frame `index`.
  virtual Coded Picture(const BYTE* data, std::size_t size, std::int64_t index, const EmitFn& emit) = 0;
  // A frame the card missed: an empty entry, or the previous picture again.
  virtual bool Missing(std::int64_t index, const EmitFn& emit) = 0;
  // What the encoder still holds, at the end.
  virtual bool Flush(const EmitFn&) { return true; }
  // The codec and its settings, as a person reads them ("ffv1 level=3 slices=4 ...").
  virtual std::string Settings() const = 0;
  // Line 21's cc_data triplets for the next picture: H.264 carries them in the picture's A/53 side
  // data, which players show; the other codings keep them beside the file only.
  virtual void Captions(const BYTE*, std::size_t) {}

  // Sees each picture as it goes into the file (as its decoder gives it back), with its frame
  // index; again: the previous picture once more, for a frame that had none.
  std::function<void(std::int64_t index, const AVFrame& picture, bool again)> watch;
};

class SoundCoder {
 public:
  // As PictureCoder::Create, for PCM sound (unit: one sample).
  static std::unique_ptr<SoundCoder> Create(RECORD_CODING coding, const WAVEFORMATEX& wfx, AVStream* st,
                                            bool globalHeader, HRESULT* hr);
  virtual ~SoundCoder() = default;
  // `samples` whole samples as delivered, the first being sample `first` of the stream.
  virtual bool Sound(const BYTE* data, std::int64_t samples, std::int64_t first, const EmitFn& emit) = 0;
  virtual bool Flush(const EmitFn&) { return true; }
  virtual std::string Settings() const = 0;

  // Sees the PCM samples as they go into the file.
  std::function<void(const BYTE* data, std::int64_t samples)> watch;
};

}  // namespace orv::media
