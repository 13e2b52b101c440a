// The start: milliseconds from exec to the first picture drawn, for the program on its virtual card
// under Qt's offscreen platform (ORVANE_EXIT_AFTER_FIRST_PICTURE ends it right after that paint),
// with fresh settings each time. Beside it, in the same run, a bare Qt program that shows one window
// and ends after its first paint: what any program of Qt widgets pays before it can show a thing.
// Medians; goal: the program's at most 300 ms.
//
//   bench_startup [runs] [deinterlace]   (default 5; the program is build/orvanetuner, beside this
//                                         folder; deinterlace: with DeinterlacePreview=1)
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr double kGoalMs = 300;

// The reference: a window that ends the program once it has painted.
class FirstPaint : public QWidget {
 protected:
  void paintEvent(QPaintEvent*) override {
    QTimer::singleShot(0, [] { std::_Exit(0); });
  }
};

int Reference(int argc, char** argv) {
  QApplication app(argc, argv);
  FirstPaint window;
  window.resize(640, 480);
  window.show();
  return app.exec();
}

// Milliseconds from spawning `program` to its exit; negative when it failed or took over 20 s.
double TimeToExit(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return -1;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    usleep(200);
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

// The caller's environment with these variables set over it.
std::vector<std::string> Environment(const std::vector<std::pair<std::string, std::string>>& set) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (std::none_of(set.begin(), set.end(), [&](const auto& s) { return s.first == name; })) env.push_back(entry);
  }
  for (const auto& [name, value] : set) env.push_back(name + "=" + value);
  return env;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--reference") == 0) return Reference(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const bool deinterlace = argc > 2 && std::strcmp(argv[2], "deinterlace") == 0;
  const fs::path self = fs::canonical("/proc/self/exe");
  const std::string program = (self.parent_path().parent_path() / "orvanetuner").string();
  if (!fs::exists(program)) {
    std::fprintf(stderr, "no program at %s\n", program.c_str());
    return 1;
  }
  const fs::path scratch = fs::temp_directory_path() / ("orvane-startup-" + std::to_string(getpid()));
  std::vector<double> ours, bare;
  for (int i = 0; i < runs; ++i) {
    // Fresh settings and session each time, as on a first start.
    const fs::path config = scratch / ("config" + std::to_string(i)), runtime = scratch / ("run" + std::to_string(i));
    fs::create_directories(config);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    if (deinterlace) std::ofstream(config / "win.ini") << "[orvane]\nDeinterlacePreview=1\n";
    ours.push_back(TimeToExit(program, {}, Environment({{"QT_QPA_PLATFORM", "offscreen"}, {"ORVANE_DEVICES", "virtual"},
                                                       {"ORVANE_MIXER", "virtual"}, {"ORVANE_EXIT_AFTER_FIRST_PICTURE", "1"},
                                                       {"ORVANE_CONFIG_DIR", config.string()},
                                                       {"XDG_RUNTIME_DIR", runtime.string()}})));
    bare.push_back(TimeToExit(self.string(), {"--reference"}, Environment({{"QT_QPA_PLATFORM", "offscreen"}})));
    if (ours.back() < 0 || bare.back() < 0) {
      std::fprintf(stderr, "run %d: %s did not show a picture and end\n", i + 1, ours.back() < 0 ? "the program" : "the reference");
      fs::remove_all(scratch);
      return 1;
    }
    std::printf("run %d: %6.1f ms, bare Qt %6.1f ms\n", i + 1, ours.back(), bare.back());
  }
  fs::remove_all(scratch);
  const double m = Median(ours), r = Median(bare);
  std::printf("\nfirst picture after exec%s, median of %d: %.1f ms (goal %.0f); bare Qt's first paint %.1f ms; ratio %.2f\n",
              deinterlace ? " (deinterlaced)" : "", runs, m, kGoalMs, r, m / r);
  return m <= kGoalMs ? 0 : 1;
}
