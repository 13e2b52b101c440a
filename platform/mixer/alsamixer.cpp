// The ALSA backend: a card's simple mixer elements as a mixer device, with its change events
// watched on the user-interface thread.
#include "platform/mixer/elements.h"
#include "platform/log.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>
#include <alsa/asoundlib.h>

#include <cstdlib>
#include <memory>
#include <poll.h>

namespace orv::mixer {
namespace {

class AlsaCard;

class AlsaElement : public Element {
 public:
  explicit AlsaElement(snd_mixer_elem_t* e)
      : elem_(e),
        name_(snd_mixer_selem_get_name(e)),
        hasVolume_(snd_mixer_selem_has_playback_volume(e)),
        hasSwitch_(snd_mixer_selem_has_playback_switch(e)) {
    if (!snd_mixer_selem_is_playback_mono(e)) {
      for (int ch = SND_MIXER_SCHN_FRONT_LEFT; ch <= SND_MIXER_SCHN_LAST; ++ch)
        if (snd_mixer_selem_has_playback_channel(e, static_cast<snd_mixer_selem_channel_id_t>(ch)))
          channels_.push_back(static_cast<snd_mixer_selem_channel_id_t>(ch));
    }
    if (channels_.empty()) channels_.push_back(SND_MIXER_SCHN_MONO);
    if (hasVolume_) snd_mixer_selem_get_playback_volume_range(e, &min_, &max_);
  }

  snd_mixer_elem_t* elem() const { return elem_; }
  // The card removed the element (unplugged): every later access fails safely.
  void Forget() { elem_ = nullptr; }
  AlsaCard* owner = nullptr;

  std::string Name() const override { return name_; }
  bool HasVolume() const override { return hasVolume_; }
  bool HasSwitch() const override { return hasSwitch_; }
  int Channels() const override { return static_cast<int>(channels_.size()); }
  void Range(long* min, long* max) const override {
    *min = min_;
    *max = max_;
  }
  bool GetVolume(int channel, long* raw) const override {
    return elem_ && hasVolume_ && ValidChannel(channel) &&
           snd_mixer_selem_get_playback_volume(elem_, channels_[static_cast<size_t>(channel)], raw) == 0;
  }
  bool SetVolume(int channel, long raw) override {
    if (!elem_ || !hasVolume_ || !ValidChannel(channel)) return false;
    const auto id = channels_[static_cast<size_t>(channel)];
    return Check("set the volume of", snd_mixer_selem_set_playback_volume(elem_, id, raw));
  }
  bool GetSwitch(int channel, bool* on) const override {
    int v = 1;
    if (!elem_ || !hasSwitch_ || !ValidChannel(channel) ||
        snd_mixer_selem_get_playback_switch(elem_, channels_[static_cast<size_t>(channel)], &v) != 0)
      return false;
    *on = v != 0;
    return true;
  }
  bool SetSwitch(bool on) override {
    return elem_ && hasSwitch_ && Check("switch", snd_mixer_selem_set_playback_switch_all(elem_, on ? 1 : 0));
  }

 private:
  // A change the card refuses is logged; the caller gets a failure, as the mixer functions say.
  bool Check(const char* what, int err) const {
    if (err < 0) LogError("mixer", "cannot %s %s: %s", what, name_.c_str(), snd_strerror(err));
    return err == 0;
  }
  bool ValidChannel(int channel) const { return channel >= 0 && channel < Channels(); }
  snd_mixer_elem_t* elem_;
  std::string name_;
  bool hasVolume_;
  bool hasSwitch_;
  long min_ = 0;
  long max_ = 0;
  std::vector<snd_mixer_selem_channel_id_t> channels_;
};

class AlsaCard : public ElementMixer {
 public:
  AlsaCard(snd_mixer_t* mixer, std::string name, std::vector<std::unique_ptr<Element>> elements)
      : ElementMixer(std::move(name), std::move(elements), MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, false),
        mixer_(mixer) {
    for (size_t i = 0; i < ElementCount(); ++i) {
      auto* a = static_cast<AlsaElement*>(ElementAt(i));
      a->owner = this;
      snd_mixer_elem_set_callback_private(a->elem(), a);
      snd_mixer_elem_set_callback(a->elem(), &AlsaCard::OnElementEvent);
    }
    Watch();
  }

