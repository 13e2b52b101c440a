// A capture card's sound: an ALSA capture device as the audio capture filter, 16-bit PCM.
#include "platform/media/filterbase.h"
#include "platform/media/v4l2card.h"
#include "platform/ui/winuser.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace orv::media {
namespace {

HRESULT FromAlsa(int err) { return static_cast<HRESULT>(0x80070000u | (static_cast<unsigned>(-err) & 0xFFFFu)); }

// Opens pcm for capture with 16-bit interleaved samples, as near to rate and channels as it goes;
// both come back as the device took them.
int OpenCapture(const std::string& pcm, unsigned* rate, unsigned* channels, snd_pcm_uframes_t* period,
                snd_pcm_t** out) {
  snd_pcm_t* h = nullptr;
  int err = snd_pcm_open(&h, pcm.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  if (err < 0) return err;
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  snd_pcm_uframes_t buffer = *rate / 2;
  *period = *rate / 10;
  if ((err = snd_pcm_hw_params_any(h, hw)) < 0 ||
      (err = snd_pcm_hw_params_set_access(h, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
      (err = snd_pcm_hw_params_set_format(h, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
      (err = snd_pcm_hw_params_set_channels_near(h, hw, channels)) < 0 ||
      (err = snd_pcm_hw_params_set_rate_near(h, hw, rate, nullptr)) < 0 ||
      (err = snd_pcm_hw_params_set_period_size_near(h, hw, period, nullptr)) < 0 ||
      (err = snd_pcm_hw_params_set_buffer_size_near(h, hw, &buffer)) < 0 || (err = snd_pcm_hw_params(h, hw)) < 0) {
    snd_pcm_close(h);
    return err;
  }
  *out = h;
  return 0;
}

class AlsaAudioCapture : public FilterBase {
 public:
  AlsaAudioCapture(std::string pcm, const std::string& instance, std::shared_ptr<StreamFormat> format)
      : FilterBase(GUID_NULL, instance, "AudioCapture"), m_pcm(std::move(pcm)), m_format(std::move(format)) {
    AddPin({"Capture", PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE, MEDIATYPE_Audio, true, true, m_format});
  }
  ~AlsaAudioCapture() override { OnStop(); }

 protected:
  HRESULT OnRun() override {
    if (m_thread.joinable()) return S_OK;
    AM_MEDIA_TYPE mt{};
    m_format->Copy(&mt);
    WAVEFORMATEX wfx{};
    if (mt.formattype == FORMAT_WaveFormatEx && mt.pbFormat && mt.cbFormat >= sizeof(WAVEFORMATEX))
      wfx = *reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    auto type = std::shared_ptr<AM_MEDIA_TYPE>(new AM_MEDIA_TYPE(mt), [](AM_MEDIA_TYPE* p) {
      FreeMediaType(*p);
      delete p;
    });
    if (wfx.wBitsPerSample != 16 || !wfx.nChannels || !wfx.nSamplesPerSec) return S_OK;
    unsigned rate = wfx.nSamplesPerSec, channels = wfx.nChannels;
    snd_pcm_uframes_t period = 0;
    snd_pcm_t* h = nullptr;
    if (int err = OpenCapture(m_pcm, &rate, &channels, &period, &h); err < 0) {
      std::fprintf(stderr, "orvanetuner: cannot capture sound from %s: %s\n", m_pcm.c_str(), snd_strerror(err));
      return S_OK;
    }
    if (rate != wfx.nSamplesPerSec || channels != wfx.nChannels) {
      std::fprintf(stderr, "orvanetuner: %s changed its sound format; no sound captured\n", m_pcm.c_str());
      snd_pcm_close(h);
      return S_OK;
    }
    snd_pcm_start(h);
    m_stop = false;
    m_thread = std::thread([this, h, type, period, channels, rate] { Loop(h, type, period, channels, rate); });
    return S_OK;
  }

  void OnStop() override {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }

 private:
  void Loop(snd_pcm_t* h, std::shared_ptr<AM_MEDIA_TYPE> type, snd_pcm_uframes_t period, unsigned channels,
            unsigned rate) {
    std::vector<std::int16_t> buffer(period * channels);
    snd_pcm_uframes_t filled = 0;
    std::uint64_t frames = 0;
    PinBase* capture = PinAt(0);
    while (!m_stop) {
      snd_pcm_wait(h, 100);
      const snd_pcm_sframes_t n = snd_pcm_readi(h, buffer.data() + filled * channels, period - filled);
      if (n == -EAGAIN || n == 0) continue;
      if (n < 0) {
        // Overruns are recovered; anything else means the device went away.
        if (snd_pcm_recover(h, static_cast<int>(n), 1) == 0) {
          snd_pcm_start(h);
          continue;
        }
        ReportDeviceLost("sound input " + m_pcm);
        break;
      }
      filled += static_cast<snd_pcm_uframes_t>(n);
      if (filled < period) continue;
      const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(frames * 10000000ull / rate);
      frames += period;
      const REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(frames * 10000000ull / rate);
      const MediaSample sample{reinterpret_cast<const BYTE*>(buffer.data()), buffer.size() * sizeof(std::int16_t),
                               start, stop, type.get()};
      {
        std::shared_lock lock(StreamMutex());
        if (capture->IsConnected() && capture->StreamOn()) capture->Deliver(sample);
      }
      filled = 0;
    }
    snd_pcm_drop(h);
    snd_pcm_close(h);
  }

  std::string m_pcm;
  std::shared_ptr<StreamFormat> m_format;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

HRESULT CreateAlsaCaptureFilter(const std::string& pcm, const std::string& instance, IBaseFilter** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  // 48 kHz 16-bit stereo where the device offers it.
  unsigned rate = 48000, channels = 2;
  snd_pcm_uframes_t period = 0;
  snd_pcm_t* h = nullptr;
  if (int err = OpenCapture(pcm, &rate, &channels, &period, &h); err < 0) {
    std::fprintf(stderr, "orvanetuner: no sound capture on %s: %s\n", pcm.c_str(), snd_strerror(err));
    return FromAlsa(err);
  }
  snd_pcm_close(h);
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
  std::fprintf(stderr, "orvanetuner: %s stopped answering (unplugged?); preview and capture have ended\n",
               what.c_str());
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  const std::string text = "캡처 장치가 응답하지 않습니다 (분리됨?):\n" + what + "\n미리보기와 캡처가 멈췄습니다.";
  QMetaObject::invokeMethod(
      app, [text] { MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONWARNING | MB_TASKMODAL); },
      Qt::QueuedConnection);
}

}  // namespace orv::media
