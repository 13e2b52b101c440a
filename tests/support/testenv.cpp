#include "tests/support/testenv.h"

#include "platform/store/filestore.h"
#include "platform/store/registry.h"
#include "platform/store/testing.h"

#include <cstdlib>
#include <filesystem>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orv::test {
namespace {
std::string g_root;
int g_counter = 0;

// Capabilities belong to a thread: capset without a pid changes only the calling one.
bool SetFileModeOverride(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  for (unsigned cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    const unsigned bit = 1u << (cap % 32);
    data[cap / 32].effective = on ? data[cap / 32].effective | bit : data[cap / 32].effective & ~bit;
  }
  return ::syscall(SYS_capset, &header, data) == 0;
}
}  // namespace

ObeyFileModes::ObeyFileModes() {
  if (::geteuid() != 0) {
    active_ = true;
    return;
  }
  dropped_ = active_ = SetFileModeOverride(false);
}

ObeyFileModes::~ObeyFileModes() {
  if (dropped_) SetFileModeOverride(true);
}

void ConfigDirEnvironment::SetUp() {
  char tmpl[] = "/tmp/orvane-test-XXXXXX";
  g_root = mkdtemp(tmpl);
  FreshConfigDir();
}

void ConfigDirEnvironment::TearDown() {
  std::error_code ec;
  if (!g_root.empty()) fs::remove_all(g_root, ec);
}

std::string FreshConfigDir() {
  const std::string dir = g_root + "/cfg" + std::to_string(++g_counter);
  fs::create_directories(dir);
  setenv("ORVANE_CONFIG_DIR", dir.c_str(), 1);
  orv::store::ResetForTests();
  return dir;
}

std::string ConfigDir() { return orv::store::ConfigDir(); }

std::string ReadConfigFile(const std::string& name) {
  return orv::store::ReadFile(ConfigDir() + "/" + name).value_or("");
}

void WriteConfigFile(const std::string& name, const std::string& text) {
  orv::store::ReplaceFileAtomically(ConfigDir() + "/" + name, text);
}

}  // namespace orv::test
