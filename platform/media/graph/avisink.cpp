// The mux and the file writer filters: the mux hands what reaches its inputs to the recording
// writer (platform/media/writer), AVI or Matroska; the file writer holds the file name and checks
// that the file can be written.
#include "platform/media/writer/mediawriter.h"
#include "platform/log.h"
#include "platform/media/com/faults.h"
#include "platform/media/graph/graph.h"
#include "platform/media/graph/levels.h"
#include "platform/media/writer/teletext.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace orv::media {
namespace {

class FileWriter : public FilterBase, public IFileSinkFilter {
 public:
  FileWriter() : FilterBase(CLSID_FileWriter, "FileWriter", "FileWriter") {
    AddPin({"in", PINDIR_INPUT, GUID_NULL, MEDIATYPE_Stream, false, false, nullptr});
  }
  ORV_UNKNOWN_IMPL

  // The file must be one that can be written, so that a bad path is refused when the capture is
  // set up rather than when it starts. A file created for the test is removed again.
  HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
    if (!fileName) return E_POINTER;
    const std::string name = Narrow(fileName);
    if (HRESULT hr = Check("SetFileName", name); hr != S_OK) return hr;
    if (name.empty()) return E_INVALIDARG;
    struct stat st {};
    const bool existed = ::stat(name.c_str(), &st) == 0;
    if (existed && S_ISDIR(st.st_mode)) return E_ACCESSDENIED;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return FileErrorOf(errno);
    ::close(fd);
    if (!existed) ::unlink(name.c_str());
    std::lock_guard lock(m_mutex);
    m_fileName = name;
    return S_OK;
  }

  std::string FileName() {
    std::lock_guard lock(m_mutex);
    return m_fileName;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IFileSinkFilter) return static_cast<IFileSinkFilter*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  std::mutex m_mutex;
  std::string m_fileName;
};

class AviMux : public FilterBase, public IConfigAviMux, public IConfigRecordMux {
 public:
  explicit AviMux(bool matroska) : FilterBase(CLSID_AviDest, "AviMux", "AviMux") {
    m_options.matroska = matroska;
    AddPin({"AVI Out", PINDIR_OUTPUT, GUID_NULL, MEDIATYPE_Stream, false, false, nullptr});
    AddInput();
  }
  ~AviMux() override { CloseFile(); }
  ORV_UNKNOWN_IMPL

  // One free input at all times: each stream connected gets its own.
  void OnInputConnected(PinBase*) override { AddInput(); }

  HRESULT SetMasterStream(LONG stream) override {
    if (HRESULT hr = Check("SetMasterStream", std::to_string(stream)); hr != S_OK) return hr;
    m_master = stream;
    return S_OK;
  }
  // libavformat writes the legacy index into the first RIFF chunk of every file it writes.
  HRESULT SetOutputCompatibilityIndex(BOOL oldIndex) override {
    if (HRESULT hr = Check("SetOutputCompatibilityIndex", std::to_string(oldIndex)); hr != S_OK) return hr;
    m_oldIndex = oldIndex;
    return S_OK;
  }

  // Takes effect with the next file.
  HRESULT SetRecordCoding(RECORD_CODING coding) override {
    if (HRESULT hr = Check("SetRecordCoding", std::to_string(coding)); hr != S_OK) return hr;
    if (coding < RECORD_AS_DELIVERED || coding > RECORD_FFV1_PCM_AND_H264_AAC) return E_INVALIDARG;
    m_options.coding = coding;
    return S_OK;
  }

  HRESULT SetTeletextPage(LONG page) override {
    if (page != ttx::kAutoPage && !ttx::IsPage(page)) return E_INVALIDARG;
    m_options.teletextPage = page;
    return S_OK;
  }

  HRESULT SetRecordLog(LPCSTR description) override {
    if (HRESULT hr = Check("SetRecordLog", description ? "on" : "off"); hr != S_OK) return hr;
    m_options.sideFiles = description != nullptr;
    m_options.description = description ? description : "";
    return S_OK;
  }
  HRESULT SetEndReason(LPCSTR reason) override {
    if (!reason) return E_POINTER;
    std::lock_guard lock(m_mutex);
    if (m_writer) m_writer->EndsBecause(reason);
    return S_OK;
  }

  HRESULT GetAccessCopyDropped(LONG* dropped) override {
    if (!dropped) return E_POINTER;
    std::lock_guard lock(m_mutex);
    *dropped = std::max(m_accessDropped, 0L);
    return m_accessDropped >= 0 ? S_OK : S_FALSE;
  }

  // The file opens when the graph leaves the stopped state and is complete when it stops.
  HRESULT Pause() override {
    if (State() == State_Stopped)
      if (HRESULT hr = OpenFile(); FAILED(hr)) return hr;
    return FilterBase::Pause();
  }
  HRESULT Run(REFERENCE_TIME start) override {
    if (State() == State_Stopped)
      if (HRESULT hr = OpenFile(); FAILED(hr)) return hr;
    return FilterBase::Run(start);
  }
  HRESULT Stop() override {
    CloseFile();
    return FilterBase::Stop();
  }

