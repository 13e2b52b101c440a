// Capture throughput: frames per second that the capture pipeline (mux, write queue, writing
// thread, encoders, libavformat, disk) writes when a card sends YUY2 pictures with sound as fast as
// it takes them, next to ffmpeg writing the same raw frames into the same kind of file; and the
// share of the machine that the compact recording takes in real time.
//
//   bench_capture [frames]            640x480 as delivered into AVI (default 450: half a minute at 14.99)
//   bench_capture lossless [frames]   720x576 at 25 in FFV1 and PCM into Matroska (default 250)
//   bench_capture compact [seconds]   720x480 at 29.97 in H.264 and AAC, fed in real time (default 60)
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/writer/mediawriter.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <random>
#include <fstream>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace orv::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 44100, kChannels = 2;
constexpr REFERENCE_TIME kSoundBuffer = 1000000;  // 0.1 s, as the card sends it
constexpr int kDistinctFrames = 60;

struct Mode {
  const char* name;
  int width, height;
  REFERENCE_TIME frame;
  RECORD_CODING coding;
  bool matroska;
  const char* extension;
};
constexpr Mode kSpec{"spec", 640, 480, 667111, RECORD_AS_DELIVERED, false, ".avi"};
constexpr Mode kLossless{"lossless", 720, 576, 400000, RECORD_FFV1_PCM, true, ".mkv"};
constexpr Mode kCompact{"compact", 720, 480, 333667, RECORD_H264_AAC, true, ".mkv"};

// A card that is not paced: it sends whenever the pipeline has room.
class UnpacedCard : public FilterBase {
 public:
  explicit UnpacedCard(const Mode& mode) : FilterBase(GUID_NULL, "BenchCard", "BenchCard") {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = mode.frame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = mode.width;
    vih.bmiHeader.biHeight = mode.height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 16;
    vih.bmiHeader.biCompression = MEDIASUBTYPE_YUY2.Data1;
    vih.bmiHeader.biSizeImage = mode.width * mode.height * 2;
    AM_MEDIA_TYPE v{};
    v.majortype = MEDIATYPE_Video;
    v.subtype = MEDIASUBTYPE_YUY2;
    v.bFixedSizeSamples = TRUE;
    v.lSampleSize = vih.bmiHeader.biSizeImage;
    v.formattype = FORMAT_VideoInfo;
    v.cbFormat = sizeof vih;
    v.pbFormat = reinterpret_cast<BYTE*>(&vih);
    m_videoType = std::make_shared<StreamFormat>(v);
    WAVEFORMATEX wfx{WAVE_FORMAT_PCM, kChannels, kRate, kRate * 4, 4, 16, 0};
    AM_MEDIA_TYPE a{};
    a.majortype = MEDIATYPE_Audio;
    a.subtype = MEDIASUBTYPE_PCM;
    a.formattype = FORMAT_WaveFormatEx;
    a.cbFormat = sizeof wfx;
    a.pbFormat = reinterpret_cast<BYTE*>(&wfx);
    m_audioType = std::make_shared<StreamFormat>(a);
    m_video = AddPin({"Video", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Video, false, false, m_videoType});
    m_audio = AddPin({"Audio", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Audio, false, false, m_audioType});
  }
  ORV_UNKNOWN_IMPL

