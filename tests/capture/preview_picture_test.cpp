// The live picture as the user sees it: the renderer's child window in the owner, its placement,
// its input passed on to the owner, and the virtual card's picture following channel and input.
#include "tests/capture/enginerig.h"

#include "platform/ui/qtwnd_p.h"

#include <QImage>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using orv::test::EngineRig;
using orv::test::PumpUntil;

namespace {

HWND Renderer(HWND owner) {
  const auto children = orv::ui::ChildrenOf(owner);
  return children.size() == 1 ? children.front() : nullptr;
}

QImage Grab(HWND h) { return orv::test::Widget(h)->grab().toImage().convertToFormat(QImage::Format_RGB32); }

struct Stats {
  double r = 0, g = 0, b = 0;
  double roughness = 0;  // mean luma step between horizontal neighbours
  double Luma() const { return 0.299 * r + 0.587 * g + 0.114 * b; }
  double Chroma() const { return std::max({std::abs(r - g), std::abs(g - b), std::abs(r - b)}); }
};

// Statistics of a region (fractions of the image).
Stats Measure(const QImage& img, double x0, double y0, double x1, double y1) {
  Stats s;
  int n = 0;
  for (int y = static_cast<int>(y0 * img.height()); y < static_cast<int>(y1 * img.height()); ++y)
    for (int x = static_cast<int>(x0 * img.width()) + 1; x < static_cast<int>(x1 * img.width()); ++x) {
      const QRgb p = img.pixel(x, y), q = img.pixel(x - 1, y);
      s.r += qRed(p);
      s.g += qGreen(p);
      s.b += qBlue(p);
      s.roughness += std::abs(qGray(p) - qGray(q));
      ++n;
    }
  if (n) {
    s.r /= n;
    s.g /= n;
    s.b /= n;
    s.roughness /= n;
  }
  return s;
}

bool Shows(HWND h, const std::function<bool(const QImage&)>& test) {
  return PumpUntil([&] { return test(Grab(h)); }, 5000);
}

bool IsSnow(const QImage& img) { return Measure(img, 0, 0, 1, 1).roughness > 20; }
// A picture with large flat areas, not black.
bool IsPicture(const QImage& img) {
  const Stats s = Measure(img, 0, 0, 1, 1);
  return s.roughness < 8 && s.Luma() > 20;
}

struct PreviewRig : EngineRig {
  using EngineRig::EngineRig;
  HWND Start() {
    owner.ShowWindow(SW_SHOW);
    EngineRig::Start();
    return Renderer(owner);
  }
};

TEST(LivePicture, FollowsTheChannelAndShowsSnowWithoutSignal) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  CCaptureGraph& g = *rig.engine;
  g.SelectSource(0);
  g.TuneChannel(7);
  ASSERT_TRUE(Shows(r, IsPicture));
  // The moving element: the next frames differ.
  const QImage first = Grab(r);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) { return img != first; }));

  // Another channel with signal: another background. The left edge below the box holds no digits.
  const Stats seven = Measure(Grab(r), 0.0, 0.3, 0.15, 0.7);
  g.TuneChannel(9);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) {
    const Stats nine = Measure(img, 0.0, 0.3, 0.15, 0.7);
    return IsPicture(img) && std::abs(nine.r - seven.r) + std::abs(nine.g - seven.g) + std::abs(nine.b - seven.b) > 30;
  }));

  g.TuneChannel(8);  // no signal on antenna 8
  EXPECT_TRUE(Shows(r, IsSnow));
  const QImage snow = Grab(r);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) { return IsSnow(img) && img != snow; }));
  EXPECT_LT(Measure(snow, 0, 0, 1, 1).Chroma(), 8);  // grey

  g.TuneChannel(7);
  EXPECT_TRUE(Shows(r, IsPicture));
  EXPECT_TRUE(rig.Texts().empty());
}

TEST(LivePicture, FollowsTheRoutedInput) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  CCaptureGraph& g = *rig.engine;
  // Composite (Video): bars side by side: the colour changes across, not down.
  g.SelectSource(2);
  EXPECT_TRUE(Shows(r, [](const QImage& img) {
    const Stats left = Measure(img, 0.02, 0.4, 0.1, 0.9), right = Measure(img, 0.9, 0.4, 0.98, 0.9);
    const Stats top = Measure(img, 0.3, 0.35, 0.35, 0.45), bottom = Measure(img, 0.3, 0.85, 0.35, 0.95);
    return left.Luma() - right.Luma() > 60 && std::abs(top.Luma() - bottom.Luma()) < 5;
  }));
  // S-Video: bars one above the other.
  g.SelectSource(3);
  EXPECT_TRUE(Shows(r, [](const QImage& img) {
    const Stats top = Measure(img, 0.4, 0.3, 0.6, 0.37), bottom = Measure(img, 0.4, 0.76, 0.6, 0.85);
    const Stats left = Measure(img, 0.3, 0.8, 0.35, 0.85), right = Measure(img, 0.9, 0.8, 0.95, 0.85);
    return top.Luma() - bottom.Luma() > 60 && std::abs(left.Luma() - right.Luma()) < 5;
  }));
  // Back to the tuner.
  g.SelectSource(0);
  g.TuneChannel(8);
  EXPECT_TRUE(Shows(r, IsSnow));
}

