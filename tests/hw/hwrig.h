// Hardware tests run inside the test VM (tests/hw/run-vm.sh) against the kernel's test drivers:
// vivid (a TV card), snd-dummy (a sound card's mixer) and snd-aloop (real sound). Outside the VM
// every test skips.
#pragma once

#include "capture/CaptureGraph.h"
#include "tests/media/avicheck.h"
#include "tests/media/mediarig.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#define ORV_NEEDS_VM()                                                                          \
  do {                                                                                          \
    if (!std::getenv("ORVANE_HW_VM"))                                                           \
      GTEST_SKIP() << "needs vivid, snd-dummy and snd-aloop: run inside the VM with tests/hw/run-vm.sh"; \
  } while (0)

namespace orv::hw {

using orv::test::Shell;

// vivid's capture node, opened beside the program to read back what the program did to it.
class Vivid {
 public:
  Vivid() {
    for (int n = 0; n < 16 && fd < 0; ++n) {
      const std::string path = "/dev/video" + std::to_string(n);
      const int f = open(path.c_str(), O_RDWR | O_NONBLOCK);
      v4l2_capability cap{};
      if (f >= 0 && ioctl(f, VIDIOC_QUERYCAP, &cap) == 0 && std::string(reinterpret_cast<char*>(cap.driver)) == "vivid" &&
          (cap.device_caps & V4L2_CAP_VIDEO_CAPTURE)) {
        fd = f;
        node = path;
        card = reinterpret_cast<char*>(cap.card);
      } else if (f >= 0) close(f);
    }
  }
  ~Vivid() { if (fd >= 0) close(fd); }
  // The value an ioctl that reads one thing puts in `T`'s member.
  template <class T, class V>
  V Get(unsigned long request, V T::*member, T value = {}) const {
    ioctl(fd, request, &value);
    return value.*member;
  }
  int Input() const { int i = -1; ioctl(fd, VIDIOC_G_INPUT, &i); return i; }
  // The standard of the current input; 0 for an input without one.
  v4l2_std_id Std() const { v4l2_std_id s = 0; return ioctl(fd, VIDIOC_G_STD, &s) == 0 ? s : 0; }
  bool SetInput(int i) { return ioctl(fd, VIDIOC_S_INPUT, &i) == 0; }
  bool SetStd(v4l2_std_id s) { return ioctl(fd, VIDIOC_S_STD, &s) == 0; }
  // Sets a control of the current input by its name (a menu's by the item's name, "" for value 1).
  bool Set(const std::string& control, const std::string& item = "") {
    v4l2_queryctrl q{};
    for (q.id = V4L2_CTRL_FLAG_NEXT_CTRL; ioctl(fd, VIDIOC_QUERYCTRL, &q) == 0; q.id |= V4L2_CTRL_FLAG_NEXT_CTRL) {
      if (std::string(reinterpret_cast<char*>(q.name)) != control) continue;
      for (int i = item.empty() ? 1 : q.minimum; i <= (item.empty() ? 1 : q.maximum); ++i) {
        v4l2_querymenu m{};
        m.id = q.id;
        m.index = static_cast<std::uint32_t>(i);
        if (item.empty() || (ioctl(fd, VIDIOC_QUERYMENU, &m) == 0 && std::string(reinterpret_cast<char*>(m.name)) == item)) {
          v4l2_control c{q.id, i};
          return ioctl(fd, VIDIOC_S_CTRL, &c) == 0;
        }
      }
    }
    return false;
  }
  // Sets an integer control of the current input by its name.
  bool SetValue(const std::string& control, int value) {
    v4l2_queryctrl q{};
    for (q.id = V4L2_CTRL_FLAG_NEXT_CTRL; ioctl(fd, VIDIOC_QUERYCTRL, &q) == 0; q.id |= V4L2_CTRL_FLAG_NEXT_CTRL)
      if (std::string(reinterpret_cast<char*>(q.name)) == control) {
        v4l2_control c{q.id, value};
        return ioctl(fd, VIDIOC_S_CTRL, &c) == 0;
      }
    return false;
  }
  int fd = -1;
  std::string node, card;
};

// The capture engine on device 0 with real devices listed, owned by a recording window.
struct HwEngine {
  explicit HwEngine(const std::string& winIni = "") {
    orv::test::FreshConfigDir();
    if (!winIni.empty()) orv::test::WriteConfigFile("win.ini", winIni);
    unsetenv("ORVANE_VIRTUAL_CARD");
    setenv("ORVANE_DEVICES", "all", 1);
    orv::media::ReloadDevices();
    orv::media::ClearJournal();
  }
  CCaptureGraph& Start() {
    engine = std::make_unique<CCaptureGraph>(&owner);
    engine->LoadProfile();
    engine->Restart();
    return *engine;
  }
  orv::test::RecordingWnd owner;
  orv::test::MessageBoxAnswerer boxes;
  std::unique_ptr<CCaptureGraph> engine;
};

// A capture with a time limit, from its start to its stop once the time is up (within `waitMs`).
inline bool CaptureTimed(CCaptureGraph& g, const std::string& path, UINT seconds, int waitMs) {
  return g.StartFileCapture(path.c_str(), TRUE, seconds) == 1 &&
         orv::test::PumpUntil([&] { return g.IsCaptureTimeUp() == 1; }, waitMs) && g.StopFileCapture() == 1;
}

}  // namespace orv::hw
