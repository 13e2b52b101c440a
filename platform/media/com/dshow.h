// The media graph as the capture engine and the crossbar code see it: structures, constants and
// interfaces under the names and values of the published media-streaming framework.
#pragma once

#include "platform/levels.h"
#include "platform/media/com/com.h"
#include "platform/media/com/guids.h"

// ---- Status codes -------------------------------------------------------------------------------
constexpr HRESULT VFW_S_NOPREVIEWPIN = 0x0004027E;
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204u);
constexpr HRESULT VFW_E_INVALID_DIRECTION = static_cast<HRESULT>(0x80040208u);
constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209u);
constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217u);
constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218u);
constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224u);
// A sample of another format than the connection's (a picture that changed size during a recording).
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022Au);
constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025Fu);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
// Win32 errors as status codes (FACILITY_WIN32).
constexpr HRESULT HRESULT_FROM_WIN32(unsigned long code) {
  return code == 0 ? S_OK : static_cast<HRESULT>((code & 0xFFFFu) | 0x80070000u);
}
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_WRITE_PROTECT = 19;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_DISK_FULL = 112;
constexpr LONG ERROR_FILE_TOO_LARGE = 223;
// A capture device stopped answering while it streamed (unplugged): the recording ends with it.
constexpr LONG ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr HRESULT E_PROP_SET_UNSUPPORTED = static_cast<HRESULT>(0x80070492u);
constexpr HRESULT E_PROP_ID_UNSUPPORTED = static_cast<HRESULT>(0x80070490u);

// ---- Media types ---------------------------------------------------------------------------------
struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};

struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
constexpr WORD WAVE_FORMAT_PCM = 1;

// The format block of a VBI device's caption stream (MEDIATYPE_AUXLine21Data, MEDIASUBTYPE_CcData):
// each sample holds the CEA-608 byte pairs of one frame as cc_data triplets, as ATSC A/53 carries
// them (a marker byte 0xFC for field 1 or 0xFD for field 2, then the two bytes with their parity).
struct CAPTIONINFO {
  REFERENCE_TIME AvgTimePerFrame;  // the picture's frame period the pairs come at
  LONG Lines;                      // 525 or 625
};

// Frees the format block (and the pUnk reference) of a media type; the structure itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a media type handed out by GetFormat: its format block and the structure.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into dst (format block allocated with CoTaskMemAlloc).
HRESULT CopyMediaType(AM_MEDIA_TYPE* dst, const AM_MEDIA_TYPE* src);

// ---- Enumerations and small types ---------------------------------------------------------------
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
using OAFilterState = LONG;
using OAHWND = LONG_PTR;
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;
constexpr DWORD AMPROPERTY_PIN_CATEGORY = 0;

enum PhysicalConnectorType {
  PhysConn_Video_Tuner = 1,
  PhysConn_Video_Composite = 2,
  PhysConn_Video_SVideo = 3,
  PhysConn_Video_RGB = 4,
  PhysConn_Video_YRYBY = 5,
  PhysConn_Video_SerialDigital = 6,
  PhysConn_Video_ParallelDigital = 7,
  PhysConn_Video_SCSI = 8,
  PhysConn_Video_AUX = 9,
  PhysConn_Video_1394 = 10,
  PhysConn_Video_USB = 11,
  PhysConn_Video_VideoDecoder = 12,
  PhysConn_Video_VideoEncoder = 13,
  PhysConn_Video_SCART = 14,
  PhysConn_Video_Black = 15,
  PhysConn_Audio_Tuner = 0x1000,
  PhysConn_Audio_Line = 0x1001,
  PhysConn_Audio_Mic = 0x1002,
  PhysConn_Audio_AESDigital = 0x1003,
  PhysConn_Audio_SPDIFDigital = 0x1004,
  PhysConn_Audio_SCSI = 0x1005,
  PhysConn_Audio_AUX = 0x1006,
  PhysConn_Audio_1394 = 0x1007,
  PhysConn_Audio_USB = 0x1008,
  PhysConn_Audio_AudioDecoder = 0x1009,
};

