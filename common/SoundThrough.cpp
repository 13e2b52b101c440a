#include "common/SoundThrough.h"

#include "common/Settings.h"

namespace orv::sound {
namespace {

constexpr const char* kThroughValue = "SoundThrough";
constexpr const char* kDeviceValue = "SoundThroughDevice";
constexpr const char* kDefaultDevice = "default";

}  // namespace

Through StoredThrough() {
  char value[16] = {};
  GetProfileStringA(kProfileSection, kThroughValue, "", value, sizeof value);
  const std::string v = value;
  return v == "1" ? Through::On : v == "0" ? Through::Off : Through::Auto;
}

void StoreThrough(Through through) {
  WriteProfileStringA(kProfileSection, kThroughValue, through == Through::On ? "1" : through == Through::Off ? "0" : "auto");
}

std::string StoredThroughDevice() {
  char value[256] = {};
  GetProfileStringA(kProfileSection, kDeviceValue, "", value, sizeof value);
  return value[0] ? value : kDefaultDevice;
}

bool PlaysThrough(Through through, bool cardsOwnSound) {
  return through == Through::On || (through == Through::Auto && cardsOwnSound);
}

bool IsCardsOwnSound(const CaptureDevices& devices, int video, int audio) {
  return video >= 0 && static_cast<std::size_t>(video) < devices.video.size() && audio >= 0 &&
         devices.video[static_cast<std::size_t>(video)].ownAudio == audio;
}

}  // namespace orv::sound
