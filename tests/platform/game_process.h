// The game executable run as a child process by the tests that play it: a
// private root holding the home directory, the leak-check suppressions and
// the child's stdout and stderr, the environment the game reads, and waiting
// on the child with a time limit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

inline std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_text(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

inline long file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (long)st.st_size : -1;
}

struct GameProcess {
  std::string root;       // private scratch directory, removed by the destructor
  std::string home;       // root + "/xdg/Dirtvane/"
  std::string data_root;  // the data set the game is pointed at (DV_HOME)
  std::string digest;     // expected game-data digest for the test build
  pid_t pid = -1;
  bool exited = false;
  int status = 0;

  GameProcess() = default;
  GameProcess(const GameProcess&) = delete;
  GameProcess& operator=(const GameProcess&) = delete;
  ~GameProcess() {
    if (pid > 0 && !exited) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    }
    if (!root.empty()) std::filesystem::remove_all(root);
  }

  // Makes the root under /tmp named from `prefix`; false when it cannot.
  bool make_root(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "_XXXXXX";
    if (!mkdtemp(pattern.data())) return false;
    root = pattern;
    home = root + "/xdg/Dirtvane/";
    std::filesystem::create_directories(home);
    // Under the sanitizer build: the desktop's D-Bus library and the GL
    // driver keep allocations until exit that are not ours to free.
    write_text(root + "/lsan.supp",
               "leak:libdbus-1.so\nleak:_dri.so\nleak:libLLVM\nleak:libgallium\nleak:libGLX\nleak:libglapi\n");
    return true;
  }

  // Starts `executable` with `arguments` (after the program name), stdout and
  // stderr going to root/out and root/err; `display` overrides DISPLAY.
  pid_t start(const char* executable, const std::vector<std::string>& arguments, const char* display = nullptr) {
    exited = false;
    status = 0;
    pid = fork();
    if (pid == 0) {
      if (chdir(root.c_str()) != 0) _exit(126);
      setenv("HOME", root.c_str(), 1);
      setenv("XDG_DATA_HOME", (root + "/xdg").c_str(), 1);
      setenv("DV_HOME", data_root.c_str(), 1);
      if (!digest.empty()) setenv("DV_TEST_GAME_DATA_DIGEST", digest.c_str(), 1);
      setenv("VORN_OPTIONS", "[message-box:off]", 1);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      std::string lsan = "suppressions=" + root + "/lsan.supp";
      if (const char* given = getenv("LSAN_OPTIONS")) lsan = std::string(given) + ":" + lsan;
      setenv("LSAN_OPTIONS", lsan.c_str(), 1);
      unsetenv("VORN_LOGFILE");
      if (display) setenv("DISPLAY", display, 1);
      int out = open((root + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open((root + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<std::string> copies = arguments;
      std::string name = "dirtvane";
      std::vector<char*> argv;
      argv.push_back(name.data());
      for (std::string& a : copies) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(executable, argv.data());
      _exit(127);
    }
    return pid;
  }

  // Polls until `ready` holds or `seconds` pass; false on timeout or when the
  // game ended first without `ready` holding.
  template <typename Ready>
  bool wait_until(double seconds, Ready ready) {
    for (int i = 0; i < seconds * 20; i++) {
      if (ready()) return true;
      if (!exited && waitpid(pid, &status, WNOHANG) == pid) {
        exited = true;
        return ready();
      }
      if (exited) return ready();
      usleep(50000);
    }
    return false;
  }

  bool wait_for_log(const std::string& text, double seconds) {
    return wait_until(seconds, [&] { return log().find(text) != std::string::npos; });
  }

  // Waits for the game to end, killing it after `seconds`: its exit code, or
  // -1 when it did not exit by itself.
  int finish(double seconds = 20) {
    if (!exited) {
      wait_until(seconds, [] { return false; });
      if (!exited) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        exited = true;
        return -1;
      }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string log() const { return read_text(home + "lastlog.txt"); }
  std::string diagnostics() const { return "log:\n" + log() + "\nstderr:\n" + read_text(root + "/err"); }
};
