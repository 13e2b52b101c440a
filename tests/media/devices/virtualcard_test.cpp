// The virtual card: card descriptions, and its streams on the graph's clock.
#include "platform/media/devices/virtualsignal.h"
#include "platform/media/writer/teletext.h"
#include "platform/media/writer/wss.h"
#include "tests/media/mediarig.h"
#include "tests/support/uitest.h"

#include <QThread>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <gtest/gtest.h>

using orv::test::AttachSink;
using orv::test::BindDevice;
using orv::test::GraphRig;
using orv::test::PumpUntil;
using orv::test::UseCard;

namespace {

TEST(Devices, BadDescriptionsAreRefusedWithAMessageAndTheDefaultCardApplies) {
  orv::test::ComScope com;
  const std::pair<const char*, const char*> bad[] = {
      {"{\"crossbars\": [", "not valid JSON"}, {R"({"preview": false})", "unknown key \"preview\""}, {R"([1, 2])", "expected an object"},
      {R"({"crossbars": [{"inputs": [{"type": 1, "related": 5}], "outputs": [{"type": 12}]}]})", "related"},
      {R"({"crossbars": [{"inputs": [{"type": 1, "from": "crossbar0"}], "outputs": [{"type": 12}]}]})", "from"},
      {R"({"tuner": {"antenna": [69, 2]}})", "first channel above last"},
      {R"({"procamp": {"hue": {"min": 0, "max": 10, "default": 11}}})", "outside"},
      {R"({"format": {"width": 0}})", "out of range"}, {R"({"faults": [{"op": "Run", "hr": "bogus"}]})", "integer"},
      {R"({"luma_range": [200, 100]})", "darkest above brightest"}, {R"({"tone_dbfs": [-6, 3]})", "from -120 to 0"},
      {R"({"captions": ["A caption longer than one row of the screen"]})", "too long"}, {R"({"captions": "Hi"})", "array"},
      {R"({"aspect": "21:9"})", "expected \"4:3\""}, {R"({"aspect_until_s": -1})", "out of range"},
      {R"({"teletext_page": 99})", "out of range"},
  };
  for (const auto& [json, why] : bad) {
    UseCard(json);
    EXPECT_NE(std::string::npos, orv::media::DeviceLoadError().find(why)) << json << " -> " << orv::media::DeviceLoadError();
    EXPECT_TRUE(BindDevice(CLSID_VideoInputDeviceCategory, 0)) << "the default card";
  }
  UseCard(R"({"procamp": {"hue": {"min": -2147483648, "max": 2147483647}}})");  // the widest range is taken
  EXPECT_EQ("", orv::media::DeviceLoadError());
  setenv("ORVANE_VIRTUAL_CARD", "/nonexistent/card.json", 1);
  orv::media::ReloadDevices();
  EXPECT_NE(std::string::npos, orv::media::DeviceLoadError().find("cannot read"));
  // A good description's faults are installed with the card.
  UseCard(R"({"faults": [{"op": "BindToObject", "hr": "0x80070005"}]})");
  EXPECT_EQ("", orv::media::DeviceLoadError());
  EXPECT_EQ(nullptr, BindDevice(CLSID_VideoInputDeviceCategory, 0).Get());
  UseCard("");
}

TEST(VirtualCard, CapturePinSendsFramesOnTheSlotsOfTheRateAndCountsTheRest) {
  UseCard("");
  GraphRig rig;
  orv::test::SetRate(rig.config, 667111);
  auto sink = AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 4; }, 10000));
  ASSERT_EQ(S_OK, rig.control->Stop());
  const std::size_t n = sink->Count();
  auto nothingMore = [&](std::size_t count, int ms) { QThread::msleep(ms); EXPECT_EQ(count, sink->Count()); };
  nothingMore(n, 200);  // after it stopped

  EXPECT_EQ(667111, sink->vih.AvgTimePerFrame);
  for (std::size_t i = 0; i < n; ++i) {
    EXPECT_EQ(640u * 480 * 2, sink->data[i].size());
    EXPECT_EQ(0, sink->starts[i] % 667111) << i;  // frame slots of the forced rate
    EXPECT_EQ(sink->starts[i] + 667111, sink->stops[i]);
    EXPECT_GT(sink->starts[i], i ? sink->starts[i - 1] : -1);
  }
  // Every frame delivered is counted, and the slots left out are the drops.
  ComPtr<IAMDroppedFrames> dropped;
  LONG notDropped = -1, lost = -1;
  ASSERT_EQ(S_OK, dropped.QueryFrom(rig.capture));
  dropped->GetNumNotDropped(&notDropped), dropped->GetNumDropped(&lost);
  EXPECT_EQ(static_cast<LONG>(n), notDropped);
  EXPECT_EQ(sink->starts.back() / 667111 + 1, notDropped + lost);

  // Held back by stream control, nothing flows; a sink taken out of the running graph gets nothing.
  REFERENCE_TIME never = MAXLONGLONG;
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, &never, nullptr, 0, 0));
  ASSERT_EQ(S_OK, rig.control->Run());
  nothingMore(n, 300);
  ASSERT_EQ(S_OK, rig.builder->ControlStream(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, &never, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return sink->Count() > n; }, 10000));
  EXPECT_EQ(S_OK, rig.graph->RemoveFilter(static_cast<IBaseFilter*>(sink.Get())));
  nothingMore(sink->Count(), 200);
}

