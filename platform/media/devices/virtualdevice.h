// Internal: one virtual card's hardware and the filters that drive it.
#pragma once

#include "platform/media/devices/carddesc.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/devices/virtualsignal.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orv::media {

// The card itself. Outlives any filter bound to it, so state survives graph rebuilds like hardware.
class VirtualDevice : public std::enable_shared_from_this<VirtualDevice> {
 public:
  VirtualDevice(DeviceDesc desc, int index);

  const DeviceDesc& Desc() const { return m_desc; }
  // Instance name of one of the card's filters: "Crossbar0", "Tuner" ... ("Tuner#1" on the 2nd card).
  std::string InstanceName(const std::string& base) const;

  HRESULT CreateVideoFilter(IBaseFilter** out);
  HRESULT CreateAudioFilter(IBaseFilter** out);
  HRESULT CreateVbiFilter(IBaseFilter** out);

  // What the card's decoder shows at `cardTime` (on the card's clock since its capture filter ran;
  // -1: now): the input routed to the capture filter, the tuner's channel and signal, and the
  // picture controls.
  PictureState Picture(REFERENCE_TIME cardTime = -1);
  // The capture filter's start on the monotonic clock while it runs, 0 while it is stopped: the
  // description's signal_off_after_s counts from there.
  std::atomic<REFERENCE_TIME> runningSince{0};

  std::mutex mutex;
  std::vector<std::vector<LONG>> routes;
  LONG tunerChannel;
  LONG tunerInputType = TunerInputAntenna;
  LONG procAmp[4];
  std::shared_ptr<StreamFormat> videoFormat;
  std::shared_ptr<StreamFormat> audioFormat;
  // The program's plans by input type (antenna, cable); until given, the description's ranges.
  std::optional<std::vector<TunerChannel>> plans[2];
  std::string standard;

  // Under mutex: the tuned channel's carrier, 0 without a plan or outside it.
  ULONG TunedKHz() const;
  // Under mutex: the description's format is its 525-line picture; a 625-line standard gets 576
  // lines and 25 frames per second. A format at the standard's own size follows the new standard's.
  void ApplyStandard(const std::string& key);
  // Under mutex: the standard's lines, 525 or 625 (the description's picture is 525 lines).
  LONG Lines() const;
  // Not under mutex: how the capture pin's pictures are interlaced (the card is an interlaced one).
  AM_FIELD_ORDER FieldOrder();
  // Whether signal_off_after_s has taken the signal away at `cardTime` (-1: now).
  bool SignalGone(REFERENCE_TIME cardTime) const;
  // Whether the description's no_lock_at_s holds the decoder without lock at `cardTime` (-1: now).
  bool NoLock(REFERENCE_TIME cardTime) const;

 private:
  DeviceDesc m_desc;
  int m_index;
};

}  // namespace orv::media
