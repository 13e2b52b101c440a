// The mux and file writer fed by a source whose time stamps the test chooses.
#include "platform/media/late/testing.h"
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/mediawriter.h"
#include "platform/media/writer/sidefiles.h"
#include "platform/media/writer/testing.h"
#include "platform/media/writer/teletext.h"
#include "platform/media/writer/wss.h"
#include "tests/media/avicheck.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"

#include <cerrno>
#include <cstdarg>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <QTimer>
#include <gtest/gtest.h>
#include <mutex>
#include <numeric>
#include <regex>
#include <sstream>
#include <random>
#include <set>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

using namespace orv::media;
using orv::test::Number;
using orv::test::Probe;
using orv::test::StreamsOf;

namespace {

constexpr REFERENCE_TIME kFrame = 667111;
constexpr int kRate = 44100;
constexpr int kWidth = 72;

// The pictures a source sends: YUY2 or RGB, at this frame duration.
struct Shape {
  bool rgb = false;
  REFERENCE_TIME frame = kFrame;
};

// A source with a 72x48 picture output (pixels narrower than square, as the standards') and a 44.1 kHz
// stereo PCM output, whose decoder tells the field order when it is known.
class StampedSource : public FilterBase, public IAMAnalogVideoDecoder {
 public:
  ORV_UNKNOWN_IMPL
  explicit StampedSource(Shape shape = {})
      : FilterBase(GUID_NULL, "Stamped", "Stamped"), frame(shape.frame), bytes(kWidth * 48 * (shape.rgb ? 3 : 2)) {
    const GUID& subtype = shape.rgb ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_YUY2;
    VIDEOINFOHEADER vih{.AvgTimePerFrame = frame, .bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, 48, 1, static_cast<WORD>(shape.rgb ? 24 : 16),
                                                                shape.rgb ? DWORD{BI_RGB} : subtype.Data1}};
    AM_MEDIA_TYPE v{MEDIATYPE_Video, subtype, TRUE, FALSE, static_cast<ULONG>(bytes), FORMAT_VideoInfo, nullptr,
                    sizeof vih, reinterpret_cast<BYTE*>(&vih)};
    WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    AM_MEDIA_TYPE a{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, TRUE, FALSE, 4, FORMAT_WaveFormatEx, nullptr,
                    sizeof wfx, reinterpret_cast<BYTE*>(&wfx)};
    CAPTIONINFO cc{frame, 525};
    AM_MEDIA_TYPE c{MEDIATYPE_AUXLine21Data, MEDIASUBTYPE_CcData, FALSE, FALSE, 0, FORMAT_CaptionInfo, nullptr,
                    sizeof cc, reinterpret_cast<BYTE*>(&cc)};
    formats[0] = std::make_shared<StreamFormat>(v);
    formats[1] = std::make_shared<StreamFormat>(a);
    formats[2] = std::make_shared<StreamFormat>(c);
    AddPin({"Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Video, false, false, formats[0]});
    AddPin({"Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Audio, false, false, formats[1]});
    AddPin({"Captions", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_AUXLine21Data, false, false, formats[2]});
  }
  // A picture whose bytes all carry `mark`, after `lost` frames the card lost, counted as a card
  // counts its frames.
  Delivery Picture(REFERENCE_TIME at, BYTE mark, std::uint32_t lost = 0) {
    counts->dropped += static_cast<LONG>(lost);
    std::vector<BYTE> data(bytes, mark);
    // YUY2 with luma in 16..215 and chroma all over.
    if (textured)
      for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i % 2 ? mark * 3 + i * 5 : 16 + (mark + i) % 200);
    const Delivery d = Send(0, data, at, at + frame, lost);
    if (d == Delivery::Taken) ++counts->delivered;
    if (d == Delivery::Refused) ++counts->dropped;
    return d;
  }
  // A picture of these bytes.
  Delivery Picture(REFERENCE_TIME at, const std::vector<BYTE>& picture) { return Send(0, picture, at, at + frame); }
  // `ms` milliseconds of sound of one constant value.
  Delivery Sound(REFERENCE_TIME at, int ms, std::int16_t value) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(kRate) * ms / 1000 * 2, value);
    return Send(1, std::vector<BYTE>(reinterpret_cast<BYTE*>(s.data()), reinterpret_cast<BYTE*>(s.data() + s.size())),
                at, at + ms * 10000LL);
  }
  // A frame's line 21: this pair on field 1, nulls on field 2.
  Delivery Captions(REFERENCE_TIME at, cc::Pair pair) { return Vbi(at, {cc::kField1, pair[0], pair[1], cc::kField2, cc::kNull, cc::kNull}); }
  // A frame's VBI sample as it is.
  Delivery Vbi(REFERENCE_TIME at, const std::vector<BYTE>& triplets) { return Send(2, triplets, at, at + frame); }
  // From now on its pictures are this wide (a card whose input changed standard).
  void Reshape(LONG width) {
    AM_MEDIA_TYPE mt{};
    formats[0]->Copy(&mt);
    auto& b = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    bytes = bytes / static_cast<std::size_t>(b.biWidth) * static_cast<std::size_t>(width);
    b.biWidth = width, b.biSizeImage = static_cast<DWORD>(bytes), mt.lSampleSize = static_cast<ULONG>(bytes);
    formats[0] = std::make_shared<StreamFormat>(mt);
    FreeMediaType(mt);
  }
  const REFERENCE_TIME frame;
  std::size_t bytes;
  std::shared_ptr<StreamFormat> formats[3];
  std::shared_ptr<FrameCounts> counts = std::make_shared<FrameCounts>();
  AM_FIELD_ORDER fields = AM_FIELDS_UNKNOWN;
  bool textured = false;  // pictures whose bytes differ (else all `mark`)

  HRESULT get_NumberOfLines(LONG*) override { return E_NOTIMPL; }
  HRESULT get_HorizontalLocked(LONG*) override { return E_NOTIMPL; }
  HRESULT get_FieldOrder(AM_FIELD_ORDER* order) override { return *order = fields, fields == AM_FIELDS_UNKNOWN ? E_NOTIMPL : S_OK; }

 protected:
  void* Lookup(REFIID riid) override {
    return riid == IID_IAMAnalogVideoDecoder ? static_cast<IAMAnalogVideoDecoder*>(this) : FilterBase::Lookup(riid);
  }

 private:
  Delivery Send(std::size_t pin, const std::vector<BYTE>& data, REFERENCE_TIME start, REFERENCE_TIME stop, std::uint32_t lost = 0) {
    AM_MEDIA_TYPE mt{};
    formats[pin]->Copy(&mt);
    MediaSample sample{data.data(), data.size(), start, stop, &mt, pin == 0 ? counts : nullptr};
    sample.lost = lost;
    std::shared_lock lock(StreamMutex());
    const Delivery d = PinAt(pin)->Send(sample);
    return FreeMediaType(mt), d;
  }
};

bool IsMatroska(const std::string& path) { return path.ends_with(".mkv"); }

struct MuxRig : orv::test::EmptyGraph {
  explicit MuxRig(const std::string& file, bool sound = true, LONG master = 1, RECORD_CODING coding = RECORD_AS_DELIVERED,
                  AM_FIELD_ORDER fields = AM_FIELDS_UNKNOWN, Shape shape = {})
      : path(file) {
    source = static_cast<IBaseFilter*>(new StampedSource(shape));
    Src()->fields = fields;
    graph->AddFilter(source, u"Stamped");
    EXPECT_EQ(S_OK, builder->SetOutputFileName(IsMatroska(path) ? &MEDIASUBTYPE_Matroska : &MEDIASUBTYPE_Avi,
                                               Widen(path).c_str(), &mux, &sink));
    ComPtr<IConfigAviMux> config;
    config.QueryFrom(mux);
    ComPtr<IConfigRecordMux> record;
    EXPECT_EQ(S_OK, record.QueryFrom(mux));
    EXPECT_EQ(S_OK, record->SetRecordCoding(coding));
    config->SetOutputCompatibilityIndex(TRUE);
    if (master >= 0) config->SetMasterStream(master);
    graph->ConnectDirect(Src()->PinAt(0), AsFilterBase(mux)->PinAt(1), nullptr);
    if (sound) graph->ConnectDirect(Src()->PinAt(1), AsFilterBase(mux)->PinAt(2), nullptr);
    events.QueryFrom(graph);
  }
  ~MuxRig() { control->Stop(); }
  StampedSource* Src() { return static_cast<StampedSource*>(AsFilterBase(source)); }

