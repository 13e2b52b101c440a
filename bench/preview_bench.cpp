// The live preview's cost per frame: what the renderer does with each 640x480 YUY2 frame of the
// card (scale and convert to the window's 32-bit RGB), and what drawing the virtual card's picture costs.
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/graph/frameconverter.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <vector>

namespace {

using orv::media::FrameConverter;
using orv::media::PictureGenerator;
using orv::media::PictureState;

constexpr int kWidth = 640, kHeight = 480;

std::vector<BYTE> CardFrame() {
  PictureState s;
  s.input = PictureState::Input::Tuner;
  s.channel = 7;
  s.signal = true;
  std::vector<BYTE> frame(kWidth * kHeight * 2);
  PictureGenerator().DrawYUY2(s, 0, frame.data(), kWidth, kHeight);
  return frame;
}

// Preview path: one frame into a window of range(0) x range(1) pixels.
void BM_PreviewScaleConvert(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const std::vector<BYTE> frame = CardFrame();
  std::vector<std::uint32_t> window(static_cast<std::size_t>(w) * h);
  FrameConverter converter;
  for (auto _ : state) {
    if (!converter.Convert(MEDIASUBTYPE_YUY2, frame.data(), frame.size(), kWidth, kHeight,
                           reinterpret_cast<BYTE*>(window.data()), w, h, w * 4))
      state.SkipWithError("conversion refused");
    benchmark::ClobberMemory();
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PreviewScaleConvert)->Args({1280, 960})->Args({1920, 1080})->Args({640, 480})->Unit(benchmark::kMillisecond);

// The virtual card's own work per frame (picture, controls, packing).
void BM_VirtualCardFrame(benchmark::State& state) {
  PictureState s;
  s.input = state.range(0) ? PictureState::Input::Tuner : PictureState::Input::External;
  s.connector = PhysConn_Video_Composite;
  s.channel = 8;
  s.signal = false;  // snow: the dearest picture
  std::vector<BYTE> frame(kWidth * kHeight * 2);
  PictureGenerator generator;
  std::int64_t index = 0;
  for (auto _ : state) {
    generator.DrawYUY2(s, index++, frame.data(), kWidth, kHeight);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_VirtualCardFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
