// Platform log and options: one time-stamped log file shared by every thread,
// and the platform's own switches read from the VORN_OPTIONS environment text.
#pragma once

#include <cstdarg>

// printf-style log line. A null format closes the log. The first call opens
// the file (VORN_LOGFILE, or a first message "VORN_LOGFILE=<name>").
// Each call writes one whole line prefixed by "[h:mm:ss.hh] " and flushes.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_vprintf(const char* format, va_list args);

// Logs "Error: <text>\n" and keeps the text as the last error.
void log_error(const char* text);
const char* last_error();

// Lookups in VORN_OPTIONS ("[name:value]" anywhere in the text).
int option_flag(const char* name, int default_value);
int option_number(const char* name, int default_value);

// Seconds since the log clock started (the first log call or first clock query).
double platform_elapsed_seconds();

// Test hooks: forget the open log and the cached options text so the next
// call reads the environment again.
void log_reset_for_tests();
void options_reset_for_tests();
