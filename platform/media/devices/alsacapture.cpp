// A capture card's sound: an ALSA capture device as the audio capture filter, 16-bit PCM, its
// samples on the graph's monotonic clock.
#include "platform/media/devices/alsacapture.h"

#include "platform/log.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/realcards.h"
#include "platform/media/devices/testing.h"
#include "platform/ui/afxres.h"
#include "platform/ui/winuser.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <deque>
#include <optional>
#include <thread>

namespace orv::media {
namespace {

constexpr REFERENCE_TIME kSecond = 10000000;
// The sample clock is fitted over this many status readings (one a period: some seconds).
constexpr std::size_t kClockReadings = 32;
// An overrun longer than this is not filled in (the machine slept): the sound goes on after it.
constexpr int kMostSilenceSeconds = 60;

HRESULT FromAlsa(int err) { return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned>(-err) & 0xFFFFu)); }

// ---- libasound ------------------------------------------------------------------------------------

int RealConfigure(snd_pcm_t* h, unsigned* rate, unsigned* channels, snd_pcm_uframes_t* period) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  // Short periods: the sound played through is at most one of them behind what was captured.
  snd_pcm_uframes_t buffer = *rate / 2;
  *period = *rate / 50;
  int err;
  if ((err = snd_pcm_hw_params_any(h, hw)) < 0 ||
      (err = snd_pcm_hw_params_set_access(h, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(h, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
      (err = snd_pcm_hw_params_set_channels_near(h, hw, channels)) < 0 ||
      (err = snd_pcm_hw_params_set_rate_near(h, hw, rate, nullptr)) < 0 ||
      (err = snd_pcm_hw_params_set_period_size_near(h, hw, period, nullptr)) < 0 ||
      (err = snd_pcm_hw_params_set_buffer_size_near(h, hw, &buffer)) < 0 || (err = snd_pcm_hw_params(h, hw)) < 0)
    return err;
  // Status time stamps taken with the hardware pointer, on the monotonic clock. A device that
  // cannot give them still captures; its status readings are checked against the clock.
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  if ((err = snd_pcm_sw_params_current(h, sw)) < 0 ||
      (err = snd_pcm_sw_params_set_tstamp_mode(h, sw, SND_PCM_TSTAMP_ENABLE)) < 0 ||
      (err = snd_pcm_sw_params_set_tstamp_type(h, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC)) < 0 ||
      (err = snd_pcm_sw_params(h, sw)) < 0)
    LogError("alsa", "%s: no monotonic time stamps (%s); the status is read against the clock", snd_pcm_name(h),
             snd_strerror(err));
  return 0;
}

int RealStatus(snd_pcm_t* h, AlsaStatus* out) {
  snd_pcm_status_t* s = nullptr;
  snd_pcm_status_alloca(&s);
  const REFERENCE_TIME now = MonotonicNow();
  if (int err = snd_pcm_status(h, s); err < 0) return err;
  snd_htimestamp_t ts{};
  snd_pcm_status_get_htstamp(s, &ts);
  out->state = snd_pcm_status_get_state(s);
  out->delay = snd_pcm_status_get_delay(s);
  out->stamp = static_cast<REFERENCE_TIME>(ts.tv_sec) * kSecond + ts.tv_nsec / 100;
  // A plugin without time stamps, or with another clock's: the time the status was asked for.
  if (out->stamp <= 0 || std::llabs(out->stamp - now) > kSecond) out->stamp = now;
  return 0;
}

const AlsaCalls& RealCalls() {
  static const AlsaCalls calls{
      [](snd_pcm_t** h, const char* name) { return snd_pcm_open(h, name, SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK); },
      RealConfigure,
      [](snd_pcm_t* h) { return snd_pcm_start(h); },
      [](snd_pcm_t* h, int ms) { return snd_pcm_wait(h, ms); },
      RealStatus,
      [](snd_pcm_t* h, void* buf, snd_pcm_uframes_t n) { return snd_pcm_readi(h, buf, n); },
      [](snd_pcm_t* h, int err) { return snd_pcm_recover(h, err, 1); },
      [](snd_pcm_t* h) {
        snd_pcm_drop(h);
        return snd_pcm_close(h);
      }};
  return calls;
}

std::atomic<const AlsaCalls*> g_testCalls{nullptr};

const AlsaCalls& Calls() {
  const AlsaCalls* c = g_testCalls;
  return c ? *c : RealCalls();
}

// Opens and configures pcm; rate and channels come back as the device took them.
int OpenCapture(const AlsaCalls& pcm, const std::string& name, unsigned* rate, unsigned* channels,
                snd_pcm_uframes_t* period, snd_pcm_t** out) {
  snd_pcm_t* h = nullptr;
  int err = pcm.open(&h, name.c_str());
  if (err < 0) return err;
  if ((err = pcm.configure(h, rate, channels, period)) < 0) {
    pcm.close(h);
    return err;
  }
  *out = h;
  return 0;
}

// Shown after the engine's own message when the capture cannot start because another program (a
// sound server, say) holds the card's sound device.
void ReportDeviceBusy(const std::string& pcm) {
  LogError("alsa", "sound input %s is busy (another program, such as a sound server, holds it); the capture cannot start",
           pcm.c_str());
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  // The text is looked up on the user-interface thread, where the language module lives.
  QMetaObject::invokeMethod(
      app,
      [pcm] {
        MessageBoxA(nullptr, AfxFormatString(AFX_IDS_SOUND_BUSY, pcm.c_str()).c_str(), nullptr,
                    MB_OK | MB_ICONWARNING | MB_TASKMODAL);
      },
      Qt::QueuedConnection);
}

// Where the device's frames lie on the monotonic clock. Each status reading gives the time of the
// next frame to read (its time stamp less the delay); the sample clock is fitted to the earliest
// readings over some seconds, because a driver whose pointer moves in steps reads late, never early.
class SampleClock {
 public:
  explicit SampleClock(unsigned rate) : m_rate(rate) {}
  void Observe(std::int64_t frame, REFERENCE_TIME at) {
    m_offsets.push_back(at - Nominal(frame));
    if (m_offsets.size() > kClockReadings) m_offsets.pop_front();
  }
  bool Known() const { return !m_offsets.empty(); }
  REFERENCE_TIME At(std::int64_t frame) const {
    REFERENCE_TIME offset = m_offsets.empty() ? 0 : m_offsets.front();
    for (REFERENCE_TIME o : m_offsets) offset = std::min(offset, o);
    return offset + Nominal(frame);
  }
  void Forget() { m_offsets.clear(); }

 private:
  REFERENCE_TIME Nominal(std::int64_t frame) const { return frame * kSecond / m_rate; }
  unsigned m_rate;
  std::deque<REFERENCE_TIME> m_offsets;
};

// Whether the samples of an output pin go into a recording: to anything but a tee, or to a tee
// whose capture branch is connected (its preview branch alone is the sound played through).
bool FeedsRecording(PinBase* out) {
  PinBase* in = AsPinBase(out->Peer());
  if (!in) return false;
  if (in->Filter()->Kind() != "SmartTee") return true;
  PinBase* capture = in->Filter()->FindPin(PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE);
  return capture && capture->IsConnected();
}

class AlsaAudioCapture : public FilterBase {
 public:
  AlsaAudioCapture(std::string pcm, const std::string& instance, std::shared_ptr<StreamFormat> format)
      : FilterBase(GUID_NULL, instance, "AudioCapture"), m_pcm(std::move(pcm)), m_format(std::move(format)) {
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, true, true, m_format});
  }
  ~AlsaAudioCapture() override { OnStop(); }

 protected:
  // The device is opened only while something records the sound; one that cannot be opened or
  // started fails the graph's Run.
  HRESULT OnRun() override {
    if (m_thread.joinable() || !PinAt(0)->IsConnected()) return S_OK;
    AM_MEDIA_TYPE mt{};
    m_format->Copy(&mt);
    WAVEFORMATEX wfx{};
    if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMATEX))
      wfx = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    auto type = std::shared_ptr<AM_MEDIA_TYPE>(new AM_MEDIA_TYPE(mt), [](AM_MEDIA_TYPE* p) {
      FreeMediaType(*p);
      delete p;
    });
    if (wfx.wBitsPerSample != 16 || !wfx.nChannels || !wfx.nSamplesPerSec) return VFW_E_INVALIDMEDIATYPE;
    const AlsaCalls& pcm = Calls();
    unsigned rate = wfx.nSamplesPerSec, channels = wfx.nChannels;
    snd_pcm_uframes_t period = 0;
    snd_pcm_t* h = nullptr;
    int err = OpenCapture(pcm, m_pcm, &rate, &channels, &period, &h);
    if (err == 0 && (rate != wfx.nSamplesPerSec || channels != wfx.nChannels || period == 0)) {
      LogError("alsa", "%s changed its sound format; the capture cannot start", m_pcm.c_str());
      pcm.close(h);
      return VFW_E_INVALIDMEDIATYPE;
    }
    if (err == 0 && (err = pcm.start(h)) < 0) pcm.close(h);
    if (err < 0) {
      // Only a recording asks the user; the live sound alone goes without (the engine logs it).
      if (err == -EBUSY && FeedsRecording(PinAt(0)))
        ReportDeviceBusy(m_pcm);
      else
        LogError("alsa", "cannot capture sound from %s: %s", m_pcm.c_str(), snd_strerror(err));
      return FromAlsa(err);
    }
    m_stop = false;
    m_counts->Reset();
    m_thread = std::thread([this, &pcm, h, type, period, channels, rate] { Loop(pcm, h, type, period, channels, rate); });
    return S_OK;
  }

  void OnStop() override {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  void Loop(const AlsaCalls& pcm, snd_pcm_t* h, std::shared_ptr<AM_MEDIA_TYPE> type, snd_pcm_uframes_t period,
            unsigned channels, unsigned rate) {
    std::vector<std::int16_t> buffer(period * channels);
    snd_pcm_uframes_t filled = 0;
    std::int64_t first = 0;  // the device's frame at buffer[0], counting the silence put in for overruns
    SampleClock clock(rate);
    const REFERENCE_TIME started = MonotonicNow();
    int overruns = 0;
    PinBase* capture = PinAt(0);

    auto deliver = [&] {
      auto at = [&](std::int64_t frame) {
        return (clock.Known() ? clock.At(frame) : started + frame * kSecond / rate) - StreamStart();
      };
      // The counts carry the sound's events to the recording; its pictures are counted elsewhere.
      const MediaSample sample{reinterpret_cast<const BYTE*>(buffer.data()), buffer.size() * sizeof(std::int16_t),
                               at(first), at(first + static_cast<std::int64_t>(period)), type.get(), m_counts};
      {
        std::shared_lock lock(StreamMutex());
        if (capture->IsConnected() && capture->StreamOn()) capture->Deliver(sample);
      }
      first += static_cast<std::int64_t>(period);
      filled = 0;
    };
    auto silence = [&](std::int64_t frames) {
      while (frames > 0) {
        const auto n = static_cast<snd_pcm_uframes_t>(std::min<std::int64_t>(frames, period - filled));
        std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(filled * channels), n * channels, 0);
        filled += n;
        frames -= static_cast<std::int64_t>(n);
        if (filled == period) deliver();
      }
    };

    // After an overrun the gap is measured against the fit made before it, which keeps its
    // history: each reading after the restart gives the frames lost, plus its lateness (readings
    // are late, never early), so the least over a period is taken. The frames read
    // meanwhile wait, and the silence goes in before them.
    struct Reading {
      std::int64_t read;  // frames read since the restart
      REFERENCE_TIME at;
    };
    bool overrun = false;
    std::int64_t gapAt = 0;  // the frame where the lost ones begin
    std::vector<Reading> readings;
    std::vector<std::int16_t> held;
    auto append = [&](const std::int16_t* p, std::size_t frames) {
      while (frames > 0) {
        const std::size_t n = std::min<std::size_t>(frames, period - filled);
        std::copy_n(p, n * channels, buffer.begin() + static_cast<std::ptrdiff_t>(filled * channels));
        filled += n, p += n * channels, frames -= n;
        if (filled == period) deliver();
      }
    };
    auto settle = [&] {
      std::optional<std::int64_t> lost;
      for (const Reading& r : readings) {
        const auto l = std::llround(static_cast<double>(r.at - clock.At(gapAt + r.read)) * rate / kSecond);
        lost = lost ? std::min<std::int64_t>(*lost, l) : l;
      }
      std::int64_t gap = std::max<std::int64_t>(lost.value_or(0), 0);
      if (gap > static_cast<std::int64_t>(rate) * kMostSilenceSeconds) {
        gap = 0;  // the machine slept: the sound goes on after it, on a fit made afresh
        clock.Forget();
      }
      if (overruns == 1)
        LogError("alsa", "sound input %s overran: %lld ms lost, filled with silence", m_pcm.c_str(),
                 static_cast<long long>(gap * 1000 / rate));
      if (clock.Known())
        m_counts->events.Note("alsa", CaptureEventKind::SoundOverrun, clock.At(gapAt) - StreamStart(),
                              static_cast<long>(gap * 1000 / rate));
      silence(gap);
      for (const Reading& r : readings) clock.Observe(gapAt + gap + r.read, r.at);
      append(held.data(), held.size() / channels);
      held.clear(), readings.clear();
      overrun = false;
    };
    std::vector<std::int16_t> chunk(period * channels);

    while (!m_stop) {
      pcm.wait(h, 100);
      AlsaStatus st;
      if (pcm.status(h, &st) == 0 && st.state == SND_PCM_STATE_RUNNING) {
        const REFERENCE_TIME at = st.stamp - st.delay * kSecond / rate;
        if (overrun)
          readings.push_back({static_cast<std::int64_t>(held.size() / channels), at});
        else
          clock.Observe(first + static_cast<std::int64_t>(filled), at);
      }
      std::int16_t* into = overrun ? chunk.data() : buffer.data() + filled * channels;
      const snd_pcm_sframes_t n = pcm.readi(h, into, overrun ? period : period - filled);
      if (n == -EAGAIN || n == 0) continue;
      if (n < 0) {
        // Overruns are recovered; anything else means the device went away.
        if (pcm.recover(h, static_cast<int>(n)) == 0 && pcm.start(h) >= 0) {
          if (overrun) settle();
          ++overruns;
          overrun = clock.Known();
          gapAt = first + static_cast<std::int64_t>(filled);
          continue;
        }
        m_counts->events.Note("alsa", CaptureEventKind::DeviceGone, MonotonicNow() - StreamStart());
        AbortGraph(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
        ReportDeviceLost("sound input " + m_pcm);
        break;
      }
      if (!overrun) {
        filled += static_cast<snd_pcm_uframes_t>(n);
        if (filled == period) deliver();
        continue;
      }
      held.insert(held.end(), chunk.begin(), chunk.begin() + n * channels);
      // Two readings a period apart, or the sound stops waiting for them.
      if ((readings.size() >= 2 && held.size() >= period * channels) || held.size() >= 4 * period * channels) settle();
    }
    pcm.close(h);
  }

  std::string m_pcm;
  std::shared_ptr<StreamFormat> m_format;
  const std::shared_ptr<FrameCounts> m_counts = std::make_shared<FrameCounts>();
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

void SetAlsaCallsForTests(const AlsaCalls* calls) { g_testCalls = calls; }

HRESULT CreateAlsaCaptureFilter(const std::string& pcm, const std::string& instance, IBaseFilter** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // 48 kHz 16-bit stereo where the device offers it. A device busy now may be free when the
  // capture starts, and the plug layer takes this format then; if it is still busy, the capture's
  // start says so.
  unsigned rate = 48000, channels = 2;
  snd_pcm_uframes_t period = 0;
  snd_pcm_t* h = nullptr;
  const AlsaCalls& calls = Calls();
  if (int err = OpenCapture(calls, pcm, &rate, &channels, &period, &h); err == -EBUSY) {
    LogError("alsa", "sound input %s is busy for now", pcm.c_str());
  } else if (err < 0) {
    LogError("alsa", "no sound capture on %s: %s", pcm.c_str(), snd_strerror(err));
    return FromAlsa(err);
  } else {
    calls.close(h);
  }
  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, static_cast<WORD>(channels), rate, rate * channels * 2,
                   static_cast<WORD>(channels * 2), 16, 0};
  AM_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Audio;
  mt.subtype = MEDIASUBTYPE_PCM;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = wfx.nBlockAlign;
  mt.formattype = FORMAT_WaveFormatEx;
  mt.cbFormat = sizeof wfx;
  mt.pbFormat = reinterpret_cast<BYTE*>(&wfx);
  ComPtr<IBaseFilter> f = static_cast<IBaseFilter*>(
      new AlsaAudioCapture(pcm, instance, std::make_shared<StreamFormat>(mt)));
  *out = f.Detach();
  return S_OK;
}

void ReportDeviceLost(const std::string& what) {
  LogError("devices", "%s stopped answering (unplugged?); preview and capture have ended", what.c_str());
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  QMetaObject::invokeMethod(
      app,
      [what] {
        MessageBoxA(nullptr, AfxFormatString(AFX_IDS_DEVICE_LOST, what.c_str()).c_str(), nullptr,
                    MB_OK | MB_ICONWARNING | MB_TASKMODAL);
      },
      Qt::QueuedConnection);
}

}  // namespace orv::media
