// The AVI mux and file writer fed by a source whose time stamps the test chooses.
#include "platform/media/writer/testing.h"
#include "tests/media/avicheck.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace orv::media;
using orv::test::Number;
using orv::test::Probe;
using orv::test::StreamsOf;

namespace {

constexpr REFERENCE_TIME kFrame = 667111;
constexpr int kRate = 44100;

// A source with a 64x48 YUY2 output and a 44.1 kHz stereo PCM output.
class StampedSource : public FilterBase {
 public:
  StampedSource() : FilterBase(GUID_NULL, "Stamped", "Stamped") {
    VIDEOINFOHEADER vih{.AvgTimePerFrame = kFrame, .bmiHeader = {sizeof(BITMAPINFOHEADER), 64, 48, 1, 16, MEDIASUBTYPE_YUY2.Data1}};
    AM_MEDIA_TYPE v{MEDIATYPE_Video, MEDIASUBTYPE_YUY2, TRUE, FALSE, 64 * 48 * 2, FORMAT_VideoInfo, nullptr,
                    sizeof vih, reinterpret_cast<BYTE*>(&vih)};
    WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    AM_MEDIA_TYPE a{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, TRUE, FALSE, 4, FORMAT_WaveFormatEx, nullptr,
                    sizeof wfx, reinterpret_cast<BYTE*>(&wfx)};
    formats[0] = std::make_shared<StreamFormat>(v);
    formats[1] = std::make_shared<StreamFormat>(a);
    AddPin({"Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Video, false, false, formats[0]});
    AddPin({"Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Audio, false, false, formats[1]});
  }
  // A picture whose bytes all carry `mark`, counted as a card counts its frames.
  Delivery Picture(REFERENCE_TIME at, BYTE mark) {
    const Delivery d = Send(0, std::vector<BYTE>(64 * 48 * 2, mark), at, at + kFrame);
    if (d == Delivery::Taken) ++counts->delivered;
    if (d == Delivery::Refused) ++counts->dropped;
    return d;
  }
  // `ms` milliseconds of sound of one constant value.
  Delivery Sound(REFERENCE_TIME at, int ms, std::int16_t value) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(kRate) * ms / 1000 * 2, value);
    return Send(1, std::vector<BYTE>(reinterpret_cast<BYTE*>(s.data()), reinterpret_cast<BYTE*>(s.data() + s.size())),
                at, at + ms * 10000LL);
  }
  std::shared_ptr<StreamFormat> formats[2];
  std::shared_ptr<FrameCounts> counts = std::make_shared<FrameCounts>();

 private:
  Delivery Send(std::size_t pin, const std::vector<BYTE>& data, REFERENCE_TIME start, REFERENCE_TIME stop) {
    AM_MEDIA_TYPE mt{};
    formats[pin]->Copy(&mt);
    std::shared_lock lock(StreamMutex());
    const Delivery d = PinAt(pin)->Send(MediaSample{data.data(), data.size(), start, stop, &mt, pin == 0 ? counts : nullptr});
    return FreeMediaType(mt), d;
  }
};

struct MuxRig {
  explicit MuxRig(const std::string& file, bool sound = true, LONG master = 1) : path(file) {
    CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph));
    builder->SetFiltergraph(graph);
    source = static_cast<IBaseFilter*>(new StampedSource);
    graph->AddFilter(source, u"Stamped");
    EXPECT_EQ(S_OK, builder->SetOutputFileName(&MEDIASUBTYPE_Avi, Widen(path).c_str(), &mux, &sink));
    ComPtr<IConfigAviMux> config;
    config.QueryFrom(mux);
    config->SetOutputCompatibilityIndex(TRUE);
    if (master >= 0) config->SetMasterStream(master);
    graph->ConnectDirect(Src()->PinAt(0), AsFilterBase(mux)->PinAt(1), nullptr);
    if (sound) graph->ConnectDirect(Src()->PinAt(1), AsFilterBase(mux)->PinAt(2), nullptr);
    control.QueryFrom(graph);
    events.QueryFrom(graph);
  }
  ~MuxRig() { control->Stop(); }
  StampedSource* Src() { return static_cast<StampedSource*>(AsFilterBase(source)); }
  // Packets of the picture stream that a reader finds (empty chunks are not packets).
  long long Pictures() {
    const auto video = StreamsOf(Probe(path), "video");
    return video.size() == 1 ? Number(video[0], "nb_read_packets") : -1;
  }

