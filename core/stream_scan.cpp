// The stream's formatted scan, comment skipping and integer reading.
//
// The scan follows the C library's sscanf on this platform character for
// character (the differential test holds it to that): the same characters are
// consumed, the same fields assigned, the same count returned. It reads the
// stream one character at a time and never needs more than the one-character
// push-back slot: like the C library, a mismatch inside a number or a word
// such as "inf" drops the characters read so far and pushes back at most the
// last one.
#include <locale.h>

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/datafile.h"
#include "core/datafile_internal.h"

namespace {

// Integer and float argument sizes: "hh", "h", none, "l", "ll"/"L"/"q".
enum ArgSize { SIZE_CHAR, SIZE_SHORT, SIZE_INT, SIZE_LONG, SIZE_LONG_LONG };

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_hex_digit(int c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int to_lower(int c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

// Number conversions always use the "C" locale, whatever the program set.
locale_t c_locale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
  return locale;
}

// The characters of one number field; short fields stay on the stack.
class FieldText {
 public:
  void add(int c) {
    if (length_ + 1 < sizeof small_) {
      small_[length_++] = (char)c;
      return;
    }
    if (large_.empty()) large_.assign(small_, length_);
    large_ += (char)c;
    length_++;
  }
  size_t length() const { return length_; }
  char last() const { return length_ == 0 ? '\0' : (large_.empty() ? small_[length_ - 1] : large_.back()); }
  char first() const { return length_ == 0 ? '\0' : (large_.empty() ? small_[0] : large_[0]); }
  const char* c_str() {
    if (!large_.empty()) return large_.c_str();
    small_[length_] = '\0';
    return small_;
  }

 private:
  char small_[128];
  size_t length_ = 0;
  std::string large_;
};

struct Scanner {
  DataStream* stream;
  long start;
  bool ended = false;  // the end, once seen, stays for the rest of the call
  int c = 0;           // the character last read, -1 at the end

  int get() {
    if (ended) return c = -1;
    c = stream_getc(stream);
    if (c < 0) ended = true;
    return c;
  }
  void unget() {
    if (c >= 0) stream->pushback = c;
  }
  long consumed() const { return stream_tell(stream) - start; }
  void skip_space() {
    do get();
    while (is_space(c));
    unget();
  }
};

// Outcome of one directive: go on, stop with a matching failure, or stop at
// the end of the input (an input failure).
enum Step { STEP_NEXT, STEP_MISMATCH, STEP_END };

struct Conversion {
  bool suppress = false;
  int width = -1;  // -1: none
  ArgSize size = SIZE_INT;
  bool wide = false;  // "l" on c, s or [: wide characters, which we do not store
};

// A "%[" set, parsed from the format; returns the character after the "]", or
// nullptr when the set is not closed.
const unsigned char* parse_set(const unsigned char* f, bool set[256]) {
  memset(set, 0, 256 * sizeof(bool));
  bool negate = false;
  if (*f == '^') {
    negate = true;
    f++;
  }
  // A "]" or "-" right at the start belongs to the set.
  if (*f == ']' || *f == '-') set[*f++] = true;
  unsigned char fc;
  while ((fc = *f++) != '\0' && fc != ']') {
    if (fc == '-' && *f != '\0' && *f != ']' && f[-2] <= *f) {
      for (unsigned range = f[-2]; range < *f; range++) set[range] = true;
    } else {
      set[fc] = true;
    }
  }
  if (fc == '\0') return nullptr;
  if (negate)
    for (int i = 0; i < 256; i++) set[i] = !set[i];
  return f;
}

void store_count(va_list& args, const Conversion& conv, long count) {
  switch (conv.size) {
    case SIZE_CHAR: *va_arg(args, signed char*) = (signed char)count; break;
    case SIZE_SHORT: *va_arg(args, short*) = (short)count; break;
    case SIZE_INT: *va_arg(args, int*) = (int)count; break;
    case SIZE_LONG: *va_arg(args, long*) = count; break;
    case SIZE_LONG_LONG: *va_arg(args, long long*) = count; break;
  }
}

// Collects and converts an integer field.
Step scan_integer(Scanner& sc, const Conversion& conv, int base, bool is_signed, va_list& args, int& done) {
  FieldText text;
  int width = conv.width;
  if (sc.get() < 0) return STEP_END;
  if (sc.c == '-' || sc.c == '+') {
    text.add(sc.c);
    if (width > 0) width--;
    sc.get();
  }
  if (width != 0 && sc.c == '0') {
    if (width > 0) width--;
    text.add('0');
    sc.get();
    if (width != 0 && to_lower(sc.c) == 'x') {
      if (base == 0) base = 16;
      if (base == 16) {
        if (width > 0) width--;
        sc.get();
      }
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  while (sc.c >= 0 && width != 0) {
    if (base == 16 ? !is_hex_digit(sc.c) : (!is_digit(sc.c) || sc.c - '0' >= base)) break;
    text.add(sc.c);
    if (width > 0) width--;
    sc.get();
  }
  sc.unget();
  if (text.length() == 0 || (text.length() == 1 && (text.first() == '+' || text.first() == '-')))
    return STEP_MISMATCH;
  if (conv.suppress) return STEP_NEXT;
  const char* digits = text.c_str();
  if (is_signed) {
    long long value = strtoll(digits, nullptr, base);
    switch (conv.size) {
      case SIZE_CHAR: *va_arg(args, signed char*) = (signed char)value; break;
      case SIZE_SHORT: *va_arg(args, short*) = (short)value; break;
      case SIZE_INT: *va_arg(args, int*) = (int)value; break;
      case SIZE_LONG: *va_arg(args, long*) = (long)value; break;
      case SIZE_LONG_LONG: *va_arg(args, long long*) = value; break;
    }
  } else {
    unsigned long long value = strtoull(digits, nullptr, base);
    switch (conv.size) {
      case SIZE_CHAR: *va_arg(args, unsigned char*) = (unsigned char)value; break;
      case SIZE_SHORT: *va_arg(args, unsigned short*) = (unsigned short)value; break;
      case SIZE_INT: *va_arg(args, unsigned*) = (unsigned)value; break;
      case SIZE_LONG: *va_arg(args, unsigned long*) = (unsigned long)value; break;
      case SIZE_LONG_LONG: *va_arg(args, unsigned long long*) = value; break;
    }
  }
  done++;
  return STEP_NEXT;
}

// Reads the rest of a word such as "nan" or "infinity" after its first
// letter; false when a letter does not match (that character is dropped).
bool expect_letters(Scanner& sc, FieldText& text, int& width, const char* letters) {
  for (const char* l = letters; *l; l++) {
    if (width == 0 || sc.get() < 0 || to_lower(sc.c) != *l) return false;
    if (width > 0) width--;
    text.add(sc.c);
  }
  return true;
}

// Collects the characters of a floating-point field the way the C library
// does, then lets strtod and friends turn exactly that text into a value.
Step scan_float(Scanner& sc, const Conversion& conv, va_list& args, int& done) {
  FieldText text;
  int width = conv.width;
  if (sc.get() < 0) return STEP_END;
  if (width > 0) width--;
  bool got_digit = false, got_dot = false, got_e = false, got_sign = false, hex = false;
  if (sc.c == '-' || sc.c == '+') {
    got_sign = true;
    text.add(sc.c);
    if (width == 0 || sc.get() < 0) return STEP_MISMATCH;
    if (width > 0) width--;
  }
  if (to_lower(sc.c) == 'n') {
    text.add(sc.c);
    if (!expect_letters(sc, text, width, "an")) return STEP_MISMATCH;
  } else if (to_lower(sc.c) == 'i') {
    text.add(sc.c);
    if (!expect_letters(sc, text, width, "nf")) return STEP_MISMATCH;
    if (width != 0 && sc.get() >= 0) {
      if (to_lower(sc.c) == 'i') {
        if (width > 0) width--;
        text.add(sc.c);
        if (!expect_letters(sc, text, width, "nity")) return STEP_MISMATCH;
      } else {
        sc.unget();
      }
    }
  } else {
    char exp_char = 'e';
    if (width != 0 && sc.c == '0') {
      text.add(sc.c);
      sc.get();
      if (width > 0) width--;
      if (width != 0 && to_lower(sc.c) == 'x') {
        text.add(sc.c);
        hex = true;
        exp_char = 'p';
        sc.get();
        if (width > 0) width--;
      } else {
        got_digit = true;
      }
    }
    for (;;) {
      int c = sc.c;
      if (is_digit(c)) {
        text.add(c);
        got_digit = true;
      } else if (!got_e && hex && is_hex_digit(c)) {
        text.add(c);
        got_digit = true;
      } else if (got_e && text.last() == exp_char && (c == '-' || c == '+')) {
        text.add(c);
      } else if (got_digit && !got_e && to_lower(c) == exp_char) {
        text.add(exp_char);
        got_e = got_dot = true;
      } else if (!got_dot && c == '.') {
        text.add(c);
        got_dot = true;
      } else {
        sc.unget();
        break;
      }
      if (width == 0 || sc.get() < 0) break;
      if (width > 0) width--;
    }
    if (text.length() == (size_t)got_sign || (hex && text.length() == 2 + (size_t)got_sign)) return STEP_MISMATCH;
  }

  const char* number = text.c_str();
  char* end = nullptr;
  if (conv.size == SIZE_LONG_LONG) {
    long double value = strtold_l(number, &end, c_locale());
    if (end == number) return STEP_MISMATCH;
    if (!conv.suppress) *va_arg(args, long double*) = value;
  } else if (conv.size == SIZE_LONG) {
    double value = strtod_l(number, &end, c_locale());
    if (end == number) return STEP_MISMATCH;
    if (!conv.suppress) *va_arg(args, double*) = value;
  } else {
    float value = strtof_l(number, &end, c_locale());
    if (end == number) return STEP_MISMATCH;
    if (!conv.suppress) *va_arg(args, float*) = value;
  }
  if (!conv.suppress) done++;
  return STEP_NEXT;
}

Step scan_conversion(Scanner& sc, int fc, const unsigned char*& f, Conversion& conv, va_list& args, int& done) {
  switch (fc) {
    case '%':
      if (sc.get() < 0) return STEP_END;
      if (sc.c != '%') {
        sc.unget();
        return STEP_MISMATCH;
      }
      return STEP_NEXT;

    case 'n':
      if (!conv.suppress) store_count(args, conv, sc.consumed());
      return STEP_NEXT;

    case 'c': {
      if (conv.wide) return STEP_MISMATCH;
      int width = conv.width < 0 ? 1 : conv.width;
      char* out = conv.suppress ? nullptr : va_arg(args, char*);
      if (sc.get() < 0) return STEP_END;
      // A short field at the end keeps what was read and counts, as the C
      // library on this platform does.
      do {
        if (out) *out++ = (char)sc.c;
      } while (--width > 0 && sc.get() >= 0);
      if (out) done++;
      return STEP_NEXT;
    }

    case 's': {
      if (conv.wide) return STEP_MISMATCH;
      int width = conv.width;
      char* out = conv.suppress ? nullptr : va_arg(args, char*);
      if (sc.get() < 0) return STEP_END;
      do {
        if (is_space(sc.c)) {
          sc.unget();
          break;
        }
        if (out) *out++ = (char)sc.c;
      } while ((width <= 0 || --width > 0) && sc.get() >= 0);
      if (out) {
        *out = '\0';
        done++;
      }
      return STEP_NEXT;
    }

    case '[': {
      if (conv.wide) return STEP_MISMATCH;
      bool set[256];
      const unsigned char* after = parse_set(f, set);
      if (!after) return STEP_MISMATCH;
      f = after;
      int width = conv.width;
      char* out = conv.suppress ? nullptr : va_arg(args, char*);
      if (sc.get() < 0) return STEP_END;
      long before = sc.consumed() - 1;
      do {
        if (!set[sc.c]) {
          sc.unget();
          break;
        }
        if (out) *out++ = (char)sc.c;
      } while ((width < 0 || --width > 0) && sc.get() >= 0);
      if (sc.consumed() == before) return STEP_MISMATCH;
      if (out) {
        *out = '\0';
        done++;
      }
      return STEP_NEXT;
    }

    default:
      return STEP_MISMATCH;
  }
}

}  // namespace

int data_vscanf(DataStream* stream, const char* format, va_list args_in) {
  if (!stream || !format) return -1;
  va_list args;
  va_copy(args, args_in);
  Scanner sc{stream, stream_tell(stream)};
  const unsigned char* f = reinterpret_cast<const unsigned char*>(format);
  int done = 0;
  bool skip_space = false;
  Step step = STEP_NEXT;

  while (*f && step == STEP_NEXT) {
    int fc = *f++;
    if (fc != '%') {
      // White space in the format matches any amount of white space, which
      // is skipped only when the next directive comes.
      if (is_space(fc)) {
        skip_space = true;
        continue;
      }
      if (sc.get() < 0) {
        step = STEP_END;
        break;
      }
      if (skip_space) {
        while (is_space(sc.c))
          if (sc.get() < 0) break;
        skip_space = false;
        if (sc.c < 0) {
          step = STEP_END;
          break;
        }
      }
      if (sc.c != fc) {
        sc.unget();
        step = STEP_MISMATCH;
      }
      continue;
    }

    Conversion conv;
    if (is_digit(*f)) {
      long width = 0;
      while (is_digit(*f)) {
        width = width * 10 + (*f++ - '0');
        if (width > INT_MAX) width = INT_MAX;
      }
      if (*f == '$') {  // positional arguments are not supported
        step = STEP_MISMATCH;
        break;
      }
      conv.width = width == 0 ? -1 : (int)width;
    } else {
      while (*f == '*' || *f == '\'' || *f == 'I') {
        if (*f == '*') conv.suppress = true;
        f++;
      }
      long width = 0;
      while (is_digit(*f)) {
        width = width * 10 + (*f++ - '0');
        if (width > INT_MAX) width = INT_MAX;
      }
      conv.width = width == 0 ? -1 : (int)width;
    }
    switch (*f) {
      case 'h':
        f++;
        conv.size = SIZE_SHORT;
        if (*f == 'h') {
          f++;
          conv.size = SIZE_CHAR;
        }
        break;
      case 'l':
        f++;
        conv.size = SIZE_LONG;
        conv.wide = true;
        if (*f == 'l') {
          f++;
          conv.size = SIZE_LONG_LONG;
        }
        break;
      case 'L':
      case 'q':
        f++;
        conv.size = SIZE_LONG_LONG;
        conv.wide = true;
        break;
      case 'j':
      case 'z':
      case 't':
        f++;
        conv.size = SIZE_LONG;
        break;
      default: break;
    }
    if (*f == '\0') {
      step = STEP_MISMATCH;
      break;
    }
    fc = *f++;
    if (skip_space || (fc != '[' && fc != 'c' && fc != 'n')) {
      sc.skip_space();
      skip_space = false;
    }
    switch (fc) {
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X': {
        int base = fc == 'd' || fc == 'u' ? 10 : fc == 'i' ? 0 : fc == 'o' ? 8 : 16;
        step = scan_integer(sc, conv, base, fc == 'd' || fc == 'i', args, done);
        break;
      }
      case 'e':
      case 'E':
      case 'f':
      case 'F':
      case 'g':
      case 'G':
      case 'a':
      case 'A': step = scan_float(sc, conv, args, done); break;
      default: step = scan_conversion(sc, fc, f, conv, args, done); break;
    }
  }
  if (step == STEP_NEXT && skip_space) sc.skip_space();
  va_end(args);
  if (step == STEP_END && done == 0) return -1;
  return done;
}

int data_scanf(DataStream* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = data_vscanf(stream, format, args);
  va_end(args);
  return n;
}

void data_skip_comments(DataStream* stream) {
  if (!stream) return;
  for (;;) {
    long before = stream_tell(stream);
    data_scanf(stream, " #%*[^\n]");
    if (stream_tell(stream) == before) break;
  }
}

int data_read_int(DataStream* stream) {
  int value = 0;
  if (data_scanf(stream, "%d", &value) == 1) return value;
  return INT_MIN;
}
