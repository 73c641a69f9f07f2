// Gzip files as read streams: our own header parse, then zlib's raw inflate.
#include <zlib.h>

#include <cstring>
#include <new>

#include "core/datafile_internal.h"
#include "core/fatal.h"

namespace {

constexpr size_t GZIP_INPUT_BLOCK = 16384;
constexpr size_t GZIP_OUTPUT_BLOCK = 1024;

enum GzipFlag {
  GZIP_FHCRC = 2,
  GZIP_FEXTRA = 4,
  GZIP_FNAME = 8,
  GZIP_FCOMMENT = 16,
};

}  // namespace

struct GzipState {
  z_stream z;
  bool finished = false;
  unsigned char input[GZIP_INPUT_BLOCK];
  unsigned char output[GZIP_OUTPUT_BLOCK];
};

namespace {

bool fill_input(DataStream* s, GzipState* g) {
  size_t n = data_source_read(s, g->input, sizeof g->input);
  g->z.next_in = g->input;
  g->z.avail_in = (uInt)n;
  return n > 0;
}

// The header is read byte by byte from the input block, so that long name,
// comment or extra fields may run into the next block.
int header_byte(DataStream* s, GzipState* g) {
  if (g->z.avail_in == 0 && !fill_input(s, g)) return -1;
  g->z.avail_in--;
  return *g->z.next_in++;
}

bool skip_bytes(DataStream* s, GzipState* g, unsigned count) {
  for (unsigned i = 0; i < count; i++)
    if (header_byte(s, g) < 0) return false;
  return true;
}

bool skip_zero_terminated(DataStream* s, GzipState* g) {
  for (;;) {
    int c = header_byte(s, g);
    if (c < 0) return false;
    if (c == 0) return true;
  }
}

bool parse_header(DataStream* s, GzipState* g) {
  if (header_byte(s, g) != 0x1f || header_byte(s, g) != 0x8b) return false;
  if (header_byte(s, g) != 8) return false;  // deflate is the only method
  int flags = header_byte(s, g);
  if (flags < 0 || flags >= 32) return false;
  if (!skip_bytes(s, g, 6)) return false;  // modification time, extra flags, system
  if (flags & GZIP_FEXTRA) {
    int lo = header_byte(s, g);
    int hi = header_byte(s, g);
    if (lo < 0 || hi < 0 || !skip_bytes(s, g, (unsigned)(lo | hi << 8))) return false;
  }
  if ((flags & GZIP_FNAME) && !skip_zero_terminated(s, g)) return false;
  if ((flags & GZIP_FCOMMENT) && !skip_zero_terminated(s, g)) return false;
  if ((flags & GZIP_FHCRC) && !skip_bytes(s, g, 2)) return false;
  return true;
}

void end_with_failure(DataStream* s, GzipState* g) {
  g->finished = true;
  s->failed = true;
}

}  // namespace

bool gzip_start(DataStream* s) {
  GzipState* g = new (std::nothrow) GzipState;
  if (!g) fatal_out_of_memory();
  memset(&g->z, 0, sizeof g->z);
  g->z.next_in = g->input;
  g->z.avail_in = 0;
  fill_input(s, g);
  if (!parse_header(s, g)) {
    delete g;
    return false;
  }
  int r = inflateInit2(&g->z, -MAX_WBITS);  // raw deflate: the header is ours
  if (r == Z_MEM_ERROR) fatal_out_of_memory();
  if (r != Z_OK) {
    delete g;
    return false;
  }
  s->gzip = g;
  // The plain read buffer is not used once the stream inflates.
  delete[] s->buffer;
  s->buffer = nullptr;
  s->window_position = 0;
  s->pushback = -1;
  s->begin = s->next = s->end = g->output;
  return true;
}

bool gzip_refill(DataStream* s) {
  GzipState* g = s->gzip;
  s->window_position += (long)(s->end - s->begin);
  s->begin = s->next = s->end = g->output;
  if (g->finished) return false;
  g->z.next_out = g->output;
  g->z.avail_out = (uInt)sizeof g->output;
  for (;;) {
    int r = inflate(&g->z, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      g->finished = true;  // the trailer is not checked
      break;
    }
    if (r == Z_MEM_ERROR) fatal_out_of_memory();
    if (r != Z_OK && r != Z_BUF_ERROR) {
      end_with_failure(s, g);
      break;
    }
    if (g->z.avail_out == 0) break;
    if (g->z.avail_in == 0) {
      if (!fill_input(s, g)) {  // the compressed data stops short of its end
        end_with_failure(s, g);
        break;
      }
    } else if (r == Z_BUF_ERROR) {
      end_with_failure(s, g);
      break;
    }
  }
  s->end = g->output + (sizeof g->output - g->z.avail_out);
  return s->end > s->begin;
}

void gzip_free(DataStream* s) {
  if (!s->gzip) return;
  inflateEnd(&s->gzip->z);
  delete s->gzip;
  s->gzip = nullptr;
}
