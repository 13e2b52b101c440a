// File capture on the virtual card: the AVI file as ffprobe reads it, the time limit, and captures
// that cannot start or cannot keep up.
#include "common/Commands.h"
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/sidefiles.h"
#include "platform/media/writer/testing.h"
#include "tests/capture/enginerig.h"
#include "tests/media/avicheck.h"

#include <QElapsedTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using orv::test::EngineRig;
using orv::test::Number;
using Strings = std::vector<std::string>;

namespace {

constexpr double kFrame = 667111 / 1e7;  // seconds per frame at 14.99 frames per second

std::string Clip(const char* name = "clip.avi") { return orv::test::ConfigDir() + "/" + name; }

// Ends a capture as the video window's timer does: at the first check that finds the time up.
bool WaitForTimeUp(CCaptureGraph& e, int ms) {
  return orv::test::PumpUntil([&] { return e.IsCaptureTimeUp() == 1; }, ms);
}

// A capture with a time limit, from its start to its stop once the time is up.
bool CaptureTimed(CCaptureGraph& e, const std::string& path, UINT seconds) {
  return e.StartFileCapture(path.c_str(), TRUE, seconds) == 1 && WaitForTimeUp(e, 4000 + 2000 * seconds) &&
         e.StopFileCapture() == 1;
}

void Wait(int ms) { orv::test::PumpUntil([] { return false; }, ms); }

// The file's one picture stream (an empty object when there is not exactly one).
nlohmann::json Video(const std::string& path) {
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  EXPECT_EQ(1u, video.size()) << path;
  return video.size() == 1 ? video[0] : nlohmann::json::object();
}

int CaptureTicks(const orv::test::RecordingWnd& w) {
  int n = 0;
  for (const auto& m : w.Of(WM_TIMER)) n += m.wParam == 1;
  return n;
}

TEST(FileCapture, UntimedCaptureRunsUntilStoppedAndOnlyATimedOneHasTheLimitsTimer) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), FALSE, 1));
  Wait(1500);
  EXPECT_TRUE(e.m_bCapturing);
  EXPECT_EQ(0, CaptureTicks(rig.owner));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_EQ(0, e.StopFileCapture());  // nothing left to stop
  EXPECT_NEAR(1.5, Number(Video(Clip()), "nb_read_packets") * kFrame, 0.5);
  EXPECT_TRUE(rig.Texts().empty());
  // A limit of 0 is up at once, and the 33 ms timer runs. An untimed start over that capture: the
  // stop ends the limit's timer all the same.
  ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, 0));
  EXPECT_EQ(1, e.IsCaptureTimeUp());
  EXPECT_TRUE(orv::test::PumpUntil([&] { return CaptureTicks(rig.owner) > 0; }));
  ASSERT_EQ(1, e.StartFileCapture(Clip("b.avi").c_str(), FALSE, 0));
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_FALSE(::KillTimer(rig.owner.m_hWnd, 1));
  // Limits beyond what 32 bits of milliseconds hold are the longest limit, not a wrapped short one.
  for (auto [seconds, limit] : {std::pair<UINT, DWORD>{2u, 2000u}, {4294967u, 4294967000u}, {4294968u, 0xFFFFFFFFu},
                                {0xFFFFFFFFu, 0xFFFFFFFFu}}) {
    ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), TRUE, seconds));
    EXPECT_EQ(limit, e.m_dwTimeLimit) << seconds;
    EXPECT_EQ(0, e.IsCaptureTimeUp()) << seconds;
    e.StopFileCapture();
  }
}

TEST(FileCapture, NamesThatCannotBeWrittenAreRefusedAndThePictureComesBack) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string folder = orv::test::ConfigDir();
  // A name too long to keep is no name, rather than the name of some other file.
  for (const auto& [path, message] : {std::pair<std::string, std::string>{"", "파일명 이 설정이 안되어있습니다."},
                                      {folder + "/" + std::string(300, 'a') + ".avi", "파일명 이 설정이 안되어있습니다."},
                                      {folder + "/missing/clip.avi", "캡처 파일을 설정 할 수없습니다."},
                                      {folder, "캡처 파일을 설정 할 수없습니다."}}) {
    rig.boxes.calls.clear();
    EXPECT_EQ(0, e.StartFileCapture(path.c_str(), TRUE, 5)) << path;
    EXPECT_EQ(Strings{message}, rig.Texts()) << path;
    EXPECT_TRUE(!e.m_bCapturing && e.m_bPreviewing) << path;
  }
  EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
}