enum TunerInputType { TunerInputCable = 0, TunerInputAntenna = 1 };
constexpr LONG AMTUNER_SUBCHAN_NO_TUNE = -2;
constexpr LONG AMTUNER_SUBCHAN_DEFAULT = -1;
constexpr LONG AMTUNER_HASNOSIGNALSTRENGTH = -1;
constexpr LONG AMTUNER_NOSIGNAL = 0;
constexpr LONG AMTUNER_SIGNALPRESENT = 1;

enum VideoProcAmpProperty {
  VideoProcAmp_Brightness = 0,
  VideoProcAmp_Contrast = 1,
  VideoProcAmp_Hue = 2,
  VideoProcAmp_Saturation = 3,
  VideoProcAmp_Sharpness = 4,
  VideoProcAmp_Gamma = 5,
  VideoProcAmp_ColorEnable = 6,
  VideoProcAmp_WhiteBalance = 7,
  VideoProcAmp_BacklightCompensation = 8,
  VideoProcAmp_Gain = 9,
};
enum VideoProcAmpFlags { VideoProcAmp_Flags_Auto = 1, VideoProcAmp_Flags_Manual = 2 };

// ---- Interfaces ----------------------------------------------------------------------------------
#define ORV_IID(name) \
  static const IID& iid() { return IID_##name; }

struct IBaseFilter;
struct IPin;
struct IEnumPins;
struct IFilterGraph;
struct IGraphBuilder;

struct IBindCtx : IUnknown {
  ORV_IID(IBindCtx)
};

// A property value as the property bag hands it out; only text values exist here.
constexpr WORD VT_EMPTY = 0;
constexpr WORD VT_BSTR = 8;
using BSTR = WCHAR*;
struct VARIANT {
  WORD vt;
  BSTR bstrVal;
};
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
BSTR SysAllocString(const WCHAR* s);
void SysFreeString(BSTR s);

struct IErrorLog;
struct IPropertyBag : IUnknown {
  ORV_IID(IPropertyBag)
  // "FriendlyName" and "DevicePath".
  virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
};

struct IMoniker : IUnknown {
  ORV_IID(IMoniker)
  virtual HRESULT BindToObject(IBindCtx* ctx, IMoniker* left, REFIID riid, void** ppv) = 0;
  virtual HRESULT BindToStorage(IBindCtx* ctx, IMoniker* left, REFIID riid, void** ppv) = 0;
};

struct IEnumMoniker : IUnknown {
  ORV_IID(IEnumMoniker)
  virtual HRESULT Next(ULONG count, IMoniker** out, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};

struct ICreateDevEnum : IUnknown {
  ORV_IID(ICreateDevEnum)
  // S_FALSE and no enumerator for an empty (or unknown) category.
  virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD flags) = 0;
};

struct PIN_INFO {
  IBaseFilter* pFilter;  // counted reference
  PIN_DIRECTION dir;
  WCHAR achName[128];
};

struct FILTER_INFO {
  WCHAR achName[128];
  IFilterGraph* pGraph;  // counted reference
};

struct IPin : IUnknown {
  ORV_IID(IPin)
  // Called on an output pin: connects it to receiver.
  virtual HRESULT Connect(IPin* receiver, const AM_MEDIA_TYPE* mt) = 0;
  // Called on an input pin by the output pin that connects to it.
  virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* mt) = 0;
  virtual HRESULT Disconnect() = 0;
  virtual HRESULT ConnectedTo(IPin** pin) = 0;
  virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* mt) = 0;
  virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
  virtual HRESULT QueryDirection(PIN_DIRECTION* dir) = 0;
};

struct IEnumPins : IUnknown {
  ORV_IID(IEnumPins)
  virtual HRESULT Next(ULONG count, IPin** pins, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
};

struct IBaseFilter : IUnknown {
  ORV_IID(IBaseFilter)
  virtual HRESULT GetClassID(CLSID* clsid) = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Run(REFERENCE_TIME start) = 0;
  virtual HRESULT GetState(DWORD timeoutMs, FILTER_STATE* state) = 0;
  virtual HRESULT EnumPins(IEnumPins** out) = 0;
  virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
  // The graph calls this when the filter is added (graph set) or removed (graph null); no reference.
  virtual HRESULT JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) = 0;
};

struct IFilterGraph : IUnknown {
  ORV_IID(IFilterGraph)
  virtual HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name) = 0;
  // Disconnects the filter's pins and releases it.
  virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
  virtual HRESULT ConnectDirect(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) = 0;
  // Breaks one side of a connection; call it for both pins.
  virtual HRESULT Disconnect(IPin* pin) = 0;
};

