#include "platform/media/writer/sidefiles.h"

#include "platform/log.h"
#include "platform/media/writer/coders.h"
#include "platform/ui/winuser.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <list>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
#include <libavutil/pixdesc.h>
}

namespace orv::media {
namespace {

using Json = nlohmann::ordered_json;

// The log's summary lines come once a minute of the file.
constexpr double kSummaryEvery = 60.0;
// Per-frame checksums are written out at least this often (they are not needed up to the last
// second of a capture cut short; the log is, and goes out line by line).
constexpr auto kChecksumsOutEvery = std::chrono::seconds(1);
constexpr std::size_t kChecksumsOutBytes = 64u << 10;
// A PCM chunk of an AVI file is read back in pieces of at most this many samples (libavformat's
// AVI reader cuts them so), and each piece is a line of the framemd5.
constexpr std::int64_t kAviSoundPiece = 1024;
constexpr std::size_t kReadBackBytes = 1u << 20;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex(const std::uint8_t (&digest)[16]) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : digest) out += kDigits[b >> 4], out += kDigits[b & 15];
  return out;
}

class Md5 {
 public:
  Md5() : m_ctx(av_md5_alloc()) { av_md5_init(m_ctx); }
  ~Md5() { av_free(m_ctx); }
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  void Add(const std::uint8_t* data, std::size_t size) {
    // av_md5_update takes an int in older FFmpeg: big blocks go in pieces.
    for (std::size_t done = 0; done < size;) {
      const std::size_t n = std::min<std::size_t>(size - done, 1u << 30);
      av_md5_update(m_ctx, data + done, static_cast<int>(n));
      done += n;
    }
  }
  std::string Hex() {
    std::uint8_t digest[16];
    av_md5_final(m_ctx, digest);
    av_md5_init(m_ctx);
    return orv::media::Hex(digest);
  }

 private:
  AVMD5* m_ctx;
};

// Writes all of it; false on a failure (errno set).
bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n, size -= static_cast<std::size_t>(n);
  }
  return true;
}

// dBFS of a peak on a full scale, one decimal; null for digital silence.
Json Decibels(int peak, int fullScale) {
  if (peak <= 0) return nullptr;
  return std::round(200.0 * std::log10(static_cast<double>(peak) / fullScale)) / 10.0;
}

// ---- The file's checksum, read back after it is closed ----------------------------------------

struct ChecksumJob {
  std::string path;
  std::atomic<bool> cancel{false};
  std::atomic<bool> done{false};
  std::thread thread;
};

// Identity and state of a file: a file changed while it was read has no checksum.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
         a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

void ReadBack(ChecksumJob& job) {
  const std::string& path = job.path;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat before {}, after {};
  if (fd < 0 || ::fstat(fd, &before) != 0) {
    LogErrno("writer", "cannot read %s back for its checksum", path.c_str());
    if (fd >= 0) ::close(fd);
    return;
  }
  Md5 md5;
  std::vector<std::uint8_t> buffer(kReadBackBytes);
  bool ok = true;
  for (;;) {
    if (job.cancel) {
      ok = false;
      break;
    }
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      LogErrno("writer", "cannot read %s back for its checksum", path.c_str());
      ok = false;
    }
    if (n <= 0) break;
    md5.Add(buffer.data(), static_cast<std::size_t>(n));
  }
  ok = ok && ::fstat(fd, &after) == 0 && SameFile(before, after);
  ::close(fd);
  if (!ok) return;
  // Written aside and renamed: the checksum file is whole or absent.
  const std::string line = md5.Hex() + "  " + BaseName(path) + "\n";
  const std::string target = ChecksumOf(path), part = target + ".part";
  const int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const bool written = out >= 0 && WriteAll(out, line.data(), line.size()) && ::fsync(out) == 0;
  if (out >= 0) ::close(out);
  struct stat now {};
  if (!written || job.cancel || ::stat(path.c_str(), &now) != 0 || !SameFile(before, now) ||
      ::rename(part.c_str(), target.c_str()) != 0) {
    if (!written) LogErrno("writer", "cannot write %s", target.c_str());
    ::unlink(part.c_str());
  }
}

