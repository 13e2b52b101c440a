// Internal: the sound meters and the live picture's levels that a graph's filters measure for
// ISignalLevels. The streaming threads hand in what they pass on; the measuring of pictures runs
// on a worker of its own, at most ten times a second, so neither the recording nor the window
// that shows the levels waits for it.
#pragma once

#include "platform/levels.h"
#include "platform/media/com/dshow.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orv::media {

// Sample peaks per channel of 16-bit PCM, with a two-second hold and a clip mark that stays until
// cleared. Times are on any one clock (the monotonic clock in the graph). Not thread-safe.
class SoundMeter {
 public:
  static constexpr REFERENCE_TIME kPeakWindow = 2500000;  // a peak shows this long (a quarter second)
  static constexpr REFERENCE_TIME kHold = 20000000;       // the hold: two seconds
  static constexpr REFERENCE_TIME kStale = 10000000;      // no sound for a second: nothing to show

  // Interleaved samples; other sample formats are not measured (false).
  bool Add(const WAVEFORMATEX& format, const BYTE* data, std::size_t size, REFERENCE_TIME now);
  SoundLevels Read(REFERENCE_TIME now) const;
  void ClearClip();

 private:
  struct Block {
    REFERENCE_TIME at;
    int peak[kMeterChannels];  // largest magnitude, 0..32768
  };
  std::deque<Block> m_blocks;  // the last kHold of them
  int m_channels = 0;
  bool m_clipped[kMeterChannels] = {};
};

// The luma of a picture of one of the card's formats, top-down, width × height bytes. False for a
// type it cannot read (MJPG) or sizes the data does not hold.
bool ExtractLuma(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height,
                 std::vector<BYTE>* luma);
// YMIN, YMAX, BRNG, histogram and waveform of a luma plane.
void MeasureLuma(const BYTE* luma, int width, int height, PictureLevels* out);

// Measures pictures offered to it, while watched, on a thread of its own.
class PictureAnalyser {
 public:
  static constexpr REFERENCE_TIME kEvery = 1000000;  // at most ten pictures a second

  PictureAnalyser() = default;
  PictureAnalyser(const PictureAnalyser&) = delete;
  PictureAnalyser& operator=(const PictureAnalyser&) = delete;
  ~PictureAnalyser();

  // Unwatched, offered pictures cost nothing; watching again starts from no measurement.
  void Watch(bool on);
  // Streaming thread: copies the picture when one is due and the worker is free, else leaves it.
  void Offer(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height, REFERENCE_TIME now);
  // The latest measurement; false when there is none since watching began.
  bool Read(PictureLevels* out) const;

 private:
  void Work();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_worker;
  bool m_watching = false;
  bool m_stop = false;
  bool m_pending = false;  // m_frame waits for the worker
  bool m_measured = false;
  REFERENCE_TIME m_lastTaken = 0;
  std::vector<BYTE> m_frame;
  GUID m_subtype = GUID_NULL;
  int m_width = 0, m_height = 0;
  std::unique_ptr<PictureLevels> m_result = std::make_unique<PictureLevels>();
};

// What one graph measures: its filters find it through LevelsTapOf (graph.h).
class LevelsTap {
 public:
  void Watch(bool on) { m_picture.Watch(on); }
  void OfferPicture(const GUID& subtype, const BYTE* data, std::size_t size, int width, int height);
  bool ReadPicture(PictureLevels* out) const { return m_picture.Read(out); }
  // A sound sample of any type; only PCM is measured. The sound going into a file (`recorded`)
  // is what the meters show while there is some; the sound played through only otherwise.
  void OfferSound(const AM_MEDIA_TYPE* type, const BYTE* data, std::size_t size, bool recorded);
  static constexpr REFERENCE_TIME kRecordedFirst = 10000000;  // a second since the last recorded
  SoundLevels ReadSound() const;
  void ClearClip();

 private:
  PictureAnalyser m_picture;
  mutable std::mutex m_soundMutex;
  SoundMeter m_meter;
  REFERENCE_TIME m_lastRecorded = 0;
};

}  // namespace orv::media
