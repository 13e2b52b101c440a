// The program's one way to report a problem it handles by itself (a setting it cannot read, a device
// that fails): one line on stderr, "orvanetuner: <module>: <message>". What the user must act on
// goes to a message box instead; this is for the record.
//
//   orv::LogError("store", "cannot read %s", path.c_str());
//   orv::LogErrno("ui", "cannot make %s", dir);  // ...: Permission denied
#pragma once

namespace orv {

// `module` names the layer or device family that reports ("store", "ui", "mixer", "media" ...);
// `format` is printf's. Safe from any thread; a line is never mixed with another.
void LogError(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same, followed by ": " and the text of errno as it was when called.
void LogErrno(const char* module, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace orv
