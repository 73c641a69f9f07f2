// Sound tables and their samples: parsed once per name, shared by every bike.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/datafile.h"
#include "core/message.h"
#include "sound/engine_sample_format.h"
#include "sound/sound_definition.h"

namespace {

// Bounds that keep a corrupt header from asking for absurd amounts of memory;
// the shipped tables are 6 x 3.
constexpr int MAX_TABLE_ROWS = 256;
constexpr int MAX_TABLE_COLUMNS = 256;
constexpr int MAX_TABLE_CELLS = 4096;
// About 95 s of 11025 Hz audio: far more than one engine's loop needs, and a
// name like "/dev/zero" stops here instead of filling memory.
constexpr size_t MAX_SAMPLE_BYTES = 1 << 20;
constexpr int MAX_CELL_INDICES = 4096;

struct SoundLibrary {
  std::vector<std::unique_ptr<SoundTable>> tables;
  std::vector<std::string> failed;  // names already reported
  std::vector<std::unique_ptr<SoundSample>> samples;
};

SoundLibrary g_sound_library;

const SoundSample* find_sample(const std::string& name) {
  for (const auto& s : g_sound_library.samples)
    if (s->name == name) return s.get();
  return nullptr;
}

const SoundSample* load_sample(const char* name) {
  if (const SoundSample* s = find_sample(name)) return s;
  DataStream* stream = data_open(name, "rb");
  if (!stream) return nullptr;
  std::vector<unsigned char> bytes;
  unsigned char block[16384];
  bool too_long = false;
  for (;;) {
    size_t n = data_read(stream, block, sizeof block);
    if (n == 0) break;
    if (bytes.size() + n > MAX_SAMPLE_BYTES) {
      too_long = true;
      break;
    }
    bytes.insert(bytes.end(), block, block + n);
  }
  bool failed = data_stream_failed(stream);
  data_close(stream);
  if (failed || too_long || bytes.empty()) return nullptr;
  auto sample = std::make_unique<SoundSample>();
  sample->name = name;
  sample->data.resize(bytes.size());
  for (size_t i = 0; i < bytes.size(); i++)
    sample->data[i] = (float)((int)bytes[i] - engine_sample_format::SAMPLE_SILENCE) / 128.0f;
  g_sound_library.samples.push_back(std::move(sample));
  return g_sound_library.samples.back().get();
}

bool read_key(DataStream* stream, double* key) {
  if (data_scanf(stream, "%lf", key) != 1) return false;
  return std::isfinite(*key);
}

// One cell's "indices -1 period path". False when any part is missing.
bool read_cell(DataStream* stream, SoundCell* cell, std::string* path) {
  std::vector<int> indices;
  for (;;) {
    int value;
    if (data_scanf(stream, "%d", &value) != 1) return false;
    if (value == -1) break;
    if ((int)indices.size() >= MAX_CELL_INDICES) return false;
    indices.push_back(value);
  }
  double period;
  if (data_scanf(stream, "%lf", &period) != 1) return false;
  char name[1024];
  if (data_scanf(stream, " %1023s", name) != 1) return false;
  // A period below one sample cannot hold a firing; modulo 0 is undefined.
  if (!std::isfinite(period) || period < 1.0 || period > 1e6) return false;
  int whole = (int)period;
  for (int& i : indices) i = ((i % whole) + whole) % whole;
  cell->period = period;
  cell->index = std::move(indices);
  *path = name;
  return true;
}

}  // namespace

