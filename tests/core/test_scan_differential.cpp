// The stream's scan against the C library's: for a systematic table of
// formats and inputs, the return value, every byte of every argument and the
// characters left unread must agree with sscanf (values) and with fscanf over
// an in-memory FILE (what is left, which sscanf cannot show).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/datafile.h"

namespace {

constexpr int SLOTS = 8;
constexpr size_t SLOT_BYTES = 256;

struct Outcome {
  int result = 0;
  alignas(16) unsigned char slots[SLOTS][SLOT_BYTES];  // each slot fits a long double
  std::string rest;
};

void fill_slots(Outcome& o) { memset(o.slots, 0xA5, sizeof o.slots); }

// Every argument is a pointer into its own slot; unused ones are ignored by
// the scan. All pointers share one representation here, so passing void*
// for int*, float* or char* is sound on this platform.
#define SLOT_ARGS(o)                                                                                   \
  (void*)(o).slots[0], (void*)(o).slots[1], (void*)(o).slots[2], (void*)(o).slots[3], (void*)(o).slots[4], \
      (void*)(o).slots[5], (void*)(o).slots[6], (void*)(o).slots[7]

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"

// The C library over the same bytes: fscanf on an in-memory FILE shows what
// stays unread; sscanf (for inputs without a NUL, which would end its string
// early) must agree with it.
Outcome run_library(const std::string& input, const char* format) {
  Outcome o;
  fill_slots(o);
  std::string copy = input;
  FILE* f = fmemopen(copy.data(), copy.size(), "r");
  if (!f) {
    o.result = -99;
    return o;
  }
  o.result = fscanf(f, format, SLOT_ARGS(o));
  for (int c; (c = fgetc(f)) != EOF;) o.rest += (char)c;
  fclose(f);
  return o;
}

Outcome run_library_string(const std::string& input, const char* format) {
  Outcome o;
  fill_slots(o);
  o.result = sscanf(input.c_str(), format, SLOT_ARGS(o));
  return o;
}

Outcome run_ours(const std::string& input, const char* format) {
  Outcome o;
  fill_slots(o);
  DataStream* s = data_open_memory(input.data(), input.size());
  o.result = data_scanf(s, format, SLOT_ARGS(o));
  for (int c; (c = data_getc(s)) >= 0;) o.rest += (char)c;
  data_close(s);
  return o;
}

#pragma GCC diagnostic pop

std::string escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += (char)c;
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

const std::vector<std::string>& inputs() {
  static const std::vector<std::string> list = {
      "", " ", "\t\n\v\f\r", "0", "-0", "+0", "+", "-", "--1", "+-1", "7", "123", "-123", "+45", "  42abc",
      "00012", "0x", "0X", "0x1F", "0XaBc", "0xg", "-0x10", "+0x", "077", "089", "0b101", "12 34 56",
      "12,34", "1 2 3 4 5 6 7 8", "9x", "255", "256", "-128", "-129", "32767", "32768", "65536", "-32769",
      "2147483647", "2147483648", "-2147483649", "4294967295", "4294967296", "99999999999",
      "9223372036854775807", "9223372036854775808", "-9223372036854775809", "18446744073709551615",
      "18446744073709551616", "123456789012345678901234567890", "-18446744073709551616",
      "1e5", "1e", "1e+", "1e-", "1e-3x", "1E+2", "2.5E", ".5", "5.", ".", "-.", "-.5e-3", "1.2.3", "1..2",
      "3.14159265358979323846264338327950288", "0.1", "1.17549435e-38", "1.4e-45", "1e-46", "3.4028235e38",
      "3.4028236e38", "1e39", "1e308", "1e309", "4.9e-324", "2.2250738585072014e-308", "1e400", "-1e400",
      "0.30000000000000004", "123456789e-20", "0x1p3", "0x1P-2", "0x.8p1", "0x1.8", "0x1.fffffep127", "0xp1",
      "0x.", "-0x1p", "inf", "-inf", "+INF", "Infinity", "INFINITYx", "infin", "infx", "in", "i", "nan",
      "-NaN", "nan(123)", "NaNx", "na", "n", "1,5", "e5", "abc", "abc def", " \t abc\n", "ab\ncd",
      "x", "xyz", "%", "%%", " %5", "%d", "a%b", "]", "]-^a", "^]", "-a-", "abc]def", "aaabbbccc", "zyx",
      "A-Z", "\xe9t\xff", "\x80\x81", std::string("a\0b", 3), "0123456789abcdef", "hello, world",
      "[1.5 -2 3e2]", "key=value", "  \n  7  \n", "# comment\n12",
  };
  return list;
}

// One conversion with every prefix combination worth checking.
std::vector<std::string> single_conversions() {
  std::vector<std::string> formats;
  const char* widths[] = {"", "1", "2", "3", "5", "12", "0"};
  const char* integer_sizes[] = {"", "hh", "h", "l", "ll", "L", "j", "z", "t"};
  const char* float_sizes[] = {"", "l", "L", "h"};
  for (const char* star : {"", "*"}) {
    for (const char* w : widths) {
      for (const char* conv : {"d", "i", "o", "u", "x", "X"})
        for (const char* size : integer_sizes) formats.push_back(std::string("%") + star + w + size + conv);
      for (const char* conv : {"f", "e", "g", "a", "E", "G", "F", "A"})
        for (const char* size : float_sizes) formats.push_back(std::string("%") + star + w + size + conv);
      for (const char* conv : {"s", "c", "[a-z]", "[^ \n]", "[]a-]", "[^]]", "[0-9a-fA-F]", "[-a]", "[z-a]",
                               "[a-c-e]", "[]-a]", "[^-]", "[%]", "[^\xe9]"})
        formats.push_back(std::string("%") + star + w + conv);
      formats.push_back(std::string("%") + star + w + "%");
    }
  }
  for (const char* size : integer_sizes) formats.push_back(std::string("%") + size + "n");
  return formats;
}

// Several directives together: literals, white space, counts, failures.
std::vector<std::string> combined_formats() {
  return {
      "",       " ",          "abc",        " x",        "%d%n",      "%d %d",      "%d,%d",      "%d%d%d%d",
      "%s%n%c", "%*d%n",      " %c",        "%c%c%c",    "a%db",      " x %d",      "%5s%s",      "%[a-z]%n",
      "%[^,],%d", "%%%d",     "%d%%",       "%f%f",      "%3d%3d",    "%d ",        "%d x",       "%n%d",
      "%n",     "%n%n",       " %n",        "%2c%n",     "%*5c%n",    "%*s%n",      "%*[a-z]%n",  "%*f%n",
      "%d%*d%d", "%*d",       "%*d%d",      "%lf%n",     "%le %le",   "[%f %f %f]", "%s=%s",      "%[^=]=%s",
      "%hhd%hhd", "%i%i%i",   "%x%n",       "%o%n",      "%u%n",      "%e%n",       "%g%c",       "%f%s",
      "%d%s",   "%s%d",       "%c%d",       "%3c",       "%10c",      "%ld%n",      "%lld%n",     "%Lf%n",
      "%",      "%l",         "%5",         "%*",        "%y",        "%ly",        "%[abc",      "%[]",
      "%[^",    "%5%",        "x%",         "\xe9%d",    " \xe9%s",   "%d\xe9",     "%d\n%d",     "%d\t",
      "# %d",   " #%*[^\n]%n", "%d%[^\n]%n", "%4s%n%4s%n", "%%%%",     " %% %d",     "%c %c",      "%s %s %s",
      "%2d%2d%2d", "%1s%1s",  "%1[a]%1[b]", "%dx%n",     "%d.%d",     "%f.%d",      "%i%n%i%n",   "%*i%*i%n",
  };
}

TEST(ScanDifferential, MatchesTheCLibrary) {
  std::vector<std::string> formats = single_conversions();
  for (const std::string& f : combined_formats()) formats.push_back(f);
  size_t cases = 0, mismatches = 0;
  std::string report;
  for (const std::string& format : formats) {
    for (const std::string& input : inputs()) {
      cases++;
      Outcome expected = run_library(input, format.c_str());
      Outcome got = run_ours(input, format.c_str());
      bool same = expected.result == got.result && expected.rest == got.rest &&
                  memcmp(expected.slots, got.slots, sizeof got.slots) == 0;
      if (input.find('\0') == std::string::npos) {
        Outcome by_string = run_library_string(input, format.c_str());
        same = same && by_string.result == got.result && memcmp(by_string.slots, got.slots, sizeof got.slots) == 0;
      }
      if (same) continue;
      if (++mismatches <= 25) {
        report += "  format \"" + escaped(format) + "\" input \"" + escaped(input) + "\": C library " +
                  std::to_string(expected.result) + " rest \"" + escaped(expected.rest) + "\", ours " +
                  std::to_string(got.result) + " rest \"" + escaped(got.rest) + "\"";
        for (int i = 0; i < SLOTS; i++)
          if (memcmp(expected.slots[i], got.slots[i], SLOT_BYTES) != 0) report += " (argument " + std::to_string(i) + " differs)";
        report += "\n";
      }
    }
  }
  // The table must stay broad: a shrunken table would pass too easily.
  EXPECT_GT(cases, 100000u);
  printf("%zu cases\n", cases);
  EXPECT_EQ(mismatches, 0u) << mismatches << " of " << cases << " cases differ, the first ones:\n" << report;
}

}  // namespace
