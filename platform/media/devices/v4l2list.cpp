// The list of real capture cards: the V4L2 video capture nodes in a fixed order, the card behind
// each kept across enumerations while it stays plugged in, and each card's own sound device.
#include "platform/media/devices/testing.h"
#include "platform/log.h"
#include "platform/media/devices/v4l2device.h"

#include <alsa/asoundlib.h>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace orv::media {

void SortVideoNodes(std::vector<VideoNode>* nodes) {
  std::stable_sort(nodes->begin(), nodes->end(), [](const VideoNode& a, const VideoNode& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.number < b.number;
  });
}

int SoundCardOfNode(const std::string& sysfsRoot, const std::string& node) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path video = fs::canonical(fs::path(sysfsRoot) / "class/video4linux" / node / "device", ec);
  if (ec) return -1;
  // The sound can sit on the same device (saa7134), or on a sibling function of the same PCI slot
  // or USB device (bttv, cx88: function 1; em28xx: another interface): same parent, same name up
  // to the last '.'.
  auto stem = [](const fs::path& p) {
    const std::string n = p.filename().string();
    const auto dot = n.rfind('.');
    return dot == std::string::npos ? n : n.substr(0, dot);
  };
  int sibling = -1;
  for (const auto& entry : fs::directory_iterator(fs::path(sysfsRoot) / "class/sound", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("card", 0) != 0 || name.size() < 5 ||
        !std::all_of(name.begin() + 4, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    std::error_code e2;
    const fs::path sound = fs::canonical(entry.path() / "device", e2);
    if (e2) continue;
    const int card = std::atoi(name.c_str() + 4);
    if (sound == video) return card;
    if (sibling < 0 && sound.parent_path() == video.parent_path() && stem(sound) == stem(video)) sibling = card;
  }
  return sibling;
}

namespace {

std::vector<VideoNode> ScanVideoNodes() {
  std::vector<VideoNode> nodes;
  DIR* dir = opendir("/dev");
  if (!dir) return nodes;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name.rfind("video", 0) != 0 || name.size() == 5 ||
        !std::all_of(name.begin() + 5, name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      continue;
    const std::string path = "/dev/" + name;
    // Plain open: enumeration needs no format conversion.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      // A node that went away meanwhile is not worth a line; one the user may not open is.
      if (errno != ENOENT && errno != ENODEV && errno != ENXIO)
        LogErrno("v4l2", "cannot open %s; it is left out of the device list", path.c_str());
      continue;
    }
    v4l2_capability cap{};
    if (ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
      const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
      if ((caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING))
        nodes.push_back({path, std::atoi(name.c_str() + 5), reinterpret_cast<const char*>(cap.bus_info),
                         reinterpret_cast<const char*>(cap.card), reinterpret_cast<const char*>(cap.driver)});
    }
    close(fd);
  }
  closedir(dir);
  SortVideoNodes(&nodes);
  return nodes;
}

// Cards keep their state (tuner plan and channel, the open device) across graph rebuilds, as
// hardware does; an unplugged one is forgotten at the next enumeration.
std::mutex g_cardsMutex;
std::map<std::string, std::shared_ptr<V4l2Card>> g_cards;

std::vector<std::shared_ptr<V4l2Card>> CurrentCards() {
  const std::vector<VideoNode> nodes = ScanVideoNodes();
  std::lock_guard lock(g_cardsMutex);
  std::map<std::string, std::shared_ptr<V4l2Card>> next;
  std::vector<std::shared_ptr<V4l2Card>> out;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    std::shared_ptr<V4l2Card> card;
    auto it = g_cards.find(nodes[i].path);
    if (it != g_cards.end() && !it->second->Lost() && it->second->Node().bus == nodes[i].bus &&
        it->second->Node().card == nodes[i].card)
      card = it->second;
    else
      card = std::make_shared<V4l2Card>(nodes[i], static_cast<int>(i), LibV4l2Calls());
    next[nodes[i].path] = card;
    out.push_back(card);
  }
  g_cards = std::move(next);
  return out;
}

std::string AlsaCardName(int card) {
  char* name = nullptr;
  std::string out = "ALSA card " + std::to_string(card);
  if (snd_card_get_name(card, &name) == 0 && name) {
    out = name;
    std::free(name);
  }
  return out;
}

}  // namespace

HRESULT CreateV4l2Capture(const VideoNode& node, V4l2Calls calls, IBaseFilter** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  return NewV4l2CaptureFilter(std::make_shared<V4l2Card>(node, 0, std::move(calls)), out);
}

std::vector<RealDeviceEntry> ListRealDevices(const GUID& category) {
  std::vector<RealDeviceEntry> out;
  const bool video = category == CLSID_VideoInputDeviceCategory;
  const bool audio = category == CLSID_AudioInputDeviceCategory;
  const bool vbi = category == CLSID_VbiInputDeviceCategory;
  if (!video && !audio && !vbi) return out;
  for (const std::shared_ptr<V4l2Card>& card : CurrentCards()) {
    const VideoNode& n = card->Node();
    if (vbi) {
      const std::string path = VbiNodeOf("/sys", n.path.substr(5));
      const std::string instance = card->InstanceName("VbiCapture");
      if (!path.empty())
        out.push_back({n.card + " VBI", path, [path, instance](IBaseFilter** f) { return NewV4l2VbiFilter(path, instance, f); }});
      continue;
    }
    if (video) {
      out.push_back({n.card, n.path, [card](IBaseFilter** f) { return NewV4l2CaptureFilter(card, f); }, n.driver, n.bus});
      continue;
    }
    // The card's own sound device, else the system's default capture device.
    const int sound = SoundCardOfNode("/sys", n.path.substr(5));
    const std::string pcm = sound >= 0 ? "plughw:" + std::to_string(sound) + ",0" : "default";
    const std::string name = sound >= 0 ? AlsaCardName(sound) : n.card + " (default sound input)";
    const std::string instance = card->InstanceName("AudioCapture");
    out.push_back({name, "alsa:" + pcm, [pcm, instance](IBaseFilter** f) {
                     return CreateAlsaCaptureFilter(pcm, instance, f);
                   }});
  }
  return out;
}

}  // namespace orv::media