// The picture from its start latency on the frame slots, the sound (a tenth of a second a buffer)
// from the start on the fast sound clock.
TEST(VirtualCard, StreamsFollowTheClocksOfTheDescription) {
  UseCard(R"({"video_start_latency_ms": 150, "audio_clock_ppm": 20000, "sync_marks": true, "clock_speed": 4})");
  GraphRig rig;
  ComPtr<IBaseFilter> audio = BindDevice(CLSID_AudioInputDeviceCategory, 0);
  ASSERT_EQ(S_OK, rig.graph->AddFilter(audio, nullptr));
  auto sound = AttachSink(rig.graph, audio, PIN_CATEGORY_CAPTURE);
  auto picture = AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return sound->Count() >= 12 && picture->Count() >= 40; }, 10000));
  rig.control->Stop();
  constexpr REFERENCE_TIME kSlot = 333667;  // 29.97 frames per second
  EXPECT_GE(picture->starts[0], 1500000);  // from 150 ms (slot 5, unless the machine was too busy for it)
  EXPECT_LT(picture->starts[0], 8 * kSlot);
  for (std::size_t i = 0; i < picture->starts.size(); ++i) EXPECT_EQ(0, picture->starts[i] % kSlot) << i;
  EXPECT_EQ(MEDIATYPE_Audio, sound->major);
  for (std::size_t i = 0; i < sound->starts.size(); ++i) {
    EXPECT_NEAR(i * 1000000 / 1.02, sound->starts[i], 1) << i;
    EXPECT_EQ(4410u * 4, sound->data[i].size());
  }
}

TEST(VirtualCard, DecoderFollowsTheStandardAndTheFullSizeIsDelivered) {
  struct Step { const char* standard; LONG lines; AM_FIELD_ORDER order; LONG height; REFERENCE_TIME period; } steps[] = {
      {"", 525, AM_FIELDS_BOTTOM_FIRST, 480, 333667} /* none put */, {"PAL-BG", 625, AM_FIELDS_TOP_FIRST, 576, 400000},
      {"NTSC-M", 525, AM_FIELDS_BOTTOM_FIRST, 480, 333667}};
  UseCard("");
  GraphRig rig;
  ComPtr<IAMTVStandard> standard;
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(S_OK, standard.QueryFrom(rig.capture));
  ASSERT_EQ(S_OK, decoder.QueryFrom(rig.capture));
  orv::test::SetFullSize(rig.config, 480, 333667);
  for (const Step& c : steps) {
    SCOPED_TRACE(c.standard);
    if (*c.standard) ASSERT_EQ(S_OK, standard->put_Standard(c.standard, "NTSC-M"));
    LONG lines = -1;
    AM_FIELD_ORDER order = AM_FIELDS_UNKNOWN;
    EXPECT_EQ(std::pair(S_OK, S_OK), std::pair(decoder->get_NumberOfLines(&lines), decoder->get_FieldOrder(&order)));
    EXPECT_EQ(std::pair(c.lines, c.order), std::pair(lines, order));
    auto sink = AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
    ASSERT_EQ(S_OK, rig.control->Run());
    ASSERT_TRUE(PumpUntil([&] { return sink->Count() >= 3; }, 10000));
    rig.control->Stop();
    std::lock_guard lock(sink->mutex);
    EXPECT_EQ((std::pair<LONG, LONG>(720, c.height)), std::pair(sink->vih.bmiHeader.biWidth, sink->vih.bmiHeader.biHeight));
    for (std::size_t i = 0; i < sink->starts.size(); ++i) {
      EXPECT_EQ(720u * c.height * 2, sink->data[i].size());
      EXPECT_EQ(0, sink->starts[i] % c.period) << i;
    }
    rig.graph->RemoveFilter(static_cast<IBaseFilter*>(sink.Get()));
  }
}

