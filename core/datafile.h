// Data-file layer: the search directories (home first, then the game data),
// the sorted catalogue of loose files and ".saf" archive members, "@" name
// resolution, and the read/write stream that every file parser goes through
// (plain files, archive slices and gzip files alike), with its own
// formatted scan, line reading and comment skipping.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <vector>

struct DataStream;

// --- search directories and catalogue --------------------------------------

// The n-th search directory (each ends in "/"), or nullptr past the end.
// Index 0 is the home directory: writes, the log and "--open-home" use it.
const char* search_directory(int n);
const char* home_directory();

// Replaces the search directories (tests and tools); the catalogue is rebuilt
// on next use. Each entry gets a trailing "/" and is normalised.
void set_search_directories(const std::vector<std::string>& directories);

// Forgets the catalogue so that the next lookup walks the directories again
// (after a tool wrote new files, for example).
void invalidate_catalogue();

// Frees the directory list, catalogue and name list (shutdown).
void free_data_files();

// The name list: the catalogue's relative names, case-insensitive duplicates
// removed, in catalogue order. Discovery of tracks, demos and series walks it.
int data_file_count();
const char* data_file_name(int index);

// Catalogue entries (loose files and archive members).
int catalogue_entry_count();
// "<relative name> -> <full path>", cut to the buffer.
void describe_catalogue_entry(int index, char* buffer, size_t size);

// --- streams ------------------------------------------------------------------

// mode: "rb", "wb", "r", "a", ... optionally prefixed by "~" for a write that
// first keeps a numbered backup ("name.~N~"). Names starting with "@" are
// resolved against the search directories and, for reads, the catalogue
// (archive members and ".gz" variants). Returns nullptr on failure.
DataStream* data_open(const char* name, const char* mode);

// A read stream over bytes in memory (the bytes must outlive the stream).
DataStream* data_open_memory(const void* bytes, size_t size);

void data_close(DataStream* stream);

int data_getc(DataStream* stream);   // 0..255, or -1 at the end
int data_peekc(DataStream* stream);  // like getc, but keeps the character
// Like fgets: at most size - 1 characters, keeps the "\n"; nullptr when
// nothing could be read.
char* data_gets(char* buffer, int size, DataStream* stream);
size_t data_read(DataStream* stream, void* buffer, size_t size);
// Absolute seek within the stream (uncompressed streams only); clears the
// push-back slot. Returns false when the position is not reachable.
bool data_seek(DataStream* stream, long position);
long data_tell(DataStream* stream);

// The stream's own scanf: d i o x f s c [set] n %, widths, "*", "h", "l".
// Returns the number of assigned fields (-1 at end of input before any
// conversion, like sscanf).
int data_scanf(DataStream* stream, const char* format, ...);
int data_vscanf(DataStream* stream, const char* format, va_list args);
// Skips white space and "#" comment lines.
void data_skip_comments(DataStream* stream);
// "%d", or INT_MIN when no integer can be read.
int data_read_int(DataStream* stream);

int data_putc(DataStream* stream, int c);
int data_puts(DataStream* stream, const char* text);
size_t data_write(DataStream* stream, const void* bytes, size_t size);
int data_printf(DataStream* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int data_flush(DataStream* stream);

// Reads a whole stream or file into memory; false when it cannot be opened.
bool data_read_all(const char* name, std::vector<unsigned char>& bytes);

// Both names resolved against the home directory when they start with "@";
// the target is removed first.
bool data_rename(const char* from, const char* to);

// Creates the home directory and asks the desktop to open it.
bool open_home_folder();

// --- checks -------------------------------------------------------------------

// True when a search directory holds the official "zzzz.saf".
bool check_game_data();
// True when the fixed collision shapes match one of the held digests.
bool check_fixed_models();
