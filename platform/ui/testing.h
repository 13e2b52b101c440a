// Hooks for tests of the window framework and of the code above it; the program never calls them.
#pragma once

#include "platform/ui/winuser.h"

#include <functional>
#include <string>

namespace orv::ui {

// The screen as tests want it: colour depth and desktop rectangle (0 / nullptr = the real screen).
void SetScreenDepthForTests(int bitsPerPixel);
void SetDesktopRectForTests(const RECT* rect);

// Forgets a PostQuitMessage, so the next case starts without one.
void ClearQuitForTests();

}  // namespace orv::ui

// Tests decide the free space GetFreeDiskBytes reports (nullptr: the real file system).
void SetFreeDiskHookForTests(std::function<bool(const std::string&, unsigned long long*)> hook);
