// The sound renderer: plays what reaches it on an ALSA output from a thread of its own. The
// streaming thread only queues the samples; a queue longer than it should be loses its oldest, so
// the sound stays close behind the picture, and an output that fails is reported once and left.
#include "platform/media/graph/soundout.h"

#include "platform/log.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/levels.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

namespace orv::media {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;
// The output's buffer: twice the blocks the sound comes in, within these bounds (microseconds).
constexpr unsigned kLeastLatencyUs = 60000, kMostLatencyUs = 250000;
constexpr int kWaitMs = 50;  // the longest the thread sleeps before it looks at its stop flag

int RealConfigure(snd_pcm_t* h, unsigned rate, unsigned channels, unsigned latencyUs, snd_pcm_uframes_t* period) {
  if (int err = snd_pcm_set_params(h, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1, latencyUs);
      err < 0)
    return err;
  snd_pcm_uframes_t buffer = 0;
  return snd_pcm_get_params(h, &buffer, period);
}

const AlsaPlaybackCalls& RealCalls() {
  static const AlsaPlaybackCalls calls{
      [](snd_pcm_t** h, const char* name) { return snd_pcm_open(h, name, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK); },
      RealConfigure,
      [](snd_pcm_t* h, int ms) { return snd_pcm_wait(h, ms); },
      [](snd_pcm_t* h, const void* buf, snd_pcm_uframes_t n) { return snd_pcm_writei(h, buf, n); },
      [](snd_pcm_t* h, int err) { return snd_pcm_recover(h, err, 1); },
      [](snd_pcm_t* h) {
        snd_pcm_drop(h);
        return snd_pcm_close(h);
      }};
  return calls;
}

std::atomic<const AlsaPlaybackCalls*> g_testCalls{nullptr};

// An output that cannot be opened is told once a run of the program, not at every start of the graph.
bool FirstFailureOn(const std::string& device) {
  static std::mutex mutex;
  static std::set<std::string> told;
  std::lock_guard lock(mutex);
  return told.insert(device).second;
}

const AlsaPlaybackCalls& Calls() {
  const AlsaPlaybackCalls* c = g_testCalls;
  return c ? *c : RealCalls();
}

class SoundRenderer : public FilterBase, public ISoundOutput {
 public:
  SoundRenderer() : FilterBase(CLSID_DSoundRender, "SoundRenderer", "SoundRenderer") {
    // Any type (a tee's outputs carry their source's); what is not PCM sound is left alone.
    AddPin({"Audio Input", PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }
  ~SoundRenderer() override { OnStop(); }
  ORV_UNKNOWN_IMPL

  HRESULT put_Device(LPCSTR name) override {
    if (!name || !*name) return E_INVALIDARG;
    std::lock_guard lock(m_mutex);
    m_device = name;
    return S_OK;
  }
  HRESULT put_Level(LONG volume, BOOL mute) override {
    if (volume < 0 || volume > 0xFFFF) return E_INVALIDARG;
    m_volume = volume;
    m_mute = mute != FALSE;
    return S_OK;
  }

  // Streaming thread: queues the samples (16-bit PCM) and wakes the output's thread.
  void Receive(PinBase*, const MediaSample& sample) override {
    const AM_MEDIA_TYPE* mt = sample.type;
    if (!mt || mt->formattype != FORMAT_WaveFormatEx || !mt->pbFormat || mt->cbFormat < sizeof(WAVEFORMATEX) ||
        !sample.data)
      return;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt->pbFormat, sizeof wfx);
    if (wfx.wFormatTag != WAVE_FORMAT_PCM || wfx.wBitsPerSample != 16 || !wfx.nChannels || !wfx.nSamplesPerSec) return;
    if (m_levels) m_levels->OfferSound(mt, sample.data, sample.size, false);
    const std::size_t values = sample.size / 2 / wfx.nChannels * wfx.nChannels;
    {
      std::lock_guard lock(m_mutex);
      if (m_failed) return;
      if (m_rate == 0) {
        m_rate = wfx.nSamplesPerSec, m_channels = wfx.nChannels;
        m_block = sample.stop > sample.start ? sample.stop - sample.start : kSecond / 10;
      }
      if (wfx.nSamplesPerSec != m_rate || wfx.nChannels != m_channels) return;  // the output keeps its format
      const std::size_t old = m_queue.size();
      m_queue.resize(old + values);
      std::memcpy(m_queue.data() + old, sample.data, values * 2);
      // More than two blocks waiting: the output falls behind (or its clock runs slow), so the
      // oldest go and the sound stays near the picture.
      const std::size_t most = 2 * static_cast<std::size_t>(m_block * m_rate / kSecond) * m_channels;
      if (m_queue.size() > most) {
        m_dropped += (m_queue.size() - most) / m_channels;
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(m_queue.size() - most));
      }
    }
    m_wake.notify_one();
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_ISoundOutput) return static_cast<ISoundOutput*>(this);
    return FilterBase::Lookup(riid);
  }

