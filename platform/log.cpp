#include "platform/log.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_log_mutex;
FILE* g_log_file = nullptr;
bool g_log_started = false;
std::string g_last_error;

std::chrono::steady_clock::time_point clock_origin() {
  static const std::chrono::steady_clock::time_point origin = std::chrono::steady_clock::now();
  return origin;
}

// Opens the log file from a name that may carry the ">>" (append) or ">" prefix.
void open_log_file(const char* name) {
  const char* flags = getenv("VORN_LOGFILE_FLAGS");
  std::string mode = flags ? flags : "w";
  if (name[0] == '>' && name[1] == '>') {
    name += 2;
    mode = "a";
  } else if (name[0] == '>') {
    name += 1;
  }
  g_log_file = fopen(name, mode.c_str());
}

// Writes one time-stamped line; the caller holds the mutex.
void write_line_locked(const char* text) {
  if (!g_log_file) return;
  long hundredths = (long)(platform_elapsed_seconds() * 100.0);
  int h = (int)(hundredths / 360000);
  int m = (int)(hundredths / 6000 % 60);
  int s = (int)(hundredths / 100 % 60);
  int c = (int)(hundredths % 100);
  char stamp[48];
  int n = snprintf(stamp, sizeof stamp, "[%d:%02d:%02d.%02d] ", h, m, s, c);
  std::string line(stamp, (size_t)n);
  line += text;
  fwrite(line.data(), 1, line.size(), g_log_file);
  fflush(g_log_file);
}

std::string format_message(const char* format, va_list args) {
  char small[1024];
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if ((size_t)n < sizeof small) return std::string(small, (size_t)n);
  std::string big((size_t)n + 1, '\0');
  vsnprintf(big.data(), big.size(), format, args);
  big.resize((size_t)n);
  return big;
}

}  // namespace

double platform_elapsed_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - clock_origin()).count();
}

void log_vprintf(const char* format, va_list args) {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (!format) {
    if (g_log_file) fclose(g_log_file);
    g_log_file = nullptr;
    return;
  }
  std::string message = format_message(format, args);
  if (!g_log_started) {
    g_log_started = true;
    clock_origin();
    const char* env_name = getenv("VORN_LOGFILE");
    const char* prefix = "VORN_LOGFILE=";
    bool names_file = strncmp(message.c_str(), prefix, strlen(prefix)) == 0;
    if (env_name) {
      open_log_file(env_name);
    } else if (names_file) {
      open_log_file(message.c_str() + strlen(prefix));
    }
    if (g_log_file) {
      std::string opened = std::string("Logfile \"") + (env_name ? env_name : message.c_str() + strlen(prefix)) + "\" opened\n";
      write_line_locked(opened.c_str());
      write_line_locked("VORN 0.31\n");
    }
    if (names_file) return;
  }
  if (!message.empty() && message[0] == 19) return;
  write_line_locked(message.c_str());
}

void log_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_vprintf(format, args);
  va_end(args);
}

void log_error(const char* text) {
  {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_last_error = text ? text : "";
  }
  log_printf("Error: %s\n", text ? text : "");
}

const char* last_error() { return g_last_error.c_str(); }

void log_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  if (g_log_file) fclose(g_log_file);
  g_log_file = nullptr;
  g_log_started = false;
}