TEST(FileCapture, GraphThatCannotStartShowsWhyAndArmsNoTimer) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  orv::media::InjectFault("Run:Graph", E_FAIL, 0, 1);
  // The box stays up a while, as a user reads it: no capture tick may come meanwhile.
  int ticksDuringBox = -1;
  orv::ui::SetMessageBoxHook([&](const orv::ui::MessageBoxCall& c) {
    rig.boxes.calls.push_back(c);
    Wait(150);
    ticksDuringBox = CaptureTicks(rig.owner);
    return IDOK;
  });
  EXPECT_EQ(0, e.StartFileCapture(Clip().c_str(), TRUE, 5));
  EXPECT_EQ(0, ticksDuringBox);
  EXPECT_EQ(Strings{"에러 80004005: 그래프를 시작할 수 없습니다."}, rig.Texts());
  EXPECT_TRUE(!e.m_bCapturing && e.m_bPreviewing);
}

// Each card shape records twice; each capture counts only its own frames, and every frame counted
// is in the file.
TEST(FileCapture, CardShapesRecordWhatTheyCount) {
  const struct {
    const char* card;
    const char* fault;
    std::vector<std::pair<const char*, bool>> made;  // calls that must (or must not) be made
    bool sound = true;
  } cases[] = {
      {"", "", {{"AviMux.SetMasterStream(1)", true}}},
      // Without stream control the graph is paused, then run.
      {"", "ControlStream:Builder", {{"Graph.Pause", true}}},
      {R"({"audio": false})", "", {{"AviMux.SetMasterStream", false}, {"AviMux.SetOutputCompatibilityIndex(1)", true}}, false},
      // The tee behind the capture pin takes the stream control, so the preview behind it runs on.
      {R"({"preview_pin": false})", "", {{"VideoCapture.StartAt", false}, {"SmartTee.StartAt", true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.card) + c.fault);
    EngineRig rig(c.card);
    CCaptureGraph& e = rig.Start();
    if (*c.fault) orv::media::InjectFault(c.fault, E_FAIL);
    orv::media::ClearJournal();
    for (const char* name : {"a.avi", "b.avi"}) {
      const std::string path = Clip(name);
      ASSERT_TRUE(CaptureTimed(e, path, 1));
      EXPECT_GT(e.m_nCaptured, 5) << name;
      EXPECT_EQ(e.m_nCaptured, Number(Video(path), "nb_read_packets")) << name;
      EXPECT_EQ(c.sound ? 1u : 0u, orv::test::StreamsOf(orv::test::Probe(path), "audio").size()) << name;
    }
    for (const auto& [call, made] : c.made) EXPECT_EQ(made, !orv::test::Calls(call).empty()) << call;
    EXPECT_TRUE(rig.Texts().empty());
  }
}

TEST(FileCapture, SlowDiskDropsFramesInsteadOfQueueingThem) {
  EngineRig rig;
  CCaptureGraph& e = rig.Start();
  const std::string path = Clip();
  struct Restore {
    ~Restore() { orv::media::SetAviWriteDelayForTests(0); orv::media::SetAviQueueLimitForTests(0); }
  } restore;  // even when an assertion ends the test early
  orv::media::SetAviQueueLimitForTests(3u << 20);  // five frames
  orv::media::SetAviWriteDelayForTests(150000);     // a frame takes 0.15 s to write
  ASSERT_EQ(1, e.StartFileCapture(path.c_str(), TRUE, 2));
  ASSERT_TRUE(WaitForTimeUp(e, 6000));
  orv::media::SetAviWriteDelayForTests(0);
  ASSERT_EQ(1, e.StopFileCapture());
  EXPECT_GT(e.m_nDropped, 5);
  // Frames that were kept are in the file; the dropped ones are empty chunks that keep the time
  // (in the stream's length, not among the packets a reader gets).
  const auto video = Video(path);
  EXPECT_EQ(e.m_nCaptured, Number(video, "nb_read_packets"));
  EXPECT_EQ(orv::test::PictureChecksums(path).size(), static_cast<std::size_t>(e.m_nCaptured));
  EXPECT_GT(Number(video, "nb_frames"), e.m_nCaptured + e.m_nDropped / 2);
  EXPECT_LE(Number(video, "nb_frames"), e.m_nCaptured + e.m_nDropped);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
}

// The capture log beside a recording, each line parsed.
std::vector<nlohmann::json> LogLines(const std::string& path) {
  std::vector<nlohmann::json> out;
  std::ifstream in(orv::media::CaptureLogOf(path));
  for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line, nullptr, false));
  return out;
}

