#include "platform/media/writer/mediawriter.h"

#include "platform/log.h"
#include "platform/media/late/late.h"
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/coders.h"
#include "platform/media/writer/sidefiles.h"
#include "platform/media/writer/testing.h"
#include "platform/media/writer/timeline.h"
#include "platform/media/writer/wss.h"
#include "platform/ui/winuser.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mathematics.h>
}

namespace orv::media {
namespace {

std::atomic<std::uint64_t> g_diskLimit{0};
std::atomic<int> g_writeDelayUs{0};
std::atomic<std::size_t> g_queueLimit{0};
std::atomic<bool> g_followSound{true};
std::atomic<int> g_syncErrno{0};

// Puts what was written to the file on the disk: 0, or the errno of a disk that failed to keep it.
int SyncToDisk(int fd) {
  if (const int e = g_syncErrno) return e;
  if (::fdatasync(fd) == 0) return 0;
  // A file that cannot be synced (a pipe, some special file) has nothing to lose.
  return errno == EINVAL || errno == EROFS ? 0 : errno;
}

// Some seconds of full-size raw video: enough to ride out a disk's pauses, little enough that
// stopping (which writes out what is queued) stays short.
constexpr std::size_t kDefaultQueueBytes = 32u << 20;
// The other codings take the standard's full frame at the full rate (20 MB a second raw): about
// six seconds of it, so that a disk's pause or a slow sync costs no picture.
constexpr std::size_t kEncodedQueueBytes = 128u << 20;
// Sound is never refused while the pictures wait: it has a bound of its own, minutes long. Beyond
// it the recording ends with an error rather than with a hole in the sound.
constexpr std::size_t kSoundQueueBytes = 32u << 20;
// An access copy behind its master: a quarter of the master's queue (about a second and a half of
// full-size pictures), then it leaves pictures out rather than hold more memory.
constexpr std::size_t kAccessQueueBytes = kEncodedQueueBytes / 4;
constexpr std::size_t kIoBufferBytes = 256u << 10;
constexpr std::size_t kSparePictures = 4;
// A Matroska file with a 625-line VBI stream waits at most this many pictures for the wide-screen
// signal, whose shape goes into its header: libzvbi takes a value after a few frames.
constexpr int kAspectLookahead = 25;
// Room kept allocated ahead of the data, so that the index and headers can always be written.
constexpr std::uint64_t kReserveBytes = 8u << 20;
constexpr std::uint64_t kIndexBytesPerChunk = 24;  // legacy and OpenDML index entries together
// A stop that writes out its queue for longer than this keeps the windows going meanwhile.
constexpr auto kQuietStop = std::chrono::milliseconds(100);
// A picture whose place is taken goes to the next one while it is at most this late (in quarters of
// a frame): jitter of the time stamps. Later than that, the picture is left out.
constexpr REFERENCE_TIME kLateQuarters = 3;
// Matroska: a cluster is written out at least this often (in the media's time) and the file synced
// to the disk at most this often (in real time, which a capture keeps to), so that a capture cut
// short plays up to within this of its end.
constexpr REFERENCE_TIME kSyncEvery = 10'000'000;
constexpr auto kDiskSyncEvery = std::chrono::seconds(1);
constexpr const char* kClusterMilliseconds = "2000";
// A picture this many frames or more beyond its place by count has its place by time: the card
// stalled.
constexpr std::int64_t kStallFrames = 2;
// Sound that comes before the first picture waits this long for it (a card's picture may start
// late); then it is written on the nominal rate.
constexpr REFERENCE_TIME kHoldSoundFor = 50'000'000;

// Open writers whose queue is more than half full.
std::atomic<int> g_writersBehind{0};

}  // namespace

HRESULT FileErrorOf(int e) {
  switch (e) {
    case EACCES:
    case EPERM:
    case EISDIR:
      return E_ACCESSDENIED;
    case ENOENT:
    case ENOTDIR:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EROFS:
      return HRESULT_FROM_WIN32(ERROR_WRITE_PROTECT);
    case ENOSPC:
    case EDQUOT:
      return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case EFBIG:
      return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    default:
      return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  }
}

namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class MediaFile final : public MediaWriter {
 public:
  MediaFile(std::string path, int master, const WriterOptions& options, HaltFn onHalt)
      : m_path(std::move(path)), m_master(master), m_options(options), m_onHalt(std::move(onHalt)) {
    const std::size_t limit = g_queueLimit;
    m_queueLimit = options.mayFallBehind ? (limit ? limit / 4 : kAccessQueueBytes)
                   : limit               ? limit
                   : options.coding == RECORD_AS_DELIVERED ? kDefaultQueueBytes
                                                           : kEncodedQueueBytes;
  }
  ~MediaFile() override { Close(); }

  HRESULT Open(const std::vector<const AM_MEDIA_TYPE*>& types) override;
  Delivery Push(int stream, const MediaSample& sample) override;
  HRESULT Close() override;
  bool Halted() const override { return m_halted; }
  void EndsBecause(const std::string& reason) override {
    if (m_side) m_side->EndsBecause(reason);
  }
  void NoteAccessCopy(const std::string& file, long dropped) {
    if (m_side) m_side->AccessCopy(file, dropped);
  }

 private:
  struct Item {
    int stream;
    std::vector<BYTE> data;
    REFERENCE_TIME start;
    std::shared_ptr<FrameCounts> counts;
    bool formatChanged = false;  // no picture: the ones from here on are of another format
    std::uint32_t lost = 0;      // pictures lost just before this one (by the card, or refused here)
  };
  // What of a picture's format the file's header says.
  struct Shape {
    LONG width = 0, height = 0;
    DWORD compression = 0;
    WORD bitCount = 0;
    bool operator==(const Shape&) const = default;
  };
  static std::optional<Shape> ShapeOf(const AM_MEDIA_TYPE* mt) {
    if (!mt || mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo || !mt->pbFormat ||
        mt->cbFormat < sizeof(VIDEOINFOHEADER))
      return std::nullopt;
    const BITMAPINFOHEADER& b = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat)->bmiHeader;
    return Shape{b.biWidth, std::abs(b.biHeight), b.biCompression, b.biBitCount};
  }
  struct Stream {
    AVStream* st = nullptr;
    bool video = false;
    REFERENCE_TIME frameDuration = 0;  // video
    std::optional<Shape> shape;        // video
    AVRational unit{1, 1};             // a frame (video) or a sample (sound)
    int rate = 0, blockAlign = 0;      // sound
    bool unsigned8 = false;            // sound: silence is 0x80
    std::int64_t next = 0;             // next frame index (video) or sample (sound)
    bool started = false;
    std::unique_ptr<PictureCoder> picture;
    std::unique_ptr<SoundCoder> sound;
    std::unique_ptr<PictureClock> clock;     // video, on the pictures' timeline
    std::unique_ptr<SoundFollower> follower;  // sound, on the pictures' timeline
    bool captions = false;  // line 21's byte pairs: beside the file, and a subtitle track in Matroska
  };

