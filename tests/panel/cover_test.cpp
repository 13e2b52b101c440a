// The lid over the lower button row, the about box behind the logo, and the button tooltips.
#include "tests/panel/panelrig.h"

#include <QTest>
#include <QTimer>
#include <QToolTip>

using namespace paneltest;
using orv::test::Pump;
using orv::test::PumpUntil;
using orv::test::Widget;

namespace {

using Cover = OpenPanelTest;

// The lid shows its picture and blocks the mouse (the end-to-end panel check clicks through it);
// a double-click opens it and button 25 closes it again.
TEST_F(Cover, TheLidOpensOnADoubleClickAndButton25ClosesIt) {
  CBitmap art;
  ASSERT_TRUE(art.LoadBitmap(133));
  panel.m_wndCover.UpdateWindow();
  CClientDC dc(&panel.m_wndCover);
  for (POINT p : {POINT{0, 0}, POINT{175, 3}, POINT{349, 39}}) EXPECT_EQ(art.GetPixel(p.x, p.y), dc.GetPixel(p.x, p.y));
  QTest::mouseDClick(Widget(panel.m_wndCover.m_hWnd), Qt::LeftButton, Qt::NoModifier, QPoint(300, 5));
  Pump();
  EXPECT_FALSE(panel.m_wndCover.IsWindowVisible());
  QTest::mouseClick(Widget(panel.m_hWnd), Qt::LeftButton, Qt::NoModifier, QPoint(410, 130));  // button 25
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
}

TEST_F(Cover, TheLogoOpensTheAboutBox) {
  const char* title = "OrvaneTuner 정보";
  bool opened = false;
  QTimer::singleShot(0, [&] {
    HWND box = FindWindowA(nullptr, title);
    if ((opened = box != nullptr)) QTest::keyClick(Widget(box), Qt::Key_Escape);
  });
  QTimer::singleShot(3000, [] {  // never left hanging if the box did not close
    if (HWND box = FindWindowA(nullptr, "OrvaneTuner 정보")) ::SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  });
  ::SendMessageA(panel.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 10));
  ::SendMessageA(panel.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(50, 10));
  EXPECT_TRUE(opened);
  EXPECT_EQ(nullptr, FindWindowA(nullptr, title));
  EXPECT_TRUE(Sent().empty());
}

TEST_F(Cover, TooltipsNameTheButtonUnderTheMouse) {
  auto move = [&](HWND to, int x, int y) {
    POINT pt{x, y};  // as the pump fills it: the pointer's screen position
    ::ClientToScreen(to, &pt);
    MSG m{to, WM_MOUSEMOVE, 0, MAKELPARAM(x, y), 0, pt};
    AfxPumpMessage(&m);
  };
  move(panel.m_hWnd, 480, 40);
  EXPECT_TRUE(PumpUntil([] { return QToolTip::isVisible(); }, 3000));
  EXPECT_EQ("채널증가", QToolTip::text().toStdString());
  // Over the lid, the button below it is named: the lid's own point is turned into the panel's.
  move(panel.m_wndCover.m_hWnd, 160 - 84, 130 - 110);
  EXPECT_EQ("숫자5", panel.m_toolTip.Text());
}

}  // namespace
