#include "core/scan_number.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

bool scan_int(const char* text, int* value) {
  if (!text) return false;
  const char* p = text;
  while (isspace(static_cast<unsigned char>(*p))) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!isdigit(static_cast<unsigned char>(*p))) return false;
  long long magnitude = 0;
  const long long limit = static_cast<long long>(INT_MAX) + 1;
  for (; isdigit(static_cast<unsigned char>(*p)); p++) {
    if (magnitude < limit) magnitude = magnitude * 10 + (*p - '0');
  }
  if (magnitude > limit) magnitude = limit;
  long long signed_value = negative ? -magnitude : magnitude;
  if (signed_value > INT_MAX) signed_value = INT_MAX;
  *value = static_cast<int>(signed_value);
  return true;
}

bool scan_real(const char* text, double* value) {
  if (!text) return false;
  char* end = nullptr;
  double parsed = strtod(text, &end);
  if (end == text || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

int scan_int_or_zero(const char* text) {
  int value = 0;
  return scan_int(text, &value) ? value : 0;
}
