// The catalogue: every file below the search directories and inside their
// ".saf" archives, sorted case-insensitively, searched by binary search; and
// the name list derived from it.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/datafile.h"
#include "core/datafile_internal.h"
#include "platform/log.h"

namespace {

struct CatalogueEntry {
  std::string path;  // the loose file or the archive that holds the data
  std::string name;  // relative name as found
  std::string key;   // name in lower case, the sort and search key
  long offset = 0;
  long length = 0;
  int priority = 0;
};

std::vector<CatalogueEntry> g_catalogue;
std::vector<const char*> g_names;  // points into g_catalogue's names
bool g_catalogue_built = false;

constexpr int MAX_WALK_DEPTH = 64;
constexpr size_t MAX_HEADER_LINE = 1023;

std::string lower_case(const std::string& text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  return out;
}

bool entry_before(const CatalogueEntry& a, const CatalogueEntry& b) {
  int order = a.key.compare(b.key);
  if (order != 0) return order < 0;
  if (a.priority != b.priority) return a.priority < b.priority;
  // Names equal but for case: keep a stable, reproducible order.
  order = a.name.compare(b.name);
  if (order != 0) return order < 0;
  return a.path < b.path;
}

struct DirectoryId {
  dev_t device;
  ino_t inode;
};

void walk_directory(const std::string& directory, const std::string& relative, int priority,
                    std::vector<DirectoryId>& open_directories) {
  if ((int)open_directories.size() >= MAX_WALK_DEPTH) return;
  DIR* dir = opendir(directory.c_str());
  if (!dir) return;
  while (struct dirent* item = readdir(dir)) {
    const char* leaf = item->d_name;
    if (strcmp(leaf, ".") == 0 || strcmp(leaf, "..") == 0) continue;
    std::string path = directory + "/" + leaf;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    std::string name = relative.empty() ? std::string(leaf) : relative + "/" + leaf;
    if (S_ISDIR(st.st_mode)) {
      // A link back up the tree would otherwise be walked for ever.
      bool looping = false;
      for (const DirectoryId& id : open_directories)
        if (id.device == st.st_dev && id.inode == st.st_ino) looping = true;
      if (looping) continue;
      open_directories.push_back({st.st_dev, st.st_ino});
      walk_directory(path, name, priority, open_directories);
      open_directories.pop_back();
    } else if (S_ISREG(st.st_mode)) {
      CatalogueEntry entry;
      entry.path = path;
      entry.key = lower_case(name);
      entry.name = std::move(name);
      entry.length = (long)st.st_size;
      entry.priority = priority;
      g_catalogue.push_back(std::move(entry));
    }
  }
  closedir(dir);
}

void walk_search_directory(const char* directory, int priority) {
  std::string root(directory);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  struct stat st;
  if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  std::vector<DirectoryId> open_directories{{st.st_dev, st.st_ino}};
  walk_directory(root, std::string(), priority, open_directories);
}

bool has_saf_extension(const std::string& key) {
  return key.size() >= 5 && key.compare(key.size() - 4, 4, ".saf") == 0;
}

// Reads one header line into line (without its "\n"); false when the line has
// no "\n" within MAX_HEADER_LINE characters.
bool read_header_line(DataStream* stream, std::string& line) {
  line.clear();
  for (;;) {
    int c = stream_getc(stream);
    if (c < 0) return false;
    if (c == '\n') return true;
    if (line.size() >= MAX_HEADER_LINE - 1) return false;
    line += (char)c;
  }
}

std::string collapse_slashes(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  return out;
}

void add_archive(const CatalogueEntry& archive, int priority) {
  FILE* file = fopen(archive.path.c_str(), "rb");
  if (!file) return;
  DataStream* stream = data_stream_over_file(file, 0, DATA_UNLIMITED, true, false);
  std::vector<ArchiveMember> members;
  long header_size = 0;
  bool ok = parse_archive_header(stream, archive.length, members, &header_size);
  data_close(stream);
  if (!ok) {
    log_printf("Ignoring archive '%.900s': malformed header\n", archive.path.c_str());
    return;
  }
  for (ArchiveMember& member : members) {
    CatalogueEntry entry;
    entry.path = archive.path;
    entry.key = lower_case(member.name);
    entry.name = std::move(member.name);
    entry.offset = member.offset;
    entry.length = member.length;
    entry.priority = priority;
    g_catalogue.push_back(std::move(entry));
  }
}

void build_name_list() {
  g_names.clear();
  const std::string* previous = nullptr;
  for (const CatalogueEntry& entry : g_catalogue) {
    if (previous && *previous == entry.key) continue;
    g_names.push_back(entry.name.c_str());
    previous = &entry.key;
  }
}

void build_catalogue() {
  g_catalogue.clear();
  g_catalogue.reserve(16);
  int directories = 0;
  for (; const char* directory = search_directory(directories); directories++)
    walk_search_directory(directory, directories);
  std::sort(g_catalogue.begin(), g_catalogue.end(), entry_before);

  // Archives are visited in catalogue order, so a member listed in two
  // archives is served from the one whose name sorts first. Members are
  // appended behind the loose files and are not themselves opened.
  int counter = directories;
  size_t loose_files = g_catalogue.size();
  for (size_t i = 0; i < loose_files; i++) {
    if (!has_saf_extension(g_catalogue[i].key)) continue;
    CatalogueEntry archive = g_catalogue[i];  // the vector grows below
    add_archive(archive, counter);
    counter++;
  }
  std::sort(g_catalogue.begin(), g_catalogue.end(), entry_before);
  build_name_list();
  g_catalogue_built = true;
}

// The first entry (lowest priority) whose name equals key case-insensitively;
// key is already in lower case.
const CatalogueEntry* find_entry(std::string_view key) {
  auto it = std::lower_bound(g_catalogue.begin(), g_catalogue.end(), key,
                             [](const CatalogueEntry& entry, std::string_view k) { return entry.key < k; });
  if (it == g_catalogue.end() || it->key != key) return nullptr;
  return &*it;
}

// A look-up key in lower case with runs of "/" collapsed, as member names
// are; it has room for a ".gz" suffix and stays on the stack for the usual
// lengths.
class LookupKey {
 public:
  explicit LookupKey(const char* name) {
    size_t length = strlen(name);
    if (length + 4 > sizeof small_) {
      large_ = lower_case(collapse_slashes(name));
      return;
    }
    for (size_t i = 0; i < length; i++) {
      char c = name[i];
      if (c == '/' && length_ > 0 && small_[length_ - 1] == '/') continue;
      small_[length_++] = c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
    }
  }
  std::string_view plain() const { return large_.empty() ? std::string_view(small_, length_) : large_; }
  std::string_view compressed() {
    if (!large_.empty()) {
      large_gz_ = large_ + ".gz";
      return large_gz_;
    }
    memcpy(small_ + length_, ".gz", 3);
    return std::string_view(small_, length_ + 3);
  }