  std::string path;
  ComPtr<IBaseFilter> source, mux;
  ComPtr<IFileSinkFilter> sink;
  ComPtr<IMediaEventEx> events;
};

// Frame numbers of the pictures a reader finds, with the mark of each (its first byte).
std::vector<std::pair<long long, int>> PicturesRead(const std::string& path) {
  std::vector<std::pair<long long, int>> out;
  const std::string text = orv::test::Shell("ffprobe -v error -select_streams v -show_packets -show_data -of compact " +
                                            orv::test::Quoted(path));
  for (std::size_t pos = 0; (pos = text.find("pts=", pos)) != std::string::npos; pos += 4) {
    const std::size_t data = text.find("00000000: ", pos);
    out.emplace_back(std::stoll(text.substr(pos + 4)),
                     data == std::string::npos ? -1 : std::stoi(text.substr(data + 10, 2), nullptr, 16));
  }
  return out;
}

class AviMux : public ::testing::Test {
 protected:
  void SetUp() override { orv::test::FreshConfigDir(), dir = orv::test::ConfigDir(); }
  void TearDown() override {
    SetAviDiskLimitForTests(0), SetAviQueueLimitForTests(0), SetAviWriteDelayForTests(0), SetAviSyncErrorForTests(0);
  }
  // Ten pictures over 0.67 s with their sound, the way a card sends them.
  static void Record(MuxRig& rig, int pictures = 10) {
    ASSERT_EQ(S_OK, rig.control->Run());
    const REFERENCE_TIME frame = rig.Src()->frame;
    for (int i = 0; i < pictures; ++i) {
      ASSERT_EQ(Delivery::Taken, rig.Src()->Sound(i * frame, static_cast<int>(frame / 10000), static_cast<std::int16_t>(i * 100)));
      ASSERT_EQ(Delivery::Taken, rig.Src()->Picture(i * frame, static_cast<BYTE>(16 + i * 20)));
    }
    ASSERT_EQ(S_OK, rig.control->Stop());
  }
  std::string dir;
};

// The original AVI places pictures by their stamps: a late one takes the next place while it is
// less than ¾ of a frame late and is left out (dropped at its source) beyond that; missing frames
// are empty chunks.
TEST_F(AviMux, OriginalAviPlacesPicturesByTheirStamps) {
  const std::string path = dir + "/gaps.avi";
  std::shared_ptr<FrameCounts> counts;
  {
    MuxRig rig(path, true, 1, RECORD_AS_DELIVERED);
    ASSERT_EQ(S_OK, rig.control->Run());
    auto* s = rig.Src();
    counts = s->counts;
    ASSERT_EQ(Delivery::Taken, s->Sound(0, 1000, 100));
    for (int i : {0, 1, 2, 6, 7, 12}) ASSERT_EQ(Delivery::Taken, s->Picture(i * kFrame + 1000, static_cast<BYTE>(i + 1)));
    for (auto [at, mark] : {std::pair{13 * kFrame + kFrame / 2 - 1, 14}, {13 * kFrame + kFrame * 2 / 5, 15}, {14 * kFrame, 16}, {5 * kFrame, 99}})
      ASSERT_EQ(Delivery::Taken, s->Picture(at, static_cast<BYTE>(mark)));
  }
  const std::vector<std::pair<long long, int>> expected{{0, 1}, {1, 2}, {2, 3}, {6, 7}, {7, 8}, {12, 13}, {13, 14}, {14, 15}};
  EXPECT_EQ(expected, PicturesRead(path));
  EXPECT_EQ(15, Number(StreamsOf(Probe(path), "video").at(0), "nb_frames"));  // the length counts the gaps
  EXPECT_EQ(8, counts->delivered);
  EXPECT_EQ(2, counts->dropped);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

// The other codings keep every picture delivered, in order, whatever its stamp's jitter; places stay
// empty (AVI) or hold the previous picture again (Matroska) only where the card lost frames or the
// queue refused them, and those are counted as inserted: the file holds the pictures captured and
// the inserted ones.
TEST_F(AviMux, EveryPictureDeliveredHasTheNextPlaceAndGapsAreTheFramesLost) {
  for (auto [name, coding] : {std::pair{"/full.avi", RECORD_UNCOMPRESSED_422}, {"/lossless.mkv", RECORD_FFV1_PCM}}) {
    SCOPED_TRACE(name);
    const std::string path = dir + name;
    std::shared_ptr<FrameCounts> counts;
    {
      MuxRig rig(path, true, 1, coding);
      ASSERT_EQ(S_OK, rig.control->Run());
      auto* s = rig.Src();
      counts = s->counts;
      ASSERT_EQ(Delivery::Taken, s->Sound(0, 500, 100));
      // Stamps 0.7 late, 0.6 early, then three frames lost, then a stamp far behind (a driver's
      // hiccup): none of it moves a picture or leaves one out.
      const std::tuple<REFERENCE_TIME, BYTE, std::uint32_t> pictures[] = {
          {1000, 1, 0}, {kFrame * 17 / 10, 2, 0}, {kFrame * 14 / 10, 3, 0}, {6 * kFrame, 4, 3}, {5 * kFrame, 5, 0}};
      for (auto [at, mark, lost] : pictures) ASSERT_EQ(Delivery::Taken, s->Picture(at, mark, lost));
    }
    const std::vector<int> places{1, 2, 3, 0, 0, 0, 4, 5};  // 0: no picture of its own
    if (IsMatroska(path)) {
      const std::vector<std::string> sums = orv::test::PictureChecksums(path);
      ASSERT_EQ(places.size(), sums.size());
      for (std::size_t i = 1; i < sums.size(); ++i) EXPECT_EQ(places[i] == 0, sums[i] == sums[i - 1]) << i;
    } else {
      const std::vector<std::pair<long long, int>> expected{{0, 1}, {1, 2}, {2, 3}, {6, 4}, {7, 5}};
      EXPECT_EQ(expected, PicturesRead(path));
      EXPECT_EQ(8, Number(StreamsOf(Probe(path), "video").at(0), "nb_frames"));
    }
    EXPECT_EQ((std::vector<LONG>{5, 3, 3}), (std::vector<LONG>{counts->delivered, counts->dropped, counts->inserted}));
    EXPECT_EQ("", orv::test::DecodeErrors(path));
  }
}

// An interlaced picture whose fields differ in colour keeps each field's own when its chroma lines
// are halved (4:2:2 to H.264's 4:2:0): read back field by field, as separatefields does.
TEST_F(AviMux, EachFieldOfAnInterlacedPictureKeepsItsOwnColour) {
  const std::string path = dir + "/fields.mkv";
  {
    MuxRig rig(path, false, -1, RECORD_H264_AAC, AM_FIELDS_TOP_FIRST);
    std::vector<BYTE> picture(rig.Src()->bytes);
    for (std::size_t i = 0; i < picture.size(); i += 4) {
      const bool bottom = (i / (kWidth * 2)) % 2;  // odd lines: the bottom field
      const BYTE quad[4] = {128, BYTE(bottom ? 200 : 60), 128, BYTE(bottom ? 60 : 200)};  // Y U Y V
      std::copy_n(quad, 4, picture.begin() + static_cast<std::ptrdiff_t>(i));
    }
    ASSERT_EQ(S_OK, rig.control->Run());
    for (int i = 0; i < 10; ++i) ASSERT_EQ(Delivery::Taken, rig.Src()->Picture(i * kFrame, picture));
  }
  const std::string u = orv::test::Shell("ffmpeg -nostdin -v error -i " + orv::test::Quoted(path) +
                                         " -vf separatefields,extractplanes=u -frames:v 2 -f rawvideo - 2>/dev/null");
  ASSERT_EQ(2u * (kWidth / 2) * 12, u.size());  // the U plane of a top and a bottom field
  auto mean = [&](std::size_t from) {
    return std::accumulate(u.begin() + from, u.begin() + from + u.size() / 2, 0.0, [](double a, char c) { return a + BYTE(c); }) / (u.size() / 2);
  };
  EXPECT_NEAR(60, mean(0), 8);
  EXPECT_NEAR(200, mean(u.size() / 2), 8);
}

// The number of fields per frame in the AVI's video properties, -1 without them.
int AviFieldsPerFrame(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t at = bytes.find("vprp");
  if (at == std::string::npos || at + 48 > bytes.size()) return -1;
  return static_cast<unsigned char>(bytes[at + 8 + 32]);
}

// The sample aspect the first picture carries in its own bitstream ("num:den"), not the container's.
std::string FrameAspect(const std::string& path) {
  std::string out = "unreadable";
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) != 0) return out;
  const int v = avformat_find_stream_info(fmt, nullptr) >= 0 ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) : -1;
  const AVCodec* codec = v >= 0 ? avcodec_find_decoder(fmt->streams[v]->codecpar->codec_id) : nullptr;
  AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (ctx && avcodec_parameters_to_context(ctx, fmt->streams[v]->codecpar) >= 0 && avcodec_open2(ctx, codec, nullptr) == 0) {
    ctx->sample_aspect_ratio = AVRational{0, 1};
    while (av_read_frame(fmt, packet) >= 0) {
      const bool got = packet->stream_index == v && avcodec_send_packet(ctx, packet) >= 0 && avcodec_receive_frame(ctx, frame) >= 0;
      av_packet_unref(packet);
      if (got) {
        out = std::to_string(frame->sample_aspect_ratio.num) + ":" + std::to_string(frame->sample_aspect_ratio.den);
        break;
      }
    }
  }
  av_frame_free(&frame), av_packet_free(&packet), avcodec_free_context(&ctx), avformat_close_input(&fmt);
  return out;
}

