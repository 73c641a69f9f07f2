// Number conversions shared by the configuration reader and the command line.
// They read what "%d" and "%f" read (leading white space, a prefix of the
// text), but an integer too large for int saturates instead of being
// undefined, and a real must be finite: "nan" or "inf" in a file or an option
// would otherwise slip past every clamp and into the simulation.
#pragma once

// "%d": optional white space, sign, at least one digit. False when no digit.
bool scan_int(const char* text, int* value);
// "%f": a finite decimal or hexadecimal real. False otherwise.
bool scan_real(const char* text, double* value);
// The plain decimal conversion of options without an error message: 0 for a
// missing or bad value.
int scan_int_or_zero(const char* text);