 private:
  char small_[256];
  size_t length_ = 0;
  std::string large_, large_gz_;
};

}  // namespace

bool parse_archive_header(DataStream* stream, long archive_size, std::vector<ArchiveMember>& members,
                          long* header_size) {
  members.clear();
  long header_bytes = 0;
  std::string line;
  for (;;) {
    if (!read_header_line(stream, line)) return false;
    header_bytes += (long)line.size() + 1;
    if (line == "-") break;
    size_t i = 0;
    long length = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
      int digit = line[i] - '0';
      if (length > (LONG_MAX - digit) / 10) return false;
      length = length * 10 + digit;
      i++;
    }
    // A decimal length, one separator character, a non-empty name.
    if (i == 0 || i + 1 >= line.size()) return false;
    std::string name = collapse_slashes(line.substr(i + 1));
    if (name.find('\0') != std::string::npos) return false;
    ArchiveMember member;
    member.name = std::move(name);
    member.length = length;
    members.push_back(std::move(member));
  }
  long offset = header_bytes;
  for (ArchiveMember& member : members) {
    member.offset = offset;
    if (member.length > LONG_MAX - offset) return false;
    offset += member.length;
  }
  // Members that reach past the end of the file mean a truncated or damaged
  // archive; serving them would hand parsers short data.
  if (archive_size >= 0 && offset > archive_size) return false;
  if (header_size) *header_size = header_bytes;
  return true;
}