  // Sends until taken; returns how often the pipeline had no room. A picture waits while the
  // writer is behind (its queue more than half full) rather than be refused: the writer keeps a
  // refused picture's place, as it must for a real card, which does not send it again. It looks
  // again every 2 ms: half a queue is tenths of a second of pictures, and looking every 0.2 ms cost
  // the process a tenth more CPU than the writing itself (a real card does not wait at all).
  int Send(bool video, const BYTE* data, std::size_t size, REFERENCE_TIME start, REFERENCE_TIME stop) {
    AM_MEDIA_TYPE mt{};
    (video ? m_videoType : m_audioType)->Copy(&mt);
    const MediaSample sample{data, size, start, stop, &mt};
    int refused = 0;
    for (; video && WritersBehind(); ++refused) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (;;) {
      Delivery d;
      {
        std::shared_lock lock(StreamMutex());
        d = (video ? m_video : m_audio)->Send(sample);
      }
      if (d != Delivery::Refused) break;
      ++refused;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    FreeMediaType(mt);
    return refused;
  }

 private:
  std::shared_ptr<StreamFormat> m_videoType, m_audioType;
  PinBase* m_video = nullptr;
  PinBase* m_audio = nullptr;
};

struct Material {
  std::vector<std::vector<BYTE>> frames;
  std::vector<std::int16_t> sound;  // one 0.1 s buffer
};

Material Draw(const Mode& mode) {
  Material m;
  PictureGenerator g;
  std::minstd_rand grain(7);
  PictureState s;
  s.input = PictureState::Input::Tuner;
  s.channel = 7;
  s.signal = true;
  for (int i = 0; i < kDistinctFrames; ++i) {
    m.frames.emplace_back(static_cast<std::size_t>(mode.width) * mode.height * 2);
    g.DrawYUY2(s, i, m.frames.back().data(), mode.width, mode.height);
    // Encoders see a tape's grain, not the card's clean bars.
    if (mode.coding != RECORD_AS_DELIVERED)
      for (std::size_t y = 0; y < m.frames.back().size(); y += 2)
        m.frames.back()[y] = static_cast<BYTE>(std::clamp(m.frames.back()[y] + static_cast<int>(grain() % 9) - 4, 16, 235));
  }
  m.sound.resize(static_cast<std::size_t>(kRate / 10) * kChannels);
  g.DrawPCM(s, m.sound.data(), kRate / 10, kChannels, kRate);
  return m;
}

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// CPU seconds of the children that have ended and been waited for.
double ChildCpuSeconds() {
  rusage r{};
  ::getrusage(RUSAGE_CHILDREN, &r);
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(r.ru_utime) + seconds(r.ru_stime);
}

// Seconds the capture pipeline takes to write `frames` pictures and their sound; paced: sent as a
// card sends them, in real time. *cpu: the process's CPU seconds meanwhile.
double Pipeline(const Mode& mode, const Material& m, int frames, const std::string& path, bool paced, int* waits,
                double* cpu) {
  CoInitialize(nullptr);
  double seconds = -1;
  {
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph));
    builder->SetFiltergraph(graph);
    ComPtr<IBaseFilter> card = static_cast<IBaseFilter*>(new UnpacedCard(mode));
    graph->AddFilter(card, u"Card");
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    const std::u16string wide(path.begin(), path.end());
    ComPtr<IConfigAviMux> config;
    ComPtr<IConfigRecordMux> record;
    ComPtr<IMediaControl> control;
    if (FAILED(builder->SetOutputFileName(mode.matroska ? &MEDIASUBTYPE_Matroska : &MEDIASUBTYPE_Avi, wide.c_str(),
                                          &mux, &sink)) ||
        FAILED(config.QueryFrom(mux)) || FAILED(record.QueryFrom(mux)) || FAILED(record->SetRecordCoding(mode.coding)) || FAILED(builder->RenderStream(nullptr, card, nullptr, mux)) ||
        FAILED(builder->RenderStream(nullptr, card, nullptr, mux)) || FAILED(control.QueryFrom(graph))) {
      std::fprintf(stderr, "cannot build the capture graph\n");
      CoUninitialize();
      return -1;
    }
    config->SetOutputCompatibilityIndex(TRUE);
    config->SetMasterStream(1);
    auto* source = static_cast<UnpacedCard*>(AsFilterBase(card));
    const auto begin = Clock::now();
    const double cpuBegin = CpuSeconds();
    if (FAILED(control->Run())) {
      std::fprintf(stderr, "cannot run the capture graph\n");
    } else {
      REFERENCE_TIME soundAt = 0;
      for (int i = 0; i < frames; ++i) {
        const REFERENCE_TIME t = i * mode.frame;
        if (paced) std::this_thread::sleep_until(begin + std::chrono::microseconds(t / 10));
        for (; soundAt <= t; soundAt += kSoundBuffer)
          *waits += source->Send(false, reinterpret_cast<const BYTE*>(m.sound.data()), m.sound.size() * 2, soundAt,
                                 soundAt + kSoundBuffer);
        const auto& f = m.frames[static_cast<std::size_t>(i) % m.frames.size()];
        *waits += source->Send(true, f.data(), f.size(), t, t + mode.frame);
      }
      control->Stop();  // the file is complete when this returns
      seconds = std::chrono::duration<double>(Clock::now() - begin).count();
      *cpu = CpuSeconds() - cpuBegin;
    }
  }
  CoUninitialize();
  return seconds;
}