  Delivery Take(PinBase* input, const MediaSample& sample) override {
    std::shared_ptr<MediaWriter> writer;
    std::shared_ptr<LevelsTap> levels;
    int stream = -1;
    {
      std::lock_guard lock(m_mutex);
      writer = m_writer;
      levels = m_levels;
      for (std::size_t i = 0; i < m_inputs.size(); ++i)
        if (m_inputs[i] == input) stream = static_cast<int>(i);
    }
    if (!writer || stream < 0) return Delivery::None;
    const Delivery delivery = writer->Push(stream, sample);
    // The meters read the sound that goes into the file.
    if (delivery == Delivery::Taken && levels) levels->OfferSound(sample.type, sample.data, sample.size, true);
    return delivery;
  }

 protected:
  void* Lookup(REFIID riid) override {
    if (riid == IID_IConfigAviMux) return static_cast<IConfigAviMux*>(this);
    if (riid == IID_IConfigRecordMux) return static_cast<IConfigRecordMux*>(this);
    return FilterBase::Lookup(riid);
  }

 private:
  void AddInput() {
    char name[24];
    std::snprintf(name, sizeof name, "Input %02d", ++m_inputCount);
    AddPin({name, PINDIR_INPUT, GUID_NULL, GUID_NULL, false, false, nullptr});
  }

  // The format of the stream that reaches an input; through a tee, the tee's own input has it.
  static HRESULT StreamType(PinBase* input, AM_MEDIA_TYPE* mt) {
    PinBase* pin = input;
    for (int hop = 0; hop < 8 && pin; ++hop) {
      if (HRESULT hr = pin->ConnectionMediaType(mt); FAILED(hr)) return hr;
      if (mt->pbFormat) return S_OK;
      FreeMediaType(*mt);
      PinBase* out = AsPinBase(pin->Peer());
      pin = out ? out->Filter()->FindPin(PINDIR_INPUT, GUID_NULL) : nullptr;
    }
    return VFW_E_INVALIDMEDIATYPE;
  }

  HRESULT OpenFile() {
    CloseFile();
    PinBase* out = FindPin(PINDIR_OUTPUT, GUID_NULL);
    PinBase* in = out ? AsPinBase(out->Peer()) : nullptr;
    auto* sink = in ? dynamic_cast<FileWriter*>(in->Filter()) : nullptr;
    if (!sink) return VFW_E_NOT_CONNECTED;
    const std::string path = sink->FileName();
    if (path.empty()) return E_UNEXPECTED;

    std::vector<PinBase*> inputs;
    std::vector<AM_MEDIA_TYPE> types;
    WriterOptions options = m_options;
    for (std::size_t i = 0; i < PinCount(); ++i) {
      PinBase* pin = PinAt(i);
      if (pin->Direction() != PINDIR_INPUT || !pin->IsConnected()) continue;
      AM_MEDIA_TYPE mt{};
      if (SUCCEEDED(StreamType(pin, &mt))) {
        if (mt.majortype == MEDIATYPE_Video) options.fields = UpstreamFieldOrder(pin);
        inputs.push_back(pin);
        types.push_back(mt);
      }
    }
    std::vector<const AM_MEDIA_TYPE*> typePtrs;
    for (auto& t : types) typePtrs.push_back(&t);

    auto writer = std::shared_ptr<MediaWriter>(
        MediaWriter::Create(path, static_cast<int>(m_master), options, [this](HRESULT hr) { AbortGraph(hr); }));
    const HRESULT hr = writer->Open(typePtrs);
    for (auto& t : types) FreeMediaType(t);
    if (FAILED(hr)) {
      writer->Close();
      LogError("mux", "cannot write %s (%08x)", path.c_str(), static_cast<unsigned>(hr));
      return hr;
    }
    std::lock_guard lock(m_mutex);
    m_levels = LevelsTapOf(Graph());
    m_writer = std::move(writer);
    m_inputs = std::move(inputs);
    return S_OK;
  }

  void CloseFile() {
    std::shared_ptr<MediaWriter> writer;
    {
      std::lock_guard lock(m_mutex);
      writer = std::move(m_writer);
      m_inputs.clear();
    }
    if (!writer) return;
    // An index that could not be written is worth telling as much as a halt on the way.
    if (const HRESULT hr = writer->Close(); FAILED(hr) && !writer->Halted()) AbortGraph(hr);
    std::lock_guard lock(m_mutex);
    m_accessDropped = writer->AccessCopyDropped();
  }

  int m_inputCount = 0;
  LONG m_master = -1;
  BOOL m_oldIndex = TRUE;
  WriterOptions m_options;
  std::mutex m_mutex;
  std::shared_ptr<MediaWriter> m_writer;
  std::vector<PinBase*> m_inputs;
  std::shared_ptr<LevelsTap> m_levels;
  long m_accessDropped = -1;  // the last recording's access copy's, -1 for none
};

}  // namespace

ComPtr<IBaseFilter> NewAviMux(bool matroska) { return static_cast<IBaseFilter*>(new AviMux(matroska)); }
ComPtr<IBaseFilter> NewFileWriter() { return static_cast<IBaseFilter*>(new FileWriter); }

}  // namespace orv::media