bool parse_archive_header(const void* bytes, size_t size, std::vector<ArchiveMember>& members) {
  DataStream* stream = data_open_memory(bytes, size);
  long header_size = 0;
  bool ok = parse_archive_header(stream, (long)size, members, &header_size);
  data_close(stream);
  if (!ok) members.clear();
  return ok;
}

bool write_archive(const char* path, const std::vector<ArchiveFile>& files) {
  for (const ArchiveFile& file : files)
    if (file.name.empty() || file.name.find('\n') != std::string::npos) return false;
  DataStream* stream = data_open(path, "wb");
  if (!stream) return false;
  bool ok = true;
  for (const ArchiveFile& file : files)
    ok = ok && data_printf(stream, "%zu %s\n", file.bytes.size(), file.name.c_str()) > 0;
  ok = ok && data_puts(stream, "-\n") >= 0;
  for (const ArchiveFile& file : files)
    ok = ok && data_write(stream, file.bytes.data(), file.bytes.size()) == file.bytes.size();
  ok = data_flush(stream) == 0 && ok;
  data_close(stream);
  return ok;
}

void ensure_catalogue() {
  if (!g_catalogue_built) build_catalogue();
}

void invalidate_catalogue() {
  g_catalogue_built = false;
  g_catalogue.clear();
  g_names.clear();
}

void free_catalogue() {
  invalidate_catalogue();
  g_catalogue.shrink_to_fit();
  g_names.shrink_to_fit();
}

void free_data_files() {
  free_catalogue();
  free_search_directories();
}

DataStream* open_catalogue_entry(const char* name) {
  ensure_catalogue();
  LookupKey key(name);
  const CatalogueEntry* plain = find_entry(key.plain());
  const CatalogueEntry* compressed = find_entry(key.compressed());
  const CatalogueEntry* entry = plain;
  bool gzip = false;
  if (compressed && (!plain || compressed->priority < plain->priority)) {
    entry = compressed;
    gzip = true;
  }
  if (!entry) return nullptr;
  FILE* file = fopen(entry->path.c_str(), "rb");
  if (!file) return nullptr;
  DataStream* stream = data_stream_over_file(file, entry->offset, entry->length, true, false);
  if (gzip && !gzip_start(stream)) {
    data_close(stream);
    return nullptr;
  }
  return stream;
}

int data_file_count() {
  ensure_catalogue();
  return (int)g_names.size();
}

const char* data_file_name(int index) {
  ensure_catalogue();
  if (index < 0 || (size_t)index >= g_names.size()) return nullptr;
  return g_names[(size_t)index];
}

int find_catalogue_entry(const char* name) {
  if (!name) return -1;
  ensure_catalogue();
  LookupKey key(name);
  const CatalogueEntry* entry = find_entry(key.plain());
  return entry ? (int)(entry - g_catalogue.data()) : -1;
}

int catalogue_entry_count() {
  ensure_catalogue();
  return (int)g_catalogue.size();
}

void describe_catalogue_entry(int index, char* buffer, size_t size) {
  if (!buffer || size == 0) return;
  buffer[0] = '\0';
  ensure_catalogue();
  if (index < 0 || (size_t)index >= g_catalogue.size()) return;
  const CatalogueEntry& entry = g_catalogue[(size_t)index];
  snprintf(buffer, size, "%s -> %s", entry.name.c_str(), entry.path.c_str());
}