// Seconds ffmpeg takes to write the same pictures (and, as delivered, the sound) from raw files;
// *cpu: its CPU seconds.
double Ffmpeg(const Mode& mode, const Material& m, int frames, const std::string& dir, double* cpu) {
  const std::string video = dir + "/frames.yuv", sound = dir + "/sound.pcm", out = dir + "/ffmpeg.avi";
  {
    std::ofstream v(video, std::ios::binary), a(sound, std::ios::binary);
    for (int i = 0; i < frames; ++i) {
      const auto& f = m.frames[static_cast<std::size_t>(i) % m.frames.size()];
      v.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
    const int buffers = static_cast<int>(frames * mode.frame / kSoundBuffer) + 1;
    for (int i = 0; i < buffers; ++i)
      a.write(reinterpret_cast<const char*>(m.sound.data()), static_cast<std::streamsize>(m.sound.size() * 2));
  }
  const std::string command =
      mode.coding == RECORD_FFV1_PCM
          ? "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuyv422 -s 720x576 -r 25 -i " + video +
                " -c:v ffv1 -level 3 -slices 4 -slicecrc 1 -g 1 -threads 2 " + dir + "/ffmpeg.mkv"
          : "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuyv422 -s 640x480 -framerate "
            "10000000/667111 -i " + video + " -f s16le -ar 44100 -ac 2 -i " + sound +
                " -map 0:v -map 1:a -c:v rawvideo -vtag YUY2 -c:a pcm_s16le -shortest " + out;
  const auto begin = Clock::now();
  const double cpuBegin = ChildCpuSeconds();
  const int rc = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  *cpu = ChildCpuSeconds() - cpuBegin;
  std::filesystem::remove(video);
  std::filesystem::remove(sound);
  return rc == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const Mode& mode = argc > 1 && std::strcmp(argv[1], "lossless") == 0 ? kLossless
                     : argc > 1 && std::strcmp(argv[1], "compact") == 0 ? kCompact
                                                                        : kSpec;
  const char* count = &mode == &kSpec ? (argc > 1 ? argv[1] : nullptr) : (argc > 2 ? argv[2] : nullptr);
  const int frames = &mode == &kCompact ? static_cast<int>((count ? std::max(5, std::atoi(count)) : 60) * 10000000LL / mode.frame)
                                        : (count ? std::max(30, std::atoi(count)) : &mode == &kSpec ? 450 : 250);
  char tmpl[] = "/tmp/orvane-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return 1;
  const Material m = Draw(mode);
  const std::string ours = std::string(dir) + "/pipeline" + mode.extension;

  int waits = 0;
  double cpu = 0;
  const bool paced = &mode == &kCompact;
  const double pipeline = Pipeline(mode, m, frames, ours, paced, &waits, &cpu);
  double ffmpegCpu = 0;
  const double ffmpeg = paced ? 1 : Ffmpeg(mode, m, frames, dir, &ffmpegCpu);
  const auto mb = static_cast<double>(std::filesystem::exists(ours) ? std::filesystem::file_size(ours) : 0) / 1e6;
  std::filesystem::remove_all(dir);
  if (pipeline <= 0 || ffmpeg <= 0) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  const double rate = 1e7 / static_cast<double>(mode.frame);
  std::printf("%s: %d pictures %dx%d YUY2 at %.2f with 44.1 kHz stereo sound, %.0f MB written\n", mode.name, frames,
              mode.width, mode.height, rate, mb);
  if (paced) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const double share = cpu / (pipeline * cores);
    std::printf("fed in real time for %.1f s: %.1f CPU seconds on %u cores, %.0f %% of the machine (%.0f %% left)\n",
                pipeline, cpu, cores, 100 * share, 100 * (1 - share));
    std::printf("size at this rate: %.2f GB an hour\n", mb / 1e3 * 3600 / pipeline);
    return 0;
  }
  std::printf("capture pipeline: %8.1f frames/s (%.2f s, %.2f CPU s, the card waited for room %d times)\n",
              frames / pipeline, pipeline, cpu, waits);
  std::printf("ffmpeg:           %8.1f frames/s (%.2f s, %.2f CPU s)\n", frames / ffmpeg, ffmpeg, ffmpegCpu);
  std::printf("ratio pipeline/ffmpeg: %.2f\n", ffmpeg / pipeline);
  if (&mode != &kSpec) std::printf("real-time factor: %.2f\n", frames / pipeline / rate);
  return 0;
}