  HRESULT AddStream(const AM_MEDIA_TYPE& mt);
  static bool IsCaptions(const AM_MEDIA_TYPE& mt) {
    return mt.majortype == MEDIATYPE_AUXLine21Data && mt.subtype == MEDIASUBTYPE_CcData &&
           mt.formattype == FORMAT_CaptionInfo && mt.pbFormat && mt.cbFormat >= sizeof(CAPTIONINFO);
  }
  // The captions' track of a Matroska file, once every other stream has its own.
  HRESULT AddCaptionTrack(Stream& s);
  void WriteCaptions(Item& item);
  // Under the lock: whether the header can be written, the aspect of line 23 known or not coming.
  bool HeaderReady();
  // The header, with the picture's shape where line 23 says it is 16:9; false when it failed.
  bool WriteHeader();
  bool WriteSubtitle(Stream& s, const std::string& text, double start, double end);
  void Loop();
  void WriteItem(Item& item);
  void WriteVideo(Stream& s, Item& item);
  void PlaceVideo(Stream& s, Item& item);
  void WriteSound(int index, Stream& s, Item& item);
  void FollowPictures(Stream& s, const BYTE* data, std::int64_t samples, REFERENCE_TIME start);
  // Where a moment of the stream's clock lies on the file's timeline (100 ns units).
  double FileTime(REFERENCE_TIME stamp) const;
  void WriteHeldSound();
  void FillToSoundEnd();
  // Fills the file's frames up to `index` (not included) that have no picture; false if it can take no more.
  bool FillTo(Stream& s, std::int64_t index, const std::shared_ptr<FrameCounts>& counts, REFERENCE_TIME at);
  const Stream* VideoStream() const;
  // A picture that was taken but does not go into the file counts as dropped at its source.
  static void LeaveOut(const Item& item) {
    if (item.counts) item.counts->LeftOut();
  }
  // A packet with times in the stream's unit.
  bool WritePacket(Stream& s, AVPacket* pkt);
  EmitFn EmitTo(Stream& s) {
    return [this, &s](AVPacket* pkt) { return WritePacket(s, pkt); };
  }
  // Matroska: closes the cluster and puts what is written on the disk.
  void Sync(REFERENCE_TIME t);
  // Whether the queue is more than half full (under the lock).
  void UpdateBehind();
  // S_OK, or why the file can take no more.
  HRESULT KeepRoom();
  // Ends the recording early and closes the file; drain: what the encoders hold goes in first (the
  // file is sound, its pictures only changed format).
  void Halt(HRESULT hr, bool drain = false);
  HRESULT Finish(bool drain);

  static int WriteCallback(void* opaque, uint8_t* buf, int size);
  static std::int64_t SeekCallback(void* opaque, std::int64_t offset, int whence);

  std::string m_path;
  int m_master;
  const WriterOptions m_options;
  const bool m_followSound = g_followSound;
  // Every picture delivered has the next place, gaps only where the card lost frames, and the sound
  // follows the pictures' clock. The original AVI places pictures by their stamps instead.
  const bool m_pictureLed = m_options.coding != RECORD_AS_DELIVERED;
  HaltFn m_onHalt;
  std::size_t m_queueLimit;
  std::unique_ptr<SideFiles> m_side;  // the log and checksums beside the file
  std::unique_ptr<CaptionFiles> m_captions;  // the captions beside the file, when a VBI device feeds one

  int m_fd = -1;
  // Waiting for the disk is left to a thread of its own, so that the writing never waits on it.
  void SyncLoop();
  void StopSyncing();
  // The sync before the file is reported complete: 0 or errno. The windows stay drawn meanwhile.
  int SyncAtEnd();
  std::thread m_syncThread;
  std::mutex m_syncMutex;
  std::condition_variable m_syncCv;
  bool m_syncWanted = false, m_syncStop = false;
  std::atomic<int> m_syncErrno{0};  // the first sync that failed
  AVFormatContext* m_ctx = nullptr;
  bool m_headerWritten = false;
  // The header waits in the writing thread for the picture's shape the VBI stream will tell.
  bool m_headerWaits = false;
  std::unique_ptr<wss::Decoder> m_aspectAhead;  // the queue's VBI samples read before the header
  std::size_t m_lookedAt = 0;                   // queue items read so far
  int m_picturesAhead = 0;
  bool m_aspectNotComing = false;  // 525 lines: no wide-screen signal
  std::unique_ptr<wss::Decoder> m_aspect;  // its changes into the capture log
  bool m_finished = false;
  std::vector<Stream> m_streams;
  std::int64_t m_pos = 0;       // where the next write goes
  std::int64_t m_size = 0;      // file size so far
  std::int64_t m_reservedTo = 0;  // allocated up to here
  std::uint64_t m_chunks = 0;
  int m_writeErrno = 0;

  // Writing thread only.
  bool m_haveOrigin = false;
  REFERENCE_TIME m_origin = 0;
  REFERENCE_TIME m_videoShift = 0;  // moves the picture onto the sound's clock
  REFERENCE_TIME m_syncedAt = 0;
  std::chrono::steady_clock::time_point m_diskSyncedAt{};
  HRESULT m_error = S_OK;
  HRESULT m_closed = S_OK;  // what finishing the file gave
  std::vector<BYTE> m_followed;  // sound resampled onto the pictures' clock
  std::vector<Item> m_heldSound;  // sound that came before the first picture
  std::shared_ptr<FrameCounts> m_videoCounts;  // the pictures' source's
  REFERENCE_TIME m_lastStart = 0;              // the stamp of the last item written

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<Item> m_queue;
  std::vector<std::vector<BYTE>> m_spare;  // pictures' buffers, written out, to be filled again
  std::size_t m_queued = 0;       // pictures
  std::size_t m_queuedSound = 0;
  bool m_soundLost = false;       // sound found no room: the recording ends
  bool m_formatChanged = false;   // a picture of another format came: the recording ends
  std::uint32_t m_refused = 0;    // pictures refused since the last one taken
  bool m_behind = false;
  bool m_closing = false;
  bool m_drained = false;  // the writing thread has written out its queue
  std::condition_variable m_drainedCv;
  std::atomic<bool> m_halted{false};
  std::thread m_thread;
};

