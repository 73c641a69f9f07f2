// Search directories, directory creation, rename and the home folder.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "core/datafile_internal.h"

namespace {

std::vector<std::string> g_search_directories;
bool g_directories_built = false;

// "/" separators only, no runs of them, one at the end.
std::string normalise_directory(const std::string& path) {
  std::string out;
  out.reserve(path.size() + 1);
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

std::string user_data_directory() {
  const char* xdg = getenv("XDG_DATA_HOME");
  // Relative values are invalid for XDG_DATA_HOME and are ignored.
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/Dirtvane/";
  const char* home = getenv("HOME");
  if (!home || !home[0]) {
    struct passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (!home || !home[0]) return std::string();
  return std::string(home) + "/.local/share/Dirtvane/";
}

std::string program_directory() {
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  if (n <= 0 || (size_t)n >= sizeof path) return std::string();
  std::string exe(path, (size_t)n);
  size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return std::string();
  return exe.substr(0, slash) + "/";
}

void build_search_directories() {
  if (g_directories_built) return;
  g_directories_built = true;
  g_search_directories.clear();
  std::string home = user_data_directory();
  if (!home.empty()) g_search_directories.push_back(normalise_directory(home));
  // An empty DV_HOME would name the file-system root; treat it as unset.
  const char* dv_home = getenv("DV_HOME");
  if (dv_home && dv_home[0]) {
    g_search_directories.push_back(normalise_directory(std::string(dv_home) + "/"));
  } else {
    std::string program = program_directory();
    if (!program.empty()) g_search_directories.push_back(normalise_directory(program));
  }
}

bool make_directory(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  return false;
}

// Resolves "@name" against the home directory; other names stay as they are.
bool home_path(const char* name, std::string& out) {
  if (name[0] != '@') {
    out = name;
    return true;
  }
  const char* home = home_directory();
  if (!home) return false;
  out = std::string(home) + (name + 1);
  return true;
}

}  // namespace

const char* search_directory(int n) {
  build_search_directories();
  if (n < 0 || (size_t)n >= g_search_directories.size()) return nullptr;
  return g_search_directories[(size_t)n].c_str();
}

const char* home_directory() { return search_directory(0); }

void set_search_directories(const std::vector<std::string>& directories) {
  g_search_directories.clear();
  for (const std::string& d : directories) g_search_directories.push_back(normalise_directory(d));
  g_directories_built = true;
  invalidate_catalogue();
}

void free_search_directories() {
  g_search_directories.clear();
  g_search_directories.shrink_to_fit();
  g_directories_built = false;
}

// Creates every directory named before a "/" of the path.
void create_parent_directories(const std::string& path) {
  if (path.size() >= PATH_MAX) return;
  for (size_t i = 1; i < path.size(); i++) {
    if (path[i] == '/' && path[i - 1] != '/') make_directory(path.substr(0, i));
  }
}

bool create_home_directory() {
  const char* home = home_directory();
  if (!home) return false;
  create_parent_directories(home);
  struct stat st;
  return stat(home, &st) == 0 && S_ISDIR(st.st_mode);
}

bool data_rename(const char* from, const char* to) {
  if (!from || !to) return false;
  std::string source, target;
  if (!home_path(from, source) || !home_path(to, target)) return false;
  // rename() replaces an existing target atomically; removing it first would
  // open a window in which a crash loses both files.
  return rename(source.c_str(), target.c_str()) == 0;
}

bool open_home_folder() {
  if (!create_home_directory()) return false;
  std::string folder = home_directory();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

  // Resolve the program before forking: between fork and exec only
  // async-signal-safe calls are allowed, and the audio thread may hold locks.
  std::vector<std::string> candidates;
  const char* path_env = getenv("PATH");
  std::string search = path_env ? path_env : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= search.size()) {
    size_t colon = search.find(':', start);
    if (colon == std::string::npos) colon = search.size();
    std::string dir = search.substr(start, colon - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/xdg-open";
    if (access(candidate.c_str(), X_OK) == 0) candidates.push_back(candidate);
    start = colon + 1;
  }
  if (candidates.empty()) return false;
  const char* program = candidates[0].c_str();
  char* const argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(folder.c_str()), nullptr};
  extern char** environ;

  // Fork twice so that the browser is not our child: the intermediate child
  // exits at once, we reap it, and nothing is left to wait for.
  pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, 0);
      dup2(null_fd, 1);
      dup2(null_fd, 2);
    }
    execve(program, argv, environ);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
