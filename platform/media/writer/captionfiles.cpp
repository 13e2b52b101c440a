#include "platform/media/writer/captionfiles.h"

#include "platform/log.h"

#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orv::media {
namespace {
// Each line of pairs follows a blank line; the file ends with a line break.
constexpr const char* kSccHeader = "Scenarist_SCC V1.0";
// 29.97 frames a second within a frame's rounding of 100 ns units.
bool IsNtscRate(std::int64_t period) { return std::llabs(period * 30000 - 10010000000LL) <= 30000; }
}  // namespace

std::string SccOf(const std::string& path) { return path + ".scc"; }
std::string SrtOf(const std::string& path) { return path + ".srt"; }
std::string Field2SccOf(const std::string& path) { return path + ".field2.scc"; }

CaptionFiles::CaptionFiles(std::string path, std::int64_t framePeriod, SubtitleFn subtitle, cc::Decoder::Programme programme,
                           int teletextPage)
    : m_path(std::move(path)),
      m_dropFrame(IsNtscRate(framePeriod)),
      m_fps(framePeriod > 0 ? static_cast<int>(std::lround(1e7 / static_cast<double>(framePeriod))) : 25),
      m_subtitle(std::move(subtitle)),
      m_programme(std::move(programme)),
      m_teletextPage(teletextPage) {}

CaptionFiles::~CaptionFiles() {
  for (std::FILE* f : {m_scc.file, m_field2.file, m_srt})
    if (f) std::fclose(f);
}

void CaptionFiles::ClearFormer(const std::string& path) {
  for (const std::string& side : {SccOf(path), SrtOf(path), Field2SccOf(path)})
    if (::unlink(side.c_str()) != 0 && errno != ENOENT) LogErrno("writer", "cannot remove %s", side.c_str());
}

bool CaptionFiles::Start() {
  m_scc.file = std::fopen(SccOf(m_path).c_str(), "w");
  m_srt = m_scc.file ? std::fopen(SrtOf(m_path).c_str(), "w") : nullptr;
  if (!m_scc.file || !m_srt || std::fputs(kSccHeader, m_scc.file) < 0 || std::fflush(m_scc.file) != 0) {
    LogErrno("writer", "cannot write the captions beside %s; the recording goes on without them", m_path.c_str());
    if (m_scc.file) std::fclose(m_scc.file);
    if (m_srt) std::fclose(m_srt);
    m_scc.file = m_srt = nullptr;
    return false;
  }
  m_decoder = std::make_unique<cc::Decoder>(
      [this](const std::vector<cc::Row>& rows, double seconds) {
        if (!Shown(rows, seconds)) m_ok = false;
      },
      m_programme);
  m_teletext = std::make_unique<ttx::Decoder>(m_teletextPage, [this](const std::vector<cc::Row>& rows, double seconds) {
    if (!Shown(rows, seconds)) m_ok = false;
  });
  return true;
}

// Field 2 carries nothing on most tapes: its file comes with its first pair.
bool CaptionFiles::OpenField2() {
  if (m_field2.file || m_field2Failed) return m_field2.file != nullptr;
  const std::string path = Field2SccOf(m_path);
  m_field2.file = std::fopen(path.c_str(), "w");
  if (!m_field2.file || std::fputs(kSccHeader, m_field2.file) < 0) {
    LogErrno("writer", "cannot write %s; field 2's pairs are not kept", path.c_str());
    if (m_field2.file) std::fclose(m_field2.file);
    m_field2.file = nullptr;
    m_field2Failed = true;
  }
  return m_field2.file != nullptr;
}

// A pair goes on the line of the pair of the frame before; a pair after a gap starts a line with its
// own time code. Nulls only fill the time between, which the time codes already say.
void CaptionFiles::WriteScc(Scc& scc, std::int64_t frame, const cc::Pair& pair) {
  if (frame <= scc.last) frame = scc.last + 1;  // two pairs for one frame: the later takes the next
  if (frame == scc.last + 1)
    std::fprintf(scc.file, " %02x%02x", pair[0], pair[1]);
  else
    std::fprintf(scc.file, "\n\n%s\t%02x%02x", cc::TimeCode(frame, m_dropFrame, m_fps).c_str(), pair[0], pair[1]);
  scc.last = frame;
}

bool CaptionFiles::Frame(std::int64_t frame, double seconds, const std::uint8_t* triplets, std::size_t size) {
  if (!m_scc.file) return true;
  const std::int64_t before[2] = {m_scc.last, m_field2.last};
  for (std::size_t i = 0; i + 3 <= size; i += 3) {
    const cc::Pair pair{triplets[i + 1], triplets[i + 2]};
    if (pair[0] == cc::kNull && pair[1] == cc::kNull) continue;
    if (triplets[i] == cc::kField1) WriteScc(m_scc, frame, pair);
    if (triplets[i] == cc::kField2 && OpenField2()) WriteScc(m_field2, frame, pair);
  }
  if (m_scc.last != before[0]) std::fflush(m_scc.file);
  if (m_field2.last != before[1]) std::fflush(m_field2.file);
  m_decoder->Feed(triplets, size, seconds);
  m_teletext->Feed(triplets, size, seconds);
  return std::exchange(m_ok, true);
}

bool CaptionFiles::Shown(const std::vector<cc::Row>& rows, double seconds) {
  bool ok = true;
  if (!m_text.empty() && seconds > m_since) {
    std::fprintf(m_srt, "%d\n%s --> %s\n%s\n\n", ++m_entries, cc::SrtTime(m_since).c_str(), cc::SrtTime(seconds).c_str(),
                 m_text.c_str());
    std::fflush(m_srt);
    if (m_subtitle) ok = m_subtitle(m_text, m_since, seconds);
  }
  m_text = cc::TextOf(rows);
  m_since = seconds;
  return ok;
}

bool CaptionFiles::Finish(double seconds) {
  if (!m_scc.file) return true;
  const bool ok = Shown({}, seconds);
  bool closed = true;
  for (std::FILE** f : {&m_scc.file, &m_field2.file}) {
    if (!*f) continue;
    std::fputs("\n", *f);
    closed = std::fclose(*f) == 0 && closed;
    *f = nullptr;
  }
  closed = std::fclose(m_srt) == 0 && closed;
  m_srt = nullptr;
  if (!closed) LogErrno("writer", "the captions beside %s may be incomplete", m_path.c_str());
  return ok;
}

}  // namespace orv::media