SoundTable* read_sound_table(DataStream* stream, const char* name) {
  int rows, columns;
  if (data_scanf(stream, " SOUNDTABLE %d %d", &rows, &columns) != 2 || rows < 1 || columns < 1 ||
      rows > MAX_TABLE_ROWS || columns > MAX_TABLE_COLUMNS || rows * columns > MAX_TABLE_CELLS) {
    show_message("Error reading '%.512s'", name);
    return nullptr;
  }
  auto table = std::make_unique<SoundTable>();
  table->name = name;
  table->rows = rows;
  table->columns = columns;
  table->row_keys.resize((size_t)rows);
  table->column_keys.resize((size_t)columns);
  for (double& key : table->row_keys)
    if (!read_key(stream, &key)) {
      show_message("Error reading '%.512s'", name);
      return nullptr;
    }
  for (double& key : table->column_keys)
    if (!read_key(stream, &key)) {
      show_message("Error reading '%.512s'", name);
      return nullptr;
    }
  table->cells.resize((size_t)rows * (size_t)columns);
  for (int r = 0; r < rows; r++) {
    for (int c = 0; c < columns; c++) {
      SoundCell& cell = table->cells[(size_t)r * (size_t)columns + (size_t)c];
      std::string path;
      if (!read_cell(stream, &cell, &path)) {
        show_message("(%d, %d) Bad remap entry", r, c);
        return nullptr;
      }
      const SoundSample* sample = load_sample(path.c_str());
      if (!sample) {
        show_message("Error reading '%.512s'", path.c_str());
        return nullptr;
      }
      cell.samples = sample->data.data();
      cell.sample_count = (int)sample->data.size();
      cell.row_key = table->row_keys[(size_t)r];
      cell.column_key = table->column_keys[(size_t)c];
    }
  }
  return table.release();
}

const SoundTable* load_sound_table(const char* name) {
  for (const auto& t : g_sound_library.tables)
    if (t->name == name) return t.get();
  for (const std::string& failed : g_sound_library.failed)
    if (failed == name) return nullptr;
  DataStream* stream = data_open(name, "r");
  SoundTable* table = nullptr;
  if (!stream) {
    show_message("Error reading '%.512s'", name);
  } else {
    table = read_sound_table(stream, name);
    data_close(stream);
  }
  if (!table) {
    g_sound_library.failed.push_back(name);
    return nullptr;
  }
  g_sound_library.tables.emplace_back(table);
  return table;
}

void free_sound_tables() {
  g_sound_library.tables.clear();
  g_sound_library.failed.clear();
  g_sound_library.samples.clear();
}

int loaded_sound_table_count() { return (int)g_sound_library.tables.size(); }
int loaded_sound_sample_count() { return (int)g_sound_library.samples.size(); }

namespace {

int nearest_row(const SoundTable& table, double rpm) {
  int row = 0;
  for (int r = 1; r < table.rows; r++)
    if (std::fabs(table.row_keys[(size_t)r] - rpm) < std::fabs(table.row_keys[(size_t)row] - rpm)) row = r;
  return row;
}

int nearest_column(const SoundTable& table, double load) {
  int column = 0;
  for (int c = 1; c < table.columns; c++)
    if (std::fabs(table.column_keys[(size_t)c] - load) < std::fabs(table.column_keys[(size_t)column] - load))
      column = c;
  return column;
}

}  // namespace

const SoundCell& sound_table_cell(const SoundTable& table, double rpm, double load) {
  return table.cells[(size_t)nearest_row(table, rpm) * (size_t)table.columns + (size_t)nearest_column(table, load)];
}

const SoundCell* sound_table_neighbour(const SoundTable& table, double rpm, double load, double* share) {
  *share = 0;
  int row = nearest_row(table, rpm);
  double key = table.row_keys[(size_t)row];
  int other = -1;
  for (int r = 0; r < table.rows; r++) {
    double k = table.row_keys[(size_t)r];
    bool beyond = rpm >= key ? (k > key && k >= rpm) : (k < key && k <= rpm);
    if (beyond && (other < 0 || std::fabs(k - rpm) < std::fabs(table.row_keys[(size_t)other] - rpm))) other = r;
  }
  if (other < 0) return nullptr;
  double span = std::fabs(table.row_keys[(size_t)other] - key);
  *share = span > 0 ? std::min(0.5, std::fabs(rpm - key) / span) : 0.0;
  return &table.cells[(size_t)other * (size_t)table.columns + (size_t)nearest_column(table, load)];
}
