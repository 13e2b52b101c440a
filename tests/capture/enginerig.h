// The capture engine on a virtual card, owned by a recording window, with every message box answered.
#pragma once

#include "capture/CaptureGraph.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <memory>
#include <string>
#include <vector>

namespace orv::test {

struct EngineRig {
  // card: a JSON description, "" for the built-in card. The profile section starts empty.
  explicit EngineRig(const std::string& card = "", const std::string& winIni = "") {
    FreshConfigDir();
    if (!winIni.empty()) WriteConfigFile("win.ini", winIni);
    UseCard(card);
  }
  ~EngineRig() { engine.reset(); }

  // Construction, LoadProfile and Restart, as the video window does at creation.
  CCaptureGraph& Start() {
    engine = std::make_unique<CCaptureGraph>(&owner);
    engine->LoadProfile();
    engine->Restart();
    return *engine;
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& c : boxes.calls) out.push_back(c.text);
    return out;
  }

  RecordingWnd owner;
  MessageBoxAnswerer boxes;
  std::unique_ptr<CCaptureGraph> engine;
};

inline orv::media::VirtualCardState CardState() {
  orv::media::VirtualCardState s;
  EXPECT_TRUE(orv::media::GetVirtualCardState(0, &s));
  return s;
}

}  // namespace orv::test
