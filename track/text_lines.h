// Line helpers shared by the track's keyword-per-line readers.
#pragma once

#include <cstddef>

struct DataStream;

// Reads one line of at most size - 1 characters (line end kept when it
// fits). The rest of a longer line is read and dropped, so an overlong line
// never turns into a second line. False at the end of the stream.
bool read_text_line(DataStream* stream, char* buffer, int size);

// Splits a line into a keyword and its argument: leading blanks are
// skipped, the keyword ends at the first character of `keyword_ends`, and
// the argument starts after the blanks (" \t") that follow. Both are cut in
// place (the keyword is terminated). False for an empty line.
bool split_keyword(char* line, const char* keyword_ends, char** keyword, char** argument);

// Cuts the text at its first CR or LF.
void cut_at_line_end(char* text);
// Removes trailing white space.
void trim_trailing_space(char* text);

// The name without a leading "@" and without any directory part.
const char* base_file_name(const char* name);