TEST(LivePicture, ReactsToThePictureControls) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  CCaptureGraph& g = *rig.engine;
  g.SelectSource(0);
  g.TuneChannel(7);
  ASSERT_TRUE(Shows(r, IsPicture));
  const double normal = Measure(Grab(r), 0, 0, 1, 1).Luma();
  g.SetBrightness(230);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) { return Measure(img, 0, 0, 1, 1).Luma() > normal + 40; }));
  g.SetBrightness(127);
  g.SetContrast(10);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) { return Measure(img, 0, 0, 1, 1).roughness < 1.0; }));
  g.SetContrast(127);
  g.SetSaturation(0);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) { return Measure(img, 0, 0.3, 0.15, 0.7).Chroma() < 6; }));
  g.SetSaturation(127);
  const Stats before = Measure(Grab(r), 0, 0.3, 0.15, 0.7);
  g.SetHue(0);
  EXPECT_TRUE(Shows(r, [&](const QImage& img) {
    const Stats after = Measure(img, 0, 0.3, 0.15, 0.7);
    return std::abs(after.r - before.r) + std::abs(after.g - before.g) + std::abs(after.b - before.b) > 40;
  }));
}

TEST(LivePicture, RendererWindowIsAChildPlacedWhereTheEngineSays) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  QWidget* w = orv::test::Widget(r);
  EXPECT_EQ(orv::test::Widget(rig.owner), w->parentWidget());
  EXPECT_EQ(QRect(10, 10, 400, 300), w->geometry());
  EXPECT_TRUE(IsWindowVisible(r));
  const RECT placement{9, 18, 622, 446};
  rig.engine->SetVideoPosition(&placement);
  EXPECT_EQ(QRect(9, 18, 622, 446), w->geometry());
  RECT rc{};
  GetClientRect(r, &rc);
  EXPECT_EQ(622, rc.right);
  EXPECT_EQ(446, rc.bottom);
  // The picture fills the placement at its size.
  ASSERT_TRUE(Shows(r, [](const QImage& img) { return IsPicture(img) || IsSnow(img); }));
  EXPECT_EQ(QSize(622, 446), Grab(r).size());
  // Teardown takes the window away; a rebuild brings a new one.
  rig.engine->StopPreview();
  rig.engine->TearDownGraph();
  orv::test::Pump();
  EXPECT_EQ(nullptr, Renderer(rig.owner));
  rig.engine->RebuildAll();
  EXPECT_NE(nullptr, Renderer(rig.owner));
}

TEST(LivePicture, MouseAndKeysReachTheOwnerInItsCoordinates) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  const RECT placement{9, 18, 300, 200};
  rig.engine->SetVideoPosition(&placement);
  QWidget* w = orv::test::Widget(r);
  rig.owner.log.clear();
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 6));
  QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(7, 8));
  QTest::mouseClick(w, Qt::RightButton, {}, QPoint(20, 30));
  QTest::keyClick(w, Qt::Key_PageUp);
  auto down = rig.owner.Of(WM_LBUTTONDOWN);
  ASSERT_FALSE(down.empty());
  EXPECT_EQ(9 + 5, GET_X_LPARAM(down[0].lParam));
  EXPECT_EQ(18 + 6, GET_Y_LPARAM(down[0].lParam));
  EXPECT_GE(rig.owner.Count(WM_LBUTTONUP), 1);
  auto dbl = rig.owner.Of(WM_LBUTTONDBLCLK);
  ASSERT_EQ(1u, dbl.size());
  EXPECT_EQ(9 + 7, GET_X_LPARAM(dbl[0].lParam));
  auto right = rig.owner.Of(WM_RBUTTONDOWN);
  ASSERT_EQ(1u, right.size());
  EXPECT_EQ(18 + 30, GET_Y_LPARAM(right[0].lParam));
  auto keys = rig.owner.Of(WM_KEYDOWN);
  ASSERT_EQ(1u, keys.size());
  EXPECT_EQ(VK_PRIOR, keys[0].wParam);
}

TEST(LivePicture, PreviewFromTheCapturePinShowsThePictureToo) {
  PreviewRig rig(R"({"preview_pin": false})");
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  rig.engine->SelectSource(0);
  rig.engine->TuneChannel(11);
  EXPECT_TRUE(Shows(r, IsPicture));
}

TEST(LivePicture, DeletingTheEngineWhilePreviewingLeavesNoWindowBehind) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  ASSERT_TRUE(Shows(r, [](const QImage& img) { return IsPicture(img) || IsSnow(img); }));
  rig.engine.reset();
  orv::test::Pump();
  EXPECT_FALSE(IsWindow(r));
  EXPECT_EQ(0, orv::media::LiveFilters());
}

TEST(LivePicture, StoppedPreviewKeepsTheLastFrame) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  rig.engine->SelectSource(0);
  rig.engine->TuneChannel(7);
  ASSERT_TRUE(Shows(r, IsPicture));
  rig.engine->StopPreview();
  orv::test::Pump();  // a frame that arrived before the stop may still be on its way to the screen
  const QImage still = Grab(r);
  orv::test::Pump();
  QTest::qWait(200);
  EXPECT_EQ(still, Grab(r));
}

}  // namespace