class ChecksumJobs {
 public:
  ~ChecksumJobs() { JoinAll(); }
  void Start(const std::string& path) {
    auto job = std::make_shared<ChecksumJob>();
    job->path = path;
    std::lock_guard lock(m_mutex);
    Collect();
    try {
      job->thread = std::thread([job] {
        ReadBack(*job);
        job->done = true;
      });
    } catch (const std::system_error&) {
      LogError("writer", "no thread for the checksum of %s", path.c_str());
      return;
    }
    m_jobs.push_back(std::move(job));
  }
  // A recording of the same name starts: the one being read is another file by now.
  void Cancel(const std::string& path) {
    std::vector<std::shared_ptr<ChecksumJob>> stopping;
    {
      std::lock_guard lock(m_mutex);
      for (auto& job : m_jobs)
        if (job->path == path) job->cancel = true, stopping.push_back(job);
    }
    for (auto& job : stopping)
      while (!job->done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool Pending(const std::string& path) {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_jobs.begin(), m_jobs.end(), [&](const auto& j) { return j->path == path && !j->done && !j->cancel; });
  }
  void Wait() {
    auto allDone = [this] {
      std::lock_guard lock(m_mutex);
      return std::all_of(m_jobs.begin(), m_jobs.end(), [](const auto& j) { return j->done.load(); });
    };
    if (orv::ui::IsUiThread()) orv::ui::WaitPumpingMessages(allDone);
    JoinAll();
  }

 private:
  // Joins the jobs that have ended (under the lock).
  void Collect() {
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = m_jobs.erase(it);
      } else {
        ++it;
      }
    }
  }
  void JoinAll() {
    std::list<std::shared_ptr<ChecksumJob>> jobs;
    {
      std::lock_guard lock(m_mutex);
      jobs.swap(m_jobs);
    }
    for (auto& job : jobs)
      if (job->thread.joinable()) job->thread.join();
  }
  std::mutex m_mutex;
  std::list<std::shared_ptr<ChecksumJob>> m_jobs;
};

ChecksumJobs& Jobs() {
  static ChecksumJobs jobs;
  return jobs;
}

// ---- Pictures and sound as they go in ------------------------------------------------------------

// The lowest and highest luma of a picture, where its format has one.
bool LumaRange(const AVFrame& f, int* low, int* high) {
  int step = 1, first = 0;
  switch (f.format) {
    case AV_PIX_FMT_YUYV422: step = 2; break;
    case AV_PIX_FMT_UYVY422: step = 2, first = 1; break;
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUV422P:
    case AV_PIX_FMT_NV12: break;
    default: return false;
  }
  std::uint8_t lo = 255, hi = 0;
  for (int y = 0; y < f.height; ++y) {
    const std::uint8_t* row = f.data[0] + static_cast<std::ptrdiff_t>(y) * f.linesize[0] + first;
    if (step == 1) {
      const auto [mn, mx] = std::minmax_element(row, row + f.width);
      lo = std::min(lo, *mn), hi = std::max(hi, *mx);
    } else {
      for (int x = 0; x < f.width; ++x) lo = std::min(lo, row[2 * x]), hi = std::max(hi, row[2 * x]);
    }
  }
  *low = lo, *high = hi;
  return f.height > 0 && f.width > 0;
}

// The picture's bytes as a decoder gives them back, plane by plane without padding.
std::string HashPicture(Md5& md5, const AVFrame& f, int* size) {
  const auto format = static_cast<AVPixelFormat>(f.format);
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
  int lines[4] = {};
  *size = 0;
  if (!desc || av_image_fill_linesizes(lines, format, f.width) < 0) return {};
  for (int p = 0; p < 4 && f.data[p] && lines[p] > 0; ++p) {
    const bool chroma = (p == 1 || p == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int rows = chroma ? AV_CEIL_RSHIFT(f.height, desc->log2_chroma_h) : f.height;
    for (int y = 0; y < rows; ++y) md5.Add(f.data[p] + static_cast<std::ptrdiff_t>(y) * f.linesize[p], static_cast<std::size_t>(lines[p]));
    *size += lines[p] * rows;
  }
  return md5.Hex();
}

struct SoundLevels {
  std::vector<int> peak, clips;
  void Reset(std::size_t channels) { peak.assign(channels, 0), clips.assign(channels, 0); }
  Json Peaks(int fullScale) const {
    Json out = Json::array();
    for (int p : peak) out.push_back(Decibels(p, fullScale));
    return out;
  }
};

// A framemd5 line waiting for its place among the other streams' (FFmpeg writes them in time order).
struct Line {
  std::int64_t dts;
  std::string text;
};

struct Track {
  AVStream* st = nullptr;
  AVRational unit{1, 1};
  bool video = false;
  std::string settings;     // the codec and its settings
  bool hashed = false;       // its packets have framemd5 lines
  bool fromPictures = false;  // the lines' checksums are of the pictures given to the encoder (FFV1)
  // Sound.
  int channels = 0, bytesPerSample = 2;
  bool unsigned8 = false;
  std::int64_t piece = 0;  // samples a line covers at most (AVI), 0: a packet a line
  SoundLevels minute, all;
  // Pictures given to the encoder whose packets have not come out yet: frame index, checksum, size.
  std::map<std::int64_t, std::pair<std::string, int>> pictures;
  std::pair<std::string, int> last;  // the checksum of the latest picture
  std::deque<Line> lines;
};

}  // namespace