// Every recording format, from what win.ini holds: a missing or unknown value records as the
// original does. The built-in card is on NTSC-M (525 lines, bottom field first: "bb"). The newer
// formats have their capture log, whose first line tells the capture as the engine set it up and
// whose last line has the result box's counts, named in the box's second line.
TEST(FileCapture, RecordFormatsWriteWhatTheFileSays) {
  const struct {
    const char* stored;  // RecordFormat=..., nullptr for none
    const char* container, *video, *sound;
    int width, height;
    const char* rate;
    const char* fields;  // "" where the file says nothing of them
    const char* aspect;
    int captions;  // the card's captions: 0 none, 1 beside the file, 2 also its subtitle track
    const char* card = "";
  } cases[] = {
      {nullptr, "avi", "rawvideo", "pcm_s16le", 640, 480, "10000000/667111", "", "", 0},
      {"bogus", "avi", "rawvideo", "pcm_s16le", 640, 480, "10000000/667111", "", "", 0},
      {"full", "avi", "rawvideo", "pcm_s16le", 720, 480, "30000/1001", "", "4:3", 1},
      {"lossless", "matroska,webm", "ffv1", "pcm_s16le", 720, 480, "30000/1001", "bb", "4:3", 2},
      {"compact", "matroska,webm", "h264", "aac", 720, 480, "30000/1001", "bb", "4:3", 2},
      {"lossless", "matroska,webm", "ffv1", "pcm_s16le", 720, 480, "30000/1001", "bb", "4:3", 0, R"({"vbi": false})"},
  };
  for (const auto& c : cases) {
    const std::string stored = c.stored ? c.stored : "(none)";
    SCOPED_TRACE(stored + c.card);
    EngineRig rig(c.card, c.stored ? std::string("[orvane]\nRecordFormat=") + c.stored + "\nOperator=김 기록\nNotes=VHS 7\nRegion=KR\nStandard=NTSC-M\n" : "");
    CCaptureGraph& e = rig.Start();
    e.SelectSource(SOURCE_TV);
    e.TuneChannel(9);
    e.SetBrightness(140);
    const std::string path = Clip(std::string(c.container).starts_with("avi") ? "f.avi" : "f.mkv");
    ASSERT_TRUE(CaptureTimed(e, path, 2));
    orv::test::MessageBoxAnswerer box(IDOK);
    e.ShowCaptureResult();
    ASSERT_EQ(1u, box.calls.size());
    const auto lines = LogLines(path);
    if (!c.stored || c.stored == std::string("bogus")) {
      EXPECT_TRUE(lines.empty());
      EXPECT_EQ(std::string::npos, box.calls[0].text.find("log.jsonl")) << box.calls[0].text;
    } else {
      ASSERT_GE(lines.size(), 2u);
      const auto& first = lines.front();
      EXPECT_EQ("OrvaneTuner", first.value("program", ""));
      EXPECT_EQ(c.stored, first["record"].value("format", ""));
      using Tuned = std::tuple<std::string, std::string, std::string, std::string, int>;
      EXPECT_EQ(Tuned("TV", "NTSC-M", "broadcast", "9", 187250),
                Tuned(first.value("input", ""), first.value("standard", ""), first["tuning"].value("band", ""),
                      first["tuning"].value("channel", ""), first["tuning"].value("frequency_khz", 0)));
      EXPECT_EQ(140, first["picture"].value("brightness", 0));
      EXPECT_FALSE(first["device"].value("name", "").empty());
      EXPECT_EQ("orvane-virtual", first["device"].value("driver", ""));
      EXPECT_EQ("김 기록", first.value("operator", ""));
      EXPECT_EQ("VHS 7", first.value("notes", ""));
      const auto& last = lines.back();
      EXPECT_EQ("time_limit", last.value("reason", ""));
      EXPECT_EQ(std::pair(e.m_nCaptured, e.m_nDropped), std::pair(last.value("captured", -1), last.value("dropped", -1)));
      EXPECT_NE(std::string::npos, box.calls[0].text.find(orv::test::ConfigDir() + " 폴더에 함께 남긴 파일: f.")) << box.calls[0].text;
      EXPECT_NE(std::string::npos, box.calls[0].text.find(".log.jsonl")) << box.calls[0].text;
    }
    const auto probe = orv::test::Probe(path);
    EXPECT_EQ(c.container, probe["format"].value("format_name", ""));
    const auto video = Video(path);
    EXPECT_EQ(c.video, video.value("codec_name", ""));
    EXPECT_EQ(c.width, Number(video, "width"));
    EXPECT_EQ(c.height, Number(video, "height"));
    EXPECT_EQ(c.rate, video.value("r_frame_rate", ""));
    EXPECT_EQ(c.fields, video.value("field_order", ""));
    if (*c.aspect) {
      EXPECT_EQ(c.aspect, video.value("display_aspect_ratio", ""));
    }
    const auto sound = orv::test::StreamsOf(probe, "audio");
    ASSERT_EQ(1u, sound.size());
    EXPECT_EQ(c.sound, sound[0].value("codec_name", ""));
    // The card's VBI device: its caption once a second, beside the file and in Matroska's track.
    EXPECT_EQ(c.captions > 1 ? 1u : 0u, orv::test::StreamsOf(probe, "subtitle").size());
    EXPECT_EQ(c.captions > 0, std::filesystem::exists(orv::media::SccOf(path)));
    std::ifstream srt(orv::media::SrtOf(path));
    const std::string captions((std::istreambuf_iterator<char>(srt)), std::istreambuf_iterator<char>());
    EXPECT_EQ(c.captions > 0, captions.find("\nCaptions from the virtual card\n") != std::string::npos) << captions;
    if (c.captions) EXPECT_NE(std::string::npos, box.calls[0].text.find(".srt")) << box.calls[0].text;
    // Every picture counted is in the file; Matroska repeats a picture in place of one dropped
    // (this build is slow enough to drop one now and then), AVI keeps an empty entry.
    EXPECT_GT(e.m_nCaptured, 20);
    const auto pictures = static_cast<int>(orv::test::PictureChecksums(path).size());
    if (std::string(c.container).starts_with("avi")) {
      EXPECT_EQ(e.m_nCaptured, pictures);
    } else {
      EXPECT_GE(pictures, e.m_nCaptured);
      EXPECT_LE(pictures, e.m_nCaptured + e.m_nDropped);
    }
    EXPECT_EQ("", orv::test::DecodeErrors(path));
    EXPECT_TRUE(rig.Texts().empty());
    // The live picture goes back to the card's own frame, and so does the next original recording.
    WriteProfileStringA("orvane", "RecordFormat", "spec");
    ASSERT_TRUE(CaptureTimed(e, Clip("s.avi"), 1));
    EXPECT_EQ(640, Number(Video(Clip("s.avi")), "width"));
    rig.engine.reset();  // as the program ends: a checksum still being read is waited for
    EXPECT_EQ(!lines.empty(), std::filesystem::exists(orv::media::ChecksumOf(path)));
  }
}

