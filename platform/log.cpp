#include "platform/log.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace orv {
namespace {

void Write(const char* module, const char* format, va_list args, const char* reason) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  std::string line = std::string("orvanetuner: ") + module + ": " + text;
  if (reason) line += std::string(": ") + reason;
  line += '\n';
  // One write per line, so lines of several threads never interleave.
  std::fputs(line.c_str(), stderr);
}

}  // namespace

void LogError(const char* module, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write(module, format, args, nullptr);
  va_end(args);
}

void LogErrno(const char* module, const char* format, ...) {
  const int error = errno;
  va_list args;
  va_start(args, format);
  Write(module, format, args, std::strerror(error));
  va_end(args);
}

}  // namespace orv
