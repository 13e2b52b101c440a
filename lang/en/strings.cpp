// The English language module: loaded as LangDll.so by the program on systems whose language is not
// Korean. It links nothing of the program: only the resource ids and the framework's declarations.
#include "platform/ui/afxres.h"
#include "res/resource.h"

#include <map>

const DialogTemplate* EnglishDialog(UINT id);            // dialogs.cpp
bool EnglishArtworkPng(unsigned id, std::string* png);  // drawn by tools/artgen --english

namespace {

const std::map<UINT, const char*>& StringTable() {
  static const std::map<UINT, const char*> table = {
      {IDS_VIDEO_TITLE, "Orvane Tuner( WIN2000 )"},  // a running copy is found by it: never translated
      {IDS_PANEL_TITLE, "Panel Window"},
      // Panel tooltips, by button.
      {IDS_TOOLTIP_FIRST, "Exit"},
      {IDS_TOOLTIP_FIRST + 1, "Minimize"},
      {IDS_TOOLTIP_FIRST + 2, "Volume Up"},
      {IDS_TOOLTIP_FIRST + 3, "Volume Down"},
      {IDS_TOOLTIP_FIRST + 4, "Channel Up"},
      {IDS_TOOLTIP_FIRST + 5, "Channel Down"},
      {IDS_TOOLTIP_FIRST + 6, "Add Channel"},
      {IDS_TOOLTIP_FIRST + 7, "Delete Channel"},
      {IDS_TOOLTIP_FIRST + 8, "Mute"},
      {IDS_TOOLTIP_FIRST + 9, "Select Input"},
      {IDS_TOOLTIP_FIRST + 10, "OrvaneTuner Logo"},
      {IDS_TOOLTIP_FIRST + 11, "Number 1"},
      {IDS_TOOLTIP_FIRST + 12, "Number 2"},
      {IDS_TOOLTIP_FIRST + 13, "Number 3"},
      {IDS_TOOLTIP_FIRST + 14, "Number 4"},
      {IDS_TOOLTIP_FIRST + 15, "Number 5"},
      {IDS_TOOLTIP_FIRST + 16, "Number 6"},
      {IDS_TOOLTIP_FIRST + 17, "Number 7"},
      {IDS_TOOLTIP_FIRST + 18, "Number 8"},
      {IDS_TOOLTIP_FIRST + 19, "Number 9"},
      {IDS_TOOLTIP_FIRST + 20, "Number 0"},
      {IDS_TOOLTIP_FIRST + 21, "Select Adjustment"},
      {IDS_TOOLTIP_FIRST + 22, "Decrease Value"},
      {IDS_TOOLTIP_FIRST + 23, "Increase Value"},
      {IDS_TOOLTIP_FIRST + 24, "Settings"},
      {IDS_TOOLTIP_FIRST + 25, "Close Cover"},
      {IDS_TOOLTIP_FIRST + 26, "Always on Top"},
      {IDS_TOOLTIP_FIRST + 27, "Capture"},
      {IDS_ALREADY_RUNNING, "Orvane Tuner is already running."},
      {IDS_ALREADY_RUNNING_CAPTION, "Orvane Tuner"},
      {IDS_COLOUR_TOO_FEW, "The system's colour setting is not suitable, so the program ends.\nPlease set 16-bit colour or more."},
      {IDS_COLOUR_CAPTION, "System Colour Setting"},
      {IDS_COLOUR_WARNING, "The program may not work properly with the current colour setting.\nContinue with the current setting? (16-bit high colour recommended)"},
      {IDS_TOPMOST_CAPTION, "Always on Top Off"},
      {IDS_TOPMOST_QUESTION, "Always on top is on.\nDo you want to turn it off?"},
      {IDS_CAPTURE_RESULT, "The video was captured as follows.\nCaptured: %d frames, dropped: %d frames"},
      {IDS_CAPTURE_RESULT_CAPTION, "Video Capture Complete"},
      // The capture engine and the capture dialog.
      {IDS_ERR_NO_FILE_NAME, "No file name has been set."},
      {IDS_ERR_SET_FILE, "Cannot set the capture file."},
      {IDS_ERR_MASTER_STREAM, "SetMasterStream failed!"},
      {IDS_ERR_RENDER_VIDEO, "Cannot render the video capture stream."},
      {IDS_ERR_RENDER_PREVIEW, "Cannot render the video preview stream."},
      {IDS_ERR_RENDER_AUDIO, "Cannot render the audio capture stream."},
      {IDS_ERR_NO_PREVIEW, "This graph cannot show a preview."},
      {IDS_ERR_FRAME_RATE, "Cannot set the capture frame rate."},
      {IDS_ERR_MEDIA_CONTROL, "Error %x: Cannot get the IMediaControl interface."},
      {IDS_ERR_START_GRAPH, "Error %x: Cannot start the graph."},
      {IDS_ERR_RUN_GRAPH, "Error %x: Cannot run the graph."},
      {IDS_ERR_STOP_GRAPH, "Error %x: Cannot stop the graph."},
      {IDS_ERR_DISK_FULL, "The capture stopped because the disk is full. What was captured until then is kept in the file."},
      {IDS_ERR_WRITE_FILE, "Error %x: The capture stopped because the capture file cannot be written."},
      {IDS_ERR_MEDIA_LIBRARY, "FFmpeg's libraries that recording needs (libavcodec, libavformat, libswresample) cannot be loaded. Check that they are installed."},
      {IDS_ERR_FORMAT_CHANGED, "The picture format changed during the recording, so it was stopped. What was recorded before the change is in the file."},
      {IDS_RECORD_NOTE_INVALID, "Operator and notes must be one line without control characters, of at most %d bytes."},
      {IDS_CAPTURE_SIDE_FILES, "Written beside it in %s: %s"},
      {IDS_ERR_BUILDER, "Cannot initialize the graph builder"},
      {IDS_ERR_VIDEO_FILTER, "Error %x: Cannot create the video filter."},
      {IDS_ERR_FILTER_GRAPH, "Cannot create the filter graph."},
      {IDS_ERR_GRAPH_TO_BUILDER, "Cannot pass the graph to the builder"},
      {IDS_ERR_ADD_VIDEO, "Error %x: Cannot add the video capture filter to the filter graph"},
      {IDS_ERR_VIDEO_CONFIG, "Error %x: Cannot find the video capture :IAMStreamConfig"},
      {IDS_ERR_AUDIO_FILTER, "Cannot create the audio capture filter."},
      {IDS_ERR_ADD_AUDIO, "Error %x: Cannot add the audio capture to the filter graph."},
      {IDS_ERR_AUDIO_CONFIG, "Cannot find the audio capture device:IAMStreamConfig"},
      {IDS_ERR_PREVIEW_GRAPH, "This graph cannot preview!"},
      {IDS_ERR_PREVIEW_RUN, "This graph cannot run the preview properly."},
      {IDS_ERR_PREVIEW_RATE, "%x: Cannot set the frame rate for the preview"},
      {IDS_ERR_RUN_PREVIEW, "Error %x: Cannot run the preview graph."},
      {IDS_ERR_STOP_PREVIEW, "Error %x: Cannot stop the preview graph"},
      {IDS_ERR_PROC_AMP, "Error %x: Cannot get the IAMVideoProcAmp object interface"},
      {IDS_PATH_TOO_LONG, "The file path is too long. Choose a shorter folder or file name."},
      {IDS_REGION_KR, "Korea"},
      {IDS_REGION_US, "USA"},
      {IDS_REGION_JP, "Japan"},
      {IDS_REGION_EU, "Western Europe"},
      {IDS_REGION_UK, "UK and Ireland"},
      {IDS_REGION_FR, "France"},
      {IDS_REGION_OIRT, "Eastern Europe"},
      {IDS_REGION_CN, "China"},
      {IDS_REGION_AU, "Australia"},
      {IDS_STANDARD_AUTO, "Automatic"},
      {IDS_OWN_SOUND, " (card's own)"},
      {IDS_FORMAT_SPEC, "Standard (640×480, 14.99 fps, uncompressed AVI)"},
      {IDS_FORMAT_FULL, "Full frame (720×480/576, uncompressed AVI)"},
      {IDS_FORMAT_LOSSLESS, "Lossless (FFV1, MKV)"},
      {IDS_FORMAT_COMPACT, "Compact (H.264, MKV, about 2 GB an hour)"},
      {IDS_FORMAT_LOSSLESS_COMPACT, "Lossless with a compact copy (FFV1, H.264, MKV)"},
      {IDS_CAPTURE_ACCESS_COPY, "Compact copy %s: %d frames left out while it was behind"},
      {IDS_TELETEXT_AUTO, "auto"},
      {IDS_TELETEXT_PAGE_INVALID, "The subtitle page is %s or a page number from %d to %d."},
      {IDS_RECORD_STOP_UNIT, "seconds (0 = never, at most %d)"},
      {IDS_RECORD_STOP_RANGE, "Please enter an integer between %d and %d."},
      {IDS_DROPPED_FRAMES, "Dropped frames: %d"},
      {IDS_CAPTURE_END_NOW, "End the capture now?"},
      {IDS_CAPTURE_END_CAPTION, "End capture"},
      {IDS_STATUS_NO_SIGNAL, "No signal"},
      {IDS_STATUS_RESTARTING, "Restarting"},
      {IDS_LEVELS_PICTURE, "YMIN %d   YMAX %d   BRNG %s%%"},
      {IDS_LEVELS_NO_PICTURE, "Measuring the picture..."},
      {IDS_LEVELS_SOUND, "Sound peaks (dBFS): %s"},
      {IDS_LEVELS_NO_SOUND, "No sound measured"},
      {IDS_LEVELS_CLIPPED, "%s (clip)"},
      // The platform layers.
      {AFX_IDS_ERROR_CAPTION, "Error"},
      {AFX_IDS_OK, "OK"},
      {AFX_IDS_CANCEL, "Cancel"},
      {AFX_IDS_YES, "Yes"},
      {AFX_IDS_NO, "No"},
      {AFX_IDS_APPLY, "Apply"},
      {AFX_IDS_HELP, "Help"},
      {AFX_IDS_PARSE_UINT, "Please enter an unsigned integer."},
      {AFX_IDS_PARSE_INT, "Please enter an integer."},
      {AFX_IDS_REPLACE_CAPTION, "Confirm Save As"},
      {AFX_IDS_REPLACE_QUESTION, "%s already exists.\nDo you want to replace it?"},
      {AFX_IDS_SOUND_BUSY, "Another program is using the capture device's sound input:\n%s\nClose that program, then capture again."},
      {AFX_IDS_DEVICE_LOST, "The capture device does not answer (unplugged?):\n%s\nPreview and capture have stopped."},
  };
  return table;
}

class English : public ResourceModule {
 public:
  const char* String(UINT id) const override {
    auto it = StringTable().find(id);
    return it == StringTable().end() ? nullptr : it->second;
  }
  const DialogTemplate* Dialog(UINT id) const override { return EnglishDialog(id); }
  bool BitmapPng(UINT id, std::string* png) const override { return EnglishArtworkPng(id, png); }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceModule* OrvaneResourceModule() {
  static English m;
  return &m;
}
