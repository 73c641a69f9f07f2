#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/log.h"

namespace {

std::mutex g_options_mutex;
bool g_options_read = false;
std::string g_options_text;

const std::string& options_text() {
  std::lock_guard<std::mutex> lock(g_options_mutex);
  if (!g_options_read) {
    const char* env = getenv("VORN_OPTIONS");
    g_options_text = env ? env : "";
    g_options_read = true;
  }
  return g_options_text;
}

// Returns the text right after "[name:", or nullptr when the setting is absent.
const char* find_setting(const char* name) {
  std::string key = "[";
  key.append(name, strnlen(name, 60));
  key += ':';
  const std::string& text = options_text();
  size_t at = text.find(key);
  if (at == std::string::npos) return nullptr;
  return text.c_str() + at + key.size();
}

}  // namespace

int option_flag(const char* name, int default_value) {
  const char* value = find_setting(name);
  if (!value) return default_value;
  if (strncmp(value, "yes]", 4) == 0 || strncmp(value, "on]", 3) == 0) return 1;
  if (strncmp(value, "no]", 3) == 0 || strncmp(value, "off]", 4) == 0) return 0;
  log_printf("unrecognized setting for %s\n", name);
  return default_value;
}

int option_number(const char* name, int default_value) {
  const char* value = find_setting(name);
  if (!value) return default_value;
  const char* p = value;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  if (*p < '0' || *p > '9') {
    log_printf("unrecognized setting for %s\n", name);
    return default_value;
  }
  long n = 0;
  while (*p >= '0' && *p <= '9' && n < 100000000) n = n * 10 + (*p++ - '0');
  return (int)(negative ? -n : n);
}

void options_reset_for_tests() {
  std::lock_guard<std::mutex> lock(g_options_mutex);
  g_options_read = false;
  g_options_text.clear();
}