int MediaFile::WriteCallback(void* opaque, uint8_t* buf, int size) {
  auto* w = static_cast<MediaFile*>(opaque);
  std::int64_t allowed = size;
  if (const std::uint64_t limit = g_diskLimit; limit)
    allowed = std::clamp<std::int64_t>(static_cast<std::int64_t>(limit) - w->m_pos, 0, size);
  int done = 0;
  while (done < allowed) {
    const ssize_t n = ::write(w->m_fd, buf + done, static_cast<std::size_t>(allowed - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      w->m_writeErrno = n < 0 ? errno : ENOSPC;
      return AVERROR(w->m_writeErrno);
    }
    done += static_cast<int>(n);
    w->m_pos += n;
    w->m_size = std::max(w->m_size, w->m_pos);
  }
  if (done < size) {
    w->m_writeErrno = ENOSPC;
    return AVERROR(ENOSPC);
  }
  return size;
}

std::int64_t MediaFile::SeekCallback(void* opaque, std::int64_t offset, int whence) {
  auto* w = static_cast<MediaFile*>(opaque);
  if (whence & AVSEEK_SIZE) return w->m_size;
  const off_t at = ::lseek(w->m_fd, offset, whence & ~AVSEEK_FORCE);
  if (at < 0) return AVERROR(errno);
  w->m_pos = at;
  return at;
}

HRESULT MediaFile::AddStream(const AM_MEDIA_TYPE& mt) {
  Stream s;
  if (IsCaptions(mt)) {
    s.captions = true;
    s.unit = AVRational{1, 1000};
    m_streams.push_back(std::move(s));
    return S_OK;
  }
  s.st = avformat_new_stream(m_ctx, nullptr);
  if (!s.st) return E_OUTOFMEMORY;
  const bool globalHeader = m_ctx->oformat->flags & AVFMT_GLOBALHEADER;
  HRESULT hr = VFW_E_INVALIDMEDIATYPE;
  if (mt.majortype == MEDIATYPE_Video && mt.formattype == FORMAT_VideoInfo && mt.pbFormat &&
      mt.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
    s.video = true;
    s.shape = ShapeOf(&mt);
    s.frameDuration = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 333667;
    av_reduce(&s.unit.num, &s.unit.den, s.frameDuration, 10000000, INT32_MAX);
    // The 525-line rate is 30000/1001 exactly, which 100 ns units only come near; the original
    // recording keeps the rate it always wrote.
    if (m_options.coding != RECORD_AS_DELIVERED && std::llabs(s.frameDuration * 30000 - 10010000000LL) <= 30000)
      s.unit = AVRational{1001, 30000};
    s.picture = PictureCoder::Create(m_options.coding, mt, m_options.fields, s.st, s.unit, globalHeader, &hr);
  } else if (mt.majortype == MEDIATYPE_Audio && mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat &&
             mt.cbFormat >= sizeof(WAVEFORMATEX)) {
    const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    if (wfx->wFormatTag != WAVE_FORMAT_PCM || (wfx->wBitsPerSample != 8 && wfx->wBitsPerSample != 16) ||
        wfx->nChannels == 0 || wfx->nSamplesPerSec == 0)
      return VFW_E_INVALIDMEDIATYPE;
    s.rate = static_cast<int>(wfx->nSamplesPerSec);
    s.blockAlign = wfx->nChannels * wfx->wBitsPerSample / 8;
    s.unsigned8 = wfx->wBitsPerSample == 8;
    s.unit = AVRational{1, s.rate};
    s.sound = SoundCoder::Create(m_options.coding, *wfx, s.st, globalHeader, &hr);
  }
  if (FAILED(hr)) return hr;
  m_streams.push_back(std::move(s));
  return S_OK;
}

HRESULT MediaFile::Open(const std::vector<const AM_MEDIA_TYPE*>& types) {
  if (types.empty()) return VFW_E_NOT_CONNECTED;
  // FFV1 and H.264 go into Matroska, the others into AVI.
  const bool encoded = m_options.coding == RECORD_FFV1_PCM || m_options.coding == RECORD_H264_AAC;
  if (encoded != m_options.matroska) return E_INVALIDARG;
  // Loaded after the first picture; their absence is said once in the log.
  for (late::Library library : {late::Library::Codec, late::Library::Format, late::Library::Resample})
    if (!late::Load(library)) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  if (avformat_alloc_output_context2(&m_ctx, nullptr, m_options.matroska ? "matroska" : "avi", nullptr) < 0 || !m_ctx)
    return E_OUTOFMEMORY;
  for (const AM_MEDIA_TYPE* mt : types)
    if (HRESULT hr = AddStream(*mt); FAILED(hr)) return hr;
  // The captions come after the picture and the sound in the file, whatever order the pins came in.
  for (Stream& s : m_streams)
    if (s.captions && m_options.matroska)
      if (HRESULT hr = AddCaptionTrack(s); FAILED(hr)) return hr;
  if (m_master >= static_cast<int>(m_streams.size()) || (m_master >= 0 && m_streams[m_master].video)) m_master = -1;
  if (m_pictureLed && VideoStream())
    for (Stream& s : m_streams) {
      if (s.video || s.captions) continue;
      const int bits = s.unsigned8 ? 8 : 16;
      s.follower = std::make_unique<SoundFollower>(s.rate, s.blockAlign / (bits / 8), bits);
      if (!s.follower->Valid()) return E_OUTOFMEMORY;
    }

  SideFiles::ClearFormer(m_path);
  CaptionFiles::ClearFormer(m_path);
  if (m_options.sideFiles && m_pictureLed) {
    m_side = std::make_unique<SideFiles>(m_path, m_options.description, m_options.matroska, m_options.coding != RECORD_H264_AAC);
    for (Stream& s : m_streams)
      if (!s.captions) m_side->AddStream(s.st, s.unit, s.picture.get(), s.sound.get());
  }
  const auto captions = std::find_if(m_streams.begin(), m_streams.end(), [](const Stream& s) { return s.captions; });
  if (captions != m_streams.end() && m_pictureLed && VideoStream()) {
    Stream* track = captions->st ? &*captions : nullptr;
    m_captions = std::make_unique<CaptionFiles>(
        m_path, VideoStream()->frameDuration,
        [this, track](const std::string& text, double start, double end) { return !track || WriteSubtitle(*track, text, start, end); },
        [this](const std::string& name, double seconds) {
          if (m_side) m_side->Programme(name, seconds);
        },
        m_options.teletextPage);
  }
  m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (m_fd < 0) return FileErrorOf(errno);
  auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
  if (!buffer) return E_OUTOFMEMORY;
  m_ctx->pb = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, &WriteCallback, &SeekCallback);
  if (!m_ctx->pb) {
    av_free(buffer);
    return E_OUTOFMEMORY;
  }
  if (HRESULT hr = KeepRoom(); FAILED(hr)) return hr;
  AVDictionary* options = nullptr;
  if (m_options.matroska) {
    // The segment's size stays unknown until the end; clusters are short.
    av_dict_set(&options, "cluster_time_limit", kClusterMilliseconds, 0);
  } else {
    // RGB comes as a DIB, bottom row first: the header must say so (the muxer's default is top-down).
    av_dict_set(&options, "flipped_raw_rgb", "1", 0);
  }
  // The tags go in between: libavformat names itself the encoder when it sets up the output.
  int written = avformat_init_output(m_ctx, &options);
  av_dict_free(&options);
  if (written >= 0 && m_side) m_side->Tag(m_ctx);
  if (written < 0) return m_writeErrno ? FileErrorOf(m_writeErrno) : E_FAIL;
  // With a VBI stream, Matroska's header waits in the writing thread for the picture's shape.
  m_headerWaits = m_captions && m_options.matroska;
  if (m_headerWaits) m_aspectAhead = std::make_unique<wss::Decoder>(nullptr);
  if (!m_headerWaits && !WriteHeader()) return m_writeErrno ? FileErrorOf(m_writeErrno) : E_FAIL;
  if (m_side && !m_side->Start([this](REFERENCE_TIME t) { return VideoStream() ? FileTime(t) / 1e7 : (t - m_origin) / 1e7; }))
    m_side.reset();
  if (m_captions && m_side)
    m_aspect = std::make_unique<wss::Decoder>([this](const wss::Aspect& aspect, double since) { m_side->Aspect(aspect, since); });
  if (m_captions && !m_captions->Start()) m_captions.reset();
  m_thread = std::thread([this] { Loop(); });
  return S_OK;
}

