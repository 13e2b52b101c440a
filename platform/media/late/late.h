// FFmpeg's libraries that the first picture does not need (libavcodec, libavformat, libswresample,
// libavfilter) are loaded when first called, not when the program starts: loading them and what
// they pull in costs more than everything else before the first picture. Their functions that the
// program calls are defined in functions.cpp and forward to the library, loading it on the first
// call. A library that cannot be loaded is reported once; its functions then fail as they do for
// bad input (null, or a negative error), never crash.
#pragma once

#include <string>

namespace orv::media::late {

enum class Library { Codec, Format, Resample, Filter };

// The file name loaded for it ("libavcodec.so.59"): the version the program was built against.
const char* FileName(Library library);

// Loads the library once, waiting for it; false (and the reason logged once) when it cannot be.
bool Load(Library library);
// Whether it is loaded, without waiting for it.
bool Loaded(Library library);
// Why it could not be loaded; empty while it is loaded or not yet tried.
std::string Problem(Library library);

// Loads all of them on a thread of their own, once: done after the first picture, so that neither
// the deinterlacer nor the first recording waits for them.
void LoadAllSoon();

// The function's address in the library, loading it first; null when either is missing.
void* Resolve(Library library, const char* function);

}  // namespace orv::media::late
