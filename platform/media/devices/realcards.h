// Internal: the real capture cards the device enumerator lists before the virtual ones: V4L2 video
// devices in a fixed order, each with its sound (ALSA capture).
#pragma once

#include "platform/media/com/dshow.h"

#include <functional>
#include <string>
#include <vector>

namespace orv::media {

struct VideoNode {
  std::string path;   // /dev/videoN
  int number = 0;     // N
  std::string bus;    // bus_info
  std::string card;   // friendly name
  std::string driver;
};
// By bus, then node number: the same card keeps its index across runs.
void SortVideoNodes(std::vector<VideoNode>* nodes);

// The ALSA card index that belongs to the same hardware as video4linux node `node` ("video0"),
// found under sysfsRoot ("/sys"), or -1.
int SoundCardOfNode(const std::string& sysfsRoot, const std::string& node);

struct RealDeviceEntry {
  std::string friendlyName;
  std::string devicePath;
  std::function<HRESULT(IBaseFilter**)> create;
  std::string driver, bus;  // the video device's, for a capture's log
};
// Every V4L2 video capture device (category video), or their sound devices, one per video device
// in the same order (category audio), or the VBI devices of those that have one, listed under the
// card's name (category VBI).
std::vector<RealDeviceEntry> ListRealDevices(const GUID& category);

// The VBI node ("/dev/vbiN") of the same hardware as video4linux node `node` ("video0"), found under
// sysfsRoot ("/sys"), or "".
std::string VbiNodeOf(const std::string& sysfsRoot, const std::string& node);
// A card's VBI device as a filter: line 21's pairs on the graph's clock.
HRESULT NewV4l2VbiFilter(const std::string& path, const std::string& instance, IBaseFilter** out);

// The audio capture filter on an ALSA PCM name ("plughw:CARD=x,DEV=0", "default").
HRESULT CreateAlsaCaptureFilter(const std::string& pcm, const std::string& instance, IBaseFilter** out);

// Shown once when a card stops answering (unplugged) while it streams.
void ReportDeviceLost(const std::string& what);

}  // namespace orv::media
