// COM core, device enumeration and the card descriptions.
#include "platform/media/devices/carddesc.h"
#include "tests/media/mediarig.h"

#include <gtest/gtest.h>

using orv::test::BindDevice;
using orv::test::UseCard;

namespace {

struct ComScope {
  ComScope() { CoInitialize(nullptr); }
  ~ComScope() { CoUninitialize(); }
};

std::vector<std::string> DeviceNames(const GUID& category, HRESULT* result = nullptr) {
  ComPtr<ICreateDevEnum> devEnum;
  CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum));
  ComPtr<IEnumMoniker> e;
  const HRESULT hr = devEnum->CreateClassEnumerator(category, &e, 0);
  if (result) *result = hr;
  std::vector<std::string> names;
  if (hr != S_OK) return names;
  e->Reset();
  ComPtr<IMoniker> m;
  while (e->Next(1, &m, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(S_OK, m->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)));
    EXPECT_EQ(S_OK, bag->Read(u"FriendlyName", &v, nullptr));
    names.push_back(orv::media::Narrow(v.bstrVal));
    VariantClear(&v);
  }
  // Past the end Next keeps saying S_FALSE and hands nothing out.
  IMoniker* extra = reinterpret_cast<IMoniker*>(1);
  ULONG fetched = 7;
  IMoniker* out[1] = {extra};
  EXPECT_EQ(S_FALSE, e->Next(1, out, &fetched));
  EXPECT_EQ(0u, fetched);
  return names;
}

}  // namespace

TEST(Com, CreationNeedsInitialisationAndKnowsOnlyItsClasses) {
  ComPtr<IGraphBuilder> graph;
  EXPECT_EQ(CO_E_NOTINITIALIZED,
            CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
  EXPECT_EQ(S_OK, CoInitialize(nullptr));
  EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
  EXPECT_EQ(REGDB_E_CLASSNOTREG,
            CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
  EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)));
  ComPtr<IMediaControl> control;
  EXPECT_EQ(S_OK, control.QueryFrom(graph));
  ComPtr<IAMCrossbar> notThere;
  EXPECT_EQ(E_NOINTERFACE, notThere.QueryFrom(graph));
  EXPECT_FALSE(notThere);
  control.Reset();
  graph.Reset();
  CoUninitialize();
  CoUninitialize();
}

TEST(Com, IdentifiersHaveTheirPublishedValues) {
  const std::pair<const char*, const GUID*> published[] = {
      {"{FB6C4283-0353-11D1-905F-0000C0CC16BA}", &PIN_CATEGORY_ANALOGVIDEOIN},
      {"{C6E13380-30AC-11D0-A18C-00A0C9118956}", &IID_IAMCrossbar},
      {"{211A8766-03AC-11D1-8D13-00AA00BD8339}", &IID_IAMTVTuner},
      {"{860BB310-5D01-11D0-BD3B-00A0C911CE86}", &CLSID_VideoInputDeviceCategory},
      {"{33D9A762-90C8-11D0-BD43-00A0C911CE86}", &CLSID_AudioInputDeviceCategory},
      {"{BF87B6E0-8C27-11D0-B3F0-00AA003761C5}", &CLSID_CaptureGraphBuilder},
      {"{73646976-0000-0010-8000-00AA00389B71}", &MEDIATYPE_Video},
      {"{05589F80-C356-11CE-BF01-00AA0055595A}", &FORMAT_VideoInfo},
  };
  for (const auto& [text, guid] : published) {
    GUID parsed;
    ASSERT_TRUE(orv::media::ParseGuid(text, &parsed)) << text;
    EXPECT_EQ(*guid, parsed) << text;
  }
  EXPECT_EQ("IID_IAMStreamConfig", orv::media::GuidName(IID_IAMStreamConfig));
  EXPECT_EQ(0x4027E, VFW_S_NOPREVIEWPIN);
  GUID g;
  EXPECT_FALSE(orv::media::ParseGuid("{FB6C4283-0353-11D1-905F-0000C0CC16BA}x", &g));
}

