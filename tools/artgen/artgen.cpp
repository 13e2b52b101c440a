// Draws the program's artwork (panel skins, display sprites, cover bar, video frame, about logo,
// icon) and writes it as a C++ source file of embedded PNG images, so no binary image lives in the
// repository. Usage: artgen <output.cpp> [png folder]; artgen --english <output.cpp> [png folder] draws
// the English language module's images with words in them; artgen --icons <dir> the desktop's icons.
#include "res/layout.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using namespace layout;

QRect R(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
QColor C(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

QImage NewImage(int w, int h, QColor fill) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(fill);
  return img;
}

QFont Font(int pixels, bool bold = true) {
  QFont f("NanumGothic");
  f.setPixelSize(pixels);
  f.setBold(bold);
  f.setStyleStrategy(QFont::NoAntialias);  // crisp like a liquid-crystal display
  return f;
}

// ---- Display -----------------------------------------------------------------------------------

const QColor kLcdBack(28, 44, 36);
const QColor kLcdLit(140, 255, 170);
const QColor kLcdUnlit(46, 68, 56);

// A seven-segment glyph in a 16 by 28 cell; digit -1 draws every segment unlit.
void Glyph(QPainter& p, QPoint at, int digit) {
  static const int segs[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
  const int on = digit >= 0 ? segs[digit] : 0;
  const QRect shapes[7] = {{3, 1, 10, 3},  {12, 3, 3, 10}, {12, 15, 3, 10}, {3, 24, 10, 3},
                           {1, 15, 3, 10}, {1, 3, 3, 10},  {3, 12, 10, 3}};
  p.fillRect(QRect(at, QSize(16, 28)), kLcdBack);
  for (int i = 0; i < 7; ++i) p.fillRect(shapes[i].translated(at), (on >> i) & 1 ? kLcdLit : kLcdUnlit);
}

void Label(QPainter& p, QRect r, const QString& text, bool lit, int pixels = 9) {
  p.fillRect(r, kLcdBack);
  p.setPen(lit ? kLcdLit : kLcdUnlit);
  p.setFont(Font(pixels));
  p.drawText(r, Qt::AlignCenter, text);
}

void Speaker(QPainter& p, QPoint at, bool lit) {
  p.fillRect(QRect(at, QSize(24, 11)), kLcdBack);
  const QColor c = lit ? kLcdLit : kLcdUnlit;
  p.fillRect(QRect(at + QPoint(3, 3), QSize(4, 5)), c);
  QPolygon cone({at + QPoint(7, 3), at + QPoint(12, 0), at + QPoint(12, 10), at + QPoint(7, 7)});
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(cone);
  for (int i = 0; i < 3; ++i) p.fillRect(QRect(at + QPoint(15 + 3 * i, 4 - i), QSize(2, 3 + 2 * i)), c);
}

void VolumeBar(QPainter& p, QPoint at, bool lit) {
  p.fillRect(QRect(at, QSize(60, 7)), kLcdBack);
  for (int i = 0; i < 10; ++i) {
    const int h = 2 + (i * 5) / 9;  // rising height
    p.fillRect(QRect(at.x() + 6 * i, at.y() + 7 - h, 5, h), lit ? kLcdLit : kLcdUnlit);
  }
}

const char* kSources[4] = {"T V", "CableTV", "Video", "S-Video"};
// The picture-adjust labels; the English module's artwork draws its own.
const char* const kAdjustKorean[4] = {"밝기", "명암", "채도", "농도"};
const char* const kAdjustEnglish[4] = {"BRI", "CON", "HUE", "SAT"};
const char* const* kAdjust = kAdjustKorean;

QImage LcdSheet() {
  QImage img = NewImage(kLcdWidth, kLcdHeight, kLcdBack);
  QPainter p(&img);
  for (int g = 0; g <= 10; ++g) Glyph(p, QPoint(17 * g, 0), g == 10 ? -1 : g);
  for (int s = 0; s < 4; ++s) Label(p, QRect(QPoint(SourceSprite(s).x, SourceSprite(s).y), QSize(50, 11)), kSources[s], true);
  VolumeBar(p, QPoint(kVolumeSprite.x, kVolumeSprite.y), true);
  Speaker(p, QPoint(kSpeakerSprite.x, kSpeakerSprite.y), true);
  Label(p, QRect(kChLitSprite.x, kChLitSprite.y, 23, 11), "CH", true);
  Label(p, QRect(kChUnlitSprite.x, kChUnlitSprite.y, 23, 11), "CH", false);
  Label(p, QRect(kCapSprite.x, kCapSprite.y, 23, 11), "CAP", true, 8);
  Label(p, QRect(kTopSprite.x, kTopSprite.y, 23, 11), "TOP", true, 8);
  for (int a = 0; a < 4; ++a) Label(p, QRect(AdjustSprite(a).x, AdjustSprite(a).y, 23, 11), kAdjust[a], true);
  return img;
}

// ---- Panel skins -------------------------------------------------------------------------------

void Button(QPainter& p, const QRect& r, bool pressed) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, pressed ? QColor(70, 76, 86) : QColor(182, 190, 202));
  g.setColorAt(1, pressed ? QColor(120, 128, 140) : QColor(96, 104, 116));
  p.setPen(pressed ? QColor(30, 32, 38) : QColor(226, 230, 236));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
}

