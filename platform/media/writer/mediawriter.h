// The recording writer: one file written with libavformat on a thread of its own behind a bounded
// queue. As delivered, it is the AVI of the streams as the pins deliver them (OpenDML beyond 1 GB,
// the legacy index in the first RIFF chunk); the other codings convert and encode on the writing
// side (libavcodec's own threads for FFV1 and H.264) and write the field order and a 4:3 display
// aspect. The streaming threads only copy samples in; a full queue refuses pictures, which their
// source counts as dropped, but never sound. The frame rate stays constant (empty chunks in AVI,
// repeats of the previous picture in Matroska). As delivered, pictures go to the places their time
// stamps give them, on the sound's clock when the sound is the master stream. The other codings keep
// one timeline led by the pictures: each delivered picture has the next place, gaps are left only
// for the frames the card lost or the queue refused, and the sound is resampled onto the pictures'
// clock. Finishing the file (encoders' last frames, trailer, final sync) runs on the writing thread.
#pragma once

#include "platform/media/com/sample.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orv::media {

struct WriterOptions {
  bool matroska = false;  // Matroska rather than AVI
  RECORD_CODING coding = RECORD_AS_DELIVERED;
  AM_FIELD_ORDER fields = AM_FIELDS_UNKNOWN;  // as the capture delivers the pictures
  // The capture log and checksums beside the file (not for the original AVI; see sidefiles.h), and
  // the capture's description for them: a JSON object's text.
  bool sideFiles = false;
  std::string description;
  // A copy beside another file that may fall behind: its queue is short and it never makes the
  // live picture give way.
  bool mayFallBehind = false;
  // The teletext page kept as subtitles (0: the first flagged as such).
  int teletextPage = 0;
};

class MediaWriter {
 public:
  using HaltFn = std::function<void(HRESULT)>;
  // master: the index of the sound stream whose clock the pictures follow, -1 for none. onHalt is
  // called (on the writing thread) when the file can take no more; it has been closed by then.
  static std::unique_ptr<MediaWriter> Create(std::string path, int master, const WriterOptions& options, HaltFn onHalt);
  virtual ~MediaWriter() = default;

  // Creates the file, writes the headers for these stream types and starts the writing thread.
  virtual HRESULT Open(const std::vector<const AM_MEDIA_TYPE*>& types) = 0;
  // Streaming threads: queues a copy of the sample for the stream of that index.
  virtual Delivery Push(int stream, const MediaSample& sample) = 0;
  // Writes what is queued, the index and the final headers, puts the file on the disk and closes it.
  // First error (a sync that failed is one) or S_OK.
  virtual HRESULT Close() = 0;
  // The writing ended early (and the halt was reported).
  virtual bool Halted() const = 0;
  // Why the recording ends ("user", "time_limit", "no_signal", "device_gone" ...), for its log; said
  // before Close.
  virtual void EndsBecause(const std::string& reason) = 0;
  // Pictures the access copy left out (RECORD_FFV1_PCM_AND_H264_AAC); -1 when there is none.
  virtual long AccessCopyDropped() const { return -1; }
};

// The access copy's name beside a master file: "<name>.access.mkv".
std::string AccessCopyOf(const std::string& path);

// Whether an open writer's queue is more than half full: the live picture then gives way first.
bool WritersBehind();

// The status for a file error (errno): access denied, path not found, disk full ...
HRESULT FileErrorOf(int e);

}  // namespace orv::media
