// Hardware tests run inside the test VM (tests/hw/run-vm.sh) against the kernel's test drivers:
// vivid (a TV card), snd-dummy (a sound card's mixer) and snd-aloop (real sound). Outside the VM
// every test skips.
#pragma once

#include "capture/CaptureGraph.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/testing.h"
#include "tests/support/testenv.h"
#include "tests/support/uitest.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#define ORV_NEEDS_VM()                                                                          \
  do {                                                                                          \
    if (!std::getenv("ORVANE_HW_VM"))                                                           \
      GTEST_SKIP() << "needs vivid, snd-dummy and snd-aloop: run inside the VM with tests/hw/run-vm.sh"; \
  } while (0)

namespace orv::hw {

// Output of a shell command (stdout), "" when it cannot run.
inline std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

// vivid's capture node, opened beside the program to read back what the program did to it.
class Vivid {
 public:
  Vivid() {
    for (int n = 0; n < 16 && fd < 0; ++n) {
      const std::string path = "/dev/video" + std::to_string(n);
      const int f = open(path.c_str(), O_RDWR | O_NONBLOCK);
      if (f < 0) continue;
      v4l2_capability cap{};
      const bool ok = ioctl(f, VIDIOC_QUERYCAP, &cap) == 0 &&
                      std::string(reinterpret_cast<char*>(cap.driver)) == "vivid" &&
                      (cap.device_caps & V4L2_CAP_VIDEO_CAPTURE);
      if (ok) {
        fd = f;
        node = path;
        card = reinterpret_cast<char*>(cap.card);
      } else {
        close(f);
      }
    }
  }
  ~Vivid() {
    if (fd >= 0) close(fd);
  }
  int Input() const {
    int i = -1;
    ioctl(fd, VIDIOC_G_INPUT, &i);
    return i;
  }
  unsigned Frequency() const {
    v4l2_frequency f{};
    ioctl(fd, VIDIOC_G_FREQUENCY, &f);
    return f.frequency;
  }
  int Signal() const {
    v4l2_tuner t{};
    ioctl(fd, VIDIOC_G_TUNER, &t);
    return t.signal;
  }
  int Control(unsigned id) const {
    v4l2_control c{id, 0};
    ioctl(fd, VIDIOC_G_CTRL, &c);
    return c.value;
  }
  void Range(unsigned id, int* min, int* max) const {
    v4l2_queryctrl q{};
    q.id = id;
    ioctl(fd, VIDIOC_QUERYCTRL, &q);
    *min = q.minimum;
    *max = q.maximum;
  }
  // The standard of the current input; 0 for an input without one.
  v4l2_std_id Std() const {
    v4l2_std_id s = 0;
    return ioctl(fd, VIDIOC_G_STD, &s) == 0 ? s : 0;
  }
  bool SetInput(int i) { return ioctl(fd, VIDIOC_S_INPUT, &i) == 0; }
  bool SetStd(v4l2_std_id s) { return ioctl(fd, VIDIOC_S_STD, &s) == 0; }
  // Sets a menu control of the current input by the names of the control and the item.
  bool SetMenu(const std::string& control, const std::string& item) {
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (ioctl(fd, VIDIOC_QUERYCTRL, &q) == 0) {
      if (std::string(reinterpret_cast<char*>(q.name)) == control && q.type == V4L2_CTRL_TYPE_MENU)
        for (int i = q.minimum; i <= q.maximum; ++i) {
          v4l2_querymenu m{};
          m.id = q.id;
          m.index = static_cast<std::uint32_t>(i);
          if (ioctl(fd, VIDIOC_QUERYMENU, &m) == 0 && std::string(reinterpret_cast<char*>(m.name)) == item) {
            v4l2_control c{q.id, i};
            return ioctl(fd, VIDIOC_S_CTRL, &c) == 0;
          }
        }
      q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return false;
  }
  // vivid's "Disconnect" button: the device behaves as an unplugged USB card from then on.
  bool Unplug() {
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (ioctl(fd, VIDIOC_QUERYCTRL, &q) == 0) {
      if (std::string(reinterpret_cast<char*>(q.name)) == "Disconnect") {
        v4l2_control c{q.id, 1};
        return ioctl(fd, VIDIOC_S_CTRL, &c) == 0;
      }
      q.id |= V4L2_CTRL_FLAG_NEXT_CTRL;
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
  ~HwEngine() { engine.reset(); }
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

// Takes every sample that reaches its input, for tests that look at what a capture pin sends. A COM
// object: hold it in a ComPtr.
class SampleSink : public orv::media::FilterBase {
 public:
  SampleSink() : FilterBase(GUID_NULL, "TestSink", "TestSink") {
    AddPin({"In", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }
  void Receive(orv::media::PinBase*, const orv::media::MediaSample& s) override {
    std::lock_guard lock(mutex);
    ++count;
    bytes += s.size;
    last.assign(s.data, s.data + s.size);
    starts.push_back(s.start);
    if (s.type && s.type->pbFormat) {
      if (s.type->formattype == FORMAT_VideoInfo)
        vih = *reinterpret_cast<const VIDEOINFOHEADER*>(s.type->pbFormat);
      else if (s.type->formattype == FORMAT_WaveFormatEx)
        wfx = *reinterpret_cast<const WAVEFORMATEX*>(s.type->pbFormat);
    }
  }
  IPin* Input() { return PinAt(0); }
  std::mutex mutex;
  int count = 0;
  std::size_t bytes = 0;
  std::vector<BYTE> last;
  std::vector<REFERENCE_TIME> starts;
  VIDEOINFOHEADER vih{};
  WAVEFORMATEX wfx{};
};

}  // namespace orv::hw
