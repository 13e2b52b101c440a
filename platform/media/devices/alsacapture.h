// Internal: the seam under the ALSA calls of a card's sound capture, so that tests can play a
// device (busy, late, overrunning). CreateAlsaCaptureFilter (realcards.h) makes the filter.
#pragma once

#include "platform/media/com/dshow.h"

#include <alsa/asoundlib.h>

#include <functional>

namespace orv::media {

struct AlsaStatus {
  snd_pcm_state_t state = SND_PCM_STATE_OPEN;
  REFERENCE_TIME stamp = 0;     // when the status was taken, on the monotonic clock (MonotonicNow())
  snd_pcm_sframes_t delay = 0;  // frames captured before then that are not read yet
};

// The snd_pcm calls the sound capture makes. Every call returns 0 or more, or a negative errno.
struct AlsaCalls {
  // snd_pcm_open for capture, non-blocking.
  std::function<int(snd_pcm_t** pcm, const char* name)> open;
  // Hardware and software parameters: 16-bit interleaved samples, rate and channels as near as the
  // device goes (both come back as taken), a period of about a fiftieth of a second (the sound
  // played through follows at most that far behind), and status time stamps on the monotonic clock.
  std::function<int(snd_pcm_t* pcm, unsigned* rate, unsigned* channels, snd_pcm_uframes_t* period)> configure;
  std::function<int(snd_pcm_t* pcm)> start;
  std::function<int(snd_pcm_t* pcm, int timeoutMs)> wait;
  std::function<int(snd_pcm_t* pcm, AlsaStatus* status)> status;
  std::function<snd_pcm_sframes_t(snd_pcm_t* pcm, void* buffer, snd_pcm_uframes_t frames)> readi;
  // After an overrun (-EPIPE) or suspend: the device prepared again, to be started.
  std::function<int(snd_pcm_t* pcm, int err)> recover;
  std::function<int(snd_pcm_t* pcm)> close;
};

}  // namespace orv::media
