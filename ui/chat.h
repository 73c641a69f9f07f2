// The chat line: one line of text typed over the game (opened by the Chat
// binding), with a caret, recall of earlier lines, and what happens to a
// finished line: the interface's own commands ("/togglefps", "/messagelines
// 8", ...), every other command to the console, chat to the server.
#pragma once

#include <string>
#include <vector>

#include "platform/input.h"

constexpr size_t CHAT_LINE_MAX = 466;  // what one chat message carries
constexpr int CHAT_HISTORY_LINES = 32;
constexpr double CHAT_SPAM_SECONDS = 2.0;

struct ChatLine {
  bool open = false;
  std::string text;
  size_t caret = 0;                   // byte offset
  std::vector<std::string> history;   // sent lines, oldest first
  int recall = -1;                    // history entry shown, -1 the line being typed
  double last_chat_time = -1e9;       // game clock of the last chat sent
};

// What the chat line needs from the game; null entries do without.
struct ChatSink {
  bool (*connected)();
  void (*send)(const char* line);  // chat or a console command, for the console
  void (*text_input)(bool on);
  double (*clock)();               // the game clock
};

void open_chat_line(ChatLine* chat, const ChatSink& sink);
void close_chat_line(ChatLine* chat, const ChatSink& sink);
// A key-down or typed text while the line is open. Enter sends, Esc (through
// the shell's close) cancels.
void chat_key(ChatLine* chat, const InputEvent& event, const ChatSink& sink);
// What Enter does with a line (also for tests): true when it was handled.
void submit_chat_line(ChatLine* chat, const std::string& line, const ChatSink& sink);
// The interface's own commands; false when the command is not one of them.
bool run_ui_command(const std::string& line);
