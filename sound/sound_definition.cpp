// Built-in wave sets and definitions, the ".braap" reader and the choice of
// a bike's definition file.
#include "sound/sound_definition.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datafile.h"

namespace {

constexpr double PI = 3.14159265358979323846;

struct WaveSets {
  WaveSet four_stroke, two_stroke;
};

// Built on first use; nothing else writes them.
const WaveSets& wave_sets() {
  static const WaveSets sets = [] {
    WaveSets s;
    s.four_stroke.name = "default_four_stroke";
    s.two_stroke.name = "default_two_stroke";
    for (int k = 0; k < WAVE_TABLE_ENTRIES; k++) {
      double x = k / 1023.0;
      double four = (std::fabs(std::sin(3 * PI * x + 0.5246)) - 0.5) * 0.5;
      double two = 0;
      if (x < 0.25) {
        four += std::sin(16 * PI * x) * (1 - 4 * x);
        two = std::sin(8 * PI * x) * (1 - 4 * x);
      }
      s.four_stroke.wave[k] = (float)four;
      s.four_stroke.quarter[k] = (float)(four * 0.25);
      s.two_stroke.wave[k] = (float)two;
      s.two_stroke.quarter[k] = (float)(two * 0.25);
    }
    return s;
  }();
  return sets;
}

EngineSoundDefinition make_definition(const WaveSet* waves, double firings, double low, double high, double load_share,
                                      PipeSettings pipe) {
  EngineSoundDefinition d = {};
  d.wave_set = waves;
  d.firings_per_rev = firings;
  d.low_torque = low;
  d.high_torque = high;
  d.load_share = load_share;
  d.gain = 1.0;
  d.min_rpm = 1000.0;
  d.pipe = pipe;
  return d;
}

// A keyword at the start of the line (after white space), as a whole word;
// returns the text after it or nullptr.
const char* keyword(const char* line, const char* word) {
  while (*line == ' ' || *line == '\t') line++;
  size_t n = strlen(word);
  if (strncmp(line, word, n) != 0) return nullptr;
  char next = line[n];
  if (next != '\0' && !isspace((unsigned char)next)) return nullptr;
  return line + n;
}

bool read_double(const char* text, double* value) {
  char* end;
  double v = strtod(text, &end);
  if (end == text || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Up to SOUND_CURVE_MAX numbers; reading stops at the first thing that is not
// a finite number.
int read_curve(const char* text, float* curve) {
  int count = 0;
  while (count < SOUND_CURVE_MAX) {
    char* end;
    double v = strtod(text, &end);
    if (end == text || !std::isfinite(v)) break;
    curve[count++] = (float)v;
    text = end;
  }
  return count;
}

// Reads one line into buffer (NUL-terminated, "\n" removed); a longer line
// keeps its first SOUND_LINE_CHARS characters and the rest is skipped.
bool read_line(DataStream* stream, char* buffer, int size) {
  // Cleared first, so a "\n" found below is one that was read, even past a
  // stray NUL byte in the line.
  memset(buffer, 0, (size_t)size);
  if (!data_gets(buffer, size, stream)) return false;
  char* newline = (char*)memchr(buffer, '\n', (size_t)size - 1);
  if (newline) {
    *newline = '\0';
  } else {
    for (int c; (c = data_getc(stream)) >= 0 && c != '\n';) {
    }
  }
  size_t length = strlen(buffer);
  if (length > 0 && buffer[length - 1] == '\r') buffer[--length] = '\0';
  return true;
}

void append_braap(std::string* stem) { *stem += ".braap"; }

}  // namespace

const WaveSet* find_wave_set(const char* name) {
  if (!name) return nullptr;
  const WaveSets& sets = wave_sets();
  if (strcmp(name, sets.four_stroke.name) == 0) return &sets.four_stroke;
  if (strcmp(name, sets.two_stroke.name) == 0) return &sets.two_stroke;
  return nullptr;
}

EngineSoundDefinition builtin_engine_sound(const char* engine_class) {
  const WaveSets& sets = wave_sets();
  const char* c = engine_class ? engine_class : "";
  size_t n = strlen(c);
  if (strcmp(c, "50") == 0)
    return make_definition(&sets.two_stroke, 1.0, -3.5, 1.5, 0.75, {1.75, 0.3, -0.75, 0, 15});
  if (n > 0 && c[n - 1] == 'f')
    return make_definition(&sets.four_stroke, 0.5, -2.5, 2.5, 0.5, {5.0, 0.918207, -0.85, 0, 15});
  return make_definition(&sets.two_stroke, 1.0, -3.5, 3.5, 0.75, {1.75, 0.3, -0.75, 0, 15});
}

const char* default_engine_sound_file(const char* engine_class) {
  static const char* const CLASSES[][2] = {{"50", "@default50.braap"},
                                           {"125", "@default125.braap"},
                                           {"250f", "@default250f.braap"},
                                           {"250", "@default250.braap"},
                                           {"450f", "@default450f.braap"}};
  if (!engine_class) return "";
  for (const auto& entry : CLASSES)
    if (strcmp(engine_class, entry[0]) == 0) return entry[1];
  return "";
}

PipeSettings parse_pipe_numbers(const char* text) {
  PipeSettings p = PIPE_LINE_DEFAULTS;
  double d[3];
  int taps[2];
  // Like a scanf over the five fields: the first that does not parse ends it.
  int got = 0;
  const char* s = text;
  for (int i = 0; i < 3; i++, got++) {
    char* end;
    d[i] = strtod(s, &end);
    if (end == s || !std::isfinite(d[i])) break;
    s = end;
  }
  if (got == 3) {
    for (int i = 0; i < 2; i++, got++) {
      char* end;
      long v = strtol(s, &end, 10);
      if (end == s) break;
      taps[i] = v < -1000000 ? -1000000 : v > 1000000 ? 1000000 : (int)v;
      s = end;
    }
  }
  if (got > 0) p.round_trip_ms = d[0];
  if (got > 1) p.engine_reflection = d[1];
  if (got > 2) p.open_reflection = d[2];
  if (got > 3) p.inlet_tap = taps[0];
  if (got > 4) p.pickup_tap = taps[1];
  return p;
}

void read_engine_sound(DataStream* stream, const char* engine_class, EngineSoundDefinition* out) {
  *out = builtin_engine_sound(engine_class);
  out->pipe = PIPE_FILE_START;
  char line[SOUND_LINE_CHARS + 1];
  while (read_line(stream, line, (int)sizeof line)) {
    if (char* hash = strchr(line, '#')) *hash = '\0';
    const char* rest;
    double value;
    if ((rest = keyword(line, "pipe"))) {
      out->pipe = parse_pipe_numbers(rest);
    } else if ((rest = keyword(line, "minrpm"))) {
      if (read_double(rest, &value)) out->min_rpm = value;
    } else if ((rest = keyword(line, "lowtorque"))) {
      if (read_double(rest, &value)) out->low_torque = value;
    } else if ((rest = keyword(line, "hightorque"))) {
      if (read_double(rest, &value)) out->high_torque = value;
    } else if ((rest = keyword(line, "bias"))) {
      out->bias_count = read_curve(rest, out->bias);
    } else if ((rest = keyword(line, "scale"))) {
      out->scale_count = read_curve(rest, out->scale);
    } else if ((rest = keyword(line, "soundtable"))) {
      char name[SOUND_LINE_CHARS + 1];
      if (sscanf(rest, " %1023s", name) == 1) out->sound_table = load_sound_table(name);
    }
  }
}

std::vector<std::string> engine_sound_candidates(const char* skin_name) {
  std::vector<std::string> names;
  if (!skin_name || !*skin_name) return names;
  std::string name = skin_name[0] == '@' ? skin_name : std::string("@") + skin_name;
  size_t slash = name.find_last_of("/\\");
  size_t leaf = slash == std::string::npos ? 1 : slash + 1;
  size_t dot = name.rfind('.');
  std::string stem = dot != std::string::npos && dot >= leaf ? name.substr(0, dot) : name;
  if (stem.size() <= leaf) return names;  // nothing left of the file name
  for (;;) {
    std::string candidate = stem;
    append_braap(&candidate);
    names.push_back(candidate);
    size_t dash = stem.rfind('-');
    if (dash == std::string::npos || dash <= leaf) break;
    stem.resize(dash);
  }
  return names;
}

EngineSoundDefinition choose_engine_sound(const char* skin_name, const char* engine_class, std::string* chosen_file) {
  std::vector<std::string> names = engine_sound_candidates(skin_name);
  const char* fallback = default_engine_sound_file(engine_class);
  if (*fallback) names.push_back(fallback);
  for (const std::string& name : names) {
    DataStream* stream = data_open(name.c_str(), "r");
    if (!stream) continue;
    EngineSoundDefinition d;
    read_engine_sound(stream, engine_class, &d);
    data_close(stream);
    if (chosen_file) *chosen_file = name;
    return d;
  }
  if (chosen_file) chosen_file->clear();
  return builtin_engine_sound(engine_class);
}
