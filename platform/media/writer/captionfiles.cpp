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

CaptionFiles::CaptionFiles(std::string path, std::int64_t framePeriod, SubtitleFn subtitle)
    : m_path(std::move(path)),
      m_dropFrame(IsNtscRate(framePeriod)),
      m_fps(framePeriod > 0 ? static_cast<int>(std::lround(1e7 / static_cast<double>(framePeriod))) : 25),
      m_subtitle(std::move(subtitle)) {}

CaptionFiles::~CaptionFiles() {
  if (m_scc) std::fclose(m_scc);
  if (m_srt) std::fclose(m_srt);
}

void CaptionFiles::ClearFormer(const std::string& path) {
  for (const std::string& side : {SccOf(path), SrtOf(path)})
    if (::unlink(side.c_str()) != 0 && errno != ENOENT) LogErrno("writer", "cannot remove %s", side.c_str());
}

bool CaptionFiles::Start() {
  m_scc = std::fopen(SccOf(m_path).c_str(), "w");
  m_srt = m_scc ? std::fopen(SrtOf(m_path).c_str(), "w") : nullptr;
  if (!m_scc || !m_srt || std::fputs(kSccHeader, m_scc) < 0 || std::fflush(m_scc) != 0) {
    LogErrno("writer", "cannot write the captions beside %s; the recording goes on without them", m_path.c_str());
    if (m_scc) std::fclose(m_scc);
    if (m_srt) std::fclose(m_srt);
    m_scc = m_srt = nullptr;
    return false;
  }
  m_decoder = std::make_unique<cc::Decoder>([this](const std::vector<cc::Row>& rows, double seconds) {
    if (!Shown(rows, seconds)) m_ok = false;
  });
  return true;
}

// A pair goes on the line of the pair of the frame before; a pair after a gap starts a line with its
// own time code. Nulls only fill the time between, which the time codes already say.
void CaptionFiles::WriteScc(std::int64_t frame, const cc::Pair& pair) {
  if (pair[0] == cc::kNull && pair[1] == cc::kNull) return;
  if (frame <= m_sccLast) frame = m_sccLast + 1;  // two pairs for one frame: the later takes the next
  if (frame == m_sccLast + 1)
    std::fprintf(m_scc, " %02x%02x", pair[0], pair[1]);
  else
    std::fprintf(m_scc, "\n\n%s\t%02x%02x", cc::TimeCode(frame, m_dropFrame, m_fps).c_str(), pair[0], pair[1]);
  m_sccLast = frame;
}

bool CaptionFiles::Frame(std::int64_t frame, double seconds, const std::uint8_t* triplets, std::size_t size) {
  if (!m_scc) return true;
  const std::int64_t before = m_sccLast;
  for (std::size_t i = 0; i + 3 <= size; i += 3)
    if (triplets[i] == cc::kField1) WriteScc(frame, {triplets[i + 1], triplets[i + 2]});
  if (m_sccLast != before) std::fflush(m_scc);
  m_decoder->Feed(triplets, size, seconds);
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
  if (!m_scc) return true;
  const bool ok = Shown({}, seconds);
  std::fputs("\n", m_scc);
  const bool sccClosed = std::fclose(m_scc) == 0, srtClosed = std::fclose(m_srt) == 0;
  const bool closed = sccClosed && srtClosed;
  m_scc = m_srt = nullptr;
  if (!closed) LogErrno("writer", "the captions beside %s may be incomplete", m_path.c_str());
  return ok;
}

}  // namespace orv::media
