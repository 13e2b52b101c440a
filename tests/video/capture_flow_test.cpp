// The capture flow of the video window (code 27): the capture settings dialog, a capture ended by
// the status dialog, the timer or a full disk, and what the panel and the user are told.
#include "common/Commands.h"
#include "common/Settings.h"
#include "capture/CaptureGraph.h"
#include "platform/media/writer/testing.h"
#include "platform/ui/qtwnd_p.h"
#include "tests/media/avicheck.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"
#include "video/VideoWnd.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

constexpr double kFrame = 667111 / 1e7;

using orv::test::Inner;

class CaptureFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    orv::test::FreshConfigDir();
    orv::test::UseCard("");
    path = orv::test::ConfigDir() + "/flow.avi";
    orv::test::StoreString(kKeyVideo, "Capture", path);
    wnd = std::make_unique<CVideoWnd>();
    ASSERT_TRUE(wnd->Create("Orvane Tuner( WIN2000 )", RECT{100, 100, 740, 580}));
    wnd->m_hwndPanel = panel.m_hWnd;
    wnd->ShowWindow(SW_SHOW);
    // Each code 27 the panel gets, with the number of boxes shown by then.
    panel.handler = [this](UINT m, WPARAM w, LPARAM, bool*) -> LRESULT {
      if (m == WM_TUNER_NOTIFY && w == PanelCmd::CaptureEnded) endedAfterBoxes.push_back(boxes.calls.size());
      return 0;
    };
  }
  void TearDown() override {
    wnd.reset();
    orv::media::SetAviDiskLimitForTests(0);
  }

  // Runs code 27; `inDialog` acts on the capture settings dialog once it is up (from a timer of
  // the dialog's modal loop).
  void Command27(const std::function<void(HWND)>& inDialog) {
    bool acted = false;
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [&acted, inDialog, poll] {
      const HWND dlg = orv::ui::FindLocalTopLevel("캡처설정");
      if (!dlg) return QTimer::singleShot(20, *poll);
      *poll = nullptr;  // breaks the cycle
      acted = true;
      inDialog(dlg);
    };
    QTimer::singleShot(0, *poll);
    ::SendMessageA(wnd->m_hWnd, WM_TUNER_NOTIFY, VideoCmd::Capture, 0);
    EXPECT_TRUE(acted);
  }

  // The user's way to a capture: tick the time limit and type it (or leave it off), then start.
  static void Start(HWND dlg, int seconds) {
    if (seconds >= 0) {
      Inner<QAbstractButton>(dlg, 1007)->click();
      Inner<QLineEdit>(dlg, 1002)->setText(QString::number(seconds));
    }
    Inner<QAbstractButton>(dlg, IDOK)->click();
  }

  CCaptureGraph& Engine() { return *wnd->m_pGraph; }
  // A timed capture's end: its result box, and a whole file of about that many seconds.
  void CheckTimedResult(double seconds);

  std::string path;
  orv::test::RecordingWnd panel;
  orv::test::MessageBoxAnswerer boxes{IDOK};
  std::unique_ptr<CVideoWnd> wnd;
  std::vector<std::size_t> endedAfterBoxes;
};

TEST_F(CaptureFlow, CancelTellsThePanelAtOnceAndRecordsNothing) {
  Command27([](HWND dlg) { Inner<QAbstractButton>(dlg, IDCANCEL)->click(); });
  EXPECT_EQ(std::vector<std::size_t>{0}, endedAfterBoxes);
  EXPECT_TRUE(boxes.calls.empty());
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(Engine().m_bPreviewing);
}

// The capture command during a timed capture opens no dialog but asks whether to end it: No lets it
// run to its limit, Yes ends it at once. Either way it ends once: code 27 to the panel first, then
// the one result box, and no tick after that.
TEST_F(CaptureFlow, TimedCaptureEndsOnceAtItsLimitOrWhenTheUserEndsIt) {
  struct Case { int answer, limit; double seconds; };
  for (const Case c : {Case{IDYES, 60, 1.0}, Case{IDNO, 2, 2.0}}) {
    SCOPED_TRACE(c.answer);
    std::filesystem::remove(path);
    endedAfterBoxes.clear();
    boxes.calls.clear();
    boxes.answer = IDOK;
    Command27([&](HWND dlg) { Start(dlg, c.limit); });
    ASSERT_TRUE(Engine().m_bCapturing);
    bool reopened = false;
    QTimer::singleShot(300, [&] {
      if (HWND dlg = orv::ui::FindLocalTopLevel("캡처설정")) {
        reopened = true;
        Inner<QAbstractButton>(dlg, IDCANCEL)->click();
      }
    });
    orv::test::PumpUntil([] { return false; }, 1000);
    boxes.answer = c.answer;
    ::SendMessageA(wnd->m_hWnd, WM_TUNER_NOTIFY, VideoCmd::Capture, 0);
    EXPECT_FALSE(reopened);
    ASSERT_LE(1u, boxes.calls.size());
    EXPECT_EQ(std::tuple(std::string("캡처를 지금 끝내시겠습니까?"), std::string("캡처 끝내기"), int(MB_YESNO | MB_ICONQUESTION)),
              std::tuple(boxes.calls[0].text, boxes.calls[0].caption, int(boxes.calls[0].type)));
    if (c.answer == IDNO) {
      EXPECT_TRUE(endedAfterBoxes.empty());
      ASSERT_TRUE(orv::test::PumpUntil([&] { return !endedAfterBoxes.empty(); }, 8000));
    }
    orv::test::PumpUntil([] { return false; }, 300);
    EXPECT_EQ(std::vector<std::size_t>{1}, endedAfterBoxes) << "after the question, before the result box";
    boxes.calls.erase(boxes.calls.begin());
    EXPECT_FALSE(::KillTimer(wnd->m_hWnd, 1));
    CheckTimedResult(c.seconds);
  }
}

