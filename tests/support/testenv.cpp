#include "tests/support/testenv.h"

#include "platform/store/filestore.h"
#include "platform/store/registry.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace orv::test {
namespace {
std::string g_root;
int g_counter = 0;
}  // namespace

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
