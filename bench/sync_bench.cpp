// Lip sync over a long recording: the capture engine records the virtual card with sync marks, its
// sound clock 1000 ppm (0.1 %) fast and its picture starting 150 ms after its sound, once with the
// pictures placed on the sound's clock (as the program does) and once on their own time stamps.
// For each it prints the largest offset between a flash and its beep (as bench/av_offset finds
// them) and whether the result box's counts are the pictures in the file.
//
//   bench_sync [minutes [speed [folder [format]]]]
//
// Default: 10 minutes of the card's clock, run 10 times as fast. With a folder, the two recordings
// stay there (sound-clock.avi, own-stamps.avi) for build/bench/av_offset. With a recording format
// other than "spec" ("lossless", say), one recording in that format at the standard's full frame
// and rate: it must also drop no frame. Encoding runs in real time, so give speed 1 then.
#include "bench/avsync.h"
#include "capture/CaptureGraph.h"
#include "platform/media/writer/testing.h"
#include "platform/ui/winuser.h"
#include "res/resource.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct Result {
  orv::avsync::Analysis sync;
  int captured = 0, dropped = 0;
};

Result Record(const std::string& path, double seconds, int speed, bool followSound) {
  orv::media::SetAviFollowSoundClockForBenchmarks(followSound);
  CWnd owner;
  owner.CreateEx(0, AfxRegisterWndClass(0), "bench", WS_POPUP, 0, 0, 320, 240, nullptr, 0);
  Result r;
  {
    CCaptureGraph engine(&owner);
    engine.LoadProfile();
    engine.Restart();
    if (!engine.StartFileCapture(path.c_str(), FALSE, 0)) {
      std::fprintf(stderr, "the capture did not start\n");
      return r;
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000 / speed) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    engine.StopFileCapture();
    r.captured = engine.m_nCaptured;
    r.dropped = engine.m_nDropped;
  }
  owner.DestroyWindow();
  r.sync = orv::avsync::Analyse(path);
  return r;
}

void Print(const char* label, const Result& r) {
  if (!r.sync.error.empty()) {
    std::printf("%s: %s\n", label, r.sync.error.c_str());
    return;
  }
  std::printf("%s: max offset %.0f ms over %.0f s (%zu of %zu flashes paired); result box %d captured, %d dropped; "
              "%lld pictures in the file%s\n",
              label, r.sync.MaxOffsetMs(), std::floor(r.sync.seconds), r.sync.pairs.size(), r.sync.flashes.size(),
              r.captured, r.dropped, r.sync.pictures, r.captured == r.sync.pictures ? " (equal)" : " (not equal)");
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::max(0.2, std::atof(argv[1])) : 10.0;
  const int speed = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 100) : 10;
  char tmpl[] = "/tmp/orvane-sync-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  if (!dir) return 1;
  const std::string out = argc > 3 && *argv[3] ? argv[3] : dir;
  std::filesystem::create_directories(out);
  const std::string format = argc > 4 ? argv[4] : "spec";
  const bool original = format == "spec";
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("ORVANE_DEVICES", "virtual", 1);
  setenv("ORVANE_MIXER", "virtual", 1);
  setenv("ORVANE_CONFIG_DIR", dir, 1);
  // The original recording at a small size keeps the run short; the other formats take the
  // standard's own frame whatever the card's format is.
  const std::string card = std::string(R"({"sync_marks": true, "audio_clock_ppm": 1000, "video_start_latency_ms": 150, )") +
                           (original ? R"("format": {"width": 320, "height": 240}, )" : "") +
                           R"("clock_speed": )" + std::to_string(speed) + "}";
  if (!original) {
    FILE* ini = std::fopen((std::string(dir) + "/win.ini").c_str(), "w");
    if (!ini) return 1;
    std::fprintf(ini, "[orvane]\nRecordFormat=%s\n", format.c_str());
    std::fclose(ini);
  }
  setenv("ORVANE_VIRTUAL_CARD", card.c_str(), 1);
  QApplication app(argc, argv);
  AfxSetOwnResourceModule(OwnResources());
  orv::ui::SetMessageBoxHook([](const orv::ui::MessageBoxCall& c) {
    std::fprintf(stderr, "message: %s\n", c.text.c_str());
    return IDOK;
  });

  std::printf("%.1f minutes of the virtual card (sound clock +1000 ppm, picture 150 ms late), its clock %dx real time, "
              "recording format %s\n",
              minutes, speed, format.c_str());
  if (!original) {
    const Result r = Record(out + "/sound-clock." + (format == "full" ? "avi" : "mkv"), minutes * 60, speed, true);
    Print("pictures on the sound's clock", r);
    std::filesystem::remove_all(dir);
    const double frameMs = 1001.0 / 30;  // a 525-line frame, the built-in card's
    // Matroska has no empty entries: where the sound's clock (1000 ppm fast) runs ahead of the
    // pictures, a picture is repeated, so the file holds every picture counted and those repeats.
    const long long repeats = r.sync.pictures - r.captured;
    std::printf("%lld repeated pictures (the sound's clock runs %.0f ms ahead in this time)\n", repeats, minutes * 60);
    const bool ok = r.sync.error.empty() && r.sync.MaxOffsetMs() <= frameMs && repeats >= 0 && r.dropped == 0 &&
                    !r.sync.pairs.empty();
    std::printf("%s\n", ok ? "within one frame (33 ms), no frame dropped, every picture in the file"
                           : "NOT within one frame, frames dropped, or pictures missing");
    return ok ? 0 : 1;
  }
  const Result on = Record(out + "/sound-clock.avi", minutes * 60, speed, true);
  Print("pictures on the sound's clock", on);
  const Result off = Record(out + "/own-stamps.avi", minutes * 60, speed, false);
  Print("pictures on their own stamps ", off);
  std::filesystem::remove_all(dir);
  const bool ok = on.sync.error.empty() && on.sync.MaxOffsetMs() <= 667111 / 1e4 && on.captured == on.sync.pictures;
  std::printf("%s\n", ok ? "within one frame (67 ms), counts equal" : "NOT within one frame, or counts differ");
  return ok ? 0 : 1;
}
