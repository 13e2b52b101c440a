#include "platform/media/late/late.h"
#include "platform/media/late/testing.h"

#include "platform/log.h"

#include <array>
#include <atomic>
#include <dlfcn.h>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/version.h>
#include <libavfilter/version.h>
#include <libavformat/version.h>
#include <libswresample/version.h>
}

#define ORV_LATE_TEXT(x) #x
#define ORV_LATE_SONAME(name, major) "lib" name ".so." ORV_LATE_TEXT(major)

namespace orv::media::late {
namespace {

struct Slot {
  explicit Slot(const char* name) : file(name) {}
  const char* file;
  std::once_flag once;
  std::atomic<void*> handle{nullptr};
  std::mutex mutex;  // guards problem
  std::string problem;
};

std::array<Slot, 4>& Slots() {
  static std::array<Slot, 4> slots{Slot(ORV_LATE_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR)),
                                   Slot(ORV_LATE_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)),
                                   Slot(ORV_LATE_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR)),
                                   Slot(ORV_LATE_SONAME("avfilter", LIBAVFILTER_VERSION_MAJOR))};
  return slots;
}

Slot& SlotOf(Library library) { return Slots()[static_cast<std::size_t>(library)]; }

// The loader of LoadAllSoon: joined when the program ends normally.
struct Preloader {
  std::once_flag once;
  std::thread thread;
  ~Preloader() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

const char* FileName(Library library) { return SlotOf(library).file; }

bool Load(Library library) {
  Slot& slot = SlotOf(library);
  std::call_once(slot.once, [&] {
    // Kept for the program's life; RTLD_LOCAL keeps their names out of everyone else's way.
    void* handle = ::dlopen(slot.file, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* why = ::dlerror();
      std::lock_guard lock(slot.mutex);
      slot.problem = why ? why : slot.file;
      LogError("media", "%s cannot be loaded: %s; what needs it (recording, deinterlacing, MJPEG pictures) is unavailable",
               slot.file, slot.problem.c_str());
      return;
    }
    slot.handle = handle;
  });
  return slot.handle.load() != nullptr;
}

bool Loaded(Library library) { return SlotOf(library).handle.load() != nullptr; }

std::string Problem(Library library) {
  Slot& slot = SlotOf(library);
  std::lock_guard lock(slot.mutex);
  return slot.problem;
}

void LoadAllSoon() {
  Slots();  // made before the preloader, so that they outlive its thread at the program's end
  static Preloader preloader;
  std::call_once(preloader.once, [] {
    preloader.thread = std::thread([] {
      for (Library library : {Library::Codec, Library::Format, Library::Resample, Library::Filter}) Load(library);
    });
  });
}

void PretendMissingForTests(Library library) { SlotOf(library).file = "liborvane-missing.so.0"; }

void* Resolve(Library library, const char* function) {
  if (!Load(library)) return nullptr;
  void* address = ::dlsym(SlotOf(library).handle.load(), function);
  if (!address) LogError("media", "%s has no %s", FileName(library), function);
  return address;
}

}  // namespace orv::media::late