void ButtonMark(QPainter& p, int i, const QRect& r, bool pressed) {
  p.setPen(pressed ? QColor(210, 214, 220) : QColor(24, 28, 34));
  p.setBrush(p.pen().color());
  const QRect rr = pressed ? r.translated(1, 1) : r;
  const QPoint c = rr.center();
  auto tri = [&](int dx, int dy) {
    QPolygon t;
    if (dy) t << c + QPoint(-5, 2 * dy) << c + QPoint(5, 2 * dy) << c + QPoint(0, -3 * dy);
    else t << c + QPoint(2 * dx, -5) << c + QPoint(2 * dx, 5) << c + QPoint(-3 * dx, 0);
    p.drawPolygon(t);
  };
  p.setFont(Font(10));
  switch (i) {
    case 0: p.drawText(rr, Qt::AlignCenter, "OFF"); break;
    case 1: p.fillRect(QRect(c.x() - 4, c.y() + 2, 8, 2), p.pen().color()); break;
    case 2: case 4: tri(0, 1); break;
    case 3: case 5: tri(0, -1); break;
    case 6: p.drawText(rr, Qt::AlignCenter, "+"); break;
    case 7: p.drawText(rr, Qt::AlignCenter, "-"); break;
    case 8: p.drawText(rr, Qt::AlignCenter, "MUTE"); break;
    case 9: p.drawText(rr, Qt::AlignCenter, "SRC"); break;
    case 10: break;  // the logo is drawn over it
    case 21: p.drawText(rr, Qt::AlignCenter, "SEL"); break;
    case 22: tri(1, 0); break;
    case 23: tri(-1, 0); break;
    case 24: p.drawText(rr, Qt::AlignCenter, "CFG"); break;
    case 25: p.drawText(rr, Qt::AlignCenter, "▼"); break;
    case 26: p.drawText(rr, Qt::AlignCenter, "TOP"); break;
    case 27: p.setBrush(QColor(200, 30, 30)); p.setPen(Qt::NoPen); p.drawEllipse(c, 5, 5); break;
    default:
      if (i >= 11 && i <= 20) p.drawText(rr, Qt::AlignCenter, QString::number((i - 10) % 10));
      break;
  }
}

void Logo(QPainter& p, const QRect& r) {
  p.setFont(Font(17));
  p.setPen(QColor(20, 24, 30));
  p.drawText(r.translated(1, 1), Qt::AlignCenter, "OrvaneTuner");
  p.setPen(QColor(236, 240, 246));
  p.drawText(r, Qt::AlignCenter, "OrvaneTuner");
}

