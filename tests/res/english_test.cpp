// The English language module against the program's own (Korean) resources: every text has an
// English counterpart taking the same printf arguments, no English text is Hangul, every dialog
// fits its texts and list entries in either language, and the Korean texts stay as they are.
#include "capture/CaptureGraph.h"
#include "dialogs/AboutDlg.h"
#include "dialogs/AudioSetup.h"
#include "dialogs/CaptureDlg.h"
#include "dialogs/CaptureStatusDlg.h"
#include "dialogs/ChannelSetup.h"
#include "dialogs/DeviceSetup.h"
#include "dialogs/LevelsDlg.h"
#include "dialogs/RecordSetup.h"
#include "dialogs/VideoSetup.h"
#include "platform/ui/afxdlgs.h"
#include "platform/ui/afxres.h"
#include "platform/ui/dlgtemplate.h"
#include "res/layout.h"
#include "res/resource.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr UINT kLastId = 0xFFFF;

const ResourceModule* English() {
  static const ResourceModule* m = AfxLoadLangDll(ORVANE_ENGLISH_MODULE_DIR);
  return m;
}

bool HasHangul(const std::string& s) {
  static const QRegularExpression hangul("[\\x{1100}-\\x{11FF}\\x{3130}-\\x{318F}\\x{AC00}-\\x{D7AF}]");
  return QString::fromUtf8(s.c_str()).contains(hangul);
}

// The printf conversions of a text, in order.
std::vector<std::string> Conversions(const std::string& s) {
  static const std::regex conv("%[-+ #0-9.]*[hlzjt]*([a-zA-Z%])");
  std::vector<std::string> out;
  for (auto it = std::sregex_iterator(s.begin(), s.end(), conv); it != std::sregex_iterator(); ++it)
    if ((*it)[1] != "%") out.push_back((*it)[0]);
  return out;
}

class EnglishModule : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(nullptr, English()) << "no English module in " << ORVANE_ENGLISH_MODULE_DIR; }
  void TearDown() override { AfxSetResourceModule(AfxGetOwnResourceModule()); }
  const ResourceModule* own = AfxGetOwnResourceModule();
};

TEST_F(EnglishModule, EveryStringHasAnEnglishOneTakingTheSameArguments) {
  int strings = 0;
  for (UINT id = 0; id <= kLastId; ++id) {
    const char* ko = own->String(id);
    const char* en = English()->String(id);
    if (!ko) {
      EXPECT_EQ(nullptr, en) << "English text for id " << id << ", which the program does not have";
      continue;
    }
    ++strings;
    ASSERT_NE(nullptr, en) << "no English text for id " << id << ": " << ko;
    EXPECT_NE("", std::string(en)) << id;
    EXPECT_FALSE(HasHangul(en)) << id << ": " << en;
    EXPECT_EQ(Conversions(ko), Conversions(en)) << id << ": " << en;
  }
  EXPECT_GT(strings, 60);
  // A running copy is found by its video window's title, whatever language each copy speaks.
  EXPECT_STREQ(own->String(IDS_VIDEO_TITLE), English()->String(IDS_VIDEO_TITLE));
}

TEST_F(EnglishModule, EveryTemplateHasAnEnglishOneWithTheSameControls) {
  int templates = 0;
  for (UINT id = 0; id <= kLastId; ++id) {
    const DialogTemplate* ko = own->Dialog(id);
    const DialogTemplate* en = English()->Dialog(id);
    if (!ko) {
      EXPECT_EQ(nullptr, en) << id;
      continue;
    }
    ++templates;
    ASSERT_NE(nullptr, en) << "no English template " << id << ": " << ko->caption;
    EXPECT_NE("", std::string(en->caption)) << id;
    EXPECT_FALSE(HasHangul(en->caption)) << id << ": " << en->caption;
    EXPECT_FALSE(HasHangul(en->fontFace)) << id;
    EXPECT_EQ(ko->style, en->style) << id;
    ASSERT_EQ(ko->items.size(), en->items.size()) << id;
    for (size_t i = 0; i < ko->items.size(); ++i) {
      const DlgItem &k = ko->items[i], &e = en->items[i];
      SCOPED_TRACE(std::to_string(id) + " control " + std::to_string(i) + " " + k.text);
      EXPECT_EQ(k.id, e.id);
      EXPECT_EQ(k.kind, e.kind);
      EXPECT_EQ(k.style, e.style);
      EXPECT_EQ(k.bitmapId, e.bitmapId);
      EXPECT_EQ(std::string(k.text).empty(), std::string(e.text).empty()) << e.text;
      EXPECT_FALSE(HasHangul(e.text)) << e.text;
      ASSERT_EQ(k.initialItems.size(), e.initialItems.size());
      for (const char* item : e.initialItems) EXPECT_FALSE(HasHangul(item)) << item;
    }
  }
  EXPECT_GE(templates, 6);
}

