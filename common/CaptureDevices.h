// The capture devices as the engine enumerates them, for the device page to choose from.
#pragma once

#include <string>
#include <vector>

struct CaptureDevices {
  struct Video {
    std::string name;
    int ownAudio = -1;  // the entry of `audio` that carries this card's sound, -1 for none
    bool standardsKnown = false;         // whether the card told which standards it takes
    std::vector<std::string> standards;  // the keys it takes, when known
  };
  std::vector<Video> video;  // real cards first, then the virtual card(s)
  std::vector<std::string> audio;
};
