#include "ui/chat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/config.h"
#include "core/message.h"
#include "render/font.h"
#include "ui/ui.h"

namespace {

size_t previous_length(const std::string& text, size_t end) {
  size_t start = end;
  while (start > 0) {
    start--;
    if (((unsigned char)text[start] & 0xC0) != 0x80) break;
  }
  return end - start;
}

size_t next_length(const std::string& text, size_t at) {
  size_t pos = at;
  next_codepoint(text.data(), text.size(), &pos);
  return pos - at;
}

void insert(ChatLine* chat, const char* typed) {
  for (size_t pos = 0, length = strlen(typed); pos < length;) {
    size_t start = pos;
    uint32_t cp = next_codepoint(typed, length, &pos);
    if (cp < 32 || cp == 127) continue;
    if (chat->text.size() + (pos - start) > CHAT_LINE_MAX) break;
    chat->text.insert(chat->caret, typed + start, pos - start);
    chat->caret += pos - start;
  }
}

void recall(ChatLine* chat, int direction) {
  int count = (int)chat->history.size();
  if (count == 0) return;
  int at = chat->recall < 0 ? count : chat->recall;
  at = std::clamp(at + direction, 0, count);
  chat->recall = at == count ? -1 : at;
  chat->text = chat->recall < 0 ? std::string() : chat->history[(size_t)at];
  chat->caret = chat->text.size();
}

void toggle(int* flag, const char* what) {
  *flag = !*flag;
  show_message("%.60s %s", what, *flag ? "ON" : "OFF");
}

// The first word after the slash and the rest with its leading blanks gone.
void split_command(const std::string& line, std::string* word, std::string* rest) {
  size_t start = 1;
  size_t end = line.find_first_of(" \t", start);
  if (end == std::string::npos) end = line.size();
  *word = line.substr(start, end - start);
  size_t args = line.find_first_not_of(" \t", end);
  *rest = args == std::string::npos ? std::string() : line.substr(args);
}

bool parse_int(const std::string& text, int* value) {
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (text.empty() || end == text.c_str()) return false;
  *value = (int)std::clamp(v, (long)INT32_MIN, (long)INT32_MAX);
  return true;
}

}  // namespace

bool run_ui_command(const std::string& line) {
  if (line.size() < 2 || (line[0] != '/' && line[0] != '\\')) return false;
  std::string word, rest;
  split_command(line, &word, &rest);
  if (word == "togglefps") {
    toggle(&g_config.draw_fps, "FPS display");
  } else if (word == "toggletime") {
    toggle(&g_config.draw_time, "Time display");
  } else if (word == "toggleping") {
    toggle(&g_config.draw_ping, "Ping display");
  } else if (word == "togglegraph") {
    g_ui.suspension_graph = !g_ui.suspension_graph;
    show_message("%.60s %s", "Suspension graph", g_ui.suspension_graph ? "ON" : "OFF");
  } else if (word == "messagelines") {
    int count = 0;
    if (!parse_int(rest, &count)) {
      show_message("Usage: messagelines <count>");
      return true;
    }
    // The ring holds 1000 lines; a larger count could never be filled.
    g_message_line_limit = std::clamp(count, 0, MESSAGE_LINES_MAX);
    show_message("Maximum showing messages is now %d", g_message_line_limit);
  } else if (word == "mapscale") {
    char* end = nullptr;
    double scale = strtod(rest.c_str(), &end);
    if (rest.empty() || end == rest.c_str() || !std::isfinite(scale)) {
      show_message("Usage: mapscale <scale>");
      return true;
    }
    g_config.map_scale = (float)std::clamp(scale, 0.125, 8.0);
    show_message("Map scale set to %f", g_config.map_scale);
  } else {
    return false;
  }
  return true;
}

void open_chat_line(ChatLine* chat, const ChatSink& sink) {
  chat->open = true;
  chat->text.clear();
  chat->caret = 0;
  chat->recall = -1;
  if (sink.text_input) sink.text_input(true);
}

void close_chat_line(ChatLine* chat, const ChatSink& sink) {
  if (!chat->open) return;
  chat->open = false;
  chat->text.clear();
  chat->caret = 0;
  if (sink.text_input) sink.text_input(false);
}

void submit_chat_line(ChatLine* chat, const std::string& line, const ChatSink& sink) {
  if (line.empty()) return;
  if (chat->history.empty() || chat->history.back() != line) chat->history.push_back(line);
  if ((int)chat->history.size() > CHAT_HISTORY_LINES) chat->history.erase(chat->history.begin());
  if (line[0] == '/' || line[0] == '\\') {
    if (run_ui_command(line)) return;
    if (sink.send) {
      sink.send(line.c_str());
    } else {
      std::string word, rest;
      split_command(line, &word, &rest);
      show_message("Unknown command \"%.100s\"", word.c_str());
    }
    return;
  }
  double now = sink.clock ? sink.clock() : 0.0;
  if (now - chat->last_chat_time < CHAT_SPAM_SECONDS) {
    show_message("No one likes a spammer");
    return;
  }
  if (!sink.connected || !sink.connected() || !sink.send) {
    show_message("Not connected to server");
    return;
  }
  chat->last_chat_time = now;
  sink.send(line.c_str());
}

void chat_key(ChatLine* chat, const InputEvent& event, const ChatSink& sink) {
  if (!chat->open) return;
  if (event.kind == INPUT_TEXT) {
    insert(chat, event.text);
    return;
  }
  if (event.kind != INPUT_KEY || !event.pressed) return;
  std::string& text = chat->text;
  switch (event.key) {
    case KEY_ENTER:
    case KEY_KEYPAD_ENTER: {
      std::string line = text;
      close_chat_line(chat, sink);
      submit_chat_line(chat, line, sink);
      break;
    }
    case KEY_BACKSPACE:
      if (chat->caret > 0) {
        size_t n = previous_length(text, chat->caret);
        text.erase(chat->caret - n, n);
        chat->caret -= n;
      }
      break;
    case KEY_DELETE:
      if (chat->caret < text.size()) text.erase(chat->caret, next_length(text, chat->caret));
      break;
    case KEY_LEFT:
      if (chat->caret > 0) chat->caret -= previous_length(text, chat->caret);
      break;
    case KEY_RIGHT:
      if (chat->caret < text.size()) chat->caret += next_length(text, chat->caret);
      break;
    case KEY_HOME: chat->caret = 0; break;
    case KEY_END: chat->caret = text.size(); break;
    case KEY_UP: recall(chat, -1); break;
    case KEY_DOWN: recall(chat, +1); break;
    default: break;
  }
}