  ~AlsaCard() override {
    notifiers_.clear();
    snd_mixer_close(mixer_);
  }

 private:
  static int OnElementEvent(snd_mixer_elem_t* e, unsigned int mask) {
    auto* a = static_cast<AlsaElement*>(snd_mixer_elem_get_callback_private(e));
    if (!a) return 0;
    if (mask == SND_CTL_EVENT_MASK_REMOVE) {
      a->Forget();
      return 0;
    }
    if (mask & SND_CTL_EVENT_MASK_VALUE) a->owner->ElementChanged(a);
    return 0;
  }

  // Events are read on the UI thread, so notices reach windows in the order changes happened.
  void Watch() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) return;
    const int n = snd_mixer_poll_descriptors_count(mixer_);
    if (n <= 0) return;
    std::vector<pollfd> fds(static_cast<size_t>(n));
    if (snd_mixer_poll_descriptors(mixer_, fds.data(), static_cast<unsigned>(n)) <= 0) return;
    for (const pollfd& p : fds) {
      auto sn = std::make_unique<QSocketNotifier>(p.fd, QSocketNotifier::Read);
      QObject::connect(sn.get(), &QSocketNotifier::activated, sn.get(), [this] { HandleEvents(); });
      notifiers_.push_back(std::move(sn));
    }
  }

  void HandleEvents() {
    if (const int err = snd_mixer_handle_events(mixer_); err < 0) {
      // The card went away: stop watching rather than spin on a dead descriptor.
      LogError("mixer", "%s stopped answering (%s); its changes are no longer followed", Name().c_str(),
               snd_strerror(err));
      for (auto& sn : notifiers_) sn->setEnabled(false);
    }
  }

  snd_mixer_t* mixer_;
  std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
};

std::shared_ptr<Device> OpenCard(int card) {
  const std::string hw = "hw:" + std::to_string(card);
  snd_mixer_t* mixer = nullptr;
  int err = snd_mixer_open(&mixer, 0);
  if (err < 0) {
    LogError("mixer", "cannot open a mixer for %s: %s", hw.c_str(), snd_strerror(err));
    return nullptr;
  }
  if ((err = snd_mixer_attach(mixer, hw.c_str())) < 0 ||
      (err = snd_mixer_selem_register(mixer, nullptr, nullptr)) < 0 || (err = snd_mixer_load(mixer)) < 0) {
    LogError("mixer", "cannot read the mixer of %s: %s", hw.c_str(), snd_strerror(err));
    snd_mixer_close(mixer);
    return nullptr;
  }
  // Event reads must not block the UI thread once the pending events are consumed.
  snd_hctl_t* hctl = nullptr;
  if (snd_mixer_get_hctl(mixer, hw.c_str(), &hctl) == 0) snd_hctl_nonblock(hctl, 1);

  std::vector<std::unique_ptr<Element>> elements;
  for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e; e = snd_mixer_elem_next(e)) {
    if (!snd_mixer_selem_is_active(e)) continue;
    if (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e))
      elements.push_back(std::make_unique<AlsaElement>(e));
  }
  std::vector<const Element*> view;
  for (const auto& e : elements) view.push_back(e.get());
  if (ChooseElements(view).speakers < 0) {
    snd_mixer_close(mixer);
    return nullptr;
  }
  std::string name = hw;
  char* cardName = nullptr;
  if (snd_card_get_name(card, &cardName) == 0 && cardName) {
    name = cardName;
    std::free(cardName);
  }
  return std::make_shared<AlsaCard>(mixer, std::move(name), std::move(elements));
}

}  // namespace

std::vector<std::shared_ptr<Device>> OpenAlsaCards() {
  std::vector<std::shared_ptr<Device>> out;
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0)
    if (auto d = OpenCard(card)) out.push_back(std::move(d));
  return out;
}

}  // namespace orv::mixer
