// The captions of a recording beside its file, on the file's timeline:
//   <file>.scc  every byte pair of field 1 (CC1, CC2) as received, in Scenarist SCC with SMPTE time
//               codes (drop-frame at 29.97), so that later tools lose nothing;
//   <file>.srt  what CC1 showed (on 625 lines, the teletext subtitle page), decoded, each caption
//               with its start and end;
//   <file>.field2.scc  the same for field 2 (CC3, CC4, their text services and XDS), only when it
//               carries anything.
// The current programme's name, from field 2's XDS, is told as it changes.
// Each entry is written out as it comes, so a capture cut short keeps its captions up to its end.
// The same decoded captions can go into the file itself (a subtitle track). Writing thread only.
#pragma once

#include "platform/media/writer/captions.h"
#include "platform/media/writer/teletext.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace orv::media {

std::string SccOf(const std::string& path);
std::string SrtOf(const std::string& path);
std::string Field2SccOf(const std::string& path);

class CaptionFiles {
 public:
  // A decoded caption with its start and end in seconds on the file's timeline; false when the file
  // can take no more.
  using SubtitleFn = std::function<bool(const std::string& text, double start, double end)>;
  // framePeriod: the picture's frame in 100 ns units (29.97 gives drop-frame time codes).
  // programme: the current programme's name and when it came, on the file's timeline.
  // teletextPage: the page whose subtitles a 625-line source gives instead of CC1 (0: the first
  // flagged as subtitles).
  CaptionFiles(std::string path, std::int64_t framePeriod, SubtitleFn subtitle, cc::Decoder::Programme programme = nullptr,
               int teletextPage = 0);
  ~CaptionFiles();
  CaptionFiles(const CaptionFiles&) = delete;
  CaptionFiles& operator=(const CaptionFiles&) = delete;

  // Removes the captions an earlier recording of the same name left beside it.
  static void ClearFormer(const std::string& path);
  // Creates the files; false (with a line on stderr) when they cannot be, and then nothing is written.
  bool Start();
  // One frame's cc_data triplets: `frame` is its place in the file, `seconds` its time there.
  // False when the file took no subtitle.
  bool Frame(std::int64_t frame, double seconds, const std::uint8_t* triplets, std::size_t size);
  // The caption still shown ends with the file, at `seconds`.
  bool Finish(double seconds);

 private:
  bool Shown(const std::vector<cc::Row>& rows, double seconds);
  // An SCC of one field's pairs.
  struct Scc {
    std::FILE* file = nullptr;
    std::int64_t last = -2;  // the frame of the last pair on its current line
  };
  void WriteScc(Scc& scc, std::int64_t frame, const cc::Pair& pair);
  bool OpenField2();

  std::string m_path;
  bool m_dropFrame;
  int m_fps;
  SubtitleFn m_subtitle;
  cc::Decoder::Programme m_programme;
  Scc m_scc, m_field2;
  bool m_field2Failed = false;
  std::FILE* m_srt = nullptr;
  std::unique_ptr<cc::Decoder> m_decoder;
  int m_teletextPage;
  std::unique_ptr<ttx::Decoder> m_teletext;
  std::string m_text;           // the caption on the screen, "" for none
  double m_since = 0;           // when it came
  int m_entries = 0;
  bool m_ok = true;
};

}  // namespace orv::media