QImage Skin(bool pressed) {
  QImage img = NewImage(kSkinWidth, kSkinHeight, QColor(58, 64, 74));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 0, kSkinHeight);
  body.setColorAt(0, QColor(126, 134, 148));
  body.setColorAt(0.5, QColor(84, 92, 106));
  body.setColorAt(1, QColor(48, 54, 64));
  p.setPen(QColor(20, 22, 26));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(0.5, 0.5, kSkinWidth - 1, kSkinHeight - 1), 4, 4);

  // Group captions printed on the face.
  p.setFont(Font(9, false));
  p.setPen(QColor(220, 226, 234));
  struct Caption { QRect r; const char* text; };
  const Caption caps[] = {{{430, 20, 80, 10}, "Channel"}, {{430, 49, 80, 10}, "Volume"},
                          {{430, 78, 80, 10}, "Erase / Add"}, {{436, 109, 40, 10}, "Mute"},
                          {{475, 109, 36, 10}, "Source"}, {{262, 112, 68, 10}, "Select Img-Adj"},
                          {{341, 111, 34, 10}, "Capture"}, {{373, 111, 32, 10}, "Conf."},
                          {{402, 111, 28, 10}, "Close"}};
  for (auto& c : caps) p.drawText(c.r, Qt::AlignCenter, c.text);

  // The display window with every element unlit.
  p.setRenderHint(QPainter::Antialiasing, false);
  const QRect d = R(kDisplay);
  p.fillRect(d.adjusted(-2, -2, 2, 2), QColor(16, 20, 18));
  p.fillRect(d, kLcdBack);
  for (int s = 0; s < 4; ++s) Label(p, QRect(QPoint(SourceLabelAt(s).x, SourceLabelAt(s).y), QSize(50, 11)), kSources[s], false);
  Label(p, QRect(kChAt.x, kChAt.y, 23, 11), "CH", false);
  Label(p, QRect(kCapAt.x, kCapAt.y, 23, 11), "CAP", false, 8);
  Label(p, QRect(kTopAt.x, kTopAt.y, 23, 11), "TOP", false, 8);
  Label(p, QRect(kAdjustAt.x, kAdjustAt.y, 23, 11), kAdjust[0], false);
  for (int k = 0; k < 3; ++k) Glyph(p, QPoint(DigitAt(k).x, DigitAt(k).y), -1);
  Speaker(p, QPoint(kSpeakerAt.x, kSpeakerAt.y), false);
  VolumeBar(p, QPoint(kVolumeAt.x, kVolumeAt.y), false);

  p.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 28; ++i) {
    const QRect r = R(kButtons[i]);
    p.save();
    p.setClipRect(r);
    Button(p, r, pressed);
    ButtonMark(p, i, r, pressed);
    if (i == 10) Logo(p, pressed ? r.translated(1, 1) : r);
    p.restore();
  }
  return img;
}

// ---- Cover, frame, logo, icon ------------------------------------------------------------------

QImage Cover() {
  QImage img = NewImage(kCoverWidth, kCoverHeight, QColor(84, 92, 106));
  QPainter p(&img);
  QLinearGradient g(0, 0, 0, kCoverHeight);
  g.setColorAt(0, QColor(150, 158, 172));
  g.setColorAt(1, QColor(50, 56, 66));
  p.fillRect(img.rect(), g);
  p.fillRect(0, 0, kCoverWidth, 1, QColor(214, 220, 228));
  p.fillRect(0, kCoverHeight - 1, kCoverWidth, 1, QColor(24, 26, 30));
  for (int row = 0; row < 2; ++row)
    for (int i = 0; i < 4; ++i) {
      const int x = kCoverWidth / 2 - 12 + 7 * i, y = 5 + 4 * row;
      p.fillRect(x, y, 2, 2, QColor(40, 44, 52));
      p.fillRect(x + 1, y + 1, 1, 1, QColor(220, 224, 232));
    }
  return img;
}

// Band colour of the frame at a given depth from its outer edge (0 = outermost).
QColor FrameBand(int depth, int bandWidth) {
  if (depth >= bandWidth) return C(kFrameFill);
  if (depth == 0) return QColor(40, 52, 34);
  if (depth == 1) return QColor(196, 214, 176);
  if (depth == bandWidth - 1) return QColor(70, 88, 56);
  const int t = 100 + (depth * 40) / bandWidth;
  return QColor(t, t + 24, t - 10);
}