bool MediaFile::HeaderReady() {
  if (!m_headerWaits || m_headerWritten || !m_aspectAhead) return true;  // written, or failed
  for (; m_lookedAt < m_queue.size(); ++m_lookedAt) {
    const Item& item = m_queue[m_lookedAt];
    if (m_streams[item.stream].video) {
      ++m_picturesAhead;
    } else if (m_streams[item.stream].captions) {
      bool lineTwentyOne = false;
      for (std::size_t i = 0; i + 3 <= item.data.size(); i += 3) lineTwentyOne |= item.data[i] == cc::kField1;
      if (lineTwentyOne && !wss::ValueIn(item.data.data(), item.data.size())) m_aspectNotComing = true;
      m_aspectAhead->Feed(item.data.data(), item.data.size(), item.start / 1e7);
    }
  }
  // Never at the cost of pictures: a queue half full writes the header as it is.
  return m_aspectAhead->Current() || m_aspectNotComing || m_picturesAhead >= kAspectLookahead || m_closing ||
         m_queued > m_queueLimit / 2;
}

bool MediaFile::WriteHeader() {
  const Stream* video = VideoStream();
  if (m_aspectAhead && m_aspectAhead->Current() && m_aspectAhead->Current()->anamorphic && video && video->shape) {
    // The frame is shown at 16:9: its pixels are that much wider than tall.
    AVRational sar{};
    av_reduce(&sar.num, &sar.den, 16LL * video->shape->height, 9LL * video->shape->width, INT32_MAX);
    video->st->sample_aspect_ratio = video->st->codecpar->sample_aspect_ratio = sar;
  }
  m_aspectAhead.reset();
  m_writeErrno = 0;
  if (avformat_write_header(m_ctx, nullptr) < 0) return false;
  m_headerWritten = true;
  return true;
}

void MediaFile::UpdateBehind() {
  const bool behind = !m_closing && !m_options.mayFallBehind && m_queued > m_queueLimit / 2;
  if (behind != m_behind) g_writersBehind += behind ? 1 : -1;
  m_behind = behind;
}

Delivery MediaFile::Push(int stream, const MediaSample& sample) {
  if (stream < 0 || stream >= static_cast<int>(m_streams.size()) || !sample.data) return Delivery::None;
  // Once the file can take no more, the recording has ended.
  if (m_halted) return Delivery::None;
  if (m_side) m_side->Watch(m_streams[stream].video, sample.counts);
  std::lock_guard lock(m_mutex);
  if (m_closing || m_formatChanged) return Delivery::None;
  const bool video = m_streams[stream].video;
  // The file's header cannot describe it, and the pictures after it would be damaged or repeats:
  // the recording ends with what came before, whole.
  if (const auto shape = video ? ShapeOf(sample.type) : std::nullopt; shape && *shape != m_streams[stream].shape) {
    const Shape& was = *m_streams[stream].shape;
    LogError("writer", "%s: the picture changed from %ldx%ld (%08x, %u bits) to %ldx%ld (%08x, %u bits); the recording ends",
             m_path.c_str(), static_cast<long>(was.width), static_cast<long>(was.height), static_cast<unsigned>(was.compression),
             unsigned{was.bitCount}, static_cast<long>(shape->width), static_cast<long>(shape->height),
             static_cast<unsigned>(shape->compression), unsigned{shape->bitCount});
    m_formatChanged = true;
    m_queue.push_back({stream, {}, sample.start, nullptr, true});
    m_wake.notify_one();
    return Delivery::None;
  }
  if (video && m_queued + sample.size > m_queueLimit) {
    m_refused += 1 + sample.lost;  // its place, and those of the ones lost before it, stay for it
    return Delivery::Refused;
  }
  if (!video && m_queuedSound + sample.size > kSoundQueueBytes) {
    m_soundLost = true;
    m_wake.notify_one();
    return Delivery::Refused;
  }
  // A picture's buffer is one written before: fresh memory of that size costs a page fault a page.
  std::vector<BYTE> data;
  if (video && !m_spare.empty()) {
    data = std::move(m_spare.back());
    m_spare.pop_back();
  }
  data.assign(sample.data, sample.data + sample.size);
  m_queue.push_back({stream, std::move(data), sample.start, video ? sample.counts : nullptr, false,
                     video ? sample.lost + std::exchange(m_refused, 0) : 0});
  (video ? m_queued : m_queuedSound) += sample.size;
  UpdateBehind();
  m_wake.notify_one();
  return Delivery::Taken;
}

