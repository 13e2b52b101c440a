// The device page: what it shows from the store and the cards, what choosing a card or a region
// proposes, and what OK and Cancel store and apply.
#include "dialogs/ConfigSheet.h"
#include "res/resource.h"
#include "tests/dialogs/rig.h"

#include <QStandardItemModel>

using namespace dlgtest;

namespace {

constexpr int kVideo = IDC_DEVICE_VIDEO, kAudio = IDC_DEVICE_AUDIO, kStandard = IDC_DEVICE_STANDARD, kRegion = IDC_DEVICE_REGION;

// Two cards: the first takes two standards, the second does not tell; one sound entry each.
CaptureDevices TwoCards() {
  CaptureDevices d;
  d.video = {{"Card A", 0, true, {"NTSC-M", "PAL-BG"}}, {"Card B", 1, false, {}}};
  d.audio = {"Card A Audio", "Card B Audio"};
  return d;
}

struct Shown { int video, audio; std::string audioText, standardText, regionText; std::vector<bool> standardEnabled; };

Shown Read(HWND page) {
  auto text = [&](int id) { return Inner<QComboBox>(page, id)->currentText().toStdString(); };
  Shown s{Inner<QComboBox>(page, kVideo)->currentIndex(), Inner<QComboBox>(page, kAudio)->currentIndex(),
          text(kAudio), text(kStandard), text(kRegion), {}};
  auto* model = qobject_cast<QStandardItemModel*>(Inner<QComboBox>(page, kStandard)->model());
  for (int i = 0; i < model->rowCount(); ++i) s.standardEnabled.push_back(model->item(i)->isEnabled());
  return s;
}

class DevicePage : public FlowTest {
 protected:
  int Run(CaptureDevices devices, const std::function<void(HWND page, HWND sheet)>& body) {
    return RunFlow(3, "장치", std::move(devices), body);
  }
};

TEST_F(DevicePage, ShowsTheStoredChoiceOrTheDefaults) {
  const struct { const char* winIni; int video, audio; const char* standard, *region; } cases[] = {
      {"", 0, 0, "자동", "한국"},
      {"[orvane]\nVideoDevice=1\nAudioDevice=0\nStandard=PAL-BG\nRegion=EU\n", 1, 0, "PAL-B/G", "서유럽"},
      // Values this version does not know; a device index beyond the list shows none.
      {"[orvane]\nVideoDevice=7\nAudioDevice=5\nStandard=PAL-Q\nRegion=XX\n", -1, -1, "자동", "한국"},
      // A standard the stored card does not take falls back to auto.
      {"[orvane]\nStandard=SECAM-L\nRegion=FR\n", 0, 0, "자동", "프랑스"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.winIni);
    orv::test::FreshConfigDir();
    if (*c.winIni) orv::test::WriteConfigFile("win.ini", c.winIni);
    Run(TwoCards(), [&](HWND page, HWND) {
      const Shown s = Read(page);
      EXPECT_EQ(std::make_tuple(c.video, c.audio, std::string(c.standard), std::string(c.region)),
                std::make_tuple(s.video, s.audio, s.standardText, s.regionText));
    });
  }
}

TEST_F(DevicePage, StandardsTheCardDoesNotTakeAreGreyed) {
  // Enabled: 자동, NTSC-M, NTSC-M (Korea), NTSC-J, NTSC-4.43, PAL-B/G, ... SECAM-L
  const struct { CaptureDevices::Video card; std::vector<bool> enabled; } cases[] = {
      {{"Two", 0, true, {"NTSC-M", "PAL-BG"}}, {1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {{"None", 0, true, {}}, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {{"Silent", 0, false, {}}, std::vector<bool>(15, true)},
  };
  for (const auto& c : cases)
    Run({{c.card}, {"Sound"}}, [&](HWND page, HWND) { EXPECT_EQ(c.enabled, Read(page).standardEnabled) << c.card.name; });
}

TEST_F(DevicePage, ChoosingACardTakesItsSoundAndARegionProposesItsStandard) {
  Run(TwoCards(), [&](HWND page, HWND) {
    EXPECT_EQ("Card A Audio (카드 음성)", Read(page).audioText);
    Choose(page, kVideo, 1);
    const Shown s = Read(page);
    EXPECT_EQ("Card B Audio (카드 음성)", s.audioText);
    EXPECT_EQ(std::vector<bool>(15, true), s.standardEnabled);  // Card B does not tell
    const struct { int card, region; const char* proposed; } steps[] = {
        {1, 2, "NTSC-J"},  {1, 4, "PAL-I"},          {1, 5, "SECAM-L"}, {1, 6, "SECAM-D/K"},
        {1, 7, "PAL-D/K"}, {1, 8, "PAL-B/G"},        {1, 3, "PAL-B/G"}, {1, 0, "NTSC-M (Korea)"},
        // Card A takes only NTSC-M and PAL-B/G: Korea gets NTSC-M, Japan leaves the choice.
        {0, 0, "NTSC-M"},  {0, 2, "NTSC-M"},         {0, 3, "PAL-B/G"},
    };
    for (const auto& st : steps) {
      Choose(page, kVideo, st.card);
      Choose(page, kRegion, st.region);
      EXPECT_EQ(st.proposed, Read(page).standardText) << st.card << " " << st.region;
    }
    // A greyed standard cannot be chosen.
    Choose(page, kStandard, 13);
    EXPECT_EQ("PAL-B/G", Read(page).standardText);
  });
}

TEST_F(DevicePage, OkStoresAndAppliesCancelStoresNothing) {
  const std::string before = "[orvane]\nCaptureFile=/tmp/c.avi\nVideoDevice=0\nAudioDevice=0\n";
  orv::test::WriteConfigFile("win.ini", before);
  auto cardBInEurope = [&](int button) {
    return Run(TwoCards(), [&](HWND page, HWND sheet) {
      Choose(page, kVideo, 1);
      Choose(page, kRegion, 3);
      Click(sheet, button);
    });
  };
  EXPECT_EQ(IDCANCEL, cardBInEurope(IDCANCEL));
  EXPECT_EQ(before, orv::test::ReadConfigFile("win.ini"));
  EXPECT_EQ(0, applied);

  // OK without a change applies nothing.
  EXPECT_EQ(IDOK, Run(TwoCards(), [&](HWND, HWND sheet) { Click(sheet, IDOK); }));
  EXPECT_EQ(0, applied);

  EXPECT_EQ(IDOK, cardBInEurope(IDOK));
  EXPECT_EQ(1, applied);
  const std::string stored = orv::test::ReadConfigFile("win.ini");
  for (const char* line : {"CaptureFile=/tmp/c.avi\n", "VideoDevice=1\n", "AudioDevice=1\n", "Region=EU\n",
                           "Standard=PAL-BG\n"})
    EXPECT_NE(std::string::npos, stored.find(line)) << line << " in " << stored;
  EXPECT_EQ(2, panel.Count(WM_TUNER_NOTIFY));  // one per OK
}

}  // namespace