// Text the user sees lives in the resource modules: a Korean literal in code has no English one.
TEST(EnglishSources, NoKoreanLiteralOutsideTheResources) {
  namespace fs = std::filesystem;
  static const std::regex literal(R"("(?:[^"\\]|\\.)*")");
  int files = 0;
  for (const char* dir : {"app", "capture", "common", "dialogs", "mixer", "panel", "platform", "video"})
    for (const auto& e : fs::recursive_directory_iterator(fs::path(ORVANE_SOURCE_DIR) / dir)) {
      if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
      ++files;
      std::ifstream in(e.path());
      std::string line;
      for (int n = 1; std::getline(in, line); ++n) {
        const std::string code = line.substr(0, line.find("//"));  // comments may be Korean
        for (std::sregex_iterator it(code.begin(), code.end(), literal), end; it != end; ++it)
          EXPECT_FALSE(HasHangul(it->str())) << e.path().string() << ":" << n << ": " << line;
      }
    }
  EXPECT_GT(files, 50);
}

// One of the program's dialogs made from its template as it opens, filled as it fills itself.
template <class D>
struct Laid : D {
  using D::D;
  bool Make() { return this->CreateFromTemplate(nullptr, false, 0, 0) != FALSE; }
};

template <class D, class... A>
std::unique_ptr<CDialog> Open(A... args) {
  auto d = std::make_unique<Laid<D>>(args...);
  return d->Make() ? std::move(d) : nullptr;
}

// Every dialog of the program; the device page lists the cards as the program finds them.
std::vector<std::unique_ptr<CDialog>> OpenEveryDialog() {
  std::vector<std::unique_ptr<CDialog>> out;
  out.push_back(Open<CAboutDlg>());
  out.push_back(Open<CCaptureDlg>());
  out.push_back(Open<CCaptureStatusDlg>());
  out.push_back(Open<CChannelSetup>());
  out.push_back(Open<CVideoSetup>());
  out.push_back(Open<CAudioSetup>());
  out.push_back(Open<CDeviceSetup>(CCaptureGraph(nullptr).ListDevices()));
  out.push_back(Open<CRecordSetup>());
  out.push_back(Open<CLevelsDlg>(nullptr));
  return out;
}

// Room a control's frame takes besides its text: a push button's bevel, a group box title's inset.
constexpr int kButtonFrame = 4, kGroupTitleInset = 12;

// Why a control's text, or an entry of its list, does not fit its rectangle, or "".
std::string CutOff(QWidget* w) {
  const QFontMetrics fm(w->font());
  auto over = [&](const QString& text, int need, int room) {
    return need > room ? "\"" + text.toStdString() + "\" needs " + std::to_string(need) + " px, has " +
                             std::to_string(room)
                       : std::string();
  };
  if (auto* l = qobject_cast<QLabel*>(w)) {
    if (l->text().isEmpty()) return {};
    const QRect r = l->contentsRect();
    const QRect need = fm.boundingRect(r, static_cast<int>(l->alignment()), l->text());
    std::string s = over(l->text(), need.width(), r.width());
    return s.empty() ? over(l->text(), need.height(), r.height()) : s;
  }
  if (auto* g = qobject_cast<QGroupBox*>(w)) return over(g->title(), fm.horizontalAdvance(g->title()) + kGroupTitleInset, g->width());
  if (auto* l = qobject_cast<QListWidget*>(w)) {
    for (int i = 0; i < l->count(); ++i)
      if (std::string s = over(l->item(i)->text(), l->sizeHintForIndex(l->model()->index(i, 0)).width(),
                               l->viewport()->width());
          !s.empty())
        return s;
    return {};
  }
  // Every entry as the closed box shows it, beside its arrow. (The open list grows to its widest entry.)
  if (auto* c = qobject_cast<QComboBox*>(w)) {
    QStyleOptionComboBox opt;
    opt.initFrom(c);
    opt.editable = c->isEditable();
    opt.frame = c->hasFrame();
    const int field = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c).width();
    for (int i = 0; i < c->count(); ++i)
      if (std::string s = over(c->itemText(i), fm.horizontalAdvance(c->itemText(i)) + 2, field); !s.empty()) return s;
    return {};
  }
  auto* b = qobject_cast<QAbstractButton*>(w);
  if (!b || b->text().isEmpty()) return {};
  int frame = kButtonFrame;
  if (qobject_cast<QCheckBox*>(b))
    frame = b->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) +
            b->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b);
  if (qobject_cast<QRadioButton*>(b))
    frame = b->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, b) +
            b->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, b);
  std::string s = over(b->text(), fm.horizontalAdvance(b->text()) + frame, b->width());
  return s.empty() ? over(b->text(), fm.height(), b->height()) : s;
}

