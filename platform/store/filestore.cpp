#include "platform/store/filestore.h"
#include "platform/store/registry.h"
#include "platform/log.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace orv::store {

std::string ConfigDir() {
  if (const char* d = std::getenv("ORVANE_CONFIG_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/orvanetuner";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.config/orvanetuner";
}

std::optional<std::string> ReadFile(const std::string& path, std::string* unreadable) {
  if (unreadable) unreadable->clear();
  auto fail = [&](int error) -> std::optional<std::string> {
    if (unreadable && error != ENOENT && error != ENOTDIR) *unreadable = std::strerror(error);
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  std::string text;
  char buf[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      return fail(error);
    }
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

static bool MakeDirs(const std::string& dir) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = dir.find('/', pos + 1);
    partial = dir.substr(0, pos);
    if (partial.empty()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text) {
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && !MakeDirs(path.substr(0, slash))) return false;
  const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const char* p = text.data();
  std::size_t left = text.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (ok && ::fsync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

void SetAside(const std::string& path, const std::string& why) {
  const std::string aside = path + ".bad-" + std::to_string(std::time(nullptr));
  if (::rename(path.c_str(), aside.c_str()) == 0)
    LogError("store", "%s is malformed (%s); kept as %s, defaults apply", path.c_str(), why.c_str(), aside.c_str());
  else
    LogErrno("store", "%s is malformed (%s); defaults apply, and it could not be moved aside", path.c_str(),
             why.c_str());
}

void WarnOnce(const std::string& message) {
  static std::mutex mu;
  static std::set<std::string> said;
  std::lock_guard lock(mu);
  if (said.insert(message).second) LogError("store", "%s", message.c_str());
}

std::string KeepOffMessage(const std::string& path, const std::string& why) {
  return "cannot read " + path + " (" + why + "): defaults apply for this run, and the file is left as it is";
}

std::string FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ":" +
         std::to_string(st.st_size) + ":" + std::to_string(st.st_ino);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x < 128) x = static_cast<unsigned char>(std::tolower(x));
    if (y < 128) y = static_cast<unsigned char>(std::tolower(y));
    if (x != y) return false;
  }
  return true;
}

}  // namespace orv::store