// What libav* warns of (from any thread) while this lives.
class AvWarnings {
 public:
  AvWarnings() { av_log_set_callback(&Collect); }
  ~AvWarnings() { av_log_set_callback(av_log_default_callback); }
  static std::string Take() {
    std::lock_guard lock(s_mutex);
    return std::exchange(s_lines, {});
  }

 private:
  static void Collect(void* avcl, int level, const char* fmt, va_list vl) {
    if (level > AV_LOG_WARNING) return;
    char line[512];
    int prefix = 1;
    av_log_format_line(avcl, level, fmt, vl, line, sizeof line, &prefix);
    std::lock_guard lock(s_mutex);
    s_lines += line;
  }
  static inline std::mutex s_mutex;
  static inline std::string s_lines;
};

// Each coding read back as a player reads it: codec, size, rate, field order, a 4:3 frame (in the
// pictures themselves too), the colour description, and every picture the source was told was taken.
// The encoders warn of nothing (x264 of weighted prediction in interlaced coding, say).
TEST_F(AviMux, EachCodingIsReadBackWithWhatItSaysOfThePicture) {
  // fields: as the source's decoder tells them; aviFields: -1 without video properties (or not AVI);
  // colour: space, primaries, transfer and range ("" where AVI has no place for them).
  struct Case { const char* file; RECORD_CODING coding; AM_FIELD_ORDER fields; Shape shape; const char *video, *pixels, *order, *aspect,
                *sound, *colour; int aviFields; bool allKeyFrames; };
  constexpr Shape k525{}, k625{false, 400000}, kRgb{true, 333667};
  const char* const k601 = "smpte170m smpte170m smpte170m tv";
  const Case cases[] = {
      {"/delivered.avi", RECORD_AS_DELIVERED, AM_FIELDS_TOP_FIRST, k525, "rawvideo", "yuyv422", "", "", "pcm_s16le", "", -1, true},
      {"/full.avi", RECORD_UNCOMPRESSED_422, AM_FIELDS_TOP_FIRST, k525, "rawvideo", "yuyv422", "", "4:3", "pcm_s16le", "", 2, true},
      {"/camera.avi", RECORD_UNCOMPRESSED_422, AM_FIELDS_PROGRESSIVE, k525, "rawvideo", "yuyv422", "", "4:3", "pcm_s16le", "", 1, true},
      {"/lossless.mkv", RECORD_FFV1_PCM, AM_FIELDS_TOP_FIRST, k525, "ffv1", "yuv422p", "tt", "4:3", "pcm_s16le", k601, -1, true},
      {"/lossless625.mkv", RECORD_FFV1_PCM, AM_FIELDS_TOP_FIRST, k625, "ffv1", "yuv422p", "tt", "4:3", "pcm_s16le",
       "bt470bg bt470bg bt470bg tv", -1, true},
      {"/rgb.mkv", RECORD_FFV1_PCM, AM_FIELDS_PROGRESSIVE, kRgb, "ffv1", "bgr0", "progressive", "4:3", "pcm_s16le",
       "gbr smpte170m smpte170m pc", -1, true},
      {"/unknown.mkv", RECORD_FFV1_PCM, AM_FIELDS_UNKNOWN, k525, "ffv1", "yuv422p", "", "4:3", "pcm_s16le", k601, -1, true},
      {"/compact.mkv", RECORD_H264_AAC, AM_FIELDS_BOTTOM_FIRST, k525, "h264", "yuv420p", "bb", "4:3", "aac", k601, -1, false},
      {"/progressive.mkv", RECORD_H264_AAC, AM_FIELDS_PROGRESSIVE, k525, "h264", "yuv420p", "progressive", "4:3", "aac", k601, -1, false},
      {"/compact625.mkv", RECORD_H264_AAC, AM_FIELDS_TOP_FIRST, k625, "h264", "yuv420p", "tt", "4:3", "aac",
       "bt470bg bt470bg bt470bg tv", -1, false},
  };
  AvWarnings warnings;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    MuxRig rig(dir + c.file, true, 1, c.coding, c.fields, c.shape);
    Record(rig, 20);
    EXPECT_EQ("", warnings.Take());
    const auto probe = Probe(rig.path);
    const auto video = StreamsOf(probe, "video"), sound = StreamsOf(probe, "audio");
    ASSERT_EQ(1u, video.size());
    ASSERT_EQ(1u, sound.size());
    const auto text = [&](const char* key) { return video[0].value(key, ""); };
    EXPECT_EQ((std::vector<std::string>{c.video, c.pixels, c.order, c.aspect, c.sound}),
              (std::vector<std::string>{text("codec_name"), text("pix_fmt"), text("field_order"), text("display_aspect_ratio"),
                                        sound[0].value("codec_name", "")}));
    EXPECT_EQ(std::pair(kWidth, 48), std::pair(int(Number(video[0], "width")), int(Number(video[0], "height"))));
    const std::string rate = text("r_frame_rate");
    EXPECT_NEAR(1e7 / c.shape.frame, std::stod(rate) / std::stod(rate.substr(rate.find('/') + 1)), 0.01) << rate;
    EXPECT_EQ(c.aviFields, AviFieldsPerFrame(rig.path));
    if (IsMatroska(rig.path)) {
      EXPECT_EQ(c.colour, text("color_space") + " " + text("color_primaries") + " " + text("color_transfer") + " " + text("color_range"));
      EXPECT_EQ("8:9", FrameAspect(rig.path));  // 4:3 over 72x48
    }
    const std::string flags = orv::test::Shell("ffprobe -v error -select_streams v -show_entries packet=flags -of csv=p=0 " +
                                               orv::test::Quoted(rig.path));
    EXPECT_EQ(c.allKeyFrames, flags.starts_with('K') && flags.find("\n_") == std::string::npos) << flags;
    EXPECT_EQ(rig.Src()->counts->delivered, static_cast<LONG>(orv::test::PictureChecksums(rig.path).size()));
    EXPECT_EQ("", orv::test::DecodeErrors(rig.path));
  }
}