// Every dialog as it opens, in Korean and in English: its texts and the entries of its lists.
TEST_F(EnglishModule, EveryDialogFitsItsTextsAndItsEntriesInEitherLanguage) {
  orv::test::FreshConfigDir();
  for (const ResourceModule* module : {own, English()}) {
    AfxSetResourceModule(module);
    std::set<UINT> seen;
    int checked = 0, entries = 0;
    for (const std::unique_ptr<CDialog>& dlg : OpenEveryDialog()) {
      ASSERT_NE(nullptr, dlg);
      const UINT id = dlg->m_nIDTemplate;
      seen.insert(id);
      QWidget* top = orv::test::Widget(dlg->m_hWnd);
      ASSERT_NE(nullptr, top);
      dlg->ShowWindow(SW_SHOW);  // lists lay out their scroll bars when shown
      orv::test::Pump(1);
      EXPECT_EQ(module->Dialog(id)->caption, top->windowTitle().toStdString());
      for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(top)) continue;
        EXPECT_EQ("", CutOff(w)) << "dialog " << id << " (" << module->Dialog(id)->caption
                                 << "): " << w->metaObject()->className();
        ++checked;
        if (auto* c = qobject_cast<QComboBox*>(w)) entries += c->count();
      }
    }
    std::set<UINT> templates;
    for (UINT id = 0; id <= kLastId; ++id)
      if (own->Dialog(id)) templates.insert(id);
    EXPECT_EQ(templates, seen);
    EXPECT_GT(checked, 50);
    EXPECT_GT(entries, 25);
  }
}

TEST_F(EnglishModule, MessagesInEitherLanguage) {
  const HRESULT hr = static_cast<HRESULT>(0x80070070);
  for (const auto& [id, korean, english] :
       {std::tuple{IDS_ERR_START_GRAPH, "에러 80070070: 그래프를 시작할 수 없습니다.", "Error 80070070: Cannot start the graph."},
        {IDS_ERR_WRITE_FILE, "에러 80070070: 캡처 파일에 쓸 수 없어 캡처를 멈췄습니다.",
         "Error 80070070: The capture stopped because the capture file cannot be written."}}) {
    AfxSetResourceModule(own);
    EXPECT_EQ(korean, AfxFormatString(id, hr));
    AfxSetResourceModule(English());
    EXPECT_EQ(english, AfxFormatString(id, hr));
  }
}

// A module whose text would read other arguments than the program passes is not believed.
TEST_F(EnglishModule, AModuleTextTakingOtherArgumentsGivesWayToOurs) {
  class Bad : public ResourceModule {
   public:
    const char* String(UINT id) const override { return id == IDS_ERR_START_GRAPH ? "Error %s" : nullptr; }
    const DialogTemplate* Dialog(UINT) const override { return nullptr; }
    bool BitmapPng(UINT, std::string*) const override { return false; }
  } bad;
  AfxSetResourceModule(&bad);
  EXPECT_EQ("에러 1f: 그래프를 시작할 수 없습니다.", AfxFormatString(IDS_ERR_START_GRAPH, 0x1f));
}

// The artwork with words in it is drawn again in English, at the same size, differing where the
// display's picture-adjust labels are.
TEST_F(EnglishModule, ArtworkWithWordsIsEnglish) {
  CBitmap k[3], e[3];
  const UINT ids[] = {IDB_SKIN, IDB_SKIN_PRESSED, IDB_LCD};
  for (int i = 0; i < 3; ++i) {
    std::string ko, en;
    ASSERT_TRUE(own->BitmapPng(ids[i], &ko) && English()->BitmapPng(ids[i], &en)) << ids[i];
    ASSERT_TRUE(k[i].LoadFromPng(ko) && e[i].LoadFromPng(en));
    EXPECT_EQ(std::pair(k[i].GetSize().cx, k[i].GetSize().cy), std::pair(e[i].GetSize().cx, e[i].GetSize().cy)) << ids[i];
  }
  for (int a = 0; a < 4; ++a) {
    const POINT at{layout::AdjustSprite(a).x, layout::AdjustSprite(a).y};
    int differing = 0;
    for (int y = 0; y < 11; ++y)
      for (int x = 0; x < 23; ++x) differing += k[2].GetPixel(at.x + x, at.y + y) != e[2].GetPixel(at.x + x, at.y + y);
    EXPECT_GT(differing, 10) << "adjust label " << a;
  }
}

}  // namespace