// A capture ends by itself once the signal has been gone for the stored time, with its file whole
// and no error; with 0 it runs on.
// The graph ends a recording when the signal is gone for the time asked, or at once when the card is
// unplugged (which its own box tells; no write error is claimed): the file is whole up to then, ends
// then even though the user answers later, and its log says why it ended.
TEST(FileCapture, LostSignalOrAnUnpluggedCardEndsTheCapture) {
  const struct {
    const char* card;
    int stopOnNoSignal;
    const char* reason;
    bool deviceBox;
  } cases[] = {
      {R"({"signal_off_after_s": 1})", 1, "no_signal", false},
      {R"({"signal_off_after_s": 1})", 0, "user", false},
      {R"({"unplug_at_s": 1})", 0, "device_gone", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.card) + " " + std::to_string(c.stopOnNoSignal));
    EngineRig rig(c.card, "[orvane]\nRecordFormat=full\nStopOnNoSignal=" + std::to_string(c.stopOnNoSignal) + "\n");
    CCaptureGraph& e = rig.Start();
    ASSERT_EQ(1, e.StartFileCapture(Clip().c_str(), FALSE, 0));
    QElapsedTimer clock;
    clock.start();
    const bool ended = orv::test::PumpUntil([&] { return e.CaptureHalted() == TRUE; }, 4000);
    EXPECT_EQ(std::string(c.reason) != "user", ended);
    const double endedAfter = clock.elapsed() / 1000.0;
    Wait(1500);  // the user reads the box
    ASSERT_EQ(1, e.StopFileCapture());
    EXPECT_EQ("", orv::test::DecodeErrors(Clip()));
    if (ended) EXPECT_LT(std::stod(orv::test::Probe(Clip())["format"].value("duration", "0")), endedAfter + 0.5);
    const auto lines = LogLines(Clip());
    EXPECT_EQ(c.reason, lines.back().value("reason", ""));
    Wait(100);  // the device's box comes through the message loop
    const Strings texts = rig.Texts();
    ASSERT_EQ(c.deviceBox ? 1u : 0u, texts.size());
    if (!c.deviceBox) continue;
    EXPECT_NE(std::string::npos, texts[0].find("분리됨")) << texts[0];
    const auto gone = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.value("event", "") == "device_gone"; });
    ASSERT_NE(lines.end(), gone);
    EXPECT_NEAR(1.0, gone->value("t", 0.0), 2 * kFrame);
  }
}

