// What a recording leaves beside its file to prove what was recorded, and how:
//   <file>.log.jsonl  the capture log, one JSON object a line: the capture's description, its events
//                     on the file's timeline, a summary of the sound and the picture every minute of
//                     the file, and how it ended. Every line is written as it comes, so a capture cut
//                     short keeps its log up to its last events.
//   <file>.framemd5   for the lossless codings: a checksum of every picture and sound block as a
//                     decoder gives it back, in FFmpeg's framemd5 form (the lines `ffmpeg -i FILE
//                     -map 0 -sn -f framemd5 -` prints for the file: its captions are beside it).
//   <file>.md5        the whole file's checksum in md5sum's form, read back on a thread of its own
//                     once the file is closed; it appears complete or not at all.
// A Matroska file also carries descriptive tags from its start. The writer calls in on its writing
// thread, except where said.
#pragma once

#include "platform/media/com/sample.h"
#include "platform/media/writer/wss.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFormatContext;
struct AVPacket;
struct AVStream;
struct AVRational;

namespace orv::media {

class PictureCoder;
class SoundCoder;

// The names of a recording's side files.
std::string CaptureLogOf(const std::string& path);
std::string FrameChecksumsOf(const std::string& path);
std::string ChecksumOf(const std::string& path);

class SideFiles {
 public:
  // description: the capture engine's account of the capture, a JSON object's text ("" for none).
  // frameChecksums: whether the coding is lossless (the framemd5 is written).
  SideFiles(std::string path, const std::string& description, bool matroska, bool frameChecksums);
  ~SideFiles();
  SideFiles(const SideFiles&) = delete;
  SideFiles& operator=(const SideFiles&) = delete;

  // Removes what an earlier recording of the same name left beside it, and stops its checksum if it
  // is still being read. Before the file is created.
  static void ClearFormer(const std::string& path);

  // A stream of the file, in order, with the unit of its packets' times and its coder.
  void AddStream(AVStream* st, AVRational unit, PictureCoder* picture, SoundCoder* sound);
  // The tags, into the file's metadata once the output is set up and before its header is written.
  void Tag(AVFormatContext* ctx);
  // Once the header is written: creates the side files and writes the log's first line. fileTime
  // maps a stream time to seconds on the file's timeline. False (with a line on stderr) when they
  // cannot be created; the recording goes on without them.
  bool Start(std::function<double(REFERENCE_TIME)> fileTime);

  // Streaming threads: the frame counts that come with a stream's samples, whose events go into
  // the log (those of the picture also give the counts of the last line).
  void Watch(bool picture, const std::shared_ptr<FrameCounts>& counts);

  // A packet about to be written, its times in the stream's unit.
  void Packet(int stream, const AVPacket& pkt);
  // The file can take no more (disk full, a write fault, a picture of another format).
  void Halted(HRESULT why);
  // Line 23 of a 625-line picture tells a new shape from `seconds` on the file's timeline: an event.
  void Aspect(const wss::Aspect& aspect, double seconds);
  // Field 2's extended data services name the current programme, from `seconds` on: an event.
  void Programme(const std::string& name, double seconds);
  // Why the recording ends ("user", "time_limit" ...), as the capture engine says it; any thread
  // before Finish.
  void EndsBecause(std::string reason);
  // The access copy written beside the file from the same pictures, and how many it left out while
  // behind: the log's last line says both. Any thread before Finish.
  void AccessCopy(std::string file, long dropped);
  // After the file is closed: the log's last line, the checksums written out, and the file's own
  // checksum started unless the file was never written or the disk failed to keep it.
  void Finish(bool written);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Whether the file's checksum is there or still being read.
bool ChecksumComing(const std::string& path);

// Waits for the file checksums still being read; on the user-interface thread the windows are kept
// going meanwhile.
void WaitForChecksums();

}  // namespace orv::media
