// A V4L2 capture driver played under the real-card code through its device calls.
#pragma once

#include "platform/media/devices/v4l2device.h"

#include <cstdint>
#include <linux/videodev2.h>
#include <algorithm>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace orv::test {

class FakeV4l2 {
 public:
  struct Input {
    std::string name;
    std::uint32_t type = V4L2_INPUT_TYPE_CAMERA;
    bool hasStd = true;  // V4L2_IN_CAP_STD, all standards
    std::uint32_t status = 0;  // V4L2_IN_ST_NO_SIGNAL ...
  };
  // A TV card with tuner, Composite and S-Video that powers up in PAL-B/G and offers YUYV.
  std::vector<Input> inputs = {{"Television", V4L2_INPUT_TYPE_TUNER}, {"Composite1"}, {"S-Video"}};
  std::vector<std::uint32_t> formats = {V4L2_PIX_FMT_YUYV};
  v4l2_std_id std = V4L2_STD_PAL_BG;
  bool queryStd = true;                      // VIDIOC_QUERYSTD exists
  std::map<int, v4l2_std_id> detected;       // what it finds on an input; else V4L2_STD_UNKNOWN
  bool scaler = true;                        // takes any size; else the standard's 720 wide
  std::uint32_t fixedWidth = 0, fixedHeight = 0;  // a camera's only size
  std::uint32_t padding = 0;                 // bytes after each line
  std::uint32_t field = V4L2_FIELD_INTERLACED;  // what it answers to any field asked for
  REFERENCE_TIME period = 333667;            // from VIDIOC_G_PARM; 0: no such request
  bool rateSettable = false;                 // V4L2_CAP_TIMEPERFRAME: VIDIOC_S_PARM sets the period
  REFERENCE_TIME pace = 0;                   // frame times in its buffers (0: the period's)
  std::uint32_t stampSource = V4L2_BUF_FLAG_TSTAMP_SRC_EOF;  // what its stamps mark: a picture's end or start
  bool stamped = true;                       // else no stamps, and pictures come in real time, each once it ended
  int frames = 8;                            // buffers it fills after STREAMON, then no more
  std::vector<int> lose;                     // pictures (or fields) it misses: their numbers pass unfilled
  std::vector<int> flag;                     // pictures it delivers flagged as bad (V4L2_BUF_FLAG_ERROR)
  int eioAfter = 0;                          // after this many buffers, dequeues fail with EIO until STREAMON
  std::map<unsigned long, int> fail;         // request -> errno
  int mmapErrno = 0;                         // for every mapping

  FakeV4l2();
  ~FakeV4l2();
  orv::media::V4l2Calls Calls();
  std::mutex mutex;
  // Buffers handed out, given back by the program and mapped now; VIDIOC_S_STD calls refused.
  int input = 0, filled = 0, requeued = 0, mapped = 0, stdSetWhileStreaming = 0;
  std::vector<std::string> log;    // "S_STD", "QUERYSTD", "S_INPUT 2", "STREAMON" ...
  v4l2_std_id Std();
  bool Streaming();
  // Waits (at most 10 s) until the program has given back every buffer the driver filled.
  bool WaitDrained();
  // The picture format set last (VIDIOC_S_FMT).
  v4l2_pix_format Pix() { return std::lock_guard(mutex), m_pix; }
  // When picture (or field) n began on the monotonic clock; its sequence number is in the first
  // chroma byte of each YUYV line.
  REFERENCE_TIME Began(int n) { return std::lock_guard(mutex), m_t0 + n * Span(); }

  // Luma of line y of h: bright in the top eighth (the mark), then alternating (a wrong field order shows).
  static int Luma(std::uint32_t y, std::uint32_t h) { return y < h / 8 ? 235 : (y % 2 ? 76 : 16); }

 private:
  int Ioctl(unsigned long request, void* arg);
  bool Ready() const;
  void Fill(std::vector<BYTE>& buffer, v4l2_buffer* b);
  void Fit(v4l2_pix_format* pix) const;
  REFERENCE_TIME Span() const;  // of a picture, or of a field one by one

  int m_fd = -1;
  v4l2_pix_format m_pix{};
  std::vector<std::vector<BYTE>> m_buffers;
  std::vector<int> m_queue;  // queued buffer indexes, in order
  bool m_streaming = false;
  REFERENCE_TIME m_t0 = 0;
  int m_next = 0;  // the next frame (or field) to draw
};

}  // namespace orv::test