std::string CaptureLogOf(const std::string& path) { return path + ".log.jsonl"; }
std::string FrameChecksumsOf(const std::string& path) { return path + ".framemd5"; }
std::string ChecksumOf(const std::string& path) { return path + ".md5"; }

struct SideFiles::Impl {
  std::string path;
  Json description;
  bool matroska = false;
  bool frameChecksums = false;
  std::string start = UtcNow();
  std::vector<Track> tracks;
  std::function<double(REFERENCE_TIME)> fileTime;
  int log = -1, sums = -1;
  std::string sumsOut;  // framemd5 text not yet written
  std::chrono::steady_clock::time_point sumsOutAt = std::chrono::steady_clock::now();
  Md5 md5;
  double at = 0;  // where the file's timeline has got to, seconds
  // The minute's picture levels.
  int yMin = 256, yMax = -1;
  double nextSummary = kSummaryEvery;
  std::string halted;  // the writer's own reason to end

  std::mutex watchMutex;
  std::shared_ptr<FrameCounts> pictureCounts;
  std::vector<std::pair<std::shared_ptr<FrameCounts>, std::size_t>> watched;  // with the events logged
  std::string reason;  // the engine's, under watchMutex
  std::string accessCopy;  // under watchMutex
  long accessDropped = 0;

  void WriteLine(const Json& line) {
    if (log < 0) return;
    const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    if (!WriteAll(log, text.data(), text.size())) {
      LogErrno("writer", "cannot write %s; the capture log ends here", CaptureLogOf(path).c_str());
      ::close(log);
      log = -1;
    }
  }

  void OutSums(bool now) {
    if (sums < 0 || sumsOut.empty()) return;
    const auto t = std::chrono::steady_clock::now();
    if (!now && sumsOut.size() < kChecksumsOutBytes && t - sumsOutAt < kChecksumsOutEvery) return;
    sumsOutAt = t;
    if (!WriteAll(sums, sumsOut.data(), sumsOut.size())) {
      LogErrno("writer", "cannot write %s; the per-frame checksums end here", FrameChecksumsOf(path).c_str());
      ::close(sums);
      sums = -1;
    }
    sumsOut.clear();
  }

  // The lines that can go out in FFmpeg's order: by time, then stream, once every stream has one.
  void Interleave(bool all) {
    for (;;) {
      Track* first = nullptr;
      for (Track& t : tracks) {
        if (!t.hashed) continue;
        if (t.lines.empty()) {
          if (!all) return;
          continue;
        }
        if (!first || av_compare_ts(t.lines.front().dts, t.unit, first->lines.front().dts, first->unit) < 0) first = &t;
      }
      if (!first) return;
      sumsOut += first->lines.front().text;
      first->lines.pop_front();
    }
  }

  void AddLine(Track& t, std::int64_t dts, std::int64_t duration, int size, const std::string& hash) {
    char text[160];
    std::snprintf(text, sizeof text, "%d, %10" PRId64 ", %10" PRId64 ", %8" PRId64 ", %8d, %s\n", t.st->index, dts, dts,
                  duration, size, hash.c_str());
    t.lines.push_back({dts, text});
  }

  // The levels since the last summary, up to `t`.
  void Summary(double t) {
    Json line{{"type", "summary"}, {"t", t}};
    for (const Track& t : tracks)
      if (!t.video && t.channels > 0) {
        line["sound_peak_dbfs"] = t.minute.Peaks(t.unsigned8 ? 128 : 32768);
        line["sound_clips"] = t.minute.clips;
        break;
      }
    line["ymin"] = yMax >= 0 ? Json(yMin) : Json(nullptr);
    line["ymax"] = yMax >= 0 ? Json(yMax) : Json(nullptr);
    WriteLine(line);
    for (Track& t : tracks) t.minute.Reset(static_cast<std::size_t>(t.channels));
    yMin = 256, yMax = -1;
    nextSummary += kSummaryEvery;
  }

