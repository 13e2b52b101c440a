// Internal: one V4L2 capture card (the device itself): opened once and kept across graph
// rebuilds as hardware is, its inputs, tuner and picture controls, and mmap streaming on a thread
// of its own. Its filters (the crossbar, the tuner and the capture filter) are in v4l2filters.cpp.
#pragma once

#include "platform/media/devices/realcards.h"
#include "platform/media/devices/v4l2policy.h"
#include "platform/media/graph/filterbase.h"

#include <atomic>
#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <thread>
#include <vector>

namespace orv::media {

// The calls the card code makes on a device, as libavdevice keeps them for libv4l2: libv4l2's
// (and the system's poll) for real cards; tests put a driver of their own underneath.
struct V4l2Calls {
  std::function<int(const char* path, int flags)> open;
  std::function<int(int fd)> close;
  std::function<int(int fd, unsigned long request, void* arg)> ioctl;
  std::function<void*(void* start, std::size_t length, int prot, int flags, int fd, std::int64_t offset)> mmap;
  std::function<int(void* start, std::size_t length)> munmap;
  std::function<int(pollfd* fds, nfds_t count, int timeoutMs)> poll;
};
V4l2Calls LibV4l2Calls();

// The status for a failed device call's errno.
HRESULT DeviceErrorOf(int e);

class V4l2Card : public std::enable_shared_from_this<V4l2Card> {
 public:
  V4l2Card(VideoNode node, int index, V4l2Calls io) : m_node(std::move(node)), m_index(index), m_io(std::move(io)) {}
  ~V4l2Card() {
    StopStreaming();
    if (m_fd >= 0) m_io.close(m_fd);
  }

  const VideoNode& Node() const { return m_node; }
  std::string InstanceName(const std::string& base) const {
    return m_index == 0 ? base : base + "#" + std::to_string(m_index);
  }
  bool Lost() const { return m_lost; }
  bool HasTuner() const { return m_layout.input[kXbarTuner] >= 0; }
  const CrossbarLayout& Layout() const { return m_layout; }
  std::shared_ptr<StreamFormat> Format() const { return m_format; }

  // Opens the device once and reads what it offers; later calls reuse it.
  HRESULT Open();

  // A failure is logged with the call's name, except the answers that only end a list or say
  // "not now" or "not on this card"; errno is kept for the caller.
  int Ioctl(unsigned long request, void* arg);

  // ---- Inputs
  HRESULT SelectVideo(int pin);
  HRESULT SelectAudio(int pin);

  // ---- Tuner
  std::mutex tunerMutex;
  TunerInputType plan = TunerInputAntenna;
  LONG channel = 2;
  TunerPlans plans;
  HRESULT Tune();
  // Signal 0..65535 and AFC as the tuner reports them; false when it cannot be read.
  bool ReadTuner(int* signal, int* afc);
  HRESULT NudgeFrequency(int units);

  // ---- TV standard: chosen 0 is "auto" (detection off the tuner, else fallback). Applied at once.
  HRESULT SetStandard(StdMask chosen, StdMask fallback);
  // S_OK, S_FALSE, or E_NOTIMPL when no input lists its standards.
  HRESULT SupportsStandard(StdMask mask) const;

  // ---- Decoder: the standard's scan lines (E_NOTIMPL on an input without standards), whether
  // the current input has a signal, and how the pictures' fields come.
  HRESULT DecoderLines(LONG* lines);
  HRESULT DecoderLocked(LONG* locked);
  AM_FIELD_ORDER FieldOrder(std::uint32_t firstField);

  // ---- Controls: brightness, contrast, hue and saturation (0..3), in the driver's values
  bool QueryControl(LONG property, DriverRange* r);
  HRESULT SetControl(LONG property, LONG driverValue);
  HRESULT GetControl(LONG property, LONG* driverValue);

  // ---- The pin's format as asked, set on the card (not streaming): the size and pixel format it
  // took are kept, the rate asked stays.
  HRESULT TakeFormat(const AM_MEDIA_TYPE& asked);

  // ---- Streaming: frames go to sink on the card's streaming thread, and so do the stream's events:
  // a stall (no picture for two frame periods), its end (with the milliseconds it lasted), a restart,
  // the decoder's lock lost and regained (read every kLockEvery).
  // Buffers the driver flags as bad are delivered too (V4L2_BUF_FLAG_ERROR in buf.flags).
  using FrameSink = std::function<void(const v4l2_buffer& buf, const BYTE* data, const FrameFormat& format)>;
  enum class StreamEvent { Stalled, Resumed, Restarting, Restarted, LockLost, LockRegained, Lost };
  using EventSink = std::function<void(StreamEvent event, long milliseconds)>;
  HRESULT StartStreaming(FrameSink sink, EventSink events = nullptr);
  void StopStreaming();

  // A card that sends no picture for this long is restarted (off, buffers again, input and standard
  // applied again, on), at most once in kRestartEvery; so is one whose dequeue fails with EIO.
  static constexpr auto kRestartAfter = std::chrono::seconds(2);
  static constexpr auto kRestartEvery = std::chrono::seconds(5);
  static constexpr auto kLockEvery = std::chrono::milliseconds(500);

 private:
  // Picks the picture format and size for the standard in force; sets the pin's format.
  HRESULT ChooseFormat();
  // Sets the pin's current format (size, pixel format, frame rate) on the device; fills m_frame.
  HRESULT ApplyFormat();
  // Sets the pin's size and pixel format on the device; f: what the driver took (G_FMT after
  // S_FMT). S_FALSE when it refused to change (busy): f is then what it has.
  HRESULT SetOnCard(v4l2_format* f);
  // The TV standard for the input just selected (not streaming); true when the one in force changed.
  bool ApplyStandard(int input, StdMask planStandard);
  HRESULT StartLocked();
  void StopLocked();
  // Buffers requested, mapped and queued, and the stream on; what fails is released again.
  HRESULT BeginStream();
  // The stream off and its buffers released.
  void EndStream();
  // On the streaming thread: the stream begun afresh; false when the card is gone or busy stopping.
  bool Restart();
  void Loop();

  StdMask m_chosenStd = 0;
  StdMask m_fallbackStd = PlanStandard(TunerInputAntenna);
  VideoNode m_node;
  int m_index;
  V4l2Calls m_io;
  std::mutex m_openMutex;
  int m_fd = -1;
  std::atomic<bool> m_lost{false};
  bool m_lowUnits = false;
  std::uint32_t m_tunerIndex = 0;
  std::vector<CardInput> m_inputs;
  CrossbarLayout m_layout;
  std::shared_ptr<StreamFormat> m_format;
  const PixelKind* m_kind = &RgbKind();  // the card's format the pin's format stands for
  REFERENCE_TIME m_cardPeriod = 0;       // the frame duration the card (or its standard) gives

  std::mutex m_streamMutex;  // start, stop and input changes
  FrameSink m_sink;
  EventSink m_events;
  bool m_streaming = false;
  std::thread m_thread;
  int m_wake[2] = {-1, -1};
  struct Buffer {
    void* start = MAP_FAILED;
    std::size_t length = 0;
  };
  std::vector<Buffer> m_buffers;
  FrameFormat m_frame;
};

// The card's capture filter, the card opened first.
HRESULT NewV4l2CaptureFilter(const std::shared_ptr<V4l2Card>& card, IBaseFilter** out);

}  // namespace orv::media
