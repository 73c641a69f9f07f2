#include "core/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/datafile.h"
#include "core/scan_number.h"

void (*g_bike_graphics_provider)(const char* bike_name) = nullptr;

namespace {

// --- stability presets ------------------------------------------------------------

// Aid values at stability 0, 20, 40, 60, 80 and 100. The stability 100
// column equals the defaults of the bike setup table.
struct AidPreset {
  double* value;
  double at_level[6];
};

constexpr AidPreset k_aid_presets[] = {
    {&g_bike_setup.leveling, {20, 20, 20, 20, 20, 20}},
    {&g_bike_setup.roll_damping, {40, 50, 60, 70, 75, 80}},
    {&g_bike_setup.roll_limit_angle, {90, 45, 45, 40, 35, 35}},
    {&g_bike_setup.roll_limit_factor, {0, 5, 10, 32, 32, 32}},
    {&g_bike_setup.steering_damping, {45, 45, 45, 45, 45, 45}},
    {&g_bike_setup.steering_strength, {75, 75, 75, 75, 75, 75}},
    {&g_bike_setup.direct_steering, {1, 1, 1, 1, 1, 0}},
    {&g_bike_setup.max_steering_force, {400, 400, 400, 400, 400, 400}},
    {&g_bike_setup.slow_damping_speed, {40, 40, 40, 40, 40, 40}},
    {&g_bike_setup.slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
    {&g_bike_setup.land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
    {&g_bike_setup.land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
    {&g_bike_setup.full_lock_speed, {10, 10, 10, 10, 10, 10}},
    {&g_bike_setup.restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
    {&g_bike_setup.restricted_lock, {45, 15, 10, 5, 5, 5}},
};

// Bike names of older files, which had no model year.
struct BikeAlias {
  const char* old_name;
  const char* name;
};
constexpr BikeAlias k_bike_aliases[] = {
    {"crf250", "crf250(2008)"},
    {"kx250f", "kx250f(2008)"},
    {"rmz250", "rmz250(2008)"},
    {"yz250f", "yz250f(2008)"},
};

void appendf(std::string* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void appendf(std::string* out, const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int length = vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) {
    out->append(small, static_cast<size_t>(length));
    return;
  }
  std::string big(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  vsnprintf(big.data(), big.size(), format, args);
  va_end(args);
  out->append(big.data(), static_cast<size_t>(length));
}

// A value goes into the file up to its first line break: a text that came
// from the command line or a menu must never be able to add lines (and with
// them settings) to the file.
std::string one_line(const char* text) { return std::string(text, strcspn(text, "\n")); }

int find_choice_index(const ChoiceList& list, const char* name) {
  for (size_t i = 0; i < list.names.size(); i++) {
    if (list.names[i] == name) return static_cast<int>(i);
  }
  return -1;
}

char* text_element(const SettingRow& row, int element) {
  return row.text + static_cast<size_t>(element) * static_cast<size_t>(row.max_length + 1);
}

// The length of value cut to max_length. A cut must not leave a CR at the
// end: the reader drops trailing CRs, so the value would change on its way
// through the file.
size_t cut_length(const char* value, size_t max_length) {
  size_t length = strnlen(value, max_length);
  if (length < strlen(value)) {
    while (length > 0 && value[length - 1] == '\r') length--;
  }
  return length;
}

void copy_text(char* buffer, int max_length, const char* value) {
  size_t length = cut_length(value, static_cast<size_t>(max_length));
  memcpy(buffer, value, length);
  buffer[length] = '\0';
}

bool is_row(const SettingRow& row, const int* choice_target) { return row.choice == choice_target; }

void reset_bike_graphics_choice() {
  g_bike_setup.bike_texture = 0;
  // A graphics name kept for an empty list belonged to the previous bike.
  find_setting("bike_texture", nullptr)->choices->pending.clear();
}

void bike_selected() {
  if (g_bike_graphics_provider) {
    const SettingRow* row = find_setting("bike", nullptr);
    g_bike_graphics_provider(choice_name(*row, 0));
  }
  reset_bike_graphics_choice();
}

void render_texture_from_use_fbo() {
  g_config.render_texture =
      g_config.use_fbo == CHOICE_YES ? RENDER_HARDWARE_DIRECT : RENDER_HARDWARE_COPY;
}

// Stores one value read from a file, by the rules of the row's kind. Returns
// true when the record changed its value from the text (or took it as the
// pending name of an empty list).
bool assign_from_text(const SettingRow& row, int element, const char* value) {
  switch (row.kind) {
    case SettingKind::integer: {
      int parsed;
      if (!scan_int(value, &parsed)) return false;
      row.integer[element] = parsed;
      return true;
    }
    case SettingKind::real: {
      double parsed;
      if (!scan_real(value, &parsed)) return false;
      float single = static_cast<float>(std::clamp(parsed, row.minimum, row.maximum));
      row.real[element] = single;
      return true;
    }
    case SettingKind::number: {
      double parsed;
      if (!scan_real(value, &parsed)) return false;
      row.number[element] = std::clamp(parsed, row.minimum, row.maximum);
      return true;
    }
    case SettingKind::choice: {
      int index = find_choice_index(*row.choices, value);
      if (index >= 0) {
        row.choice[element] = index;
        row.choices->pending.clear();
        return true;
      }
      if (row.choices->names.empty()) {
        row.choices->pending = value;
        return true;
      }
      return false;
    }
    case SettingKind::text: {
      if ((row.flags & SETTING_HISTORY) && strlen(value) > SERVER_HISTORY_READ_MAX) return false;
      copy_text(text_element(row, element), row.max_length, value);
      return true;
    }
    case SettingKind::binding:
      parse_binding(&row.binding[element], value);
      return true;
    case SettingKind::ignored:
    case SettingKind::bike_setup_block:
      return false;
  }
  return false;
}

// Reads a numbered key "slot07": the row's key up to "%02d", then exactly
// two digits naming an element below the row's count.
bool match_numbered_key(const SettingRow& row, const char* key, int* element) {
  const char* marker = strstr(row.key, "%02d");
  size_t prefix = static_cast<size_t>(marker - row.key);
  if (strncmp(key, row.key, prefix) != 0) return false;
  const char* digits = key + prefix;
  if (!isdigit(static_cast<unsigned char>(digits[0])) ||
      !isdigit(static_cast<unsigned char>(digits[1]))) {
    return false;
  }
  if (strcmp(digits + 2, marker + 4) != 0) return false;
  int index = (digits[0] - '0') * 10 + (digits[1] - '0');
  if (index >= row.count) return false;
  *element = index;
  return true;
}

const SettingRow* find_in(std::span<const SettingRow> table, const char* key, int* element) {
  for (const SettingRow& row : table) {
    if (!row.key) continue;
    if (row.count > 1) {
      if (match_numbered_key(row, key, element)) return &row;
    } else if (strcmp(row.key, key) == 0) {
      *element = 0;
      return &row;
    }
  }
  return nullptr;
}

void reset_rows(std::span<const SettingRow> table) {
  for (const SettingRow& row : table) {
    for (int i = 0; i < row.count; i++) {
      switch (row.kind) {
        case SettingKind::integer:
          row.integer[i] = static_cast<int>(row.default_value);
          break;
        case SettingKind::real:
          row.real[i] = static_cast<float>(row.default_value);
          break;
        case SettingKind::number:
          row.number[i] = row.default_value;
          break;
        case SettingKind::choice:
          row.choice[i] = static_cast<int>(row.default_value);
          row.choices->pending.clear();
          break;
        case SettingKind::text:
          copy_text(text_element(row, i), row.max_length, row.default_text);
          break;
        case SettingKind::binding:
          row.binding[i] = Binding{};
          row.binding[i].key_name = row.default_text;
          break;
        case SettingKind::ignored:
        case SettingKind::bike_setup_block:
          break;
      }
    }
  }
}

void append_value(std::string* out, const SettingRow& row, int element) {
  switch (row.kind) {
    case SettingKind::integer:
      appendf(out, "%d", row.integer[element]);
      break;
    case SettingKind::real:
      appendf(out, "%f", static_cast<double>(row.real[element]));
      break;
    case SettingKind::number:
      appendf(out, "%f", row.number[element]);
      break;
    case SettingKind::choice:
      out->append(one_line(choice_name(row, element)));
      break;
    case SettingKind::text:
      out->append(one_line(text_element(row, element)));
      break;
    case SettingKind::binding: {
      const Binding& binding = row.binding[element];
      if (!binding.axis_name.empty()) {
        appendf(out, "(%f,%f)", binding.low, binding.high);
        out->append(one_line(binding.axis_name.c_str()));
      } else if (!binding.key_name.empty()) {
        out->append("(k)");
        out->append(one_line(binding.key_name.c_str()));
      }
      break;
    }
    case SettingKind::ignored:
    case SettingKind::bike_setup_block:
      break;
  }
}

void append_rows(std::string* out, std::span<const SettingRow> table) {
  for (const SettingRow& row : table) {
    if (row.kind == SettingKind::bike_setup_block) {
      append_bike_setup_block(out);
      continue;
    }
    if (row.flags & SETTING_NOT_WRITTEN) continue;
    for (int i = 0; i < row.count; i++) {
      if (row.kind == SettingKind::binding && binding_is_empty(row.binding[i])) continue;
      out->append(setting_key(row, i));
      out->push_back('=');
      append_value(out, row, i);
      out->push_back('\n');
    }
  }
}

// Reads one line of at most CONFIG_LINE_MAX characters, keeping its "\n".
// A longer line is consumed whole and reported as unusable, so that its tail
// can never be taken for a "key=value" line of its own.
enum class LineRead { line, too_long, end };

LineRead read_line(DataStream* stream, std::string* line) {
  line->clear();
  int c = data_getc(stream);
  if (c < 0) return LineRead::end;
  for (; c >= 0; c = data_getc(stream)) {
    line->push_back(static_cast<char>(c));
    if (c == '\n') return LineRead::line;
    if (line->size() == CONFIG_LINE_MAX) break;
  }
  if (c < 0) return LineRead::line;  // the last line, without "\n"
  // Full: a line of exactly the limit loses nothing but its "\n".
  c = data_getc(stream);
  if (c < 0 || c == '\n') return LineRead::line;
  while (c >= 0 && c != '\n') c = data_getc(stream);
  return LineRead::too_long;
}

}  // namespace

// --- tables -------------------------------------------------------------------------

const SettingRow* find_setting(const char* key, int* element) {
  int ignored = 0;
  if (!element) element = &ignored;
  if (const SettingRow* row = find_in(bike_setup_rows(), key, element)) return row;
  return find_in(config_rows(), key, element);
}

std::string setting_key(const SettingRow& row, int element) {
  if (row.count <= 1) return row.key ? row.key : "";
  char key[64];
  snprintf(key, sizeof key, row.key, element);
  return key;
}

std::string setting_label(const SettingRow& row, int element) {
  if (!row.label) return "";
  if (row.count <= 1) return row.label;
  char label[64];
  snprintf(label, sizeof label, row.label, element + 1);
  return label;
}

std::string setting_value_text(const SettingRow& row, int element) {
  std::string text;
  append_value(&text, row, element);
  return text;
}

const char* choice_name(const SettingRow& row, int element) {
  const ChoiceList& list = *row.choices;
  if (list.names.empty()) return list.pending.c_str();
  int index = row.choice[element];
  if (index < 0 || index >= static_cast<int>(list.names.size())) index = 0;
  return list.names[static_cast<size_t>(index)].c_str();
}

// --- reading ------------------------------------------------------------------------

void reset_config() {
  reset_rows(config_rows());
  reset_rows(bike_setup_rows());
  clear_server_history();
}

const char* canonical_bike_name(const char* name) {
  for (const BikeAlias& alias : k_bike_aliases) {
    if (strcmp(name, alias.old_name) == 0) return alias.name;
  }
  return name;
}

void parse_binding(Binding* binding, const char* text) {
  while (isspace(static_cast<unsigned char>(*text))) text++;
  *binding = Binding{};
  const char* close = strchr(text, ')');
  if (text[0] == '(' && close) {
    double low, high;
    if (sscanf(text, "(%lf,%lf)", &low, &high) == 2 && std::isfinite(low) &&
        std::isfinite(high)) {
      // Raw axis values lie within -1..1; the limit keeps the written
      // "%f" numbers short enough for the line to be read back.
      binding->low = std::clamp(low, -BINDING_AXIS_LIMIT, BINDING_AXIS_LIMIT);
      binding->high = std::clamp(high, -BINDING_AXIS_LIMIT, BINDING_AXIS_LIMIT);
      binding->axis_name.assign(close + 1, cut_length(close + 1, BINDING_NAME_MAX));
      return;
    }
  }
  const char* name = strncmp(text, "(k)", 3) == 0 ? text + 3 : text;
  binding->key_name.assign(name, cut_length(name, BINDING_NAME_MAX));
}

void apply_stability(double stability) {
  double s = std::clamp(stability * 5.0 * 0.01, 0.0, 5.0);
  if (std::isnan(s)) s = 5.0;
  int level = std::clamp(static_cast<int>(std::floor(s)), 0, 4);
  double fraction = s - level;
  for (const AidPreset& aid : k_aid_presets) {
    double from = aid.at_level[level];
    double to = aid.at_level[level + 1];
    *aid.value = from + fraction * (to - from);
  }
}

bool parse_bike_setup_line(const char* key, const char* value) {
  int element = 0;
  const SettingRow* row = find_in(bike_setup_rows(), key, &element);
  if (!row) return false;
  if (is_row(*row, &g_bike_setup.bike)) {
    int index = find_choice_index(*row->choices, canonical_bike_name(value));
    if (index < 0 && !row->choices->names.empty()) return true;  // unknown bike: ignored
    assign_from_text(*row, element, canonical_bike_name(value));
    bike_selected();
    return true;
  }
  if (assign_from_text(*row, element, value) && row->number == &g_bike_setup.stability) {
    apply_stability(g_bike_setup.stability);
  }
  return true;
}

void read_config_line(const char* line) {
  const char* equals = strchr(line, '=');
  if (!equals) return;
  std::string key(line, static_cast<size_t>(equals - line));
  std::string value(equals + 1);
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();

  if (parse_bike_setup_line(key.c_str(), value.c_str())) return;
  int element = 0;
  const SettingRow* row = find_in(config_rows(), key.c_str(), &element);
  if (!row) return;
  if (assign_from_text(*row, element, value.c_str()) && is_row(*row, &g_config.use_fbo)) {
    render_texture_from_use_fbo();
  }
}

void read_config_stream(DataStream* stream) {
  std::string line;
  line.reserve(CONFIG_LINE_MAX);
  for (;;) {
    LineRead result = read_line(stream, &line);
    if (result == LineRead::end) break;
    // A NUL byte ends the line's text, as it would in a C string.
    if (result == LineRead::line) read_config_line(line.c_str());
  }
}

bool read_config() {
  DataStream* stream = data_open("@config", "r");
  if (!stream) return false;
  read_config_stream(stream);
  data_close(stream);
  return true;
}

void setting_changed(const SettingRow& row) {
  if (is_row(row, &g_bike_setup.bike)) {
    bike_selected();
  } else if (row.number == &g_bike_setup.stability) {
    apply_stability(g_bike_setup.stability);
  } else if (is_row(row, &g_config.use_fbo)) {
    render_texture_from_use_fbo();
  }
}

void clear_server_history() {
  for (char* entry : g_config.server_name_history) entry[0] = '\0';
}

void remember_server(const char* name) {
  size_t length = 0;
  while (name[length] && static_cast<unsigned char>(name[length]) >= 0x20) length++;
  if (length == 0) return;
  std::string host(name, std::min(length, static_cast<size_t>(SERVER_NAME_MAX)));
  copy_text(g_config.server_name, SERVER_NAME_MAX, host.c_str());
  char (*history)[SERVER_NAME_MAX + 1] = g_config.server_name_history;
  if (host == history[0]) return;
  for (int i = SERVER_HISTORY_ENTRIES - 1; i > 0; i--) {
    memcpy(history[i], history[i - 1], sizeof history[i]);
  }
  copy_text(history[0], SERVER_NAME_MAX, host.c_str());
}

// --- writing ------------------------------------------------------------------------

void append_bike_setup_block(std::string* text) { append_rows(text, bike_setup_rows()); }

bool write_bike_setup_block(DataStream* stream) {
  std::string text;
  append_bike_setup_block(&text);
  return data_write(stream, text.data(), text.size()) == text.size();
}

std::string config_text() {
  std::string text;
  text.reserve(8192);
  append_rows(&text, config_rows());
  return text;
}

namespace {

// Writes text to path.new in the directory, makes it durable, and renames it
// over path. The old file stays untouched unless every byte reached the disk.
enum class ReplaceResult { replaced, cannot_create, failed };

ReplaceResult replace_file(const std::string& directory, const char* name,
                           const std::string& text) {
  std::string path = directory + name;
  std::string temporary = path + ".new";
  DataStream* stream = data_open(temporary.c_str(), "wb");
  if (!stream) return ReplaceResult::cannot_create;
  bool written = data_write(stream, text.data(), text.size()) == text.size();
  written = data_flush(stream) == 0 && written;
  data_close(stream);

  // The stream's close cannot report a failed final write, so the size on
  // disk is the proof; fsync makes the data durable before the rename.
  struct stat status;
  written = written && stat(temporary.c_str(), &status) == 0 &&
            status.st_size == static_cast<off_t>(text.size());
  if (written) {
    int fd = open(temporary.c_str(), O_RDONLY);
    written = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
  }
  // POSIX rename replaces the target atomically; removing it first would
  // open a window in which no configuration exists at all.
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return ReplaceResult::failed;
  }
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return ReplaceResult::replaced;
}

}  // namespace

bool write_config() {
  std::string text = config_text();
  for (int n = 0; const char* directory = search_directory(n); n++) {
    switch (replace_file(directory, "config", text)) {
      case ReplaceResult::replaced: return true;
      case ReplaceResult::failed: return false;  // a half-written copy elsewhere helps nobody
      case ReplaceResult::cannot_create: break;
    }
  }
  return false;
}