// A bad tape and a misbehaving card, one fault a row (at 1.5 s on the card's clock, during a 4 s
// `full` capture): the capture runs to its limit, the missing time is filled so that picture and
// sound last as long as each other, and each event is noted (a line of the program's log and of the
// capture log) with its time.
TEST(FileCapture, CaptureRidesThroughAStallAStreamingErrorAFlaggedBufferAndLostLock) {
  const struct {
    const char* fault;
    const char* events;  // the log lines' events, in order
    int inserted;        // frames filled for the fault, about
  } cases[] = {
      {R"("stall_at_s": 1.5, "stall_ms": 1000)", "stall(1000)", 30},
      {R"("streaming_error_at_s": 1.5)", "restart(1)", 9},
      {R"("bad_buffer_at_s": 1.5)", "flagged_buffer(1)", 0},
      {R"("no_lock_at_s": 1.5, "no_lock_ms": 1000)", "signal_lost(1) signal_regained(1)", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    EngineRig rig(std::string("{") + c.fault + "}", "[orvane]\nRecordFormat=full\nStopOnNoSignal=0\n");
    CCaptureGraph& e = rig.Start();
    const std::string path = Clip("faults.avi");
    testing::internal::CaptureStderr();
    const bool captured = CaptureTimed(e, path, 4);
    const std::string log = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(captured);
    std::string events;
    for (const auto& [name, count, seconds] : orv::test::LoggedEvents(log)) {
      events += (events.empty() ? "" : " ") + name + "(" + std::to_string(count) + ")";
      EXPECT_NEAR(name == "signal_regained" ? 2.5 : 1.5, seconds, 2 * kFrame) << name;
    }
    EXPECT_EQ(c.events, events);
    // The capture log has the same events, at their places on the file's timeline.
    std::string logged;
    for (const auto& line : LogLines(path)) {
      const std::string name = line.value("event", "");
      if (name.empty() || name == "frames_inserted" || name == "frames_lost") continue;
      logged += (logged.empty() ? "" : " ") + name + "(" + std::to_string(line.value("count", 1)) + ")";
      EXPECT_NEAR(name == "signal_regained" ? 2.5 : 1.5, line.value("t", 0.0), kFrame) << name;
    }
    EXPECT_EQ(c.events, logged);
    const auto video = Video(path);
    const double pictures = Number(video, "nb_frames") * 1001 / 30000.0;
    const double sound = orv::test::SoundSamples(path).size() / 2.0 / 44100;
    // Within a frame on a quiet machine; a busy one delays the last pictures and the stop.
    EXPECT_NEAR(4.0, pictures, 0.2);
    EXPECT_NEAR(sound, pictures, 4 * 1001 / 30000.0);
    // Frames the card missed on a busy machine are dropped and filled too: the rest is the fault's,
    // and the last few pictures a busy machine had not delivered when the sound stopped.
    const long long filled = Number(video, "nb_frames") - e.m_nCaptured - e.m_nDropped;
    EXPECT_GE(filled, c.inserted - 2);
    EXPECT_LE(filled, c.inserted + 8);
    EXPECT_EQ("", orv::test::DecodeErrors(path));
    EXPECT_TRUE(rig.Texts().empty());
  }
}

}  // namespace