void CaptureFlow::CheckTimedResult(double seconds) {
  const CCaptureGraph& e = Engine();
  EXPECT_TRUE(!e.m_bCapturing && e.m_bPreviewing);
  char result[200];
  std::snprintf(result, sizeof result, "동영상을 다음과 같이 캡처했습니다. \n캡처: %d 프레임, 놓침: %d 프레임 ",
                e.m_nCaptured, e.m_nDropped);
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ(result, boxes.calls[0].text);
  EXPECT_EQ("동영상 캡처완료", boxes.calls[0].caption);

  // The file's coding and its frame count are the engine's (its file capture tests check them); here
  // the frames missed by a busy machine count in the stream's length only.
  const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
  ASSERT_EQ(1u, video.size());
  const long long frames = orv::test::Number(video[0], "nb_frames");
  EXPECT_GT(e.m_nCaptured, seconds * 10);  // 14.99 a second
  EXPECT_LE(frames, e.m_nCaptured + e.m_nDropped);
  // As long as the limit, picture and sound ending together, and real pictures (the moving box
  // changes them) and real sound (the card's hiss or tone).
  EXPECT_NEAR(seconds, frames * kFrame, 0.5);
  const auto sound = orv::test::SoundSamples(path);
  EXPECT_NEAR(frames * kFrame, sound.size() / 2 / 44100.0, 2 * kFrame);
  EXPECT_EQ("", orv::test::DecodeErrors(path));
  const auto sums = orv::test::PictureChecksums(path);
  EXPECT_EQ(static_cast<std::size_t>(e.m_nCaptured), sums.size());
  EXPECT_GT(std::set<std::string>(sums.begin(), sums.end()).size(), sums.size() / 2);
  EXPECT_GT(*std::max_element(sound.begin(), sound.end()), 300);
}

TEST_F(CaptureFlow, CaptureThatCannotStartGoesNoFurther) {
  // A folder as the file: the dialog lets it through (there is space), the engine refuses it.
  orv::test::StoreString(kKeyVideo, "Capture", orv::test::ConfigDir());
  Command27([](HWND dlg) { Start(dlg, 5); });
  ASSERT_EQ(1u, boxes.calls.size());
  EXPECT_EQ("캡처 파일을 설정 할 수없습니다.", boxes.calls[0].text);
  EXPECT_EQ(std::vector<std::size_t>{1}, endedAfterBoxes);
  EXPECT_EQ(nullptr, orv::ui::FindLocalTopLevel("캡처상황"));
  EXPECT_TRUE(Engine().m_bPreviewing);
  // No timer is left to end a capture that never ran.
  orv::test::PumpUntil([] { return false; }, 200);
  EXPECT_EQ(1u, endedAfterBoxes.size());
  EXPECT_EQ(1u, boxes.calls.size());
}

// Untimed, the status dialog stays up until the full disk closes it; timed, the capture ends long
// before its limit.
TEST_F(CaptureFlow, FullDiskEndsTheCaptureWithAPlayableFileAndSaysWhy) {
  orv::media::SetAviDiskLimitForTests(30u << 20);
  for (int seconds : {-1, 60}) {
    std::filesystem::remove(path);  // else "캡처 시작" asks before replacing it
    boxes.calls.clear();
    endedAfterBoxes.clear();
    Command27([&](HWND dlg) { Start(dlg, seconds); });
    ASSERT_TRUE(orv::test::PumpUntil([&] { return !endedAfterBoxes.empty(); }, 15000)) << seconds;
    orv::test::Pump();
    ASSERT_EQ(2u, boxes.calls.size()) << seconds;
    EXPECT_EQ("디스크 공간이 부족하여 캡처를 멈췄습니다. 멈추기 전까지 캡처한 내용은 파일에 남아 있습니다.",
              boxes.calls[0].text);
    EXPECT_EQ("동영상 캡처완료", boxes.calls[1].caption);
    EXPECT_EQ(std::vector<std::size_t>{1}, endedAfterBoxes);
    EXPECT_EQ("", orv::test::DecodeErrors(path));
    EXPECT_LE(std::filesystem::file_size(path), 30u << 20);
    const auto video = orv::test::StreamsOf(orv::test::Probe(path), "video");
    ASSERT_EQ(1u, video.size());
    EXPECT_GT(orv::test::Number(video[0], "nb_read_packets"), 20);
    // Empty entries stand only for frames the card dropped (a busy machine drops a few).
    EXPECT_LE(orv::test::Number(video[0], "nb_frames") - orv::test::Number(video[0], "nb_read_packets"), Engine().m_nDropped);
    EXPECT_TRUE(Engine().m_bPreviewing);
  }
}

}  // namespace