struct IGraphBuilder : IFilterGraph {
  ORV_IID(IGraphBuilder)
};

struct IMediaControl : IUnknown {
  ORV_IID(IMediaControl)
  virtual HRESULT Run() = 0;
  virtual HRESULT Pause() = 0;
  virtual HRESULT Stop() = 0;
  virtual HRESULT GetState(LONG timeoutMs, OAFilterState* state) = 0;
};

// Graph events. EC_ERRORABORT: a filter stopped streaming; param 1 is its status.
constexpr LONG EC_COMPLETE = 0x01;
constexpr LONG EC_USERABORT = 0x02;
constexpr LONG EC_ERRORABORT = 0x03;

struct IMediaEventEx : IUnknown {
  ORV_IID(IMediaEventEx)
  // The oldest event; E_ABORT when none comes within timeoutMs (0: do not wait).
  virtual HRESULT GetEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG timeoutMs) = 0;
  virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
  // Posts msg to hwnd whenever an event is queued.
  virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR instanceData) = 0;
};

// What filters use to tell the graph about events, from any thread.
struct IMediaEventSink : IUnknown {
  ORV_IID(IMediaEventSink)
  virtual HRESULT Notify(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IVideoWindow : IUnknown {
  ORV_IID(IVideoWindow)
  virtual HRESULT put_Owner(OAHWND owner) = 0;
  virtual HRESULT put_MessageDrain(OAHWND drain) = 0;
  virtual HRESULT put_WindowStyle(LONG style) = 0;
  virtual HRESULT SetWindowPosition(LONG left, LONG top, LONG width, LONG height) = 0;
  virtual HRESULT put_Visible(LONG visible) = 0;
};

struct IFileSinkFilter : IUnknown {
  ORV_IID(IFileSinkFilter)
  virtual HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE* mt) = 0;
};

struct IConfigAviMux : IUnknown {
  ORV_IID(IConfigAviMux)
  virtual HRESULT SetMasterStream(LONG stream) = 0;
  virtual HRESULT SetOutputCompatibilityIndex(BOOL oldIndex) = 0;
};

struct IAMStreamControl : IUnknown {
  ORV_IID(IAMStreamControl)
  // Null start: start when the graph runs; MAXLONGLONG: cancel the start (the stream stays off).
  virtual HRESULT StartAt(const REFERENCE_TIME* start, DWORD cookie) = 0;
  // Null stop: stop now; MAXLONGLONG: cancel the stop.
  virtual HRESULT StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) = 0;
};

struct IAMStreamConfig : IUnknown {
  ORV_IID(IAMStreamConfig)
  // The current format; free it with DeleteMediaType.
  virtual HRESULT GetFormat(AM_MEDIA_TYPE** mt) = 0;
  virtual HRESULT SetFormat(AM_MEDIA_TYPE* mt) = 0;
};

struct IAMDroppedFrames : IUnknown {
  ORV_IID(IAMDroppedFrames)
  // Counts since the graph last started running.
  virtual HRESULT GetNumDropped(LONG* dropped) = 0;
  virtual HRESULT GetNumNotDropped(LONG* notDropped) = 0;
};

// How a capture source's stream fares: pictures coming, none for a while (no signal), or being
// started again after a stall or a streaming error.
enum CAPTURE_STREAM_STATE { CAPTURE_STREAM_OK = 0, CAPTURE_STREAM_NO_SIGNAL, CAPTURE_STREAM_RESTARTING };
struct ICaptureStreamState : IUnknown {
  ORV_IID(ICaptureStreamState)
  virtual HRESULT GetStreamState(CAPTURE_STREAM_STATE* state) = 0;
};

// Looked up by the capture engine and only released: no card here offers them.
struct IAMVideoCompression : IUnknown {
  ORV_IID(IAMVideoCompression)
};
struct IAMVfwCaptureDialogs : IUnknown {
  ORV_IID(IAMVfwCaptureDialogs)
};

struct IAMVideoProcAmp : IUnknown {
  ORV_IID(IAMVideoProcAmp)
  virtual HRESULT GetRange(LONG property, LONG* min, LONG* max, LONG* step, LONG* defaultValue, LONG* capsFlags) = 0;
  virtual HRESULT Set(LONG property, LONG value, LONG flags) = 0;
  virtual HRESULT Get(LONG property, LONG* value, LONG* flags) = 0;
};