  HRESULT OnRun() override {
    m_levels = LevelsTapOf(Graph());  // before the sources run
    if (m_thread.joinable()) return S_OK;
    {
      std::lock_guard lock(m_mutex);
      m_stop = false;
      m_failed = false;
      m_rate = m_channels = 0;
      m_queue.clear();
      m_dropped = 0;
    }
    // The output opens on its own thread: a sound server that is slow to answer holds up nothing.
    m_thread = std::thread([this] { Play(); });
    return S_OK;
  }

  void OnStop() override {
    {
      std::lock_guard lock(m_mutex);
      m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  // The output's thread: opens the device once the first samples tell their format, then writes
  // what comes, a period at a time.
  void Play() {
    const AlsaPlaybackCalls& pcm = Calls();
    snd_pcm_t* h = nullptr;
    snd_pcm_uframes_t period = 0;
    std::string device;
    unsigned rate = 0, channels = 0;
    REFERENCE_TIME block = 0;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || m_rate != 0; });
      if (m_stop) return;
      device = m_device, rate = m_rate, channels = m_channels, block = m_block;
    }
    const auto latency = static_cast<unsigned>(std::clamp<REFERENCE_TIME>(2 * block / 10, kLeastLatencyUs, kMostLatencyUs));
    int err = pcm.open(&h, device.c_str());
    if (err == 0 && (err = pcm.configure(h, rate, channels, latency, &period)) < 0) pcm.close(h);
    if (err < 0 || period == 0) {
      if (FirstFailureOn(device))
        LogError("media", "sound through: cannot play on %s (%s); the picture goes on without it", device.c_str(),
                 err < 0 ? snd_strerror(err) : "no period");
      if (err == 0) pcm.close(h);
      Fail();
      return;
    }
    std::vector<std::int16_t> chunk;
    for (;;) {
      {
        std::unique_lock lock(m_mutex);
        m_wake.wait_for(lock, std::chrono::milliseconds(kWaitMs), [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) break;
        const std::size_t n = std::min<std::size_t>(m_queue.size(), period * channels);
        chunk.assign(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
      }
      if (chunk.empty()) continue;
      ApplyLevel(&chunk);
      if (!Write(pcm, h, chunk, channels)) {
        LogError("media", "sound through: %s stopped playing; the picture goes on without it", device.c_str());
        Fail();
        break;
      }
    }
    pcm.close(h);
    if (const long n = m_dropped; n > 0)
      LogError("media", "sound through: %ld sound frames left out to stay near the picture", n);
  }

  // Writes all of chunk, waiting for room; false when the device failed for good.
  bool Write(const AlsaPlaybackCalls& pcm, snd_pcm_t* h, const std::vector<std::int16_t>& chunk, unsigned channels) {
    std::size_t done = 0;
    const std::size_t frames = chunk.size() / channels;
    while (done < frames && !m_stop) {
      const snd_pcm_sframes_t n = pcm.writei(h, chunk.data() + done * channels, frames - done);
      if (n == -EAGAIN || n == 0) {
        pcm.wait(h, kWaitMs);
        continue;
      }
      if (n < 0) {
        // An underrun (the sound came late) or a suspend is recovered; anything else ends it.
        if (pcm.recover(h, static_cast<int>(n)) < 0) return false;
        continue;
      }
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  void ApplyLevel(std::vector<std::int16_t>* samples) const {
    const long volume = m_mute ? 0 : static_cast<long>(m_volume);
    if (volume == 0xFFFF) return;
    for (std::int16_t& s : *samples) s = static_cast<std::int16_t>(s * volume / 0xFFFF);
  }

  void Fail() {
    std::lock_guard lock(m_mutex);
    m_failed = true;
    m_queue.clear();
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
  std::string m_device = "default";
  std::atomic<bool> m_stop{false};
  bool m_failed = false;  // the output could not play: samples are left out until the next run
  unsigned m_rate = 0, m_channels = 0;  // of the first samples since the graph ran
  REFERENCE_TIME m_block = 0;           // how long a sample's sound lasts
  std::vector<std::int16_t> m_queue;
  std::atomic<long> m_dropped{0};
  std::atomic<LONG> m_volume{0xFFFF};
  std::atomic<bool> m_mute{false};
  std::shared_ptr<LevelsTap> m_levels;
};

}  // namespace

const AlsaPlaybackCalls* SetAlsaPlaybackCallsForTests(const AlsaPlaybackCalls* calls) { return g_testCalls.exchange(calls); }

ComPtr<IBaseFilter> NewSoundRenderer() { return static_cast<IBaseFilter*>(new SoundRenderer); }

}  // namespace orv::media
