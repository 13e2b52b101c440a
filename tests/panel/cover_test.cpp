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

class Cover : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    Open();
  }
};

TEST_F(Cover, TheClosedLidBlocksTheMouseButNotTheKeyboard) {
  // The click lands on whatever lies on top at that point of the face.
  const QPoint digit5(160, 130);
  QWidget* top = Widget(panel.m_hWnd)->childAt(digit5);
  ASSERT_EQ(Widget(panel.m_wndCover.m_hWnd), top);
  QTest::mouseClick(top, Qt::LeftButton, Qt::NoModifier, top->mapFrom(Widget(panel.m_hWnd), digit5));
  Pump();
  EXPECT_EQ(11, panel.m_nTVChannel);
  EXPECT_EQ(0, panel.m_nDigitCount);
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible()) << "a single click does not open the lid";

  Key(panel.m_hWnd, '5');
  EXPECT_EQ(5, panel.m_nTVChannel);
}

TEST_F(Cover, ADoubleClickOpensTheLidAndButton25ClosesIt) {
  QWidget* lid = Widget(panel.m_wndCover.m_hWnd);
  ASSERT_NE(nullptr, lid);
  QTest::mouseDClick(lid, Qt::LeftButton, Qt::NoModifier, QPoint(300, 5));
  Pump();
  EXPECT_FALSE(panel.m_wndCover.IsWindowVisible());

  // The buttons under it work with the mouse now.
  EXPECT_EQ(nullptr, Widget(panel.m_hWnd)->childAt(QPoint(160, 130)));
  QTest::mouseClick(Widget(panel.m_hWnd), Qt::LeftButton, Qt::NoModifier, QPoint(160, 130));
  EXPECT_EQ(5, panel.m_nTVChannel);
  EXPECT_EQ(1, panel.m_nDigitCount);

  QTest::mouseClick(Widget(panel.m_hWnd), Qt::LeftButton, Qt::NoModifier, QPoint(410, 130));  // button 25
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
  panel.RunButton(25);
  EXPECT_TRUE(panel.m_wndCover.IsWindowVisible());
}

TEST_F(Cover, TheLidShowsItsBitmap) {
  CBitmap art;
  ASSERT_TRUE(art.LoadBitmap(133));
  panel.m_wndCover.UpdateWindow();
  CClientDC dc(&panel.m_wndCover);
  for (POINT p : {POINT{0, 0}, POINT{175, 3}, POINT{349, 39}, POINT{100, 20}})
    EXPECT_EQ(art.GetPixel(p.x, p.y), dc.GetPixel(p.x, p.y)) << p.x << "," << p.y;
}

TEST_F(PanelTest, TheLogoOpensTheAboutBoxWhichOkEnterAndEscapeClose) {
  Open();
  for (int how = 0; how < 4; ++how) {
    std::string caption;
    bool closed = false;
    QTimer::singleShot(0, [&] {
      HWND box = FindWindowA(nullptr, "OrvaneTuner 정보");
      caption = box ? "OrvaneTuner 정보" : "";
      if (!box) return;
      if (how == 0) ::SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
      if (how == 1) QTest::keyClick(Widget(box), Qt::Key_Escape);
      if (how == 2) QTest::keyClick(Widget(box), Qt::Key_Return);
      if (how == 3) Widget(box)->close();
    });
    // Never left hanging if the box did not open or did not close.
    QTimer::singleShot(3000, [&] {
      if (HWND box = FindWindowA(nullptr, "OrvaneTuner 정보")) ::SendMessageA(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    ::SendMessageA(panel.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, 10));
    ::SendMessageA(panel.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(50, 10));
    closed = FindWindowA(nullptr, "OrvaneTuner 정보") == nullptr;
    EXPECT_EQ("OrvaneTuner 정보", caption) << how;
    EXPECT_TRUE(closed) << how;
  }
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelTest, TooltipsNameTheButtonUnderTheMouse) {
  Open();
  auto move = [&](HWND to, int x, int y) {
    POINT pt{x, y};  // as the pump fills it: the pointer's screen position
    ::ClientToScreen(to, &pt);
    MSG m{to, WM_MOUSEMOVE, 0, MAKELPARAM(x, y), 0, pt};
    AfxPumpMessage(&m);
  };
  move(panel.m_hWnd, 480, 40);
  EXPECT_EQ("채널증가", panel.m_toolTip.Text());
  EXPECT_TRUE(PumpUntil([] { return QToolTip::isVisible(); }, 3000));
  EXPECT_EQ("채널증가", QToolTip::text().toStdString());
  move(panel.m_hWnd, 300, 50);  // the display: no tip
  EXPECT_TRUE(PumpUntil([] { return !QToolTip::isVisible(); }, 3000));

  move(panel.m_hWnd, 60, 120);
  EXPECT_EQ("항상위에 위치", panel.m_toolTip.Text());
  // Over the lid, the button below it is named: the lid's own point is turned into the panel's.
  move(panel.m_wndCover.m_hWnd, 160 - 84, 130 - 110);
  EXPECT_EQ("숫자5", panel.m_toolTip.Text());
  EXPECT_TRUE(PumpUntil([] { return QToolTip::isVisible(); }, 3000));
  MSG press{panel.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(480, 40), 0, {0, 0}};
  AfxPumpMessage(&press);
  EXPECT_TRUE(PumpUntil([] { return !QToolTip::isVisible(); }, 3000));
  ::SendMessageA(panel.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(480, 40));
}

}  // namespace
