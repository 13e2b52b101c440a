// A small language module for tests: English texts for a few ids.
#include "platform/ui/afxwin.h"

namespace {
class English : public ResourceModule {
 public:
  const char* String(UINT id) const override {
    switch (id) {
      case 102: return "Orvane Tuner (English)";
      case 103: return "Panel window";
      default: return nullptr;
    }
  }
  const DialogTemplate* Dialog(UINT) const override { return nullptr; }
  bool BitmapPng(UINT, std::string*) const override { return false; }
};
}  // namespace

extern "C" __attribute__((visibility("default"))) const ResourceModule* OrvaneResourceModule() {
  static English m;
  return &m;
}
