// The stream scan: the first byte picks a format from a fixed table, the rest
// is the input. Every result is also held against the C library's fscanf over
// the same bytes, so a divergence stops the run like a crash would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/datafile.h"

namespace {

// Every string conversion has a width below the 64-byte slots.
const char* const FORMATS[] = {
    "%d",           "%i%n",          "%o %x",          "%u%X",         "%hhd%hd",       "%ld%lld",
    "%f",           "%lf%n",         "%Lf",            "%e %g %a",     "%5f%3lf",       "%*f%n",
    "%63s",         "%10s%n%5s",     "%1c%n",          "%8c",          "%63[a-z]",      "%63[^\n]%n",
    "%20[]a-]%n",   "%9[^]-]",       " %c%n",          "%%%d",         "[%f %f %f]",    "%63[^=]=%63s",
    " #%*[^\n]%n",  "%3d%3d%3d",     "%2i%n",          "%*s%*d%n",     "%d,%d,%d",      "x%dy",
    "%n%n",         "%lx%n",         "%63s %63s %63s", "%5[0-9a-f]%i", "%hhn%hn%ln",    "%[abc",
    "%",            "%l",            "%zd%jd%td",      "%4c%4c",       "%e%e%e%e",      "%63[\x80-\xff]",
};
constexpr size_t FORMAT_COUNT = sizeof FORMATS / sizeof FORMATS[0];

struct Slots {
  alignas(16) unsigned char bytes[8][64];
};

#define SLOT_ARGS(s)                                                                                       \
  (void*)(s).bytes[0], (void*)(s).bytes[1], (void*)(s).bytes[2], (void*)(s).bytes[3], (void*)(s).bytes[4], \
      (void*)(s).bytes[5], (void*)(s).bytes[6], (void*)(s).bytes[7]

#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#pragma clang diagnostic ignored "-Wformat-security"
#pragma clang diagnostic ignored "-Wformat"

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char* format = FORMATS[data[0] % FORMAT_COUNT];
  const unsigned char* input = data + 1;
  size_t length = size - 1;

  Slots ours, theirs;
  memset(&ours, 0x5a, sizeof ours);
  memset(&theirs, 0x5a, sizeof theirs);
  DataStream* s = data_open_memory(input, length);
  int our_result = data_scanf(s, format, SLOT_ARGS(ours));
  std::string our_rest;
  for (int c; (c = data_getc(s)) >= 0;) our_rest += (char)c;
  data_close(s);

  std::string copy(reinterpret_cast<const char*>(input), length);
  FILE* f = fmemopen(copy.data(), copy.size(), "r");
  if (!f) return 0;
  int their_result = fscanf(f, format, SLOT_ARGS(theirs));
  std::string their_rest;
  for (int c; (c = fgetc(f)) != EOF;) their_rest += (char)c;
  fclose(f);

  if (our_result != their_result || our_rest != their_rest || memcmp(&ours, &theirs, sizeof ours) != 0) {
    fprintf(stderr, "scan differs from the C library for format \"%s\"\n", format);
    abort();
  }

  // The line and comment readers over the same bytes.
  s = data_open_memory(input, length);
  char line[17];
  while (data_gets(line, sizeof line, s)) {
    data_skip_comments(s);
    data_read_int(s);
  }
  data_close(s);
  return 0;
}

#pragma clang diagnostic pop