void MediaFile::Loop() {
  std::unique_lock lock(m_mutex);
  for (;;) {
    m_wake.wait(lock, [this] { return m_closing || (m_soundLost && !m_halted) || (!m_queue.empty() && HeaderReady()); });
    if (!m_headerWritten && !m_halted) {
      HeaderReady();
      lock.unlock();
      if (!WriteHeader()) Halt(m_writeErrno ? FileErrorOf(m_writeErrno) : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
      lock.lock();
    }
    if (m_soundLost && !m_halted) {
      lock.unlock();
      Halt(HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
      lock.lock();
    }
    if (m_queue.empty()) {
      if (!m_closing) continue;
      // The encoders' last frames, the trailer and the final sync are written here, so that the
      // windows stay responsive meanwhile.
      lock.unlock();
      m_closed = Finish(true);
      lock.lock();
      m_drained = true;
      m_drainedCv.notify_all();
      break;
    }
    Item item = std::move(m_queue.front());
    m_queue.pop_front();
    (m_streams[item.stream].video ? m_queued : m_queuedSound) -= item.data.size();
    UpdateBehind();
    lock.unlock();
    if (item.formatChanged)
      Halt(VFW_E_TYPE_NOT_ACCEPTED, true);
    else if (!m_halted)
      WriteItem(item);
    else
      LeaveOut(item);
    lock.lock();
    if (m_streams[item.stream].video && m_spare.size() < kSparePictures) m_spare.push_back(std::move(item.data));
  }
}

void MediaFile::WriteItem(Item& item) {
  if (const int delay = g_writeDelayUs; delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
  if (m_streams[item.stream].captions) return WriteCaptions(item);
  if (!m_haveOrigin) {
    m_haveOrigin = true;
    m_origin = item.start;
  }
  Stream& s = m_streams[item.stream];
  m_lastStart = std::max(m_lastStart, item.start);
  if (s.video) {
    WriteVideo(s, item);
  } else if (s.follower && !VideoStream()->clock) {
    // The sound waits for the first picture, whose place fixes where the timeline's places lie,
    // unless the card sends none for long.
    m_heldSound.push_back(std::move(item));
    if (m_heldSound.back().start - m_heldSound.front().start < kHoldSoundFor) return;
    WriteHeldSound();
  } else {
    WriteSound(item.stream, s, item);
  }
  if (!m_halted)
    if (HRESULT hr = KeepRoom(); FAILED(hr)) Halt(hr);
  if (!m_halted && m_options.matroska) Sync(item.start - m_origin);
  // What the disk failed to keep is a hole in the file: the recording ends.
  if (const int e = m_syncErrno; e && !m_halted) Halt(FileErrorOf(e));
}

// The frame goes to the place nearest its time stamp; frames the card missed become empty chunks
// or repeats, so the picture keeps its place against the sound.
void MediaFile::WriteVideo(Stream& s, Item& item) {
  if (m_pictureLed) return PlaceVideo(s, item);
  const REFERENCE_TIME t = item.start - m_origin + (m_followSound ? m_videoShift : 0);
  if (t < -s.frameDuration / 2) return LeaveOut(item);  // before the recording began
  std::int64_t index = (t + s.frameDuration / 2) / s.frameDuration;
  if (index < s.next) {
    if (4 * (s.next * s.frameDuration - t) > kLateQuarters * s.frameDuration) return LeaveOut(item);
    index = s.next;
  }
  const EmitFn emit = EmitTo(s);
  for (std::int64_t gap = s.next; gap < index && index - gap <= 60000; ++gap)
    if (!s.picture->Missing(gap, emit)) return Halt(E_FAIL), LeaveOut(item);
  switch (s.picture->Picture(item.data.data(), item.data.size(), index, emit)) {
    case Coded::Written:
      s.next = index + 1;
      break;
    case Coded::Failed:
      Halt(E_FAIL);
      [[fallthrough]];
    case Coded::LeftOut:
      LeaveOut(item);
      // A frame left out keeps its place: empty, or the previous picture again.
      if (!m_halted && s.picture->Missing(index, emit)) s.next = index + 1;
      break;
  }
}

bool MediaFile::FillTo(Stream& s, std::int64_t index, const std::shared_ptr<FrameCounts>& counts, REFERENCE_TIME at) {
  const EmitFn emit = EmitTo(s);
  const std::int64_t from = s.next;
  for (; s.next < index; ++s.next) {
    if (!s.picture->Missing(s.next, emit)) return false;
    if (counts) ++counts->inserted;
  }
  if (counts && index > from) counts->events.Note("writer", CaptureEventKind::FramesInserted, at, static_cast<long>(index - from));
  return true;
}

// The picture takes the next place, after those of the frames lost before it; the first one the
// place its time gives.
void MediaFile::PlaceVideo(Stream& s, Item& item) {
  std::int64_t index = s.next + item.lost;
  if (!s.clock) {
    s.clock = std::make_unique<PictureClock>(s.frameDuration);
    m_videoCounts = item.counts;
    index = std::max<REFERENCE_TIME>(0, item.start - m_origin + s.frameDuration / 2) / s.frameDuration;
    // Matroska's pictures simply start later than its sound; AVI has empty entries up to them.
    if (m_options.matroska) s.next = index;
  } else if (const auto byTime = std::llround(s.clock->PlaceAt(item.start, m_origin)); byTime - index >= kStallFrames) {
    // The card sent nothing for a while and its numbers do not say so (a stall, a restart): the
    // time that passed keeps its places.
    index = byTime;
  }
  // A gap beyond a few minutes is no real card's; the file would only fill up with it.
  index = std::min<std::int64_t>(index, s.next + 60000);
  if (!FillTo(s, index, item.counts, item.start)) return Halt(E_FAIL), LeaveOut(item);
  const EmitFn emit = EmitTo(s);
  switch (s.picture->Picture(item.data.data(), item.data.size(), index, emit)) {
    case Coded::Written:
      s.next = index + 1;
      s.clock->Picture(index, item.start);
      if (!m_heldSound.empty()) WriteHeldSound();
      break;
    case Coded::Failed:
      Halt(E_FAIL);
      [[fallthrough]];
    case Coded::LeftOut:
      LeaveOut(item);
      if (!m_halted) FillTo(s, index + 1, item.counts, item.start);
      break;
  }
}

const MediaFile::Stream* MediaFile::VideoStream() const {
  for (const Stream& s : m_streams)
    if (s.video) return &s;
  return nullptr;
}

// The sound resampled so that each block starts where the pictures' clock puts its time stamp.
void MediaFile::FollowPictures(Stream& s, const BYTE* data, std::int64_t samples, REFERENCE_TIME start) {
  const double wanted = FileTime(start) * s.rate / 1e7;
  m_followed.clear();
  if (!s.follower->Follow(data, static_cast<int>(samples), wanted, s.next, m_followed)) return Halt(E_FAIL);
  const std::int64_t n = static_cast<std::int64_t>(m_followed.size()) / s.blockAlign;
  if (n > 0 && !s.sound->Sound(m_followed.data(), n, s.next, EmitTo(s))) return Halt(E_FAIL);
  s.next += n;
}

// A card that stalled at the end, or pictures still on their way when the capture stopped: the
// pictures last as long as the sound, to within a frame.
void MediaFile::FillToSoundEnd() {
  Stream* video = nullptr;
  const Stream* sound = nullptr;
  for (Stream& s : m_streams) {
    if (s.video)
      video = &s;
    else if (s.sound)
      sound = &s;
  }
  if (!video || !sound || !video->clock || !m_pictureLed) return;
  const std::int64_t end = sound->next * video->unit.den / (static_cast<std::int64_t>(video->unit.num) * sound->rate);
  if (end > video->next && !FillTo(*video, end, m_videoCounts, m_lastStart)) Halt(E_FAIL);
}

void MediaFile::WriteHeldSound() {
  for (Item& held : m_heldSound)
    if (!m_halted) WriteSound(held.stream, m_streams[held.stream], held);
  m_heldSound.clear();
}

double MediaFile::FileTime(REFERENCE_TIME stamp) const {
  const Stream& video = *VideoStream();
  const double place = video.clock ? video.clock->PlaceAt(stamp, m_origin)
                                   : static_cast<double>(stamp - m_origin) / static_cast<double>(video.frameDuration);
  return place * video.unit.num * 1e7 / video.unit.den;
}

void MediaFile::WriteSound(int index, Stream& s, Item& item) {
  std::int64_t samples = static_cast<std::int64_t>(item.data.size()) / s.blockAlign;
  const BYTE* data = item.data.data();
  // Where it belongs in the file: on the pictures' timeline when it follows them.
  const REFERENCE_TIME t = s.follower ? std::llround(FileTime(item.start)) : item.start - m_origin;
  const EmitFn emit = EmitTo(s);
  if (!s.started) {
    s.started = true;
    if (t > 0) {
      // The picture started first: silence up to the sound's first sample keeps them together.
      std::vector<BYTE> silence(static_cast<std::size_t>(t * s.rate / 10000000) * s.blockAlign, s.unsigned8 ? 0x80 : 0);
      const std::int64_t n = static_cast<std::int64_t>(silence.size()) / s.blockAlign;
      if (n > 0 && !s.sound->Sound(silence.data(), n, s.next, emit)) return Halt(E_FAIL);
      s.next += n;
    } else if (t < 0) {
      // Sound from before the recording began is left out.
      const std::int64_t skip = std::min<std::int64_t>(samples, -t * s.rate / 10000000);
      data += skip * s.blockAlign;
      samples -= skip;
    }
  }
  if (samples <= 0) return;
  if (s.follower) return FollowPictures(s, data, samples, item.start + (data - item.data.data()) / s.blockAlign * 10000000 / s.rate);
  if (m_master == index) {
    // The sound is the clock: the picture follows where the sound's samples say the time is.
    const REFERENCE_TIME soundTime = s.next * 10000000 / s.rate;
    m_videoShift = soundTime - std::max<REFERENCE_TIME>(0, t);
  }
  if (!s.sound->Sound(data, samples, s.next, emit)) return Halt(E_FAIL);
  s.next += samples;
}

HRESULT MediaFile::AddCaptionTrack(Stream& s) {
  s.st = avformat_new_stream(m_ctx, nullptr);
  if (!s.st) return E_OUTOFMEMORY;
  // S_TEXT/UTF8 in Matroska.
  s.st->codecpar->codec_type = AVMEDIA_TYPE_SUBTITLE;
  s.st->codecpar->codec_id = AV_CODEC_ID_SUBRIP;
  s.st->time_base = s.unit;
  return S_OK;
}

// A frame's pairs where the pictures' clock puts their time: beside the file, and into the picture
// stream for a coding that carries them. Pairs from before the first picture have no place yet.
void MediaFile::WriteCaptions(Item& item) {
  Stream* video = const_cast<Stream*>(VideoStream());
  if (!m_haveOrigin || !video || !video->clock || m_halted) return;
  const std::int64_t frame = std::llround(video->clock->PlaceAt(item.start, m_origin));
  if (video->picture) video->picture->Captions(item.data.data(), item.data.size());
  if (m_captions && !m_captions->Frame(frame, FileTime(item.start) / 1e7, item.data.data(), item.data.size())) Halt(E_FAIL);
  if (m_aspect) m_aspect->Feed(item.data.data(), item.data.size(), FileTime(item.start) / 1e7);
}

bool MediaFile::WriteSubtitle(Stream& s, const std::string& text, double start, double end) {
  AVPacket* pkt = av_packet_alloc();
  if (!pkt || av_new_packet(pkt, static_cast<int>(text.size())) < 0) {
    av_packet_free(&pkt);
    return false;
  }
  std::copy(text.begin(), text.end(), pkt->data);
  pkt->pts = pkt->dts = std::llround(start * 1000);
  pkt->duration = std::max<std::int64_t>(1, std::llround(end * 1000) - pkt->pts);
  pkt->flags |= AV_PKT_FLAG_KEY;
  const bool ok = WritePacket(s, pkt);
  av_packet_free(&pkt);
  return ok;
}

bool MediaFile::WritePacket(Stream& s, AVPacket* pkt) {
  if (m_halted) return false;
  pkt->stream_index = s.st->index;
  if (m_side && !s.captions) m_side->Packet(s.st->index, *pkt);
  av_packet_rescale_ts(pkt, s.unit, s.st->time_base);
  if (const int ret = av_write_frame(m_ctx, pkt); ret < 0) {
    Halt(m_writeErrno ? FileErrorOf(m_writeErrno) : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
    return false;
  }
  ++m_chunks;
  return true;
}

// Ends the cluster, writes it out and waits for the disk, so that a power cut keeps it too.
void MediaFile::Sync(REFERENCE_TIME t) {
  if (t - m_syncedAt < kSyncEvery) return;
  m_syncedAt = t;
  if (av_write_frame(m_ctx, nullptr) < 0 || (avio_flush(m_ctx->pb), m_ctx->pb->error < 0))
    return Halt(m_writeErrno ? FileErrorOf(m_writeErrno) : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT));
  if (const auto now = std::chrono::steady_clock::now(); now - m_diskSyncedAt >= kDiskSyncEvery) {
    m_diskSyncedAt = now;
    std::lock_guard lock(m_syncMutex);
    if (!m_syncThread.joinable()) m_syncThread = std::thread([this] { SyncLoop(); });
    m_syncWanted = true;
    m_syncCv.notify_one();
  }
}

void MediaFile::SyncLoop() {
  std::unique_lock lock(m_syncMutex);
  for (;;) {
    m_syncCv.wait(lock, [this] { return m_syncWanted || m_syncStop; });
    if (m_syncStop) return;
    m_syncWanted = false;
    lock.unlock();
    if (const int e = SyncToDisk(m_fd)) {
      int none = 0;
      m_syncErrno.compare_exchange_strong(none, e);
    }
    lock.lock();
  }
}

int MediaFile::SyncAtEnd() {
  std::atomic<bool> done{false};
  int e = 0;
  std::thread sync([&] {
    e = SyncToDisk(m_fd);
    done = true;
  });
  if (orv::ui::IsUiThread()) orv::ui::WaitPumpingMessages([&] { return done.load(); });
  sync.join();
  return e;
}

void MediaFile::StopSyncing() {
  {
    std::lock_guard lock(m_syncMutex);
    m_syncStop = true;
    m_syncCv.notify_one();
  }
  if (m_syncThread.joinable()) m_syncThread.join();
}

// Keeps room allocated ahead of the data for the index and the headers. A failure means the disk
// cannot give it: the recording must end while the file can still be closed properly.
HRESULT MediaFile::KeepRoom() {
  const HRESULT full = HRESULT_FROM_WIN32(ERROR_DISK_FULL);
  const std::uint64_t need = kReserveBytes + m_chunks * kIndexBytesPerChunk;
  const std::int64_t ahead = m_size + static_cast<std::int64_t>(kIoBufferBytes);
  if (ahead + static_cast<std::int64_t>(need / 2) <= m_reservedTo) return S_OK;
  const std::int64_t to = ahead + static_cast<std::int64_t>(need);
  if (const std::uint64_t limit = g_diskLimit; limit) {
    if (static_cast<std::uint64_t>(to) > limit) return full;
    m_reservedTo = to;
    return S_OK;
  }
  const std::int64_t from = std::max<std::int64_t>(m_size, m_reservedTo);
  if (::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, from, to - from) == 0) {
    m_reservedTo = to;
    return S_OK;
  }
  if (errno == ENOSPC || errno == EDQUOT || errno == EFBIG) return FileErrorOf(errno);
  // A file system without preallocation: ask how much is free.
  struct statvfs vfs {};
  if (::statvfs(FolderOf(m_path).c_str(), &vfs) == 0 &&
      static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize < static_cast<std::uint64_t>(to - m_size))
    return full;
  m_reservedTo = to;
  return S_OK;
}

void MediaFile::Halt(HRESULT hr, bool drain) {
  if (m_halted) return;
  HRESULT closed = S_OK;
  if (drain && (closed = Finish(true), m_halted)) return;  // an encoder that failed on the way halted it
  if (m_halted.exchange(true)) return;
  m_error = FAILED(closed) ? closed : hr;
  if (m_side) m_side->Halted(m_error);
  // Close the file now, while there is room for its index: what was written stays playable.
  Finish(false);
  if (m_onHalt) m_onHalt(m_error);
}

// drain: the encoders give up what they still hold first (not when the file failed).
HRESULT MediaFile::Finish(bool drain) {
  if (m_finished) return S_OK;
  HRESULT hr = S_OK;
  // The slow disk of the tests is as slow to take the file's end.
  if (const int delay = g_writeDelayUs; drain && delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
  if (drain && m_headerWritten && !m_halted) WriteHeldSound();
  if (drain && m_headerWritten)
    for (Stream& s : m_streams) {
      if (!s.follower || m_halted) continue;
      m_followed.clear();
      const std::int64_t n = s.follower->Drain(m_followed) ? static_cast<std::int64_t>(m_followed.size()) / s.blockAlign : -1;
      if (n < 0 || (n > 0 && !s.sound->Sound(m_followed.data(), n, s.next, EmitTo(s)))) Halt(E_FAIL);
      s.next += std::max<std::int64_t>(n, 0);
    }
  if (drain && m_headerWritten && !m_halted) FillToSoundEnd();
  if (drain && m_headerWritten)
    for (Stream& s : m_streams)
      if (!m_halted && (s.picture || s.sound) && !(s.picture ? s.picture->Flush(EmitTo(s)) : s.sound->Flush(EmitTo(s))) &&
          !m_halted)
        Halt(E_FAIL);
  // The caption on the screen at the end lasts until the pictures end.
  if (auto captions = std::move(m_captions); captions && m_headerWritten) {
    const Stream* video = VideoStream();
    const double end = video ? static_cast<double>(video->next) * video->unit.num / video->unit.den : 0.0;
    if (!captions->Finish(end) && !m_halted) Halt(E_FAIL);
  }
  if (m_finished) return S_OK;  // halted on the way
  m_finished = true;
  if (m_headerWritten) {
    m_writeErrno = 0;
    if (av_write_trailer(m_ctx) < 0) hr = m_writeErrno ? FileErrorOf(m_writeErrno) : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
  }
  if (m_ctx && m_ctx->pb) {
    avio_flush(m_ctx->pb);
    av_freep(&m_ctx->pb->buffer);
    avio_context_free(&m_ctx->pb);
  }
  if (m_ctx) {
    avformat_free_context(m_ctx);
    m_ctx = nullptr;
  }
  StopSyncing();  // before the file it syncs is closed
  if (m_fd >= 0) {
    // Give back the room kept ahead of the data.
    if (m_reservedTo > m_size && ::ftruncate(m_fd, m_size + 1) == 0 && ::ftruncate(m_fd, m_size) != 0)
      hr = hr == S_OK ? FileErrorOf(errno) : hr;
    if (const int e = m_syncErrno ? m_syncErrno.load() : SyncAtEnd(); e && hr == S_OK) hr = FileErrorOf(e);
    if (::close(m_fd) != 0 && hr == S_OK) hr = FileErrorOf(errno);
    m_fd = -1;
  }
  return hr;
}

HRESULT MediaFile::Close() {
  bool drained = true;
  {
    std::unique_lock lock(m_mutex);
    m_closing = true;
    UpdateBehind();
    m_wake.notify_all();
    if (m_thread.joinable()) drained = m_drainedCv.wait_for(lock, kQuietStop, [this] { return m_drained; });
  }
  // A slow disk: the user-interface thread keeps the windows drawn while the queue goes out; the
  // file is complete when Stop returns.
  if (!drained && orv::ui::IsUiThread())
    orv::ui::WaitPumpingMessages([this] {
      std::lock_guard lock(m_mutex);
      return m_drained;
    });
  const bool ran = m_thread.joinable();
  if (ran) m_thread.join();
  // Without its thread the file was never more than opened.
  const HRESULT hr = ran ? m_closed : Finish(true);
  if (m_side) {
    if (FAILED(hr) && !m_halted) m_side->Halted(hr);
    m_side->Finish(ran);
    m_side.reset();
  }
  return FAILED(m_error) ? m_error : hr;
}

// The FFV1 master and the H.264 access copy from the same pictures, each with its own queue and
// writing thread. The copy takes what the master took; when it is behind, it leaves pictures out
// (counted here, not at their source) and keeps their places with repeats. Its threads, the
// encoder's included, run at a lower priority, so that the master never waits for it; its failures
// end only the copy.
class MasterAndAccessCopy final : public MediaWriter {
 public:
  MasterAndAccessCopy(const std::string& path, int master, const WriterOptions& options, HaltFn onHalt)
      : m_accessPath(AccessCopyOf(path)) {
    WriterOptions m = options, a = options;
    m.coding = RECORD_FFV1_PCM;
    a.coding = RECORD_H264_AAC;
    a.sideFiles = false;
    a.mayFallBehind = true;
    m_master = std::make_unique<MediaFile>(path, master, m, std::move(onHalt));
    m_access = std::make_unique<MediaFile>(m_accessPath, master, a, [path = m_accessPath](HRESULT hr) {
      LogError("writer", "the access copy %s ended early (%08x); the master goes on", path.c_str(), static_cast<unsigned>(hr));
    });
  }
  ~MasterAndAccessCopy() override { Close(); }

  HRESULT Open(const std::vector<const AM_MEDIA_TYPE*>& types) override {
    if (HRESULT hr = m_master->Open(types); FAILED(hr)) return hr;
    for (const AM_MEDIA_TYPE* mt : types) m_video.push_back(mt->majortype == MEDIATYPE_Video);
    // Opened on a thread of lower priority: the threads it starts (its writing thread, the
    // encoder's) keep that priority.
    HRESULT hr = E_FAIL;
    std::thread([&] {
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kAccessNice);
      hr = m_access->Open(types);
    }).join();
    if (FAILED(hr)) {
      LogError("writer", "cannot write the access copy %s (%08x)", m_accessPath.c_str(), static_cast<unsigned>(hr));
      m_master->Close();
      m_access->Close();
    }
    return hr;
  }
  Delivery Push(int stream, const MediaSample& sample) override {
    const bool video = stream >= 0 && stream < static_cast<int>(m_video.size()) && m_video[stream];
    const Delivery delivery = m_master->Push(stream, sample);
    if (delivery == Delivery::Refused && video) m_masterRefused += 1 + sample.lost;
    if (delivery != Delivery::Taken) return delivery;
    // The copy's refusals are its own: the source counts only the master's. The pictures the
    // master refused keep their places in the copy too.
    MediaSample copy = sample;
    copy.counts = nullptr;
    if (video) copy.lost += std::exchange(m_masterRefused, 0);
    if (m_access->Push(stream, copy) == Delivery::Refused && video) ++m_accessDropped;
    return delivery;
  }
  HRESULT Close() override {
    if (std::exchange(m_closed, true)) return m_closedWith;
    m_master->NoteAccessCopy(m_accessPath, m_accessDropped);
    if (m_accessDropped > 0)
      LogError("writer", "the access copy %s left out %ld pictures while it was behind", m_accessPath.c_str(),
               m_accessDropped.load());
    m_closedWith = m_master->Close();
    if (const HRESULT hr = m_access->Close(); FAILED(hr) && !m_access->Halted())
      LogError("writer", "cannot complete the access copy %s (%08x)", m_accessPath.c_str(), static_cast<unsigned>(hr));
    return m_closedWith;
  }
  bool Halted() const override { return m_master->Halted(); }
  void EndsBecause(const std::string& reason) override {
    m_master->EndsBecause(reason);
    m_access->EndsBecause(reason);
  }
  long AccessCopyDropped() const override { return m_accessDropped; }

 private:
  static constexpr int kAccessNice = 10;
  std::string m_accessPath;
  std::unique_ptr<MediaFile> m_master, m_access;
  std::atomic<long> m_accessDropped{0};
  std::uint32_t m_masterRefused = 0;  // the pictures' streaming thread only
  std::vector<bool> m_video;          // by stream
  bool m_closed = false;
  HRESULT m_closedWith = S_OK;
};

}  // namespace

std::string AccessCopyOf(const std::string& path) {
  const std::string extension = ".mkv";
  const bool mkv = path.size() > extension.size() && path.compare(path.size() - extension.size(), extension.size(), extension) == 0;
  return (mkv ? path.substr(0, path.size() - extension.size()) : path) + ".access.mkv";
}

std::unique_ptr<MediaWriter> MediaWriter::Create(std::string path, int master, const WriterOptions& options,
                                                 HaltFn onHalt) {
  if (options.coding == RECORD_FFV1_PCM_AND_H264_AAC)
    return std::make_unique<MasterAndAccessCopy>(path, master, options, std::move(onHalt));
  return std::make_unique<MediaFile>(std::move(path), master, options, std::move(onHalt));
}

namespace {
std::atomic<bool> g_behindForTests{false};
}  // namespace

bool WritersBehind() { return g_behindForTests || g_writersBehind > 0; }
void SetWritersBehindForTests(bool behind) { g_behindForTests = behind; }

void SetAviDiskLimitForTests(std::uint64_t bytes) { g_diskLimit = bytes; }
void SetAviWriteDelayForTests(int microseconds) { g_writeDelayUs = microseconds; }
void SetAviQueueLimitForTests(std::size_t bytes) { g_queueLimit = bytes; }
void SetAviFollowSoundClockForBenchmarks(bool follow) { g_followSound = follow; }
void SetAviSyncErrorForTests(int error) { g_syncErrno = error; }

}  // namespace orv::media
