// Sound through: whether the card's sound plays on the speakers while the picture is shown and
// recorded, and on which ALSA output, kept in win.ini's [orvane] section: "SoundThrough" (auto, 1
// or 0; anything else counts as auto) and "SoundThroughDevice" (empty or missing: "default", the
// desktop's sound server).
#pragma once

#include "common/CaptureDevices.h"

#include <string>

namespace orv::sound {

enum class Through { Auto, On, Off };

Through StoredThrough();
void StoreThrough(Through through);
std::string StoredThroughDevice();

// Whether the sound plays through for this choice: automatically when the card's sound comes from
// a capture device of the card's own (its sound reaches no speaker by a cable), never without one.
bool PlaysThrough(Through through, bool cardsOwnSound);
// Whether audio device `audio` is the own sound of video device `video` in the list.
bool IsCardsOwnSound(const CaptureDevices& devices, int video, int audio);

}  // namespace orv::sound