// signal_off_after_s on the card's clock: the picture turns to snow, the decoder loses its lock and
// the tuner finds nothing; stopped, the card has its signal again.
TEST(VirtualCard, TheSignalGoesAfterTheTimeTheDescriptionGives) {
  UseCard(R"({"signal_off_after_s": 1, "clock_speed": 4})");
  GraphRig rig;
  ComPtr<IAMAnalogVideoDecoder> decoder;
  ComPtr<IAMTVTuner> tuner;
  ASSERT_EQ(S_OK, decoder.QueryFrom(rig.capture));
  ASSERT_EQ(S_OK, rig.builder->FindInterface(&PIN_CATEGORY_CAPTURE, rig.capture, IID_PPV_ARGS(&tuner)));
  ASSERT_EQ(S_OK, tuner->put_Channel(7, -1, -1));  // a channel with a signal
  auto locked = [&] { LONG l = -1; return decoder->get_HorizontalLocked(&l), l; };
  auto found = [&] { LONG f = -1; return tuner->AutoTune(7, &f), f; };
  auto sink = AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  EXPECT_EQ((std::pair<LONG, LONG>(1, AMTUNER_SIGNALPRESENT)), std::pair(locked(), found()));
  ASSERT_TRUE(PumpUntil([&] { std::lock_guard l(sink->mutex); return !sink->starts.empty() && sink->starts.back() > 15000000; }, 10000));
  EXPECT_EQ((std::pair<LONG, LONG>(0, AMTUNER_NOSIGNAL)), std::pair(locked(), found()));
  rig.control->Stop();
  EXPECT_EQ(1, locked());
  // Snow: neighbouring pixels of a flat background differ.
  std::lock_guard lock(sink->mutex);
  for (std::size_t i = 0; i < sink->data.size(); ++i) {
    int jumps = 0;
    for (int x = 0; x + 2 < 640 * 2; x += 2) jumps += std::abs(sink->data[i][4 * 640 + x] - sink->data[i][4 * 640 + x + 2]);
    EXPECT_EQ(sink->starts[i] >= 10000000, jumps > 640 * 10) << "frame at " << sink->starts[i];
  }
}

// The card keeps its picture between frames while nothing but the moving box changes: whatever came
// before (another channel, other controls, snow, a white flash over the buffer), each frame is what
// a card drawing it afresh would send.
TEST(VirtualCard, AKeptPictureIsWhatAFreshDrawingGives) {
  using orv::media::PictureState;
  PictureState tuner;
  tuner.input = PictureState::Input::Tuner, tuner.signal = true, tuner.channel = 7, tuner.fields = AM_FIELDS_BOTTOM_FIRST;
  PictureState other = tuner, brighter = tuner, snow = tuner, composite = tuner, none;
  other.channel = 11;
  brighter.brightness = 0.7, brighter.hue = 0.6;
  snow.signal = false;
  composite.input = PictureState::Input::External, composite.connector = PhysConn_Video_Composite;
  const PictureState sequence[] = {tuner, tuner, other, tuner, brighter, brighter, snow, tuner, composite, none, tuner};
  orv::media::PictureGenerator kept;
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{93, 60}}) {
    std::vector<BYTE> a(w * h * 2), b(w * h * 2);
    for (int i = 0; i < static_cast<int>(std::size(sequence)); ++i) {
      SCOPED_TRACE(std::to_string(w) + " wide, picture " + std::to_string(i));
      if (i == 3) orv::media::PictureGenerator::DrawWhiteYUY2(a.data(), w, h);  // a sync mark's flash in between
      kept.DrawYUY2(sequence[i], i, a.data(), w, h);
      if (sequence[i].signal || sequence[i].input == PictureState::Input::None) {
        orv::media::PictureGenerator fresh;
        fresh.DrawYUY2(sequence[i], i, b.data(), w, h);
        const std::size_t row = static_cast<std::size_t>(w & ~1) * 2;  // an odd width leaves a row's last pixel be
        for (int y = 0; y < h; ++y) ASSERT_TRUE(std::equal(&a[y * w * 2], &a[y * w * 2] + row, &b[y * w * 2])) << "row " << y;
      }
    }
  }
}

