// The generated artwork: elements where the windows copy them from.
#include "res/layout.h"
#include "res/resource.h"

#include <gtest/gtest.h>

namespace {

using namespace layout;

struct Bitmap {
  CBitmap bmp;
  explicit Bitmap(UINT id) { EXPECT_TRUE(bmp.LoadBitmap(id)) << "bitmap " << id; }
  COLORREF At(int x, int y) const { return bmp.GetPixel(x, y); }
  bool SameBlock(POINT at, const Bitmap& other, POINT from, int w, int h) const {
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i)
        if (At(at.x + i, at.y + j) != other.At(from.x + i, from.y + j)) return false;
    return true;
  }
};

TEST(Artwork, PressedSkinDiffersExactlyInsideTheButtons) {
  Bitmap up(IDB_SKIN), down(IDB_SKIN_PRESSED);
  for (int y = 0; y < kSkinHeight; ++y)
    for (int x = 0; x < kSkinWidth; ++x) {
      bool inButton = false;
      for (const RECT& r : kButtons) inButton = inButton || (x >= r.left && x < r.right && y >= r.top && y < r.bottom);
      if (!inButton) { ASSERT_EQ(up.At(x, y), down.At(x, y)) << x << "," << y; }
    }
  for (const RECT& r : kButtons)
    EXPECT_FALSE(up.SameBlock({r.left, r.top}, down, {r.left, r.top}, r.right - r.left, r.bottom - r.top)) << r.left;
}

// Unlit sprites match the skin, so copies are seamless; lit ones differ from what they cover.
TEST(Artwork, UnlitSpritesMatchTheSkinAndLitOnesDiffer) {
  Bitmap skin(IDB_SKIN), lcd(IDB_LCD);
  const POINT unlit = GlyphSprite(kUnlitGlyph);
  for (int k = 0; k < 3; ++k) EXPECT_TRUE(skin.SameBlock(DigitAt(k), lcd, unlit, 16, 28)) << "digit cell " << k;
  EXPECT_TRUE(skin.SameBlock(kChAt, lcd, kChUnlitSprite, 23, 11));
  for (int g = 0; g < 10; ++g) EXPECT_FALSE(lcd.SameBlock({GlyphSprite(g).x, 0}, lcd, unlit, 16, 28)) << "glyph " << g;
  for (int s = 0; s < 4; ++s) EXPECT_FALSE(skin.SameBlock(SourceLabelAt(s), lcd, SourceSprite(s), 50, 11)) << s;
  EXPECT_FALSE(skin.SameBlock(kVolumeAt, lcd, kVolumeSprite, 60, 7));
  EXPECT_FALSE(skin.SameBlock(kSpeakerAt, lcd, kSpeakerSprite, 24, 11));
  EXPECT_FALSE(skin.SameBlock(kChAt, lcd, kChLitSprite, 23, 11));
  EXPECT_FALSE(skin.SameBlock(kAdjustAt, lcd, AdjustSprite(1), 23, 11));
}

}  // namespace
