// Internal: the seam under the ALSA calls of the sound renderer (sound through), so that tests can
// play on an output that is busy, missing or slow, or one that keeps what it is given.
#pragma once

#include "platform/media/com/dshow.h"

#include <alsa/asoundlib.h>

#include <functional>

namespace orv::media {

// The snd_pcm calls the sound renderer makes. Every call returns 0 or more, or a negative errno.
struct AlsaPlaybackCalls {
  // snd_pcm_open for playback, non-blocking.
  std::function<int(snd_pcm_t** pcm, const char* name)> open;
  // 16-bit interleaved samples at this rate and channel count (resampled by the plug layer where
  // the device has others), about `latencyUs` of buffer; the period taken comes back.
  std::function<int(snd_pcm_t* pcm, unsigned rate, unsigned channels, unsigned latencyUs, snd_pcm_uframes_t* period)>
      configure;
  std::function<int(snd_pcm_t* pcm, int timeoutMs)> wait;
  std::function<snd_pcm_sframes_t(snd_pcm_t* pcm, const void* buffer, snd_pcm_uframes_t frames)> writei;
  // After an underrun (-EPIPE) or suspend: the device prepared again.
  std::function<int(snd_pcm_t* pcm, int err)> recover;
  std::function<int(snd_pcm_t* pcm)> close;
};

// nullptr: libasound itself. Returns the calls in use before, to be put back.
const AlsaPlaybackCalls* SetAlsaPlaybackCallsForTests(const AlsaPlaybackCalls* calls);

}  // namespace orv::media