  void Picture(Track& t, std::int64_t index, const AVFrame& f, bool again) {
    const double time = static_cast<double>(index) * t.unit.num / t.unit.den;
    while (time >= nextSummary) Summary(nextSummary);
    if (!again) {
      int low = 0, high = 0;
      if (LumaRange(f, &low, &high)) yMin = std::min(yMin, low), yMax = std::max(yMax, high);
    }
    if (!t.fromPictures) return;
    if (!again) t.last.first = HashPicture(md5, f, &t.last.second);
    t.pictures[index] = t.last;
  }

  void Sound(Track& t, const BYTE* data, std::int64_t samples) {
    const int channels = t.channels;
    for (std::int64_t i = 0; i < samples; ++i)
      for (int c = 0; c < channels; ++c) {
        int v;
        bool clip;
        if (t.unsigned8) {
          const int s = data[i * channels + c];
          v = std::abs(s - 128), clip = s == 0 || s == 255;
        } else {
          const std::uint8_t* p = data + 2 * (i * channels + c);
          const auto s = static_cast<std::int16_t>(p[0] | p[1] << 8);
          v = std::abs(static_cast<int>(s)), clip = s == 32767 || s == -32768;
        }
        for (SoundLevels* l : {&t.minute, &t.all}) {
          l->peak[static_cast<std::size_t>(c)] = std::max(l->peak[static_cast<std::size_t>(c)], v);
          l->clips[static_cast<std::size_t>(c)] += clip;
        }
      }
  }

  // The sound as FFmpeg's framemd5 hashes it: 16-bit little-endian (8-bit sound converted).
  std::string HashSound(const Track& t, const std::uint8_t* data, std::int64_t samples, int* size) {
    const std::size_t values = static_cast<std::size_t>(samples * t.channels);
    if (!t.unsigned8) {
      md5.Add(data, values * 2);
      *size = static_cast<int>(values * 2);
      return md5.Hex();
    }
    std::vector<std::uint8_t> wide(values * 2);
    for (std::size_t i = 0; i < values; ++i) wide[2 * i] = 0, wide[2 * i + 1] = static_cast<std::uint8_t>(data[i] - 128);
    md5.Add(wide.data(), wide.size());
    *size = static_cast<int>(wide.size());
    return md5.Hex();
  }

  // The events noted since the last look (writing thread, or after it has ended).
  void Events() {
    std::vector<std::pair<std::shared_ptr<FrameCounts>, std::size_t>> sources;
    {
      std::lock_guard lock(watchMutex);
      sources = watched;
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const std::vector<CaptureEvent> events = sources[i].first->events.Since(sources[i].second);
      for (const CaptureEvent& e : events) {
        Json line{{"type", "event"}, {"event", NameOf(e.kind)}, {"t", Seconds(fileTime ? fileTime(e.at) : e.at / 1e7)}};
        if (e.count != 1 || e.kind == CaptureEventKind::FramesLost || e.kind == CaptureEventKind::FramesInserted)
          line["count"] = e.count;
        WriteLine(line);
      }
      if (events.empty()) continue;
      std::lock_guard lock(watchMutex);
      watched[i].second += events.size();
    }
  }

  static double Seconds(double t) { return std::round(t * 1000.0) / 1000.0; }

  std::string md5Hex(const std::uint8_t* data, std::size_t size) {
    md5.Add(data, size);
    return md5.Hex();
  }

  // "video: ffv1 ...; audio: pcm_s16le"
  std::string Settings() const {
    std::string out;
    for (const Track& t : tracks)
      if (!t.settings.empty()) out += (out.empty() ? "" : "; ") + std::string(t.video ? "video: " : "audio: ") + t.settings;
    return out;
  }

