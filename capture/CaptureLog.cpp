// What the capture engine tells a recording's log: its account of the capture at the start, why it
// ended, and the result box's line on the files written beside it.
#include "capture/CaptureGraph.h"

#include "common/Commands.h"
#include "platform/media/graph/filterbase.h"
#include "platform/media/writer/captionfiles.h"
#include "platform/media/writer/sidefiles.h"
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace {

constexpr const char* kProgramName = "OrvaneTuner";

struct DeviceIdentity {
  std::string name, driver, bus;
};

// What the device list says of the device at `index` of a category.
DeviceIdentity IdentityOf(REFCLSID category, int index) {
  DeviceIdentity id;
  ComPtr<ICreateDevEnum> devEnum;
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IMoniker> moniker;
  ComPtr<IPropertyBag> bag;
  if (index < 0 ||
      FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&devEnum))) ||
      devEnum->CreateClassEnumerator(category, &monikers, 0) != S_OK || !monikers ||
      (index > 0 && monikers->Skip(static_cast<ULONG>(index)) != S_OK) || monikers->Next(1, &moniker, nullptr) != S_OK ||
      FAILED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag))) || !bag)
    return id;
  for (const auto& [key, text] : {std::pair{u"FriendlyName", &id.name}, {u"Driver", &id.driver}, {u"BusInfo", &id.bus}}) {
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(bag->Read(key, &v, nullptr)) && v.vt == VT_BSTR && v.bstrVal) *text = orv::media::Narrow(v.bstrVal);
    VariantClear(&v);
  }
  return id;
}

const char* InputName(int source) {
  switch (source) {
    case SOURCE_TV:
    case SOURCE_CATV: return "TV";
    case SOURCE_SVIDEO: return "S-Video";
    default: return "Composite";
  }
}

}  // namespace

std::string CCaptureGraph::CaptureDescription() {
  nlohmann::ordered_json d;
  d["program"] = kProgramName;
  d["version"] = ORVANE_VERSION;
  const DeviceIdentity video = IdentityOf(CLSID_VideoInputDeviceCategory, m_nVideoDevice);
  d["device"] = {{"name", video.name}, {"driver", video.driver}, {"bus", video.bus}};
  d["input"] = InputName(m_nSource);
  // "auto" says little of a tape: the number of lines the decoder has locked to says more.
  std::string standard = m_pStandard->key;
  ComPtr<IAMAnalogVideoDecoder> decoder;
  LONG lines = 0;
  if (standard == orv::plans::kAutoStandard && SUCCEEDED(decoder.QueryFrom(m_pVideoCapture)) &&
      SUCCEEDED(decoder->get_NumberOfLines(&lines)) && lines > 0)
    standard += " (" + std::to_string(lines) + " lines)";
  d["standard"] = standard;
  if (m_nSource == SOURCE_TV || m_nSource == SOURCE_CATV) {
    nlohmann::ordered_json tuning{{"region", m_pRegion->code}, {"band", m_nSource == SOURCE_TV ? "broadcast" : "cable"}};
    const orv::plans::ChannelPlan* plan = m_nSource == SOURCE_TV ? m_pRegion->broadcast : m_pRegion->cable;
    if (const orv::plans::PlanChannel* c = plan && m_nChannel >= 0 ? orv::plans::FindChannel(*plan, m_nChannel) : nullptr)
      tuning["channel"] = c->name, tuning["frequency_khz"] = c->visualKHz;
    else if (m_nChannel >= 0)
      tuning["channel"] = std::to_string(m_nChannel);
    d["tuning"] = tuning;
  }
  // As the panel's picture levels (0..255); null where the card has no such control.
  nlohmann::ordered_json picture;
  ComPtr<IAMVideoProcAmp> amp;
  const bool haveAmp = SUCCEEDED(amp.QueryFrom(m_pVideoCapture)) && amp;
  for (const auto& [name, property] : {std::pair{"brightness", VideoProcAmp_Brightness}, {"contrast", VideoProcAmp_Contrast},
                                       {"saturation", VideoProcAmp_Saturation}, {"hue", VideoProcAmp_Hue}}) {
    LONG min = 0, max = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
    if (haveAmp && SUCCEEDED(amp->GetRange(property, &min, &max, &step, &def, &caps)) &&
        SUCCEEDED(amp->Get(property, &value, &flags)))
      picture[name] = PictureLevelFromValue(property, min, max, value);
    else
      picture[name] = nullptr;
  }
  d["picture"] = picture;
  if (m_bCaptureAudio) d["sound"] = {{"device", IdentityOf(CLSID_AudioInputDeviceCategory, m_nAudioDevice).name}};
  d["record"] = {{"format", orv::record::InfoOf(m_recordFormat).key}};
  const orv::record::CaptureNotes notes = orv::record::StoredCaptureNotes();
  if (!notes.operatorName.empty()) d["operator"] = notes.operatorName;
  if (!notes.notes.empty()) d["notes"] = notes.notes;
  return d.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

const char* CCaptureGraph::EndReason() {
  CollectCaptureEvents();
  if (m_hrCaptureHalt == HRESULT_FROM_WIN32(ERROR_DISK_FULL)) return "disk_full";
  if (m_hrCaptureHalt == VFW_E_TYPE_NOT_ACCEPTED) return "format_changed";
  if (m_hrCaptureHalt == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)) return "device_gone";
  if (m_hrCaptureHalt != S_OK) return "write_fault";
  if (m_bSignalEnded) return "no_signal";
  if (m_bTimed && static_cast<DWORD>(timeGetTime() - m_dwCaptureStart) >= m_dwTimeLimit) return "time_limit";
  return "user";
}

std::string CCaptureGraph::SideFilesLine() const {
  if (m_recordFormat == orv::record::Format::Spec || !m_szCaptureFile[0]) return "";
  const std::string path = m_szCaptureFile;
  std::error_code ec;
  std::string names;
  for (const std::string& side : {orv::media::CaptureLogOf(path), orv::media::FrameChecksumsOf(path),
                                  orv::media::SccOf(path), orv::media::SrtOf(path)})
    if (std::filesystem::exists(side, ec)) names += (names.empty() ? "" : ", ") + std::filesystem::path(side).filename().string();
  if (names.empty()) return "";
  // The file's checksum is still being read: it comes unless the disk failed to keep the file.
  if (orv::media::ChecksumComing(path)) names += ", " + std::filesystem::path(orv::media::ChecksumOf(path)).filename().string();
  const std::filesystem::path folder = std::filesystem::absolute(path, ec).parent_path();
  return AfxFormatString(IDS_CAPTURE_SIDE_FILES, folder.string().c_str(), names.c_str());
}