// One cell of the frame: what colour at (x, y) for a cell whose outer edges are the given sides.
QColor FramePixel(int x, int y, int w, int h, bool left, bool top, bool right, bool bottom) {
  constexpr int kSide = 7, kTop = 14, kBottom = 12;
  int best = 1000, band = 1;
  auto consider = [&](bool on, int depth, int width) {
    if (on && depth < width && depth < best) best = depth, band = width;
  };
  consider(left, x, kSide);
  consider(top, y, kTop);
  consider(right, w - 1 - x, kSide);
  consider(bottom, h - 1 - y, kBottom);
  return best == 1000 ? C(kFrameFill) : FrameBand(best, band);
}

QImage Frame() {
  QImage img = NewImage(kFrameWidth, kFrameHeight, C(kFrameFill));
  // Cell origins and the sides each cell lies on.
  struct Cell { int x, y, w, h; bool l, t, r, b; };
  const Cell cells[] = {
      {0, 0, 25, 20, true, true, false, false},   {26, 0, 25, 20, false, true, false, false},
      {52, 0, 25, 20, false, true, true, false},  {0, 21, 24, 29, true, false, false, false},
      {26, 21, 25, 29, false, false, true, false}, {0, 51, 25, 20, true, false, false, true},
      {26, 51, 25, 20, false, false, false, true}, {52, 51, 25, 20, false, false, true, true},
  };
  for (const Cell& c : cells)
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        // Corner cells are cut from a full frame so the corners meet their edges.
        int fx = x, fy = y, fw = c.w, fh = c.h;
        if (c.r && !c.l) fx = x + 100 - c.w, fw = 100;
        if (c.b && !c.t) fy = y + 100 - c.h, fh = 100;
        if (c.l && !c.r) fw = 100;
        if (c.t && !c.b) fh = 100;
        QColor col = FramePixel(fx, fy, fw, fh, c.l, c.t, c.r, c.b);
        // A one-level dither along the edges keeps stretched pieces from banding.
        if (col != C(kFrameFill) && ((x + y) & 1)) col = col.darker(103);
        img.setPixelColor(c.x + x, c.y + y, col);
      }
  QPainter p(&img);
  const QColor guide(255, 255, 255);
  for (int gx : {25, 51, 77}) p.fillRect(gx, 0, 1, kFrameHeight, guide);
  for (int gy : {20, 50, 71}) p.fillRect(0, gy, kFrameWidth, 1, guide);
  p.fillRect(52, 21, 25, 29, QColor(255, 255, 255));  // the unused cell stays blank
  return img;
}

QImage AboutLogo() {
  QImage img = NewImage(kLogoWidth, kLogoHeight, QColor(190, 194, 200));
  QPainter p(&img);
  QRandomGenerator rng(1042);
  for (int y = 0; y < kLogoHeight; ++y)
    for (int x = 0; x < kLogoWidth; ++x) {
      const int base = 176 + (x + 2 * y) % 24 + static_cast<int>(rng.bounded(12));
      img.setPixelColor(x, y, QColor(base, base + 2, base + 8));
    }
  p.setRenderHint(QPainter::Antialiasing);
  auto word = [&](const QString& text, int pixels, int y) {
    QFont f("NanumGothic");
    f.setPixelSize(pixels);
    f.setBold(true);
    p.setFont(f);
    const QRect r(0, y, kLogoWidth, pixels + 20);
    for (int d = 6; d > 0; --d) {
      p.setPen(QColor(60 + 10 * d, 64 + 10 * d, 76 + 10 * d));
      p.drawText(r.translated(d, d), Qt::AlignHCenter | Qt::AlignTop, text);
    }
    QLinearGradient g(0, y, 0, y + pixels);
    g.setColorAt(0, QColor(250, 252, 255));
    g.setColorAt(1, QColor(120, 150, 200));
    p.setPen(QPen(QBrush(g), 1));
    p.drawText(r, Qt::AlignHCenter | Qt::AlignTop, text);
  };
  word("Orvane", 64, 30);
  word("Tuner", 64, 120);
  return img;
}