  Json FirstLine() const {
    Json line{{"type", "capture"}};
    for (const auto& [key, value] : description.items()) line[key] = value;
    line["start"] = start;
    line["file"] = BaseName(path);
    Json& record = line["record"];
    if (!record.is_object()) record = Json::object();
    record["container"] = matroska ? "matroska" : "avi";
    for (const Track& t : tracks) {
      const AVCodecParameters* par = t.st->codecpar;
      if (t.video) {
        char rate[32], aspect[32];
        std::snprintf(rate, sizeof rate, "%d/%d", t.unit.den, t.unit.num);
        std::snprintf(aspect, sizeof aspect, "%d:%d", par->sample_aspect_ratio.num, par->sample_aspect_ratio.den);
        static const char* const kFields[] = {"unknown", "progressive", "top_first", "bottom_first", "top_first", "bottom_first"};
        record["video"] = {{"codec", avcodec_get_name(par->codec_id)}, {"settings", t.settings}, {"width", par->width},
                           {"height", par->height}, {"frame_rate", rate}, {"sample_aspect", aspect},
                           {"field_order", kFields[std::clamp(static_cast<int>(par->field_order), 0, 5)]}};
      } else {
        record["audio"] = {{"codec", avcodec_get_name(par->codec_id)}, {"settings", t.settings}};
        Json& sound = line["sound"];
        if (!sound.is_object()) sound = Json::object();
        sound["rate"] = par->sample_rate;
        sound["channels"] = t.channels;
        sound["sample_format"] = t.unsigned8 ? "u8" : "s16le";
      }
    }
    return line;
  }

  // As FFmpeg heads its framemd5 output.
  std::string ChecksumsHeader() const {
    std::string out = "#format: frame checksums\n#version: 2\n#hash: MD5\n";
    char text[320];
    for (const Track& t : tracks) {
      if (!t.hashed) continue;
      const AVCodecParameters* par = t.st->codecpar;
      const int i = t.st->index;
      if (t.video) {
        std::snprintf(text, sizeof text, "#tb %d: %d/%d\n#media_type %d: video\n#codec_id %d: rawvideo\n#dimensions %d: %dx%d\n#sar %d: %d/%d\n",
                      i, t.unit.num, t.unit.den, i, i, i, par->width, par->height, i,
                      par->sample_aspect_ratio.num, par->sample_aspect_ratio.den);
      } else {
        char layout[64] = "";
        av_channel_layout_describe(&par->ch_layout, layout, sizeof layout);
        std::snprintf(text, sizeof text, "#tb %d: 1/%d\n#media_type %d: audio\n#codec_id %d: pcm_s16le\n#sample_rate %d: %d\n#channel_layout_name %d: %s\n",
                      i, par->sample_rate, i, i, i, par->sample_rate, i, layout);
      }
      out += text;
    }
    return out + "#stream#, dts,        pts, duration,     size, hash\n";
  }
};

SideFiles::SideFiles(std::string path, const std::string& description, bool matroska, bool frameChecksums)
    : m_impl(std::make_unique<Impl>()) {
  m_impl->path = std::move(path);
  m_impl->matroska = matroska;
  m_impl->frameChecksums = frameChecksums;
  m_impl->description = description.empty() ? Json::object() : Json::parse(description, nullptr, false);
  if (!m_impl->description.is_object()) {
    LogError("writer", "the capture's description is not a JSON object; the log goes without it");
    m_impl->description = Json::object();
  }
}

SideFiles::~SideFiles() {
  if (m_impl->log >= 0) ::close(m_impl->log);
  if (m_impl->sums >= 0) ::close(m_impl->sums);
}

void SideFiles::ClearFormer(const std::string& path) {
  Jobs().Cancel(path);
  for (const std::string& side : {CaptureLogOf(path), FrameChecksumsOf(path), ChecksumOf(path)})
    if (::unlink(side.c_str()) != 0 && errno != ENOENT) LogErrno("writer", "cannot remove %s", side.c_str());
}

void SideFiles::AddStream(AVStream* st, AVRational unit, PictureCoder* picture, SoundCoder* sound) {
  Impl& m = *m_impl;
  Track t;
  t.st = st;
  t.unit = unit;
  t.video = picture != nullptr;
  t.settings = picture ? picture->Settings() : sound ? sound->Settings() : std::string();
  const AVCodecID codec = st->codecpar->codec_id;
  const bool pcm = codec == AV_CODEC_ID_PCM_S16LE || codec == AV_CODEC_ID_PCM_U8;
  t.fromPictures = m.frameChecksums && codec == AV_CODEC_ID_FFV1;
  t.hashed = m.frameChecksums && (t.fromPictures || codec == AV_CODEC_ID_RAWVIDEO || pcm);
  if (!t.video) {
    t.channels = st->codecpar->ch_layout.nb_channels;
    t.unsigned8 = st->codecpar->bits_per_coded_sample == 8;
    t.piece = m.matroska ? 0 : kAviSoundPiece;
    t.minute.Reset(static_cast<std::size_t>(t.channels));
    t.all.Reset(static_cast<std::size_t>(t.channels));
  }
  m.tracks.push_back(std::move(t));
  const std::size_t index = m.tracks.size() - 1;
  if (picture)
    picture->watch = [&m, index](std::int64_t i, const AVFrame& f, bool again) { m.Picture(m.tracks[index], i, f, again); };
  if (sound) sound->watch = [&m, index](const BYTE* data, std::int64_t samples) { m.Sound(m.tracks[index], data, samples); };
}