// The card's VBI is a device of its own, listed under the card's name: line 21 on the pictures'
// frame slots, whose CC1 shows the description's captions in turn, one a second.
TEST(VirtualCard, VbiDeviceSendsTheCaptionsOnThePicturesClock) {
  UseCard(R"({"devices": [{"name": "Card A", "captions": ["One", "Two"], "clock_speed": 4}, {"name": "Card B", "vbi": false}]})");
  GraphRig rig;
  ComPtr<IBaseFilter> vbi = BindDevice(CLSID_VbiInputDeviceCategory, 0);
  ASSERT_TRUE(vbi);
  EXPECT_FALSE(BindDevice(CLSID_VbiInputDeviceCategory, 1)) << "Card B has none";
  ASSERT_EQ(S_OK, rig.graph->AddFilter(vbi, nullptr));
  auto lines = AttachSink(rig.graph, vbi, PIN_CATEGORY_CAPTURE);
  auto pictures = AttachSink(rig.graph, rig.capture, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return lines->Count() >= 100; }, 20000));
  rig.control->Stop();
  EXPECT_EQ(MEDIATYPE_AUXLine21Data, lines->major);
  EXPECT_EQ(MEDIASUBTYPE_CcData, lines->subtype);

  constexpr REFERENCE_TIME kSlot = 333667;
  std::vector<std::pair<double, std::string>> shown;
  double now = 0;
  orv::media::cc::Decoder decoder([&](const auto& rows, double) { shown.emplace_back(now, orv::media::cc::TextOf(rows)); });
  for (std::size_t i = 0; i < lines->Count(); ++i) {
    EXPECT_EQ(0, lines->starts[i] % kSlot) << i;
    ASSERT_EQ(6u, lines->data[i].size());
    now = lines->starts[i] / 1e7;
    decoder.Feed(lines->data[i].data(), 6, now);
  }
  // Each caption ends (its first end-of-caption pair) 8 pairs after its second's first slot.
  ASSERT_GE(shown.size(), 3u);
  for (std::size_t k = 0; k < 3; ++k) {
    const double first = std::ceil(k * 1e7 / kSlot) * kSlot / 1e7;
    EXPECT_NEAR(first + 8 * kSlot / 1e7, shown[k].first, 1e-6) << k;
    EXPECT_EQ(k % 2 ? "Two" : "One", shown[k].second) << k;
  }
  // The pictures are on the same slots.
  ASSERT_GT(pictures->Count(), 0u);
  EXPECT_EQ(0, pictures->starts[0] % kSlot);
  UseCard("");
}

// Under a 625-line standard the VBI carries line 23 (the description's aspect, then 4:3 from its
// time on) on the 25 frame slots a second, and the captions as the teletext subtitle page, one a
// second from the first slot of its second.
TEST(VirtualCard, VbiDeviceSendsWideScreenSignalAndTeletextUnder625Lines) {
  UseCard(R"({"aspect": "16:9", "aspect_until_s": 1, "teletext_page": 888, "captions": ["One", "Two"], "clock_speed": 4})");
  GraphRig rig;
  ComPtr<IAMTVStandard> standard;
  ASSERT_EQ(S_OK, standard.QueryFrom(rig.capture));
  ASSERT_EQ(S_OK, standard->put_Standard("PAL-BG", "NTSC-M"));
  ComPtr<IBaseFilter> vbi = BindDevice(CLSID_VbiInputDeviceCategory, 0);
  ASSERT_TRUE(vbi);
  ASSERT_EQ(S_OK, rig.graph->AddFilter(vbi, nullptr));
  auto lines = AttachSink(rig.graph, vbi, PIN_CATEGORY_CAPTURE);
  ASSERT_EQ(S_OK, rig.control->Run());
  ASSERT_TRUE(PumpUntil([&] { return lines->Count() >= 60; }, 20000));
  rig.control->Stop();
  constexpr REFERENCE_TIME kSlot = 400000, kUntil = 10000000;
  std::set<std::uint16_t> before, after;
  std::vector<std::pair<double, std::string>> shown;
  double now = 0;
  orv::media::ttx::Decoder teletext(orv::media::ttx::kAutoPage,
                                    [&](const auto& rows, double) { shown.emplace_back(now, orv::media::cc::TextOf(rows)); });
  const std::size_t count = lines->Count();  // stopped: no more come
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_EQ(0, lines->starts[i] % kSlot) << i;
    const auto value = orv::media::wss::ValueIn(lines->data[i].data(), lines->data[i].size());
    ASSERT_TRUE(value) << i;
    (lines->starts[i] < kUntil ? before : after).insert(*value);
    now = lines->starts[i] / 1e7;
    teletext.Feed(lines->data[i].data(), lines->data[i].size(), now);
  }
  EXPECT_EQ(std::set<std::uint16_t>{*orv::media::wss::ValueOfName("16:9")}, before);
  EXPECT_EQ(std::set<std::uint16_t>{*orv::media::wss::ValueOfName("4:3")}, after);
  EXPECT_EQ(888, teletext.Page());
  ASSERT_GE(shown.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) EXPECT_EQ(std::pair(static_cast<double>(k), std::string(k ? "Two" : "One")), shown[k]);
  UseCard("");
}

}  // namespace
