// The read/write stream: opening names and paths, numbered backups, and the
// character, line, block and formatted-print operations.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/datafile.h"
#include "core/datafile_internal.h"
#include "core/fatal.h"

namespace {

constexpr size_t BACKUP_COPY_BLOCK = 65536;
constexpr int MAX_BACKUPS = 9999;

bool is_directory(FILE* file) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode);
}

// "@" names come from data files and from the network; a ".." component
// would let them reach outside the search directories.
bool is_contained_name(const char* name) {
  const char* part = name;
  for (const char* p = name;; p++) {
    if (*p == '/' || *p == '\\' || *p == '\0') {
      if (p - part == 2 && part[0] == '.' && part[1] == '.') return false;
      if (*p == '\0') return true;
      part = p + 1;
    }
  }
}

// Copies the file to "<path>.~N~" with the smallest free N.
bool keep_backup(const std::string& path) {
  std::string backup;
  int number = 1;
  for (; number <= MAX_BACKUPS; number++) {
    char suffix[16];
    snprintf(suffix, sizeof suffix, ".~%d~", number);
    backup = path + suffix;
    struct stat st;
    if (lstat(backup.c_str(), &st) != 0 && errno == ENOENT) break;
  }
  if (number > MAX_BACKUPS || backup.size() >= PATH_MAX) return false;

  int in = open(path.c_str(), O_RDONLY);
  if (in < 0) return false;
  int out = open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (out < 0) {
    close(in);
    return false;
  }
  std::vector<unsigned char> block(BACKUP_COPY_BLOCK);
  bool ok = true;
  for (;;) {
    ssize_t n = read(in, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, block.data() + done, (size_t)(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) unlink(backup.c_str());
  return ok;
}

DataStream* new_stream() {
  DataStream* stream = new (std::nothrow) DataStream;
  if (!stream) fatal_out_of_memory();
  return stream;
}

// Before a write: the FILE must stand at the stream position, and C wants a
// positioning call between reading and writing.
bool begin_write(DataStream* s) {
  if (!s || !s->can_write || !s->file) return false;
  long position = stream_tell(s);
  s->pushback = -1;
  s->window_position = position;
  s->source_offset = position;
  s->begin = s->next = s->end = s->buffer;
  if (s->file_offset != position) {
    if (fseek(s->file, s->base + position, SEEK_SET) != 0) return false;
    s->file_offset = position;
  }
  return true;
}

void end_write(DataStream* s, size_t written) {
  s->window_position += (long)written;
  s->source_offset += (long)written;
  s->file_offset += (long)written;
  s->wrote_last = true;
}

}  // namespace

DataStream* data_stream_over_file(FILE* file, long offset, long length, bool can_read, bool can_write) {
  DataStream* s = new_stream();
  s->file = file;
  s->base = offset;
  s->limit = length;
  s->file_offset = offset == 0 ? 0 : -1;
  s->can_read = can_read;
  s->can_write = can_write;
  if (can_read) {
    s->buffer = new (std::nothrow) unsigned char[DATA_READ_BUFFER];
    if (!s->buffer) fatal_out_of_memory();
    // We buffer reads ourselves; a second stdio buffer would only copy.
    if (!can_write) setvbuf(file, nullptr, _IONBF, 0);
  }
  s->begin = s->next = s->end = s->buffer;
  return s;
}

size_t data_source_read(DataStream* s, void* bytes, size_t size) {
  long remaining = s->limit - s->source_offset;
  if (remaining <= 0 || size == 0) return 0;
  if ((unsigned long)remaining < size) size = (size_t)remaining;
  if (s->memory) {
    memcpy(bytes, s->memory + s->source_offset, size);
    s->source_offset += (long)size;
    return size;
  }
  if (!s->file || !s->can_read) return 0;
  if (s->wrote_last) {
    fflush(s->file);
    s->wrote_last = false;
    s->file_offset = -1;
  }
  if (s->file_offset != s->source_offset) {
    if (fseek(s->file, s->base + s->source_offset, SEEK_SET) != 0) {
      s->failed = true;
      return 0;
    }
    s->file_offset = s->source_offset;
  }
  size_t n = fread(bytes, 1, size, s->file);
  if (n < size && ferror(s->file)) {
    s->failed = true;
    clearerr(s->file);
  }
  s->source_offset += (long)n;
  s->file_offset += (long)n;
  return n;
}

bool data_refill(DataStream* s) {
  if (s->gzip) return gzip_refill(s);
  if (!s->buffer) return false;  // a memory stream's window already holds everything
  s->window_position += (long)(s->end - s->begin);
  size_t n = data_source_read(s, s->buffer, DATA_READ_BUFFER);
  s->begin = s->next = s->buffer;
  s->end = s->buffer + n;
  return n > 0;
}

DataStream* plain_open(const std::string& path, const char* mode) {
  if (path.empty() || path.size() >= PATH_MAX) return nullptr;
  bool read_mode = is_read_mode(mode);
  if (!read_mode) create_parent_directories(path);
  const char* open_mode = mode;
  if (open_mode[0] == '~') {
    open_mode++;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !keep_backup(path)) return nullptr;
  }
  bool can_read = strchr(open_mode, 'r') || strchr(open_mode, '+');
  bool can_write = strchr(open_mode, 'w') || strchr(open_mode, 'a') || strchr(open_mode, '+');
  FILE* file = fopen(path.c_str(), open_mode);
  if (file && is_directory(file)) {
    fclose(file);
    file = nullptr;
  }
  if (file) return data_stream_over_file(file, 0, DATA_UNLIMITED, can_read, can_write);
  if (!read_mode) return nullptr;

  std::string compressed = path + ".gz";
  if (compressed.size() >= PATH_MAX) return nullptr;
  file = fopen(compressed.c_str(), "rb");
  if (!file) return nullptr;
  if (is_directory(file)) {
    fclose(file);
    return nullptr;
  }
  DataStream* s = data_stream_over_file(file, 0, DATA_UNLIMITED, true, false);
  if (gzip_start(s)) return s;
  data_close(s);
  return nullptr;
}

