#include "track/text_lines.h"

#include <cstring>

#include "core/datafile.h"

bool read_text_line(DataStream* stream, char* buffer, int size) {
  if (!data_gets(buffer, size, stream)) return false;
  size_t length = strlen(buffer);
  if (length + 1 == (size_t)size && buffer[length - 1] != '\n') {
    int c;
    do {
      c = data_getc(stream);
    } while (c >= 0 && c != '\n');
  }
  return true;
}

bool split_keyword(char* line, const char* keyword_ends, char** keyword, char** argument) {
  char* p = line;
  while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') p++;
  if (!*p) return false;
  *keyword = p;
  while (*p && !strchr(keyword_ends, *p)) p++;
  if (*p) *p++ = '\0';
  while (*p == ' ' || *p == '\t') p++;
  *argument = p;
  return true;
}

void cut_at_line_end(char* text) { text[strcspn(text, "\r\n")] = '\0'; }

void trim_trailing_space(char* text) {
  size_t n = strlen(text);
  while (n > 0 && strchr(" \t\r\n\f\v", text[n - 1])) text[--n] = '\0';
}

const char* base_file_name(const char* name) {
  if (name[0] == '@') name++;
  const char* slash = strrchr(name, '/');
  return slash ? slash + 1 : name;
}