  orv::test::ComScope com;
  std::string path;
  ComPtr<ICaptureGraphBuilder> builder;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> source, mux;
  ComPtr<IFileSinkFilter> sink;
  ComPtr<IMediaEventEx> events;
  ComPtr<IMediaControl> control;
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
  void TearDown() override { SetAviDiskLimitForTests(0), SetAviQueueLimitForTests(0), SetAviWriteDelayForTests(0); }
  std::string dir;
};

// Pictures the writer leaves out count as dropped at their source.
TEST_F(AviMux, PicturesKeepTheirPlacesAndMissingOnesBecomeEmptyChunks) {
  const std::string path = dir + "/gaps.avi";
  std::shared_ptr<FrameCounts> counts;
  {
    MuxRig rig(path);
    ASSERT_EQ(S_OK, rig.control->Run());
    auto* s = rig.Src();
    counts = s->counts;
    ASSERT_EQ(Delivery::Taken, s->Sound(0, 1000, 100));
    for (int i : {0, 1, 2, 6, 7, 12}) ASSERT_EQ(Delivery::Taken, s->Picture(i * kFrame + 1000, static_cast<BYTE>(i + 1)));
    // Late by half a frame: still its own place. Its place taken, a picture a little late (jitter)
    // takes the next one; one further behind is left out.
    for (auto [at, mark] : {std::pair{13 * kFrame + kFrame / 2 - 1, 14}, {13 * kFrame + kFrame * 2 / 5, 15}, {14 * kFrame, 16}, {5 * kFrame, 99}})
      ASSERT_EQ(Delivery::Taken, s->Picture(at, static_cast<BYTE>(mark)));
  }
  const std::vector<std::pair<long long, int>> expected{{0, 1}, {1, 2}, {2, 3}, {6, 7}, {7, 8}, {12, 13}, {13, 14}, {14, 15}};
  EXPECT_EQ(expected, PicturesRead(path));
  EXPECT_EQ(8, counts->delivered);
  EXPECT_EQ(2, counts->dropped);
  EXPECT_EQ(15, Number(StreamsOf(Probe(path), "video").at(0), "nb_frames"));  // the length counts the gaps
  EXPECT_EQ("", orv::test::DecodeErrors(path));
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

// A folder that goes away after the capture was set up stops the graph from starting.
TEST_F(AviMux, FileThatCannotBeOpenedStopsTheGraphFromStarting) {
  std::filesystem::create_directory(dir + "/gone");
  MuxRig rig(dir + "/gone/clip.avi", false);
  std::filesystem::remove(dir + "/gone");
  EXPECT_EQ(static_cast<HRESULT>(0x80070003), rig.control->Run());  // path not found
  EXPECT_EQ(State_Stopped, rig.Src()->State());
  EXPECT_EQ(Delivery::None, rig.Src()->Picture(0, 1));
}

TEST_F(AviMux, FullQueueRefusesPicturesButTakesSound) {
  SetAviQueueLimitForTests(64 * 48 * 2 * 3), SetAviWriteDelayForTests(300000);
  MuxRig rig(dir + "/slow.avi");
  ASSERT_EQ(S_OK, rig.control->Run());
  int refused = 0;
  for (int i = 0; i < 10; ++i) refused += rig.Src()->Picture(i * kFrame, 1) == Delivery::Refused;
  EXPECT_GE(refused, 5);
  EXPECT_EQ(Delivery::Taken, rig.Src()->Sound(0, 5, 1));  // small, within the room kept for sound
  SetAviWriteDelayForTests(0);
  ASSERT_EQ(S_OK, rig.control->Stop());
  EXPECT_EQ(10 - refused, rig.Pictures());
}

TEST_F(AviMux, DiskThatFillsUpClosesTheFileAndTellsTheGraph) {
  SetAviDiskLimitForTests(9u << 20);
  MuxRig rig(dir + "/full.avi");
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  ASSERT_EQ(S_OK, rig.control->Run());
  for (int i = 0; i < 400; ++i) {
    rig.Src()->Sound(i * kFrame, 66, 5);
    rig.Src()->Picture(i * kFrame, 1);
  }
  ASSERT_EQ(S_OK, rig.events->GetEvent(&code, &p1, &p2, 5000));
  EXPECT_EQ(EC_ERRORABORT, code);
  EXPECT_EQ(static_cast<HRESULT>(0x80070070), static_cast<HRESULT>(p1));  // disk full
  EXPECT_EQ(Delivery::None, rig.Src()->Picture(400 * kFrame, 1));  // the recording has ended
  ASSERT_EQ(S_OK, rig.control->Stop());
  EXPECT_LE(std::filesystem::file_size(rig.path), 9u << 20);
  EXPECT_EQ("", orv::test::DecodeErrors(rig.path));
  EXPECT_GT(rig.Pictures(), 20);
}

}  // namespace
