// The live picture as the user sees it: the renderer's child window in the owner, its placement,
// and its input passed on to the owner.
#include "tests/capture/enginerig.h"

#include "platform/ui/qtwnd_p.h"

#include <QImage>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using orv::test::PumpUntil;

namespace {

HWND Renderer(HWND owner) {
  const auto children = orv::ui::ChildrenOf(owner);
  return children.size() == 1 ? children.front() : nullptr;
}

QImage Grab(HWND h) { return orv::test::Widget(h)->grab().toImage().convertToFormat(QImage::Format_RGB32); }

bool Shows(HWND h, const std::function<bool(const QImage&)>& test) {
  return PumpUntil([&] { return test(Grab(h)); }, 5000);
}

struct PreviewRig : orv::test::EngineRig {
  HWND Start() {
    owner.ShowWindow(SW_SHOW);
    EngineRig::Start();
    return Renderer(owner);
  }
};

TEST(LivePicture, ChildWindowSitsWhereTheEngineSaysAndPassesInputToTheOwner) {
  PreviewRig rig;
  const HWND r = rig.Start();
  ASSERT_NE(nullptr, r);
  QWidget* w = orv::test::Widget(r);
  EXPECT_EQ(orv::test::Widget(rig.owner), w->parentWidget());
  EXPECT_EQ(QRect(10, 10, 400, 300), w->geometry());
  const RECT placement{9, 18, 622, 446};  // right and bottom are the width and height
  EXPECT_EQ(S_OK, rig.engine->SetVideoPosition(&placement));
  EXPECT_EQ(QRect(9, 18, 622, 446), w->geometry());
  EXPECT_TRUE(Shows(r, [](const QImage& img) { return img.size() == QSize(622, 446); }));

  rig.owner.log.clear();
  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(5, 6));
  QTest::mouseDClick(w, Qt::LeftButton, {}, QPoint(7, 8));
  QTest::mouseClick(w, Qt::RightButton, {}, QPoint(20, 30));
  QTest::keyClick(w, Qt::Key_PageUp);
  const auto down = rig.owner.Of(WM_LBUTTONDOWN), dbl = rig.owner.Of(WM_LBUTTONDBLCLK);
  const auto right = rig.owner.Of(WM_RBUTTONDOWN), keys = rig.owner.Of(WM_KEYDOWN);
  ASSERT_TRUE(!down.empty() && dbl.size() == 1 && right.size() == 1 && keys.size() == 1);
  EXPECT_EQ(MAKELPARAM(9 + 5, 18 + 6), down[0].lParam);
  EXPECT_EQ(MAKELPARAM(9 + 7, 18 + 8), dbl[0].lParam);
  EXPECT_EQ(MAKELPARAM(9 + 20, 18 + 30), right[0].lParam);
  EXPECT_EQ(VK_PRIOR, keys[0].wParam);
}

}  // namespace
