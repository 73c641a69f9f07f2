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

// Creates the home directory (and its parents) when it is missing.
bool create_home_directory();

// Frees the directory list, catalogue and name list (shutdown).
void free_data_files();

// The name list: the catalogue's relative names, case-insensitive duplicates
// removed, in catalogue order. Discovery of tracks, demos and series walks it.
int data_file_count();
const char* data_file_name(int index);

// Catalogue entries (loose files and archive members).
int catalogue_entry_count();
// The entry a catalogue read of the name would start from (case-insensitive,
// lowest priority first, ".gz" forms not considered), or -1.
int find_catalogue_entry(const char* name);
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
// A read stream that inflates gzip bytes held in memory; nullptr when the
// gzip header does not match.
DataStream* data_open_gzip_memory(const void* bytes, size_t size);

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

// True once a read error or corrupt compressed data ended the stream early.
bool data_stream_failed(DataStream* stream);

// The stream's own scanf: d i o x f s c [set] n %, widths, "*", "h", "l"
// (also u X e E g G a F, "hh", "ll", "L"). Returns the number of assigned
// fields (-1 at end of input before any assignment, like sscanf). "%n"
// counts from the stream position at the start of the call; a mismatching
// character stays in the push-back slot. Like sscanf, "%s", "%c" and "%["
// store as many characters as the input and the field width allow, so give
// them widths that fit the buffers.
int data_scanf(DataStream* stream, const char* format, ...) __attribute__((format(scanf, 2, 3)));
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
// an existing target is replaced in one step, so a crash leaves either the
// old or the new file, never neither.
bool data_rename(const char* from, const char* to);

// Creates the home directory and asks the desktop to open it ("xdg-open",
// started detached; never waits for it).
bool open_home_folder();

// --- archives -----------------------------------------------------------------

// A ".saf" archive is a text header of "<length> <name>\n" lines ended by
// "-\n", followed by the members' bytes in header order.
struct ArchiveMember {
  std::string name;
  long offset = 0;  // from the start of the archive file
  long length = 0;
};

// Parses an archive header; false when it is malformed (a line without its
// "\n" or longer than 1023 characters, a line that does not start with a
// decimal length, an empty name, or members reaching past archive_size when
// that is not negative). header_size receives the header's byte count.
bool parse_archive_header(DataStream* stream, long archive_size, std::vector<ArchiveMember>& members,
                          long* header_size);
bool parse_archive_header(const void* bytes, size_t size, std::vector<ArchiveMember>& members);

struct ArchiveFile {
  std::string name;
  std::vector<unsigned char> bytes;
};
// Writes an archive that the catalogue reads back; names must not contain
// "\n". False when the file cannot be written.
bool write_archive(const char* path, const std::vector<ArchiveFile>& files);

// --- checks -------------------------------------------------------------------

// True when a search directory holds the official "zzzz.saf".
bool check_game_data();
// True when the fixed collision shapes match one of the held digests.
bool check_fixed_models();

// The digests behind the two checks, as 40 lower-case hex digits (the
// data-set builder prints them for a freshly built set). The game data digest
// covers the first 1048576 bytes of the file; "" when it cannot be opened.
std::string game_data_digest(const char* path);
std::string fixed_models_digest();
// The checks against given digests (the two above use the held ones).
bool game_data_matches(const char* digest);
bool fixed_models_match(const char* const* digests, int count);
std::string ripemd160_hex(const void* bytes, size_t size);