TEST_F(AviMux, SoundThatStartsLateIsPrecededBySilence) {
  const std::string path = dir + "/late.avi";
  {
    MuxRig rig(path);
    ASSERT_EQ(S_OK, rig.control->Run());
    auto* s = rig.Src();
    s->Picture(0, 1);
    s->Sound(5000000, 500, 1000);  // half a second after the first picture
    s->Sound(10000000, 500, 1000);
    for (int i = 1; i < 15; ++i) s->Picture(i * kFrame, 1);
  }
  // Half a second of silence, then a second of sound.
  std::vector<std::int16_t> expected(kRate * 3 / 2 * 2, 1000);
  std::fill_n(expected.begin(), kRate, 0);
  EXPECT_EQ(expected, orv::test::SoundSamples(path));
}

// A sound card whose clock runs 5 % slow against the pictures' clock: with the sound as master,
// the pictures follow the sound, so both last as long as each other; without, they drift apart.
TEST_F(AviMux, SoundAsMasterKeepsPictureAndSoundTogether) {
  for (LONG master : {1L, -1L}) {
    const std::string path = dir + (master == 1 ? "/master.avi" : "/free.avi");
    {
      MuxRig rig(path, true, master);
      ASSERT_EQ(S_OK, rig.control->Run());
      REFERENCE_TIME soundAt = 0;
      for (int i = 0; i < 300; ++i) {  // 20 s of pictures
        for (; soundAt <= i * kFrame; soundAt += 1050000) rig.Src()->Sound(soundAt, 100, 10);  // 0.1 s every 0.105 s
        rig.Src()->Picture(i * kFrame, static_cast<BYTE>(i));
      }
    }
    const double pictures = Number(StreamsOf(Probe(path), "video").at(0), "nb_frames") * kFrame / 1e7;
    const double sound = orv::test::SoundSamples(path).size() / 2.0 / kRate;
    if (master == 1)
      EXPECT_NEAR(sound, pictures, 3 * kFrame / 1e7);
    else
      EXPECT_GT(pictures - sound, 0.8);
    EXPECT_EQ("", orv::test::DecodeErrors(path));
  }
}

// Clocks that differ as a tape's picture timing and a sound card's crystal do, for a minute: the
// sound follows the pictures' clock, so each beep that starts with its flash (every 15th picture)
// stays within 17 ms of it (half a 525-line frame), and every picture is in the file once.
TEST_F(AviMux, SoundFollowsThePicturesClockWithinHalfAFrame) {
  constexpr int kPictures = 900, kEvery = 15, kBlock = kRate / 50;
  constexpr double kLipSync = 0.017;
  // The pictures may start some time after the sound (a card's start latency), not on a frame's edge.
  struct Case { int soundPpm, picturePpm; REFERENCE_TIME late; };
  for (auto [soundPpm, picturePpm, late] : {Case{1000, 0, 0}, {0, 500, 1500000}, {-1000, 300, 950000}}) {
    SCOPED_TRACE(std::to_string(soundPpm) + " ppm sound, " + std::to_string(picturePpm) + " ppm pictures");
    const std::string path = dir + "/drift.mkv";
    const double pictureAt = kFrame / (1 + picturePpm * 1e-6), sampleAt = 1e7 / (kRate * (1 + soundPpm * 1e-6));
    std::shared_ptr<FrameCounts> counts;
    {
      MuxRig rig(path, true, 1, RECORD_FFV1_PCM);
      ASSERT_EQ(S_OK, rig.control->Run());
      counts = rig.Src()->counts;
      std::vector<std::int16_t> block(kBlock * 2);
      std::int64_t sample = 0;
      for (int i = 0; i < kPictures; ++i) {
        const auto at = late + static_cast<REFERENCE_TIME>(std::llround(i * pictureAt));
        for (; sample * sampleAt <= at; sample += kBlock) {
          for (int n = 0; n < kBlock; ++n) {
            const double t = (sample + n) * sampleAt - late, sinceFlash = std::fmod(t, kEvery * pictureAt);
            block[2 * n] = block[2 * n + 1] = t >= 0 && sinceFlash < 1e6 ? 8000 : 0;  // 100 ms from each flash
          }
          const auto bytes = reinterpret_cast<const BYTE*>(block.data());
          AM_MEDIA_TYPE mt{};
          rig.Src()->formats[1]->Copy(&mt);
          MediaSample m{bytes, block.size() * 2, std::llround(sample * sampleAt), std::llround((sample + kBlock) * sampleAt), &mt};
          {
            std::shared_lock lock(StreamMutex());
            ASSERT_EQ(Delivery::Taken, rig.Src()->PinAt(1)->Send(m));
          }
          FreeMediaType(mt);
        }
        ASSERT_EQ(Delivery::Taken, rig.Src()->Picture(at, i % kEvery ? 16 : 235));
      }
    }
    // The pictures start at the place nearest their first stamp, after the sound's start.
    const long first = std::lround(static_cast<double>(late) / kFrame);
    const std::vector<std::string> sums = orv::test::PictureChecksums(path);
    ASSERT_EQ(std::size_t{kPictures}, sums.size());
    EXPECT_EQ(0, counts->inserted);
    const std::vector<std::int16_t> sound = orv::test::SoundSamples(path);
    EXPECT_NEAR((kPictures + first) * kFrame / 1e7, sound.size() / 2.0 / kRate, kFrame / 1e7);
    int flashes = 0;
    for (std::size_t place = 0; place < sums.size(); ++place) {
      if (sums[place] != sums[0]) continue;
      ++flashes;
      const double flash = (first + place) * kFrame / 1e7;
      auto onset = static_cast<std::size_t>(std::max(0.0, (flash - 0.2) * kRate));
      while (2 * onset < sound.size() && sound[2 * onset] < 4000) ++onset;
      EXPECT_NEAR(flash, static_cast<double>(onset) / kRate, kLipSync) << "flash at " << place;
    }
    EXPECT_EQ(kPictures / kEvery, flashes);
  }
}

TEST_F(AviMux, FileThatCannotBeOpenedStopsTheGraphFromStarting) {
  std::filesystem::create_directory(dir + "/gone");
  MuxRig rig(dir + "/gone/clip.avi", false);
  std::filesystem::remove(dir + "/gone");
  EXPECT_EQ(static_cast<HRESULT>(0x80070003), rig.control->Run());  // path not found
  EXPECT_EQ(State_Stopped, rig.Src()->State());
  EXPECT_EQ(Delivery::None, rig.Src()->Picture(0, 1));
}

// FFmpeg's libraries for the coding not installed (loaded only now, after the first picture): the
// graph does not start, says why, and writes nothing.
TEST_F(AviMux, RecordingWithoutItsLibrariesDoesNotStart) {
  if (orv::media::late::Loaded(orv::media::late::Library::Codec)) GTEST_SKIP() << "loaded by an earlier test";
  orv::media::late::PretendMissingForTests(orv::media::late::Library::Codec);
  MuxRig rig(dir + "/clip.mkv", true, 1, RECORD_FFV1_PCM_AND_H264_AAC);
  EXPECT_EQ(static_cast<HRESULT>(0x8007007E), rig.control->Run());  // module not found
  EXPECT_EQ(State_Stopped, rig.Src()->State());
  EXPECT_EQ(Delivery::None, rig.Src()->Picture(0, 1));
  EXPECT_FALSE(std::filesystem::exists(rig.path));
  EXPECT_FALSE(std::filesystem::exists(AccessCopyOf(rig.path)));
  EXPECT_NE("", orv::media::late::Problem(orv::media::late::Library::Codec));
}