void SideFiles::Tag(AVFormatContext* ctx) {
  Impl& m = *m_impl;
  if (!m.matroska) return;
  const Json& d = m.description;
  auto text = [](const Json& o, const char* key) {
    const Json v = o.is_object() ? o.value(key, Json()) : Json();
    return v.is_string() ? v.get<std::string>() : v.is_null() ? std::string() : v.dump();
  };
  std::string program = text(d, "program");
  if (const std::string version = text(d, "version"); !version.empty()) program += " " + version;
  const std::pair<const char*, std::string> tags[] = {
      {"DATE_DIGITIZED", m.start},
      {"ENCODER", program},
      {"ENCODER_SETTINGS", m.Settings()},
      {"ORIGINAL_MEDIA_TYPE", text(d, "input")},
      {"TV_STANDARD", text(d, "standard")},
      {"CAPTURE_DEVICE", text(d.value("device", Json()), "name")},
      {"DIGITIZED_BY", text(d, "operator")},
      {"COMMENT", text(d, "notes")},
  };
  for (const auto& [key, value] : tags)
    if (!value.empty()) av_dict_set(&ctx->metadata, key, value.c_str(), 0);
  // Matroska's writing application.
  if (!program.empty()) av_dict_set(&ctx->metadata, "encoding_tool", program.c_str(), 0);
}

bool SideFiles::Start(std::function<double(REFERENCE_TIME)> fileTime) {
  Impl& m = *m_impl;
  m.fileTime = std::move(fileTime);
  const std::string logPath = CaptureLogOf(m.path);
  m.log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0666);
  if (m.log < 0) {
    LogErrno("writer", "cannot create %s; the recording goes on without its log and checksums", logPath.c_str());
    return false;
  }
  if (std::any_of(m.tracks.begin(), m.tracks.end(), [](const Track& t) { return t.hashed; })) {
    const std::string sumsPath = FrameChecksumsOf(m.path);
    m.sums = ::open(sumsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m.sums < 0) LogErrno("writer", "cannot create %s", sumsPath.c_str());
  }
  m.WriteLine(m.FirstLine());
  if (m.sums >= 0) m.sumsOut = m.ChecksumsHeader();
  m.OutSums(true);
  return true;
}

void SideFiles::Watch(bool picture, const std::shared_ptr<FrameCounts>& counts) {
  if (!counts) return;
  Impl& m = *m_impl;
  std::lock_guard lock(m.watchMutex);
  if (picture && !m.pictureCounts) m.pictureCounts = counts;
  if (std::none_of(m.watched.begin(), m.watched.end(), [&](const auto& w) { return w.first == counts; }))
    m.watched.emplace_back(counts, 0);
}

void SideFiles::Packet(int stream, const AVPacket& pkt) {
  Impl& m = *m_impl;
  m.Events();
  if (stream < 0 || stream >= static_cast<int>(m.tracks.size())) return;
  Track& t = m.tracks[static_cast<std::size_t>(stream)];
  if (t.video) m.at = std::max(m.at, static_cast<double>(pkt.pts + pkt.duration) * t.unit.num / t.unit.den);
  if (!t.hashed || m.sums < 0) return;
  if (t.fromPictures) {
    const auto it = t.pictures.find(pkt.pts);
    if (it == t.pictures.end()) return;
    m.AddLine(t, pkt.pts, 1, it->second.second, it->second.first);
    t.pictures.erase(t.pictures.begin(), std::next(it));
  } else if (t.video) {
    // An empty entry (a frame without picture) is no packet to a reader.
    if (pkt.size > 0) m.AddLine(t, pkt.pts, 1, pkt.size, m.md5Hex(pkt.data, static_cast<std::size_t>(pkt.size)));
  } else {
    const int block = t.channels * (t.unsigned8 ? 1 : 2);
    const std::int64_t samples = block > 0 ? pkt.size / block : 0;
    const std::int64_t piece = t.piece > 0 ? t.piece : std::max<std::int64_t>(samples, 1);
    for (std::int64_t from = 0; from < samples; from += piece) {
      const std::int64_t n = std::min(piece, samples - from);
      int size = 0;
      const std::string hash = m.HashSound(t, pkt.data + from * block, n, &size);
      m.AddLine(t, pkt.pts + from, n, size, hash);
    }
  }
  m.Interleave(false);
  m.OutSums(false);
}

