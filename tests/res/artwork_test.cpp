// The generated artwork: sizes, and elements where the windows copy them from.
#include "res/layout.h"
#include "res/resource.h"

#include <gtest/gtest.h>

namespace {

using namespace layout;

struct Bitmap {
  CBitmap bmp;
  explicit Bitmap(UINT id) { EXPECT_TRUE(bmp.LoadBitmap(id)) << "bitmap " << id; }
  COLORREF At(int x, int y) const { return bmp.GetPixel(x, y); }
  bool SameBlock(int x, int y, const Bitmap& other, int ox, int oy, int w, int h) const {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        if (At(x + i, y + j) != other.At(ox + i, oy + j)) return false;
    return true;
  }
};

bool InAnyButton(int x, int y) {
  for (const RECT& r : kButtons)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

TEST(Artwork, EveryBitmapHasItsSize) {
  struct Want {
    UINT id;
    int w, h;
  };
  for (Want w : {Want{130, 520, 150}, Want{131, 520, 150}, Want{132, 189, 173}, Want{133, 350, 40},
                 Want{134, 78, 72}, Want{140, 320, 240}, Want{128, 32, 32}}) {
    CBitmap b;
    ASSERT_TRUE(b.LoadBitmap(w.id)) << w.id;
    EXPECT_EQ(w.w, b.GetSize().cx) << w.id;
    EXPECT_EQ(w.h, b.GetSize().cy) << w.id;
  }
  CBitmap none;
  EXPECT_FALSE(none.LoadBitmap(999));
}

TEST(Artwork, PressedSkinDiffersExactlyInsideTheButtons) {
  Bitmap up(IDB_SKIN), down(IDB_SKIN_PRESSED);
  for (int y = 0; y < kSkinHeight; ++y)
    for (int x = 0; x < kSkinWidth; ++x)
      if (!InAnyButton(x, y)) ASSERT_EQ(up.At(x, y), down.At(x, y)) << x << "," << y;
  for (int i = 0; i < 28; ++i) {
    const RECT& r = kButtons[i];
    EXPECT_FALSE(up.SameBlock(r.left, r.top, down, r.left, r.top, r.right - r.left, r.bottom - r.top)) << "button " << i;
  }
}

TEST(Artwork, UnlitSpritesMatchTheSkinSoCopiesAreSeamless) {
  Bitmap skin(IDB_SKIN), lcd(IDB_LCD);
  const POINT unlit = GlyphSprite(kUnlitGlyph);
  for (int k = 0; k < 3; ++k)
    EXPECT_TRUE(skin.SameBlock(DigitAt(k).x, DigitAt(k).y, lcd, unlit.x, unlit.y, 16, 28)) << "digit cell " << k;
  EXPECT_TRUE(skin.SameBlock(kChAt.x, kChAt.y, lcd, kChUnlitSprite.x, kChUnlitSprite.y, 23, 11));
  for (int g = 0; g < 10; ++g)
    EXPECT_FALSE(lcd.SameBlock(GlyphSprite(g).x, 0, lcd, unlit.x, unlit.y, 16, 28)) << "glyph " << g;
  // Each lit overlay differs from the unlit element it covers.
  for (int s = 0; s < 4; ++s)
    EXPECT_FALSE(skin.SameBlock(SourceLabelAt(s).x, SourceLabelAt(s).y, lcd, SourceSprite(s).x, SourceSprite(s).y, 50, 11));
  EXPECT_FALSE(skin.SameBlock(kVolumeAt.x, kVolumeAt.y, lcd, kVolumeSprite.x, kVolumeSprite.y, 60, 7));
  EXPECT_FALSE(skin.SameBlock(kSpeakerAt.x, kSpeakerAt.y, lcd, kSpeakerSprite.x, kSpeakerSprite.y, 24, 11));
  EXPECT_FALSE(skin.SameBlock(kChAt.x, kChAt.y, lcd, kChLitSprite.x, kChLitSprite.y, 23, 11));
  EXPECT_FALSE(skin.SameBlock(kAdjustAt.x, kAdjustAt.y, lcd, AdjustSprite(1).x, AdjustSprite(1).y, 23, 11));
}

TEST(Artwork, FramePiecesMeetTheFillColourTowardThePicture) {
  Bitmap f(IDB_FRAME);
  // Inner corners of the pieces that border the picture are the fill colour.
  EXPECT_EQ(kFrameFill, f.At(24, 19));  // top-left corner, toward the picture
  EXPECT_EQ(kFrameFill, f.At(26, 19));  // top edge, lowest row
  EXPECT_EQ(kFrameFill, f.At(23, 21));  // left edge, inner column
  EXPECT_EQ(kFrameFill, f.At(26, 21));  // right edge, inner column
  EXPECT_EQ(kFrameFill, f.At(26, 51));  // bottom edge, top row
  EXPECT_EQ(kFrameFill, f.At(52, 70 - 19));
  // The outer edges are the frame, not the fill, where the picture never reaches.
  EXPECT_NE(kFrameFill, f.At(30, 0));
  EXPECT_NE(kFrameFill, f.At(0, 30));
  EXPECT_NE(kFrameFill, f.At(50, 30));  // right edge piece's outer column
  EXPECT_NE(kFrameFill, f.At(30, 70));
  // Guide lines separate the cells.
  for (int y = 0; y < kFrameHeight; ++y) EXPECT_EQ(RGB(255, 255, 255), f.At(25, y));
  for (int x = 0; x < kFrameWidth; ++x) EXPECT_EQ(RGB(255, 255, 255), f.At(x, 50));
}

TEST(Artwork, CoverIsLighterAtTheTopThanAtTheBottom) {
  Bitmap c(IDB_COVER);
  auto lum = [&](int y) {
    const COLORREF p = c.At(10, y);
    return GetRValue(p) + GetGValue(p) + GetBValue(p);
  };
  EXPECT_GT(lum(2), lum(37));
}

}  // namespace
