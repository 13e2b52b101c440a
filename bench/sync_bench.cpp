// Lip sync over a long recording: the capture engine records the virtual card with sync marks and
// its picture starting 150 ms after its sound. For each recording it prints the largest offset
// between a flash and its beep (as bench/av_offset finds them) and whether the result box's counts
// are the pictures in the file.
//
//   bench_sync [minutes [speed [folder [format]]]]   (format lossless+compact: the access copy's
//                                                     count and pictures printed too)
//
// Default: 10 minutes of the card's clock, run 10 times as fast, in the original AVI, with the
// card's sound clock 1000 ppm (0.1 %) fast: once with the pictures placed on the sound's clock (as
// the program does) and once on their own time stamps. With a folder, the recordings stay there
// for build/bench/av_offset. With another recording format ("lossless", say), recordings in it at
// the standard's full frame and rate, on the pictures' timeline: the sound clock 1000 ppm fast
// without the capture log and checksums beside the file, then with them, then the picture clock
// 500 ppm fast. Each must leave out and repeat no picture and keep every beep within 17 ms of its
// flash; the pictures left out with the side files are printed against those without. Encoding
// runs in real time, so give speed 1 then.
#include "bench/avsync.h"
#include "capture/CaptureGraph.h"
#include "common/Recording.h"
#include "platform/media/writer/mediawriter.h"
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
  long accessDropped = -1;  // lossless+compact: the access copy's pictures left out
  orv::avsync::Analysis access;
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
    r.accessDropped = engine.m_nAccessDropped;
  }
  owner.DestroyWindow();
  r.sync = orv::avsync::Analyse(path);
  if (r.accessDropped >= 0) r.access = orv::avsync::Analyse(orv::media::AccessCopyOf(path));
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
  if (r.accessDropped >= 0)
    std::printf("  access copy: %ld pictures left out while behind, %lld pictures in it, max offset %.0f ms%s\n",
                r.accessDropped, r.access.pictures, r.access.error.empty() ? r.access.MaxOffsetMs() : -1.0,
                r.access.error.empty() ? "" : (" (" + r.access.error + ")").c_str());
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
  auto card = [&](const char* clocks) {
    return std::string(R"({"sync_marks": true, )") + clocks + R"(, "video_start_latency_ms": 150, )" +
           (original ? R"("format": {"width": 320, "height": 240}, )" : "") + R"("clock_speed": )" + std::to_string(speed) + "}";
  };
  if (!original) {
    FILE* ini = std::fopen((std::string(dir) + "/win.ini").c_str(), "w");
    if (!ini) return 1;
    std::fprintf(ini, "[orvane]\nRecordFormat=%s\n", format.c_str());
    std::fclose(ini);
  }
  setenv("ORVANE_VIRTUAL_CARD", card(R"("audio_clock_ppm": 1000)").c_str(), 1);
  QApplication app(argc, argv);
  AfxSetOwnResourceModule(OwnResources());
  orv::ui::SetMessageBoxHook([](const orv::ui::MessageBoxCall& c) {
    std::fprintf(stderr, "message: %s\n", c.text.c_str());
    return IDOK;
  });

  std::printf("%.1f minutes of the virtual card (picture 150 ms late), its clock %dx real time, recording format %s\n",
              minutes, speed, format.c_str());
  if (!original) {
    const std::string ext = format == "full" ? "avi" : "mkv";
    bool ok = true;
    const struct {
      const char* name;
      const char* clocks;
      bool sideFiles;
    } runs[] = {{"sound-fast", R"("audio_clock_ppm": 1000)", false},
                {"sound-fast-logged", R"("audio_clock_ppm": 1000)", true},
                {"picture-fast", R"("video_clock_ppm": 500)", true}};
    int leftOut[2] = {};  // the sound-fast runs without and with the side files
    for (const auto& run : runs) {
      setenv("ORVANE_VIRTUAL_CARD", card(run.clocks).c_str(), 1);
      orv::record::StoreCaptureNotes({"", "", run.sideFiles});
      const Result r = Record(out + "/" + run.name + "." + ext, minutes * 60, speed, true);
      std::printf("%s, %s\n", run.clocks, run.sideFiles ? "with the log and checksums" : "without side files");
      Print(run.name, r);
      // Every picture has its place in order: the file holds those counted and nothing else.
      const long long repeated = r.sync.pictures - r.captured;
      std::printf("  %d pictures left out, %lld repeated\n", r.dropped, repeated);
      if (&run - runs < 2) leftOut[&run - runs] = r.dropped;
      ok = ok && r.sync.error.empty() && r.sync.MaxOffsetMs() <= 17 && repeated == 0 && r.dropped == 0 && !r.sync.pairs.empty();
    }
    std::printf("pictures left out with the log and checksums: %d, without: %d\n", leftOut[1], leftOut[0]);
    std::filesystem::remove_all(dir);
    std::printf("%s\n", ok ? "every beep within 17 ms of its flash, no picture left out or repeated"
                           : "NOT within 17 ms, or pictures left out or repeated");
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