struct IAMCrossbar : IUnknown {
  ORV_IID(IAMCrossbar)
  virtual HRESULT get_PinCounts(LONG* outputs, LONG* inputs) = 0;
  // S_OK when the input can be switched to the output, S_FALSE when not.
  virtual HRESULT CanRoute(LONG output, LONG input) = 0;
  // input -1 disconnects the output.
  virtual HRESULT Route(LONG output, LONG input) = 0;
  virtual HRESULT get_CrossbarPinInfo(BOOL isInput, LONG index, LONG* relatedIndex, LONG* physicalType) = 0;
};

struct IAMTVTuner : IUnknown {
  ORV_IID(IAMTVTuner)
  // Range of the current input type (antenna or cable).
  virtual HRESULT ChannelMinMax(LONG* min, LONG* max) = 0;
  virtual HRESULT put_Channel(LONG channel, LONG videoSubChannel, LONG audioSubChannel) = 0;
  virtual HRESULT put_InputType(LONG index, TunerInputType type) = 0;
  // Tunes the channel; *foundSignal is AMTUNER_SIGNALPRESENT or AMTUNER_NOSIGNAL.
  virtual HRESULT AutoTune(LONG channel, LONG* foundSignal) = 0;
};

// A channel of a tuning plan: the panel's channel number and its visual carrier in kHz.
struct TunerChannel {
  LONG number;
  ULONG kHz;
};

// The program's channel plans, handed to a card's tuner (which starts with the North American ones).
struct IAMTunerPlan : IUnknown {
  ORV_IID(IAMTunerPlan)
  // Replaces the plan of an input type (channels sorted by number); the range and tuning follow it.
  virtual HRESULT put_Plan(TunerInputType type, const TunerChannel* channels, LONG count) = 0;
};

// The TV standard of a card's decoder, by the keys win.ini stores ("PAL-BG", "NTSC-M-KR", ...).
struct IAMTVStandard : IUnknown {
  ORV_IID(IAMTVStandard)
  // key "auto": what the card detects where it can, else `fallback`.
  virtual HRESULT put_Standard(const char* key, const char* fallback) = 0;
  // S_OK when the card takes the standard, S_FALSE when not, E_NOTIMPL when it cannot tell.
  virtual HRESULT SupportsStandard(const char* key) = 0;
};

// Field order of the pictures a capture pin delivers.
enum AM_FIELD_ORDER { AM_FIELDS_UNKNOWN = 0, AM_FIELDS_PROGRESSIVE, AM_FIELDS_TOP_FIRST, AM_FIELDS_BOTTOM_FIRST };

// The capture filter's video decoder: the signal it receives.
struct IAMAnalogVideoDecoder : IUnknown {
  ORV_IID(IAMAnalogVideoDecoder)
  // 525 or 625 for the standard in use (detected where the card can); E_NOTIMPL for an input
  // without a TV standard (a camera).
  virtual HRESULT get_NumberOfLines(LONG* lines) = 0;
  // 1 while the decoder is locked to a signal, 0 when there is none.
  virtual HRESULT get_HorizontalLocked(LONG* locked) = 0;
  // How the capture pin's pictures are interlaced with the current standard and format.
  virtual HRESULT get_FieldOrder(AM_FIELD_ORDER* order) = 0;
};

