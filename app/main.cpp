#include "app/TunerApp.h"
#include "res/resource.h"

#include <cstdio>
#include <cstring>

CTunerApp theApp;

namespace {

const char kUsage[] =
    "Usage: orvanetuner [--help] [--version]\n"
    "Watch and record analogue TV from a V4L2 capture card (or the built-in virtual card).\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Qt's own -platform, -display and -style options are passed on.\n"
    "\n"
    "Keys, in the panel or the picture window:\n"
    "  Up, Down      channel up, down        Right, Left  volume up, down\n"
    "  0-9           type a channel number   Delete       mute\n"
    "  Keypad /      next input              Keypad *     zoom the picture\n"
    "  Keypad +, -   add, erase the channel  Insert       brightness, contrast, hue or saturation\n"
    "  Alt+keypad +  exit                    Home, End    raise, lower the chosen one\n"
    "Dialogs: Enter is OK, Escape cancels; in a capture's status dialog both end the capture.\n"
    "Settings: Ctrl+Tab, Ctrl+Shift+Tab (or Ctrl+PgDn, Ctrl+PgUp) change pages.\n"
    "Mouse: double-click the panel's lid to open it; on the picture, drag to move the window,\n"
    "double-click to zoom, right-click to call the panel back. More: orvanetuner(1).\n";

// Qt's options that take a value, and those that do not; both reach the window layer untouched.
bool IsQtOption(const char* a, bool* takesValue) {
  static const char* const withValue[] = {"-platform", "-display", "-style", "-geometry", "-qwindowgeometry"};
  static const char* const alone[] = {"-reverse"};
  for (const char* o : withValue)
    if (std::strcmp(a, o) == 0) return *takesValue = true;
  for (const char* o : alone)
    if (std::strcmp(a, o) == 0) return !(*takesValue = false);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything needs a display.
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    bool takesValue = false;
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("OrvaneTuner %s\n", ORVANE_VERSION);
      return 0;
    }
    if (IsQtOption(a, &takesValue) && (!takesValue || ++i < argc)) continue;
    std::fprintf(stderr, "orvanetuner: %s %s\n%s", takesValue ? "no value for" : a[0] == '-' ? "unknown option" : "unexpected argument", a, kUsage);
    return 2;
  }
  AfxSetOwnResourceModule(OwnResources());
  return AfxWinMain(argc, argv);
}
