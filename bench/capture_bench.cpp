// Capture throughput: frames per second that the capture pipeline (AVI mux, write queue, writing
// thread, libavformat, disk) writes when a card sends 640x480 YUY2 pictures with sound as fast as
// it takes them, next to ffmpeg writing the same raw frames and sound into an AVI file.
//
//   bench_capture [frames]      (default 450: half a minute of pictures at 14.99 frames per second)
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/virtualsignal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace orv::media;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 640, kHeight = 480, kRate = 44100, kChannels = 2;
constexpr REFERENCE_TIME kFrame = 667111;     // 14.99 frames per second
constexpr REFERENCE_TIME kSoundBuffer = 1000000;  // 0.1 s, as the card sends it
constexpr int kDistinctFrames = 60;

// A card that is not paced: it sends whenever the pipeline has room.
class UnpacedCard : public FilterBase {
 public:
  UnpacedCard() : FilterBase(GUID_NULL, "BenchCard", "BenchCard") {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = kFrame;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = kWidth;
    vih.bmiHeader.biHeight = kHeight;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 16;
    vih.bmiHeader.biCompression = MEDIASUBTYPE_YUY2.Data1;
    vih.bmiHeader.biSizeImage = kWidth * kHeight * 2;
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

  // Sends until taken; returns how often the pipeline had no room.
  int Send(bool video, const BYTE* data, std::size_t size, REFERENCE_TIME start, REFERENCE_TIME stop) {
    AM_MEDIA_TYPE mt{};
    (video ? m_videoType : m_audioType)->Copy(&mt);
    const MediaSample sample{data, size, start, stop, &mt};
    int refused = 0;
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

Material Draw() {
  Material m;
  PictureGenerator g;
  PictureState s;
  s.input = PictureState::Input::Tuner;
  s.channel = 7;
  s.signal = true;
  for (int i = 0; i < kDistinctFrames; ++i) {
    m.frames.emplace_back(static_cast<std::size_t>(kWidth) * kHeight * 2);
    g.DrawYUY2(s, i, m.frames.back().data(), kWidth, kHeight);
  }
  m.sound.resize(static_cast<std::size_t>(kRate / 10) * kChannels);
  g.DrawPCM(s, m.sound.data(), kRate / 10, kChannels, kRate);
  return m;
}

// Seconds the capture pipeline takes to write `frames` pictures and their sound.
double Pipeline(const Material& m, int frames, const std::string& path, int* waits) {
  CoInitialize(nullptr);
  double seconds = -1;
  {
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IGraphBuilder> graph;
    CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&builder));
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IID_PPV_ARGS(&graph));
    builder->SetFiltergraph(graph);
    ComPtr<IBaseFilter> card = static_cast<IBaseFilter*>(new UnpacedCard);
    graph->AddFilter(card, u"Card");
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    const std::u16string wide(path.begin(), path.end());
    ComPtr<IConfigAviMux> config;
    ComPtr<IMediaControl> control;
    if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, wide.c_str(), &mux, &sink)) ||
        FAILED(config.QueryFrom(mux)) || FAILED(builder->RenderStream(nullptr, card, nullptr, mux)) ||
        FAILED(builder->RenderStream(nullptr, card, nullptr, mux)) || FAILED(control.QueryFrom(graph))) {
      std::fprintf(stderr, "cannot build the capture graph\n");
      CoUninitialize();
      return -1;
    }
    config->SetOutputCompatibilityIndex(TRUE);
    config->SetMasterStream(1);
    auto* source = static_cast<UnpacedCard*>(AsFilterBase(card));
    const auto begin = Clock::now();
    if (FAILED(control->Run())) {
      std::fprintf(stderr, "cannot run the capture graph\n");
    } else {
      REFERENCE_TIME soundAt = 0;
      for (int i = 0; i < frames; ++i) {
        const REFERENCE_TIME t = i * kFrame;
        for (; soundAt <= t; soundAt += kSoundBuffer)
          *waits += source->Send(false, reinterpret_cast<const BYTE*>(m.sound.data()), m.sound.size() * 2, soundAt,
                                 soundAt + kSoundBuffer);
        const auto& f = m.frames[static_cast<std::size_t>(i) % m.frames.size()];
        *waits += source->Send(true, f.data(), f.size(), t, t + kFrame);
      }
      control->Stop();  // the file is complete when this returns
      seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    }
  }
  CoUninitialize();
  return seconds;
}

// Seconds ffmpeg takes to write the same pictures and sound from raw files into AVI.
double Ffmpeg(const Material& m, int frames, const std::string& dir) {
  const std::string video = dir + "/frames.yuv", sound = dir + "/sound.pcm", out = dir + "/ffmpeg.avi";
  {
    std::ofstream v(video, std::ios::binary), a(sound, std::ios::binary);
    for (int i = 0; i < frames; ++i) {
      const auto& f = m.frames[static_cast<std::size_t>(i) % m.frames.size()];
      v.write(reinterpret_cast<const char*>(f.data()), static_cast<std::streamsize>(f.size()));
    }
    const int buffers = static_cast<int>(frames * kFrame / kSoundBuffer) + 1;
    for (int i = 0; i < buffers; ++i)
      a.write(reinterpret_cast<const char*>(m.sound.data()), static_cast<std::streamsize>(m.sound.size() * 2));
  }
  const std::string command = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt yuyv422 -s 640x480 -framerate "
                              "10000000/667111 -i " + video + " -f s16le -ar 44100 -ac 2 -i " + sound +
                              " -map 0:v -map 1:a -c:v rawvideo -vtag YUY2 -c:a pcm_s16le -shortest " + out;
  const auto begin = Clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  std::filesystem::remove(video);
  std::filesystem::remove(sound);
  return rc == 0 ? seconds : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(30, std::atoi(argv[1])) : 450;
  char tmpl[] = "/tmp/orvane-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return 1;
  const Material m = Draw();
  const std::string ours = std::string(dir) + "/pipeline.avi";

  int waits = 0;
  const double pipeline = Pipeline(m, frames, ours, &waits);
  const double ffmpeg = Ffmpeg(m, frames, dir);
  const auto mb = static_cast<double>(std::filesystem::exists(ours) ? std::filesystem::file_size(ours) : 0) / 1e6;
  std::filesystem::remove_all(dir);
  if (pipeline <= 0 || ffmpeg <= 0) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  std::printf("frames: %d pictures 640x480 YUY2 with 44.1 kHz stereo sound, %.0f MB of AVI\n", frames, mb);
  std::printf("capture pipeline: %8.1f frames/s (%.2f s, the card waited for room %d times)\n", frames / pipeline,
              pipeline, waits);
  std::printf("ffmpeg:           %8.1f frames/s (%.2f s)\n", frames / ffmpeg, ffmpeg);
  std::printf("ratio pipeline/ffmpeg: %.2f\n", ffmpeg / pipeline);
  return 0;
}