// How the mux stores what reaches it. RECORD_AS_DELIVERED is the AVI of the streams as the pins
// deliver them; the others also write the field order and a 4:3 display aspect.
enum RECORD_CODING {
  RECORD_AS_DELIVERED = 0,
  RECORD_UNCOMPRESSED_422,  // 4:2:2 pictures and PCM sound (AVI)
  RECORD_FFV1_PCM,          // FFV1 version 3 and PCM sound (Matroska)
  RECORD_H264_AAC,          // H.264 and AAC (Matroska)
  // Both from the same pictures: the FFV1 master, and an H.264 access copy beside it that may
  // fall behind and leave pictures out (AccessCopyOf in the writer names it)
  RECORD_FFV1_PCM_AND_H264_AAC,
};
struct IConfigRecordMux : IUnknown {
  ORV_IID(IConfigRecordMux)
  virtual HRESULT SetRecordCoding(RECORD_CODING coding) = 0;
  // The capture log and checksums beside the next files (codings other than RECORD_AS_DELIVERED):
  // description is the capture's account for the log's first line and the file's tags, a JSON
  // object's text; null writes none.
  virtual HRESULT SetRecordLog(LPCSTR description) = 0;
  // The teletext page whose subtitles a 625-line recording keeps as text, 0 for the first page
  // flagged as subtitles (the default). Takes effect with the next file.
  virtual HRESULT SetTeletextPage(LONG page) = 0;
  // Why the recording ends ("user", "time_limit", "no_signal", "device_gone" ...): the log's last
  // line says it. Said before the graph stops.
  virtual HRESULT SetEndReason(LPCSTR reason) = 0;
  // The last recording's access copy (RECORD_FFV1_PCM_AND_H264_AAC): the pictures it left out while
  // it was behind. S_FALSE (and 0) when the recording had none.
  virtual HRESULT GetAccessCopyDropped(LONG* dropped) = 0;
};

// The renderer's deinterlacing of the live picture (never of a recording).
struct IVideoDeinterlace : IUnknown {
  ORV_IID(IVideoDeinterlace)
  virtual HRESULT put_Deinterlace(BOOL on) = 0;
};

// The graph's measures of what it shows and records, taken off the user-interface thread: the
// live picture's luma while it is watched (at most ten pictures a second), and the meters of the
// sound that goes into the file.
struct ISignalLevels : IUnknown {
  ORV_IID(ISignalLevels)
  virtual HRESULT put_Watch(BOOL on) = 0;
  // S_FALSE while no picture has been measured since watching began.
  virtual HRESULT GetPictureLevels(orv::PictureLevels* levels) = 0;
  virtual HRESULT GetSoundLevels(orv::SoundLevels* levels) = 0;
  virtual HRESULT ClearClip() = 0;
};

// The sound renderer: the card's sound played on an ALSA output while the picture is shown, from
// the same reader that records it, at most a tenth of a second late. An output that is busy,
// missing or slow never holds up the picture or the recording: its samples are left out.
struct ISoundOutput : IUnknown {
  ORV_IID(ISoundOutput)
  // The ALSA device ("default": the desktop's sound server); taken when the graph next runs.
  virtual HRESULT put_Device(LPCSTR name) = 0;
  // A level of its own, for a platform without a mixer for the speakers: volume 0..0xFFFF scales
  // the samples (0xFFFF leaves them as they are), mute silences them. Takes effect at once.
  virtual HRESULT put_Level(LONG volume, BOOL mute) = 0;
};

struct IKsPropertySet : IUnknown {
  ORV_IID(IKsPropertySet)
  virtual HRESULT Get(REFGUID set, DWORD id, LPVOID instanceData, DWORD instanceLength, LPVOID propertyData,
                      DWORD dataLength, DWORD* returned) = 0;
};

struct ICaptureGraphBuilder : IUnknown {
  ORV_IID(ICaptureGraphBuilder)
  virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
  virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
  // Adds a mux and a file writer for the file (type MEDIASUBTYPE_Avi or MEDIASUBTYPE_Matroska);
  // hands out the mux and the writer's sink.
  virtual HRESULT SetOutputFileName(const GUID* type, LPCOLESTR fileName, IBaseFilter** mux,
                                    IFileSinkFilter** sink) = 0;
  // Looks on the filter, its output pins (of the category, when given) and downstream of them, then
  // upstream. The first look-up in the capture category brings the card's upstream filters in.
  virtual HRESULT FindInterface(const GUID* category, IBaseFilter* filter, REFIID riid, void** ppv) = 0;
  // VFW_S_NOPREVIEWPIN when a preview was asked of a filter without preview pin (a tee serves it).
  virtual HRESULT RenderStream(const GUID* category, IUnknown* source, IBaseFilter* compressor,
                               IBaseFilter* renderer) = 0;
  // Applies stream control to every output pin of the category (on one filter, or all filters).
  virtual HRESULT ControlStream(const GUID* category, IBaseFilter* filter, REFERENCE_TIME* start,
                                REFERENCE_TIME* stop, WORD startCookie, WORD stopCookie) = 0;
};

#undef ORV_IID