DataStream* data_open(const char* name, const char* mode) {
  if (!name || !mode || !name[0]) return nullptr;
  if (name[0] != '@') return plain_open(name, mode);
  const char* rest = name + 1;
  if (!rest[0] || !is_contained_name(rest)) return nullptr;
  for (int i = 0; const char* directory = search_directory(i); i++) {
    if (DataStream* s = plain_open(std::string(directory) + rest, mode)) return s;
  }
  if (!is_read_mode(mode)) return nullptr;
  return open_catalogue_entry(rest);
}

DataStream* data_open_memory(const void* bytes, size_t size) {
  DataStream* s = new_stream();
  s->memory = static_cast<const unsigned char*>(bytes);
  s->limit = (long)size;
  s->source_offset = (long)size;
  s->can_read = true;
  s->begin = s->next = s->memory;
  s->end = s->memory + size;
  return s;
}

DataStream* data_open_gzip_memory(const void* bytes, size_t size) {
  DataStream* s = new_stream();
  s->memory = static_cast<const unsigned char*>(bytes);
  s->limit = (long)size;
  s->can_read = true;
  if (gzip_start(s)) return s;
  data_close(s);
  return nullptr;
}

void data_close(DataStream* s) {
  if (!s) return;
  gzip_free(s);
  if (s->file) fclose(s->file);
  delete[] s->buffer;
  delete s;
}

bool data_stream_failed(DataStream* s) { return s && s->failed; }

int data_getc(DataStream* s) { return s ? stream_getc(s) : -1; }

int data_peekc(DataStream* s) {
  if (!s) return -1;
  int c = stream_getc(s);
  if (c >= 0) s->pushback = c;
  return c;
}