// A writer that cannot keep up refuses pictures (the live picture gives way meanwhile) but takes
// every bit of sound, however far beyond the pictures' bound.
TEST_F(AviMux, FullQueueRefusesPicturesButNeverSound) {
  SetAviQueueLimitForTests(kWidth * 48 * 2 * 4), SetAviWriteDelayForTests(300000);
  MuxRig rig(dir + "/slow.avi");
  ASSERT_EQ(S_OK, rig.control->Run());
  int refused = 0;
  for (int i = 0; i < 10; ++i) refused += rig.Src()->Picture(i * kFrame, 1) == Delivery::Refused;
  EXPECT_GE(refused, 5);
  EXPECT_TRUE(WritersBehind());
  for (int i = 0; i < 30; ++i) ASSERT_EQ(Delivery::Taken, rig.Src()->Sound(i * 1000000, 100, 7)) << i;
  SetAviWriteDelayForTests(0);
  ASSERT_EQ(S_OK, rig.control->Stop());
  EXPECT_FALSE(WritersBehind());
  EXPECT_EQ(10 - refused, orv::test::PicturesIn(rig.path));
  EXPECT_EQ(std::vector<std::int16_t>(kRate * 3 * 2, 7), orv::test::SoundSamples(rig.path));
}

// A queue that refused pictures leaves their places to them: the pictures after keep their time.
TEST_F(AviMux, RefusedPicturesKeepTheirPlacesOnThePicturesTimeline) {
  SetAviQueueLimitForTests(kWidth * 48 * 2 * 2), SetAviWriteDelayForTests(300000);
  MuxRig rig(dir + "/refused.avi", false, -1, RECORD_UNCOMPRESSED_422);
  ASSERT_EQ(S_OK, rig.control->Run());
  std::vector<long long> taken;
  for (int i = 0; i < 8; ++i)
    if (rig.Src()->Picture(i * kFrame, static_cast<BYTE>(i + 1)) == Delivery::Taken) taken.push_back(i);
  SetAviWriteDelayForTests(0);
  ASSERT_EQ(S_OK, rig.control->Stop());
  ASSERT_LT(taken.size(), 8u);
  std::vector<long long> places;
  for (auto [pts, mark] : PicturesRead(rig.path)) {
    places.push_back(pts);
    EXPECT_EQ(pts + 1, mark);
  }
  EXPECT_EQ(taken, places);
}

// Finishing the file (the encoders' last frames, the trailer, the final sync) is the writing
// thread's work: on a slow disk the windows' messages keep flowing meanwhile.
TEST_F(AviMux, FinishingOnASlowDiskKeepsTheWindowsResponsive) {
  MuxRig rig(dir + "/slow-end.mkv", true, 1, RECORD_H264_AAC);
  ASSERT_EQ(S_OK, rig.control->Run());
  for (int i = 0; i < 10; ++i) rig.Src()->Sound(i * kFrame, 66, 0), rig.Src()->Picture(i * kFrame, static_cast<BYTE>(i * 20));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the queue is written out
  SetAviWriteDelayForTests(500000);
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(20);
  ASSERT_EQ(S_OK, rig.control->Stop());
  EXPECT_GE(ticks, 5);
  EXPECT_EQ(10u, orv::test::PictureChecksums(rig.path).size());
}

// The capture log's lines, each parsed (a line that is no JSON object fails the test).
std::vector<nlohmann::json> LogLines(const std::string& path) {
  std::vector<nlohmann::json> out;
  std::ifstream in(CaptureLogOf(path));
  for (std::string line; std::getline(in, line);) {
    out.push_back(nlohmann::json::parse(line, nullptr, false));
    if (!out.back().is_object()) ADD_FAILURE() << "not a JSON object: " << line;
  }
  return out;
}

std::vector<std::string> HashLines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty() && line[0] != '#') out.push_back(line);
  return out;
}

const char kDescription[] = R"({"program":"OrvaneTuner","version":"9.9","input":"Composite","standard":"PAL-BG",)"
                            R"("device":{"name":"Card 1","driver":"cx","bus":"PCI:1"},"operator":"김 기록","notes":"Tape 7, side A"})";

// A capture killed at any moment plays up to its last seconds, has its tags and its log up to its
// last second, and no file checksum (not even one an earlier file of that name left).
TEST_F(AviMux, LosslessCaptureKilledAtAnyMomentPlaysUpToItsLastSeconds) {
  const std::string path = dir + "/killed.mkv";
  std::ofstream(ChecksumOf(path)) << "0123456789abcdef0123456789abcdef  killed.mkv\n";
  int ready[2];
  ASSERT_EQ(0, ::pipe(ready));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Records in real time until killed; the card flags a buffer every fifth picture.
    StampedSource src;
    AM_MEDIA_TYPE v{}, a{};
    src.formats[0]->Copy(&v), src.formats[1]->Copy(&a);
    auto writer = MediaWriter::Create(path, 1, {true, RECORD_FFV1_PCM, AM_FIELDS_TOP_FIRST, true, kDescription}, nullptr);
    if (FAILED(writer->Open({&v, &a}))) ::_exit(1);
    const std::vector<BYTE> picture(kWidth * 48 * 2, 80);
    const std::vector<BYTE> sound(kRate / 15 * 4, 3);
    if (::write(ready[1], "r", 1) != 1) ::_exit(1);
    const auto start = std::chrono::steady_clock::now();
    for (REFERENCE_TIME t = 0;; t += kFrame) {
      if (t / kFrame % 5 == 0) src.counts->events.Note("card", CaptureEventKind::FlaggedBuffer, t);
      writer->Push(1, MediaSample{sound.data(), sound.size(), t, t + kFrame, &a});
      writer->Push(0, MediaSample{picture.data(), picture.size(), t, t + kFrame, &v, src.counts});
      std::this_thread::sleep_until(start + std::chrono::microseconds((t + kFrame) / 10));
    }
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(1, ::read(ready[0], &byte, 1));
  ::close(ready[0]);
  const auto started = std::chrono::steady_clock::now();
  std::mt19937 random(std::random_device{}());
  std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution(5000, 15000)(random)));
  ::kill(child, SIGKILL);
  const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ::waitpid(child, nullptr, 0);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  const double pictures = orv::test::PictureChecksums(path).size() * kFrame / 1e7;
  const double sound = orv::test::SoundSamples(path).size() / 2.0 / kRate;
  for (double played : {pictures, sound}) {
    EXPECT_GT(played, recorded - 2) << recorded;
    EXPECT_LT(played, recorded + 0.2) << recorded;
  }
  EXPECT_EQ("김 기록", Probe(path)["format"]["tags"].value("DIGITIZED_BY", ""));
  EXPECT_FALSE(std::filesystem::exists(ChecksumOf(path)));
  double lastEvent = -1;
  for (const auto& line : LogLines(path))
    if (line.value("type", "") == "event") lastEvent = line.value("t", -1.0);
  EXPECT_GT(lastEvent, recorded - 1) << recorded;
  EXPECT_LT(lastEvent, recorded + 0.2) << recorded;
}