void SideFiles::Aspect(const wss::Aspect& aspect, double seconds) {
  Impl& m = *m_impl;
  m.WriteLine({{"type", "event"}, {"event", "wss"}, {"t", Impl::Seconds(seconds)}, {"aspect", aspect.DisplayName()},
               {"lines", {aspect.firstLine, aspect.lastLine}}, {"wss", aspect.value}});
}

void SideFiles::Programme(const std::string& name, double seconds) {
  m_impl->WriteLine({{"type", "event"}, {"event", "programme"}, {"t", Impl::Seconds(seconds)}, {"name", name}});
}

void SideFiles::Halted(HRESULT why) {
  Impl& m = *m_impl;
  m.halted = why == HRESULT_FROM_WIN32(ERROR_DISK_FULL) ? "disk_full"
             : why == VFW_E_TYPE_NOT_ACCEPTED          ? "format_changed"
                                                       : "write_fault";
  m.Events();
  if (m.halted != "disk_full") m.WriteLine({{"type", "event"}, {"event", m.halted}, {"t", Impl::Seconds(m.at)}});
}

void SideFiles::EndsBecause(std::string reason) {
  std::lock_guard lock(m_impl->watchMutex);
  m_impl->reason = std::move(reason);
}

void SideFiles::AccessCopy(std::string file, long dropped) {
  std::lock_guard lock(m_impl->watchMutex);
  m_impl->accessCopy = std::move(file);
  m_impl->accessDropped = dropped;
}

void SideFiles::Finish(bool written) {
  Impl& m = *m_impl;
  if (m.log < 0) return;
  m.Events();
  std::string reason;
  LONG counts[3] = {};
  Json access;
  {
    std::lock_guard lock(m.watchMutex);
    reason = !m.halted.empty() ? m.halted : !m.reason.empty() ? m.reason : "user";
    if (m.pictureCounts) counts[0] = m.pictureCounts->delivered, counts[1] = m.pictureCounts->dropped, counts[2] = m.pictureCounts->inserted;
    if (!m.accessCopy.empty()) access = {{"file", m.accessCopy}, {"dropped", m.accessDropped}};
  }
  // The minute the capture ended in has its summary too.
  if (m.at > m.nextSummary - kSummaryEvery) m.Summary(Impl::Seconds(m.at));
  Json last{{"type", "end"}, {"end", UtcNow()}, {"reason", reason}, {"t", Impl::Seconds(m.at)},
            {"captured", counts[0]}, {"dropped", counts[1]}, {"inserted", counts[2]}};
  if (!access.is_null()) last["access_copy"] = access;
  for (const Track& t : m.tracks)
    if (!t.video && t.channels > 0) {
      last["sound_peak_dbfs"] = t.all.Peaks(t.unsigned8 ? 128 : 32768);
      last["sound_clips"] = t.all.clips;
      break;
    }
  struct stat st {};
  last["size"] = ::stat(m.path.c_str(), &st) == 0 ? Json(static_cast<std::int64_t>(st.st_size)) : Json(nullptr);
  m.WriteLine(last);
  m.Interleave(true);
  m.OutSums(true);
  for (int* fd : {&m.log, &m.sums})
    if (*fd >= 0) {
      if (::fsync(*fd) != 0 && errno != EINVAL) LogErrno("writer", "cannot put the side files of %s on the disk", m.path.c_str());
      ::close(*fd);
      *fd = -1;
    }
  // A disk that failed to keep the file may give back what it failed to keep.
  if (written && m.halted != "write_fault") Jobs().Start(m.path);
}

bool ChecksumComing(const std::string& path) {
  struct stat st {};
  return Jobs().Pending(path) || ::stat(ChecksumOf(path).c_str(), &st) == 0;
}

void WaitForChecksums() { Jobs().Wait(); }

}  // namespace orv::media
