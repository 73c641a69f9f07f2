// Data-file layer internals shared by its source files: the stream record,
// its byte source (a file slice or memory) and the gzip decoder hooks.
// Nothing outside core/datafile*.cpp, core/catalogue.cpp, core/gzip_stream.cpp
// and core/stream_scan.cpp includes this.
#pragma once

#include <climits>
#include <cstdio>
#include <string>

#include "core/datafile.h"

// Length limit of a stream that is not an archive member.
constexpr long DATA_UNLIMITED = LONG_MAX;
// Read buffer of plain file streams.
constexpr size_t DATA_READ_BUFFER = 16384;

struct GzipState;

struct DataStream {
  // Bytes ready for delivery are [next, end) of a window whose first byte,
  // begin, sits at stream position window_position. A memory stream's window
  // is the whole block; a file stream's is its read buffer; a gzip stream's
  // is the inflate output buffer.
  const unsigned char* begin = nullptr;
  const unsigned char* next = nullptr;
  const unsigned char* end = nullptr;
  long window_position = 0;
  int pushback = -1;  // the one-character push-back slot, -1 when empty

  // The byte source: a slice [base, base + limit) of a file, or memory.
  FILE* file = nullptr;
  long base = 0;
  long limit = DATA_UNLIMITED;
  long source_offset = 0;  // source bytes consumed, relative to base
  long file_offset = -1;   // where the FILE stands relative to base, -1 unknown
  const unsigned char* memory = nullptr;

  bool can_read = false;
  bool can_write = false;
  bool failed = false;  // a read error or corrupt compressed data ended the data
  bool wrote_last = false;  // C wants a flush between a write and a read

  unsigned char* buffer = nullptr;  // read buffer of plain file streams
  GzipState* gzip = nullptr;
};

// Reads up to size bytes from the stream's source, never past its limit.
size_t data_source_read(DataStream* stream, void* bytes, size_t size);

// Refills the window; false at the end of the data.
bool data_refill(DataStream* stream);

// Wraps a freshly opened file slice (offset, length) in a stream.
DataStream* data_stream_over_file(FILE* file, long offset, long length, bool can_read, bool can_write);

// Gzip decoding over the stream's source: parses the header and switches the
// stream to inflating. False when the header does not match (the stream is
// left untouched; the caller closes it).
bool gzip_start(DataStream* stream);
bool gzip_refill(DataStream* stream);
void gzip_free(DataStream* stream);

// The catalogue lookup behind "@" reads: opens the archive member or loose
// file that the catalogue holds for the name (with the ".gz" rule).
DataStream* open_catalogue_entry(const char* name);
// Builds the catalogue when it is not there yet.
void ensure_catalogue();

// Plain-open of a path: missing directories for writes, "~" backups, the
// ".gz" fallback for reads.
DataStream* plain_open(const std::string& path, const char* mode);

// Creates every directory named before a "/" of the path.
void create_parent_directories(const std::string& path);
void free_search_directories();
void free_catalogue();

inline bool is_read_mode(const char* mode) {
  bool r = false, plus = false;
  for (const char* m = mode; *m; m++) {
    if (*m == 'r') r = true;
    if (*m == '+') plus = true;
  }
  return r && !plus;
}

inline int stream_getc(DataStream* s) {
  if (s->pushback >= 0) {
    int c = s->pushback;
    s->pushback = -1;
    return c;
  }
  if (s->next < s->end) return *s->next++;
  if (!data_refill(s)) return -1;
  return *s->next++;
}

inline long stream_tell(const DataStream* s) {
  return s->window_position + (long)(s->next - s->begin) - (s->pushback >= 0 ? 1 : 0);
}