// A recording that cannot go on ends with its file closed whole and playable, and the graph is told
// why: the disk filled up, or a picture came in another size than the file's (what came before it
// stays, with what the encoders held; nothing of another size is written, nor repeats after it).
TEST_F(AviMux, ARecordingThatCannotGoOnClosesTheFileWholeAndTellsTheGraph) {
  struct Case { const char* name; RECORD_CODING coding; int resizeAt; HRESULT why; } cases[] = {
      {"full.avi", RECORD_AS_DELIVERED, -1, static_cast<HRESULT>(0x80070070)},  // disk full
      {"full.mkv", RECORD_FFV1_PCM, -1, static_cast<HRESULT>(0x80070070)},
      {"resized.avi", RECORD_AS_DELIVERED, 30, VFW_E_TYPE_NOT_ACCEPTED},
      {"resized422.avi", RECORD_UNCOMPRESSED_422, 30, VFW_E_TYPE_NOT_ACCEPTED},
      {"resized.mkv", RECORD_H264_AAC, 30, VFW_E_TYPE_NOT_ACCEPTED}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.resizeAt < 0) SetAviDiskLimitForTests(9u << 20);
    MuxRig rig(dir + "/" + c.name, true, 1, c.coding);
    ComPtr<IConfigRecordMux> record;
    ASSERT_EQ(S_OK, record.QueryFrom(rig.mux));
    ASSERT_EQ(S_OK, record->SetRecordLog(kDescription));
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(S_OK, rig.control->Run());
    for (int i = 0; i < 400; ++i) {
      if (i == c.resizeAt) rig.Src()->Reshape(kWidth + 16);
      rig.Src()->Sound(i * kFrame, 66, 5);
      if (rig.Src()->Picture(i * kFrame, 1) == Delivery::None) break;
    }
    ASSERT_EQ(S_OK, rig.events->GetEvent(&code, &p1, &p2, 5000));
    EXPECT_EQ(std::pair(LONG{EC_ERRORABORT}, c.why), std::pair(code, static_cast<HRESULT>(p1)));
    EXPECT_EQ(Delivery::None, rig.Src()->Picture(400 * kFrame, 1));  // the recording has ended
    ASSERT_EQ(S_OK, rig.control->Stop());
    EXPECT_LE(std::filesystem::file_size(rig.path), 9u << 20);
    EXPECT_EQ("", orv::test::DecodeErrors(rig.path));
    if (c.coding != RECORD_AS_DELIVERED)
      EXPECT_EQ(c.resizeAt < 0 ? "disk_full" : "format_changed", LogLines(rig.path).back().value("reason", ""));
    if (c.resizeAt < 0) {
      EXPECT_GT(orv::test::PicturesIn(rig.path), 20);
    } else {
      EXPECT_EQ(c.resizeAt, orv::test::PicturesIn(rig.path));
      EXPECT_EQ(kWidth, Number(StreamsOf(Probe(rig.path), "video").at(0), "width"));
    }
    SetAviDiskLimitForTests(0);
  }
}

}  // namespace