// Drawn on a 32-unit grid, at any size (the window's icon is 32; the desktop's theme takes more).
QImage Icon(int size = 32) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(QPen(QColor(30, 34, 40), 1.5));
  p.setBrush(QColor(96, 104, 118));
  p.drawRoundedRect(QRectF(2, 6, 28, 20), 3, 3);
  p.setBrush(QColor(140, 200, 150));
  p.drawRect(QRectF(5, 9, 18, 14));
  p.drawLine(QPointF(10, 6), QPointF(6, 1));
  p.drawLine(QPointF(18, 6), QPointF(24, 1));
  p.setBrush(QColor(220, 60, 50));
  p.drawEllipse(QPointF(26.5, 12), 1.8, 1.8);
  return img;
}

QByteArray Png(const QImage& img) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "PNG");
  return bytes;
}

}  // namespace

// The desktop's icons: <dir>/<n>x<n>/apps/orvanetuner.png for the hicolor theme.
int WriteIcons(const QString& dir) {
  for (int size : {16, 32, 48, 128, 256}) {
    const QString sub = dir + QString("/%1x%1/apps").arg(size);
    if (!QDir().mkpath(sub) || !Icon(size).save(sub + "/orvanetuner.png")) {
      std::fprintf(stderr, "artgen: cannot write icons into %s\n", qPrintable(sub));
      return 1;
    }
  }
  return 0;
}

namespace {

struct Entry {
  unsigned id;
  QImage image;
};

// Writes the images as a C++ source file defining `bool <function>(unsigned id, std::string* png)`.
int WriteSource(const std::vector<Entry>& art, const char* function, const QString& path) {
  QByteArray out = "// Generated by tools/artgen: artwork as PNG images.\n#include <string>\n\n";
  for (const auto& e : art) {
    const QByteArray png = Png(e.image);
    out += "static const unsigned char art_" + QByteArray::number(e.id) + "[] = {";
    for (int i = 0; i < png.size(); ++i) {
      if (i % 24 == 0) out += "\n  ";
      out += QByteArray::number(static_cast<unsigned char>(png[i])) + ",";
    }
    out += "\n};\n";
  }
  out += "\nbool " + QByteArray(function) + "(unsigned id, std::string* png) {\n  switch (id) {\n";
  for (const auto& e : art)
    out += "    case " + QByteArray::number(e.id) + ": png->assign(reinterpret_cast<const char*>(art_" +
           QByteArray::number(e.id) + "), sizeof art_" + QByteArray::number(e.id) + "); return true;\n";
  out += "    default: return false;\n  }\n}\n";
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(out) != out.size()) {
    std::fprintf(stderr, "artgen: cannot write %s\n", qPrintable(path));
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: artgen <output.cpp> [<dir for the images>]\n       artgen --icons <dir>\n"
                 "       artgen --english <output.cpp> [<dir for the images>]\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  if (std::strcmp(argv[1], "--icons") == 0) return argc > 2 ? WriteIcons(QString::fromLocal8Bit(argv[2])) : 2;
  const bool english = std::strcmp(argv[1], "--english") == 0;
  if (english && argc < 3) return 2;
  const int first = english ? 2 : 1;
  std::vector<Entry> art;
  if (english) {
    // Only the images that carry words: the skins and the display sheet.
    kAdjust = kAdjustEnglish;
    art = {{130, Skin(false)}, {131, Skin(true)}, {132, LcdSheet()}};
  } else {
    art = {{128, Icon()}, {130, Skin(false)}, {131, Skin(true)}, {132, LcdSheet()},
           {133, Cover()}, {134, Frame()},    {140, AboutLogo()}};
  }
  // Optional last argument: also write each image as <dir>/<id>.png, to look at them.
  if (argc > first + 1)
    for (const auto& e : art) e.image.save(QString::fromLocal8Bit(argv[first + 1]) + "/" + QString::number(e.id) + ".png");
  return WriteSource(art, english ? "EnglishArtworkPng" : "ArtworkPng", QString::fromLocal8Bit(argv[first]));
}