char* data_gets(char* buffer, int size, DataStream* s) {
  if (!s || !buffer || size <= 0) return nullptr;
  buffer[0] = '\0';
  if (size == 1) return nullptr;  // no room for a character: nothing can be read
  size_t room = (size_t)size - 1;
  size_t n = 0;
  if (s->pushback >= 0) {
    buffer[n++] = (char)s->pushback;
    s->pushback = -1;
    if (buffer[0] == '\n') {
      buffer[n] = '\0';
      return buffer;
    }
  }
  while (n < room) {
    if (s->next == s->end && !data_refill(s)) break;
    size_t available = (size_t)(s->end - s->next);
    if (available > room - n) available = room - n;
    const void* newline = memchr(s->next, '\n', available);
    size_t take = newline ? (size_t)(static_cast<const unsigned char*>(newline) - s->next) + 1 : available;
    memcpy(buffer + n, s->next, take);
    s->next += take;
    n += take;
    if (newline) break;
  }
  if (n == 0) return nullptr;
  buffer[n] = '\0';
  return buffer;
}

size_t data_read(DataStream* s, void* buffer, size_t size) {
  if (!s || !buffer) return 0;
  unsigned char* out = static_cast<unsigned char*>(buffer);
  size_t got = 0;
  if (size > 0 && s->pushback >= 0) {
    out[got++] = (unsigned char)s->pushback;
    s->pushback = -1;
  }
  while (got < size) {
    if (s->next < s->end) {
      size_t take = (size_t)(s->end - s->next);
      if (take > size - got) take = size - got;
      memcpy(out + got, s->next, take);
      s->next += take;
      got += take;
      continue;
    }
    // Large reads of plain files skip the window and land in place.
    if (!s->gzip && s->buffer && size - got >= DATA_READ_BUFFER) {
      s->window_position += (long)(s->end - s->begin);
      s->begin = s->next = s->end = s->buffer;
      size_t n = data_source_read(s, out + got, size - got);
      s->window_position += (long)n;
      got += n;
      if (n == 0) break;
      continue;
    }
    if (!data_refill(s)) break;
  }
  return got;
}

bool data_seek(DataStream* s, long position) {
  if (!s || s->gzip || position < 0 || position > s->limit) return false;
  s->pushback = -1;
  long window_end = s->window_position + (long)(s->end - s->begin);
  if (position >= s->window_position && position <= window_end) {
    s->next = s->begin + (position - s->window_position);
    return true;
  }
  if (s->memory) return false;
  s->window_position = position;
  s->source_offset = position;
  s->begin = s->next = s->end = s->buffer;
  return true;
}

long data_tell(DataStream* s) { return s ? stream_tell(s) : -1; }

int data_putc(DataStream* s, int c) {
  if (!begin_write(s)) return -1;
  int r = fputc(c, s->file);
  end_write(s, r == EOF ? 0 : 1);
  return r;
}

int data_puts(DataStream* s, const char* text) {
  if (!text) return -1;
  size_t length = strlen(text);
  return data_write(s, text, length) == length ? (int)(length > INT_MAX ? INT_MAX : length) : -1;
}

size_t data_write(DataStream* s, const void* bytes, size_t size) {
  if (!bytes || !begin_write(s)) return 0;
  size_t n = fwrite(bytes, 1, size, s->file);
  end_write(s, n);
  return n;
}

int data_printf(DataStream* s, const char* format, ...) {
  if (!format || !begin_write(s)) return -1;
  va_list args;
  va_start(args, format);
  int n = vfprintf(s->file, format, args);
  va_end(args);
  end_write(s, n > 0 ? (size_t)n : 0);
  return n;
}

int data_flush(DataStream* s) {
  if (!s || !s->file) return -1;
  return fflush(s->file);
}

bool data_read_all(const char* name, std::vector<unsigned char>& bytes) {
  bytes.clear();
  DataStream* s = data_open(name, "rb");
  if (!s) return false;
  if (!s->gzip && s->limit != DATA_UNLIMITED) bytes.reserve((size_t)s->limit);
  unsigned char chunk[65536];
  for (size_t n; (n = data_read(s, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  bool ok = !s->failed;
  data_close(s);
  return ok;
}