namespace {

// A disk that fails to keep what was written (a failing USB disk tells it only when the file is
// synced) ends the recording with a write fault in every coding: at the end for AVI, at once for
// Matroska, which is synced as it goes. What was written before stays playable.
TEST_F(AviMux, ADiskThatFailsToKeepTheFileEndsTheRecordingWithAWriteFault) {
  for (const auto& [name, coding] : {std::pair("delivered.avi", RECORD_AS_DELIVERED), {"full.avi", RECORD_UNCOMPRESSED_422},
                                     {"lossless.mkv", RECORD_FFV1_PCM}}) {
    SCOPED_TRACE(name);
    SetAviSyncErrorForTests(EIO);
    MuxRig rig(dir + "/" + name, true, 1, coding);
    ComPtr<IConfigRecordMux> record;
    ASSERT_EQ(S_OK, record.QueryFrom(rig.mux));
    ASSERT_EQ(S_OK, record->SetRecordLog(kDescription));
    ASSERT_EQ(S_OK, rig.control->Run());
    const int offered = IsMatroska(rig.path) ? 300 : 20;  // 20 s, or 1.3 s
    int taken = 0;
    for (; taken < offered; ++taken) {
      rig.Src()->Sound(taken * kFrame, 67, 5);
      if (rig.Src()->Picture(taken * kFrame, 1) == Delivery::None) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(IsMatroska(rig.path), taken < offered) << "taken: " << taken;
    ASSERT_EQ(S_OK, rig.control->Stop());
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(S_OK, rig.events->GetEvent(&code, &p1, &p2, 0));
    EXPECT_EQ(std::pair(LONG{EC_ERRORABORT}, static_cast<HRESULT>(0x8007001D)), std::pair(code, static_cast<HRESULT>(p1)));
    EXPECT_EQ("", orv::test::DecodeErrors(rig.path));
    if (coding != RECORD_AS_DELIVERED) EXPECT_EQ("write_fault", LogLines(rig.path).back().value("reason", ""));
    WaitForChecksums();
    EXPECT_FALSE(std::filesystem::exists(ChecksumOf(rig.path))) << "no checksum of what the disk may not hold";
  }
}

// Beside a file of the newer codings: its capture log, the per-frame checksums of the lossless ones
// (what FFmpeg reads back from the file), the file's checksum, and in Matroska its tags. The
// original AVI has none. The per-frame checksums hold when the sound is bent onto a slower picture
// clock (500 ppm) too.
TEST_F(AviMux, RecordingsCarryTheirLogChecksumsAndTags) {
  constexpr REFERENCE_TIME kPal = 400000;
  struct Case {
    const char* name;
    RECORD_CODING coding;
    bool frameSums, sideFiles;
    const char* codec;
    REFERENCE_TIME pictureEvery = kPal;
  } cases[] = {
      {"lossless.mkv", RECORD_FFV1_PCM, true, true, "ffv1"},
      {"drifting.mkv", RECORD_FFV1_PCM, true, true, "ffv1", kPal + 200},
      {"full.avi", RECORD_UNCOMPRESSED_422, true, true, "rawvideo"},
      {"compact.mkv", RECORD_H264_AAC, false, true, "libx264"},
      {"spec.avi", RECORD_AS_DELIVERED, false, false, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MuxRig rig(dir + "/" + c.name, true, 1, c.coding, AM_FIELDS_TOP_FIRST, {false, kPal});
    ComPtr<IConfigRecordMux> record;
    ASSERT_EQ(S_OK, record.QueryFrom(rig.mux));
    ASSERT_EQ(S_OK, record->SetRecordLog(kDescription));
    StampedSource& src = *rig.Src();
    src.textured = true;
    ASSERT_EQ(S_OK, rig.control->Run());
    // 62 s: frames 29 and 30 lost, the signal lost at 1.6 s, full-scale sound from 61 s on.
    for (int i = 0; i < 1550; ++i) {
      const REFERENCE_TIME at = i * kPal;
      if (i == 30) src.counts->events.Note("card", CaptureEventKind::FramesLost, at, 2);
      if (i == 40) src.counts->events.Note("card", CaptureEventKind::SignalLost, at);
      src.Sound(at, 40, static_cast<std::int16_t>(i < 1525 ? (i % 2 ? -6000 : 4000) : 32767));
      if (i != 29 && i != 30) src.Picture(i * c.pictureEvery, static_cast<BYTE>(i), i == 31 ? 2 : 0);
    }
    ASSERT_EQ(S_OK, record->SetEndReason("time_limit"));
    ASSERT_EQ(S_OK, rig.control->Stop());
    WaitForChecksums();

    const std::string sums = FrameChecksumsOf(rig.path);
    ASSERT_EQ(c.frameSums, std::filesystem::exists(sums));
    ASSERT_EQ(c.sideFiles, std::filesystem::exists(CaptureLogOf(rig.path)));
    if (!c.sideFiles) {
      EXPECT_FALSE(std::filesystem::exists(ChecksumOf(rig.path)));
      continue;
    }
    if (c.frameSums) {
      std::ifstream in(sums);
      const std::string ours((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const auto theirs = HashLines(orv::test::Shell("ffmpeg -nostdin -v error -i " + orv::test::Quoted(rig.path) + " -map 0 -f framemd5 -"));
      EXPECT_GT(theirs.size(), 1548u + 1500u);
      EXPECT_EQ(theirs, HashLines(ours));
    }
    int status = -1;
    const std::string checked = orv::test::Shell("cd " + orv::test::Quoted(dir) + " && md5sum -c " + orv::test::Quoted(ChecksumOf(c.name)) + " 2>&1", &status);
    EXPECT_EQ(0, status) << checked;

    const auto lines = LogLines(rig.path);
    ASSERT_GE(lines.size(), 5u);
    const auto& first = lines.front();
    EXPECT_EQ("capture", first.value("type", ""));
    EXPECT_EQ("김 기록", first.value("operator", ""));
    EXPECT_EQ("Card 1", first["device"].value("name", ""));
    EXPECT_EQ(44100, first["sound"].value("rate", 0));
    EXPECT_EQ(c.codec, first["record"]["video"]["settings"].get<std::string>().substr(0, std::strlen(c.codec)));
    std::vector<std::pair<std::string, double>> events;
    std::vector<nlohmann::json> summaries;
    for (const auto& l : lines) {
      if (l.value("type", "") == "event") events.emplace_back(l.value("event", ""), l.value("t", -1.0));
      if (l.value("type", "") == "summary") summaries.push_back(l);
    }
    ASSERT_EQ(3u, events.size());
    for (const auto& [name, t] : {std::pair{"frames_lost", 1.2}, {"frames_inserted", 1.24}, {"signal_lost", 1.6}}) {
      const auto e = std::find_if(events.begin(), events.end(), [&](const auto& e) { return e.first == name; });
      ASSERT_NE(events.end(), e) << name;
      EXPECT_NEAR(t, e->second, 0.04) << name;
    }
    // A minute, and the last two seconds.
    ASSERT_EQ(2u, summaries.size());
    EXPECT_EQ(60.0, summaries[0].value("t", 0.0));
    EXPECT_NEAR(62.0, summaries[1].value("t", 0.0), 0.1);
    EXPECT_EQ(std::pair(16, 215), std::pair(summaries[0].value("ymin", 0), summaries[0].value("ymax", 0)));
    // The minute's peak is the louder half-wave: -6000 of 32768 (resampled, its steps ring a little);
    // the last seconds' is full scale.
    EXPECT_NEAR(-14.8, summaries[0]["sound_peak_dbfs"][1].get<double>(), c.pictureEvery == kPal ? 0.5 : 2.0);
    EXPECT_NEAR(0.0, summaries[1]["sound_peak_dbfs"][1].get<double>(), 0.1);
    const auto& last = lines.back();
    EXPECT_EQ("end", last.value("type", ""));
    EXPECT_EQ("time_limit", last.value("reason", ""));
    EXPECT_EQ(std::tuple(1548, 2, 2), std::tuple(last.value("captured", -1), last.value("dropped", -1), last.value("inserted", -1)));
    EXPECT_EQ(std::tuple(src.counts->delivered.load(), src.counts->dropped.load(), src.counts->inserted.load()),
              std::tuple(last.value("captured", -1), last.value("dropped", -1), last.value("inserted", -1)));
    EXPECT_EQ(static_cast<long long>(std::filesystem::file_size(rig.path)), last.value("size", -1LL));
    EXPECT_NEAR(0.0, last["sound_peak_dbfs"][0].get<double>(), 0.1);
    EXPECT_GT(last["sound_clips"][0].get<long long>(), 10000);

    if (!IsMatroska(rig.path)) continue;
    const auto tags = Probe(rig.path)["format"]["tags"];
    for (const auto& [key, value] : {std::pair{"ENCODER", "OrvaneTuner 9.9"}, {"ORIGINAL_MEDIA_TYPE", "Composite"},
                                     {"TV_STANDARD", "PAL-BG"}, {"CAPTURE_DEVICE", "Card 1"}, {"DIGITIZED_BY", "김 기록"},
                                     {"COMMENT", "Tape 7, side A"}})
      EXPECT_EQ(value, tags.value(key, "")) << key << " in " << tags.dump();
    EXPECT_EQ(first.value("start", ""), tags.value("DATE_DIGITIZED", "")) << tags.dump();
    EXPECT_NE(std::string::npos, tags.value("ENCODER_SETTINGS", "").find(c.codec)) << tags.dump();
  }
}

// The lossless master and its compact copy from the same pictures. A copy that falls behind leaves
// pictures out (its own count, not the source's) and keeps their places; the master keeps every
// one. Both decode cleanly, and the log's last line says what the copy left out.
TEST_F(AviMux, TheAccessCopyFallsBehindWithoutCostingTheMasterAPicture) {
  struct Case { const char* file; bool slow; } cases[] = {{"/both.mkv", false}, {"/behind.mkv", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    // Room for eight pictures in the master's queue, two in the copy's, and a slow disk.
    if (c.slow) SetAviQueueLimitForTests(kWidth * 48 * 2 * 8), SetAviWriteDelayForTests(50000);
    MuxRig rig(dir + c.file, true, 1, RECORD_FFV1_PCM_AND_H264_AAC, AM_FIELDS_TOP_FIRST);
    ComPtr<IConfigRecordMux> record;
    ASSERT_EQ(S_OK, record.QueryFrom(rig.mux));
    ASSERT_EQ(S_OK, record->SetRecordLog(kDescription));
    Record(rig, 6);
    LONG dropped = -1;
    ASSERT_EQ(S_OK, record->GetAccessCopyDropped(&dropped));
    EXPECT_EQ(c.slow, dropped > 0) << dropped;
    EXPECT_EQ(std::pair(6L, 0L), std::pair(long{rig.Src()->counts->delivered}, long{rig.Src()->counts->dropped}));

    // Six different pictures in the master; in the copy, their places to within the sound's end.
    const auto master = orv::test::PictureChecksums(rig.path);
    EXPECT_EQ(6u, std::set(master.begin(), master.end()).size());
    const std::string copy = AccessCopyOf(rig.path);
    EXPECT_EQ("h264", StreamsOf(Probe(copy), "video").at(0).value("codec_name", ""));
    EXPECT_NEAR(6, static_cast<int>(orv::test::PictureChecksums(copy).size()), 1);
    for (const std::string& file : {rig.path, copy}) EXPECT_EQ("", orv::test::DecodeErrors(file)) << file;
    const auto end = LogLines(rig.path).back();
    EXPECT_EQ(std::filesystem::path(copy).filename(), std::filesystem::path(end["access_copy"].value("file", "")).filename());
    EXPECT_EQ(dropped, end["access_copy"].value("dropped", -1L));
    TearDown();
  }
}

// SubRip entries (start and end in seconds, text) as a file or a reader's output has them.
std::vector<std::tuple<double, double, std::string>> SrtEntries(const std::string& text) {
  std::vector<std::tuple<double, double, std::string>> out;
  std::istringstream in(text);
  std::string line;
  auto seconds = [](const std::string& t) {
    return std::stoi(t.substr(0, 2)) * 3600.0 + std::stoi(t.substr(3, 2)) * 60.0 + std::stoi(t.substr(6, 2)) +
           std::stoi(t.substr(9, 3)) / 1000.0;
  };
  while (std::getline(in, line)) {
    const auto arrow = line.find(" --> ");
    if (arrow == std::string::npos) continue;
    std::string body, row;
    while (std::getline(in, row) && !row.empty() && row != "\r") body += (body.empty() ? "" : "\n") + row;
    out.emplace_back(seconds(line.substr(0, arrow)), seconds(line.substr(arrow + 5)), body);
  }
  return out;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Line 21's captions of a capture: every pair in the SCC beside the file at its frame's time code,
// each caption in the SRT from the frame its last pair came on to the next one's, the same in a
// Matroska file's subtitle track, and the H.264 of compact carries them so that a player decodes
// the same text.
TEST_F(AviMux, CaptionsGoBesideAndIntoTheRecording) {
  constexpr REFERENCE_TIME kNtsc = 333667;
  const char* texts[] = {"Hello world!", "Closed captions test"};
  // Caption k's pairs from frame 30k + 3 on; 150 frames (5 s) in all.
  constexpr int kFrames = 150, kEvery = 30, kFrom = 3;
  constexpr double kFrameSeconds = 1001 / 30000.0;
  struct Case { const char* name; RECORD_CODING coding; bool track; } cases[] = {
      {"full.avi", RECORD_UNCOMPRESSED_422, false}, {"lossless.mkv", RECORD_FFV1_PCM, true}, {"compact.mkv", RECORD_H264_AAC, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MuxRig rig(dir + "/" + c.name, true, 1, c.coding, AM_FIELDS_BOTTOM_FIRST, {false, kNtsc});
    ASSERT_EQ(S_OK, rig.graph->ConnectDirect(rig.Src()->PinAt(2), AsFilterBase(rig.mux)->PinAt(3), nullptr));
    ASSERT_EQ(S_OK, rig.control->Run());
    std::vector<double> shownAt;  // when each caption's end came (the first of its two), in seconds of the file
    for (int i = 0; i < kFrames; ++i) {
      const REFERENCE_TIME at = i * kNtsc;
      const int k = i / kEvery, step = i % kEvery - kFrom;
      const auto pairs = cc::PopOnCaption(texts[k % 2]);
      cc::Pair pair{cc::kNull, cc::kNull};
      if (step >= 0 && step < static_cast<int>(pairs.size())) pair = pairs[static_cast<std::size_t>(step)];
      if (step == static_cast<int>(pairs.size()) - 2) shownAt.push_back(i * 1001 / 30000.0);
      rig.Src()->Sound(at, 33, 0);
      // The pairs come before or after their picture, as two devices' threads deliver them.
      if (i % 2) ASSERT_EQ(Delivery::Taken, rig.Src()->Captions(at, pair));
      rig.Src()->Picture(at, static_cast<BYTE>(i));
      if (i % 2 == 0) ASSERT_EQ(Delivery::Taken, rig.Src()->Captions(at, pair));
    }
    ASSERT_EQ(S_OK, rig.control->Stop());
    ASSERT_EQ(5u, shownAt.size());

    const std::string scc = ReadText(SccOf(rig.path));
    EXPECT_EQ("Scenarist_SCC V1.0\n\n00:00:00;03\t9420 9420 94ae 94ae 94f4 94f4 c8e5 ecec ef20 f7ef f2ec 64a1 942f 942f\n\n"
              "00:00:01;03\t9420 9420 94ae 94ae 94f2 94f2",
              scc.substr(0, 144));
    const auto ours = SrtEntries(ReadText(SrtOf(rig.path)));
    ASSERT_EQ(5u, ours.size());
    for (std::size_t k = 0; k < ours.size(); ++k) {
      EXPECT_NEAR(shownAt[k], std::get<0>(ours[k]), 0.001) << k;
      // The last lasts until the pictures end.
      EXPECT_NEAR(k + 1 < shownAt.size() ? shownAt[k + 1] : kFrames * 1001 / 30000.0, std::get<1>(ours[k]), 0.001) << k;
      EXPECT_EQ(texts[k % 2], std::get<2>(ours[k]));
    }

    const std::string probe = orv::test::Shell("ffprobe -v error -show_entries stream=codec_type,codec_name -of csv=p=0 " +
                                               orv::test::Quoted(rig.path));
    EXPECT_EQ(c.track, probe.find("subrip,subtitle") != std::string::npos) << probe;
    if (c.track) {
      const auto track = SrtEntries(orv::test::Shell("ffmpeg -nostdin -v error -i " + orv::test::Quoted(rig.path) + " -map 0:s -f srt -"));
      ASSERT_EQ(ours.size(), track.size());
      // A reader moves the whole file by the AAC encoder's priming (23 ms): within a frame.
      for (std::size_t k = 0; k < ours.size(); ++k) {
        EXPECT_NEAR(std::get<0>(ours[k]), std::get<0>(track[k]), kFrameSeconds) << k;
        EXPECT_NEAR(std::get<1>(ours[k]), std::get<1>(track[k]), kFrameSeconds) << k;
        EXPECT_EQ(std::get<2>(ours[k]), std::get<2>(track[k])) << k;
      }
    }
    if (c.coding == RECORD_H264_AAC) {
      // FFmpeg's own line 21 decoder, from the A/53 data of the pictures.
      const auto played = SrtEntries(orv::test::Shell("ffmpeg -nostdin -v error -f lavfi -i " +
                                                      orv::test::Quoted("movie=" + rig.path + "[out+subcc]") + " -map 0:s -f srt -"));
      ASSERT_EQ(ours.size(), played.size());
      for (std::size_t k = 0; k < ours.size(); ++k) {
        // Its text comes in a monospaced font's markup.
        EXPECT_EQ(std::get<2>(ours[k]), std::regex_replace(std::get<2>(played[k]), std::regex("<[^>]*>|\\{[^}]*\\}"), "")) << k;
        EXPECT_NEAR(std::get<0>(ours[k]), std::get<0>(played[k]), 2 * kFrameSeconds) << k;
      }
    }
  }
}

// Line 23 of a 625-line picture: a 16:9 signal at the start gives the Matroska file that shape, a
// letterbox in a 4:3 frame leaves the frame's own (the standard's pixels); each change is an event in the capture log from
// the frame its bits first came on, and no WSS byte goes into compact's caption data; the teletext
// page asked for goes into the SRT.
TEST_F(AviMux, WideScreenSignalGivesTheFileItsShapeAndTheLogItsChanges) {
  constexpr REFERENCE_TIME kPal = 400000;
  constexpr int kFrames = 100, kSwitchAt = 50;
  // The teletext subtitle page 888 comes too, at the start and at the switch: kept for the page asked.
  struct Case { const char* name; RECORD_CODING coding; const char* first; const char* shown; LONG page; bool subtitles; } cases[] = {
      {"lossless.mkv", RECORD_FFV1_PCM, "16:9", "16:9", ttx::kAutoPage, true},
      {"compact.mkv", RECORD_H264_AAC, "16:9", "16:9", 777, false},
      {"letterbox.mkv", RECORD_FFV1_PCM, "16:9 letterbox", "4:3", 888, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MuxRig rig(dir + "/" + c.name, true, 1, c.coding, AM_FIELDS_TOP_FIRST, {false, kPal});
    ComPtr<IConfigRecordMux> record;
    ASSERT_EQ(S_OK, record.QueryFrom(rig.mux));
    ASSERT_EQ(S_OK, record->SetRecordLog(kDescription));
    ASSERT_EQ(E_INVALIDARG, record->SetTeletextPage(99));
    ASSERT_EQ(S_OK, record->SetTeletextPage(c.page));
    ASSERT_EQ(S_OK, rig.graph->ConnectDirect(rig.Src()->PinAt(2), AsFilterBase(rig.mux)->PinAt(3), nullptr));
    ASSERT_EQ(S_OK, rig.control->Run());
    for (int i = 0; i < kFrames; ++i) {
      const REFERENCE_TIME at = i * kPal;
      rig.Src()->Sound(at, 40, 0);
      rig.Src()->Picture(at, static_cast<BYTE>(i));
      const auto t = wss::Triplet(*wss::ValueOfName(i < kSwitchAt ? c.first : "4:3"));
      std::vector<BYTE> vbi(t.begin(), t.end());
      unsigned line = 7;
      if (i % kSwitchAt == 0)
        for (const auto& packet : ttx::SubtitlePage(888, i ? "Two" : "One")) ttx::AppendPacket(vbi, line++, packet.data());
      ASSERT_EQ(Delivery::Taken, rig.Src()->Vbi(at, vbi));
    }
    ASSERT_EQ(S_OK, rig.control->Stop());

    const auto video = StreamsOf(Probe(rig.path), "video");
    ASSERT_EQ(1u, video.size());
    EXPECT_EQ(c.shown, video[0].value("display_aspect_ratio", "")) << video[0].dump();
    std::vector<std::pair<double, std::string>> changes;
    for (const auto& line : LogLines(rig.path))
      if (line.value("event", "") == "wss") changes.emplace_back(line["t"].get<double>(), line["aspect"].get<std::string>());
    // The letterbox's end is a change too: the picture's lines are the frame's again.
    ASSERT_EQ(2u, changes.size());
    EXPECT_EQ(std::pair(0.0, std::string(c.shown == std::string("16:9") ? "16:9" : "4:3")), changes[0]);
    EXPECT_EQ(std::pair(kSwitchAt * 0.04, std::string("4:3")), changes[1]);
    const auto srt = SrtEntries(ReadText(SrtOf(rig.path)));
    if (c.subtitles) {
      ASSERT_EQ(2u, srt.size());
      EXPECT_EQ(std::tuple(0.0, kSwitchAt * 0.04, std::string("One")), srt[0]);
      EXPECT_EQ(std::tuple(kSwitchAt * 0.04, kFrames * 0.04, std::string("Two")), srt[1]);
    } else {
      EXPECT_TRUE(srt.empty());
    }
    EXPECT_EQ("", orv::test::DecodeErrors(rig.path));
  }
}

}  // namespace
