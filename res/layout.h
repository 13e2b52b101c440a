// Geometry shared by the artwork generator and the windows that draw from the artwork.
#pragma once

#include "platform/wintypes.h"

namespace layout {

// Panel buttons, in client coordinates, by button index.
constexpr RECT kButtons[28] = {
    {9, 115, 52, 140},   {485, 2, 504, 20},   {475, 59, 510, 78},  {430, 59, 475, 78},  {475, 30, 510, 48},
    {430, 30, 475, 48},  {475, 88, 510, 108}, {430, 88, 475, 108}, {436, 119, 475, 141}, {475, 119, 510, 141},
    {2, 2, 118, 25},     {87, 117, 104, 145}, {104, 117, 120, 145}, {120, 117, 136, 145}, {136, 117, 153, 145},
    {153, 117, 170, 145}, {170, 117, 187, 145}, {187, 117, 205, 145}, {205, 117, 223, 145}, {223, 117, 240, 145},
    {240, 117, 261, 145}, {262, 122, 288, 145}, {289, 125, 308, 145}, {309, 125, 329, 145}, {375, 122, 402, 145},
    {404, 122, 426, 145}, {56, 114, 81, 138},  {345, 121, 372, 145},
};

constexpr int kSkinWidth = 520, kSkinHeight = 150;
constexpr RECT kDisplay = {260, 24, 422, 94};
constexpr RECT kCover = {84, 110, 434, 150};

// Where display elements sit on the panel.
constexpr POINT SourceLabelAt(int s) { return {269, 30 + 12 * s}; }
constexpr POINT kChAt = {320, 30}, kCapAt = {344, 30}, kTopAt = {368, 30}, kAdjustAt = {392, 30};
constexpr POINT kSpeakerAt = {320, 79}, kVolumeAt = {353, 84};
constexpr POINT DigitAt(int k) { return {345 + 20 * k, 51}; }

// The display sprite sheet.
constexpr int kLcdWidth = 189, kLcdHeight = 173;
constexpr int kUnlitGlyph = 10;
constexpr POINT GlyphSprite(int g) { return {17 * g, 0}; }
constexpr SIZE kGlyphSize = {16, 28};
constexpr POINT SourceSprite(int s) { return {0, 43 + 12 * s}; }
constexpr SIZE kLabelSize = {50, 11};
constexpr POINT kVolumeSprite = {0, 105};
constexpr SIZE kVolumeSize = {60, 7};
constexpr POINT kSpeakerSprite = {0, 113};
constexpr SIZE kSpeakerSize = {24, 11};
constexpr POINT kChLitSprite = {0, 125}, kChUnlitSprite = {24, 125}, kCapSprite = {0, 137}, kTopSprite = {0, 149};
constexpr SIZE kIndicatorSize = {23, 11};
constexpr POINT AdjustSprite(int a) { return {24 * a, 161}; }

// The video window's frame bitmap: a 3 by 3 grid with guide lines.
constexpr int kFrameWidth = 78, kFrameHeight = 72;
constexpr COLORREF kFrameFill = RGB(135, 161, 110);

// Cover bar and about logo.
constexpr int kCoverWidth = 350, kCoverHeight = 40;
constexpr int kLogoWidth = 320, kLogoHeight = 240;

}  // namespace layout