TEST(Devices, CategoriesListTheVirtualCardsInTheirOrder) {
  ComScope com;
  UseCard("");
  EXPECT_EQ((std::vector<std::string>{"Orvane Virtual TV Card"}), DeviceNames(CLSID_VideoInputDeviceCategory));
  EXPECT_EQ((std::vector<std::string>{"Orvane Virtual TV Card Audio"}), DeviceNames(CLSID_AudioInputDeviceCategory));

  UseCard(R"({"devices": [{"name": "A"}, {"name": "B", "audio": false}, {"name": "C"}]})");
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), DeviceNames(CLSID_VideoInputDeviceCategory));
  EXPECT_EQ((std::vector<std::string>{"A Audio", "C Audio"}), DeviceNames(CLSID_AudioInputDeviceCategory));
  // The same index picks the same device every time.
  ComPtr<IBaseFilter> c1 = BindDevice(CLSID_VideoInputDeviceCategory, 2), c2 = BindDevice(CLSID_VideoInputDeviceCategory, 2);
  FILTER_INFO i1{}, i2{};
  c1->QueryFilterInfo(&i1);
  c2->QueryFilterInfo(&i2);
  EXPECT_EQ(orv::media::Narrow(i1.achName), orv::media::Narrow(i2.achName));
  EXPECT_EQ("VideoCapture#2", orv::media::Narrow(i1.achName));
  EXPECT_EQ(nullptr, BindDevice(CLSID_VideoInputDeviceCategory, 3).Get());
}

TEST(Devices, EmptyCategoryGivesSFalseAndNoEnumerator) {
  ComScope com;
  UseCard(R"({"audio": false})");
  HRESULT hr = S_OK;
  EXPECT_TRUE(DeviceNames(CLSID_AudioInputDeviceCategory, &hr).empty());
  EXPECT_EQ(S_FALSE, hr);
  DeviceNames(MEDIATYPE_Video, &hr);  // not a device category
  EXPECT_EQ(S_FALSE, hr);
  setenv("ORVANE_DEVICES", "real", 1);  // no real devices in the test environment
  DeviceNames(CLSID_VideoInputDeviceCategory, &hr);
  EXPECT_EQ(S_FALSE, hr);
  UseCard("");
}

TEST(Devices, BadDescriptionsAreRefusedWithAMessageAndTheDefaultCardApplies) {
  const std::pair<const char*, const char*> bad[] = {
      {"{\"crossbars\": [", "not valid JSON"},
      {R"({"preview": false})", "unknown key \"preview\""},
      {R"({"crossbars": [{"inputs": [{"type": 1, "related": 5}], "outputs": [{"type": 12}]}]})", "related"},
      {R"({"crossbars": [{"inputs": [{"type": 1, "from": "crossbar0"}], "outputs": [{"type": 12}]}]})", "from"},
      {R"({"tuner": {"antenna": [69, 2]}})", "first channel above last"},
      {R"({"procamp": {"hue": {"min": 0, "max": 10, "default": 11}}})", "outside"},
      {R"({"format": {"width": 0}})", "out of range"},
      {R"({"faults": [{"op": "Run", "hr": "bogus"}]})", "integer"},
      {R"([1, 2])", "expected an object"},
  };
  ComScope com;
  for (const auto& [json, why] : bad) {
    UseCard(json);
    EXPECT_NE(std::string::npos, orv::media::DeviceLoadError().find(why)) << json << " -> " << orv::media::DeviceLoadError();
    EXPECT_EQ((std::vector<std::string>{"Orvane Virtual TV Card"}), DeviceNames(CLSID_VideoInputDeviceCategory));
  }
  setenv("ORVANE_VIRTUAL_CARD", "/nonexistent/card.json", 1);
  orv::media::ReloadDevices();
  EXPECT_NE(std::string::npos, orv::media::DeviceLoadError().find("cannot read"));
  UseCard("");
  EXPECT_EQ("", orv::media::DeviceLoadError());
}

TEST(Devices, DescriptionFaultsAndValuesAreParsed) {
  std::string error;
  auto set = orv::media::ParseCardSet(R"({"devices": [{"format": {"major": "interleaved", "fps": 25},
      "procamp": {"saturation": null, "brightness": {"min": -100, "max": 100}}, "tuner": null}],
      "faults": [{"op": "AddFilter:AudioCapture", "hr": "0x80004005", "skip": 1, "times": 2},
                 {"op": "Run", "hr": -2147467259}, {"op": "Stop", "hr": "VFW_E_NOT_FOUND"}]})",
                                      &error);
  ASSERT_TRUE(set) << error;
  const auto& d = set->devices[0];
  EXPECT_EQ(MEDIATYPE_Interleaved, d.format.major);
  EXPECT_EQ(400000, d.format.avgTimePerFrame);
  EXPECT_FALSE(d.procAmp[3].present);
  EXPECT_EQ(0, d.procAmp[0].def);
  EXPECT_FALSE(d.tuner.has_value());
  ASSERT_EQ(3u, set->faults.size());
  EXPECT_EQ(E_FAIL, set->faults[0].hr);
  EXPECT_EQ(1, set->faults[0].skip);
  EXPECT_EQ(2, set->faults[0].times);
  EXPECT_EQ(E_FAIL, set->faults[1].hr);
  EXPECT_EQ(VFW_E_NOT_FOUND, set->faults[2].hr);
}
