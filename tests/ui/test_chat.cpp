// The chat line: editing, recall, the interface's own commands, the spam and
// connection rules, and what reaches the console.
#include "ui_test_util.h"

namespace {

struct Sent {
  std::vector<std::string> lines;
  bool connected = false;
  double clock = 100;
  std::vector<bool> text_input;
};
Sent* g_sent = nullptr;

ChatSink recording_sink(bool with_console = true) {
  ChatSink sink = {};
  sink.connected = [] { return g_sent->connected; };
  if (with_console) sink.send = [](const char* line) { g_sent->lines.push_back(line); };
  sink.text_input = [](bool on) { g_sent->text_input.push_back(on); };
  sink.clock = [] { return g_sent->clock; };
  return sink;
}

class ChatTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    g_sent = &sent;
    chat = ChatLine{};
    sink = recording_sink();
  }
  void TearDown() override {
    g_sent = nullptr;
    UiTest::TearDown();
  }
  void key(int k) { chat_key(&chat, key_down(k), sink); }
  void text(const char* t) { chat_key(&chat, typed(t), sink); }
  void say(const char* line) {
    open_chat_line(&chat, sink);
    text(line);
    key(KEY_ENTER);
  }
  Sent sent;
  ChatLine chat;
  ChatSink sink;
};

}  // namespace

TEST_F(ChatTest, EditingWithCaretAndRecall) {
  open_chat_line(&chat, sink);
  EXPECT_TRUE(chat.open);
  text("helo");
  key(KEY_LEFT);
  text("l");
  EXPECT_EQ(chat.text, "hello");
  key(KEY_HOME);
  key(KEY_DELETE);
  text("H");
  key(KEY_END);
  text(" w\xC3\xB6rld");
  key(KEY_BACKSPACE);
  key(KEY_BACKSPACE);
  key(KEY_BACKSPACE);
  EXPECT_EQ(chat.text, "Hello w\xC3\xB6");
  key(KEY_LEFT);
  EXPECT_EQ(chat.caret, chat.text.size() - 2);  // one key steps over a whole character
  key(KEY_RIGHT);
  text("\x1b\x07");  // control characters never enter the line
  EXPECT_EQ(chat.text, "Hello w\xC3\xB6");

  sent.connected = true;
  key(KEY_ENTER);
  EXPECT_FALSE(chat.open);
  EXPECT_EQ(sent.lines, std::vector<std::string>{"Hello w\xC3\xB6"});
  EXPECT_EQ(sent.text_input, (std::vector<bool>{true, false}));

  sent.clock += 5;
  say("second");
  open_chat_line(&chat, sink);
  key(KEY_UP);
  EXPECT_EQ(chat.text, "second");
  key(KEY_UP);
  EXPECT_EQ(chat.text, "Hello w\xC3\xB6");
  key(KEY_UP);  // stays at the oldest
  EXPECT_EQ(chat.text, "Hello w\xC3\xB6");
  key(KEY_DOWN);
  key(KEY_DOWN);
  EXPECT_EQ(chat.text, "");  // back to a fresh line
  close_chat_line(&chat, sink);
  EXPECT_FALSE(chat.open);
}

TEST_F(ChatTest, LineLengthIsWhatOneMessageCarries) {
  open_chat_line(&chat, sink);
  std::string piece(30, 'a');
  for (int i = 0; i < 20; i++) text(piece.c_str());
  EXPECT_EQ(chat.text.size(), CHAT_LINE_MAX);
}

TEST_F(ChatTest, ChatNeedsAConnectionAndTwoSecondsBetweenLines) {
  say("anyone here?");
  EXPECT_TRUE(shown("Not connected to server"));
  EXPECT_TRUE(sent.lines.empty());
  sent.connected = true;
  say("hi");
  sent.clock += 1;
  clear_message_lines();
  say("hi again");
  EXPECT_TRUE(shown("No one likes a spammer"));
  EXPECT_EQ(sent.lines, std::vector<std::string>{"hi"});
  sent.clock += 1.5;  // 2.5 s after the last line that went out
  say("third");
  EXPECT_EQ(sent.lines, (std::vector<std::string>{"hi", "third"}));
  say("");  // an empty line just closes
  EXPECT_EQ(sent.lines.size(), 2u);
}

TEST_F(ChatTest, InterfaceCommandsAnswerOnTheConsole) {
  g_config.draw_fps = 0;
  say("/togglefps");
  EXPECT_EQ(g_config.draw_fps, 1);
  EXPECT_TRUE(shown("FPS display ON"));
  say("\\togglefps");
  EXPECT_EQ(g_config.draw_fps, 0);
  EXPECT_TRUE(shown("FPS display OFF"));
  say("/toggleping");
  EXPECT_TRUE(shown("Ping display OFF"));  // on by default
  say("/toggletime");
  EXPECT_TRUE(shown("Time display ON"));
  say("/togglegraph");
  EXPECT_TRUE(g_ui.suspension_graph);
  EXPECT_TRUE(shown("Suspension graph ON"));
  g_ui.suspension_graph = false;

  say("/messagelines 8");
  EXPECT_EQ(g_message_line_limit, 8);
  EXPECT_TRUE(shown("Maximum showing messages is now 8"));
  say("/messagelines 99999");
  EXPECT_EQ(g_message_line_limit, MESSAGE_LINES_MAX);
  say("/messagelines lots");
  EXPECT_TRUE(shown("Usage: messagelines <count>"));
  EXPECT_EQ(g_message_line_limit, MESSAGE_LINES_MAX);
  g_message_line_limit = 5;

  say("/mapscale 2.5");
  EXPECT_FLOAT_EQ(g_config.map_scale, 2.5f);
  EXPECT_TRUE(shown("Map scale set to 2.500000"));
  say("/mapscale 100");
  EXPECT_FLOAT_EQ(g_config.map_scale, 8.0f);
  say("/mapscale nan");
  EXPECT_FLOAT_EQ(g_config.map_scale, 8.0f);
  say("/togglefpsx");  // a whole word, not a prefix
  EXPECT_EQ(g_config.draw_fps, 0);
  // None of these reached the console.
  EXPECT_EQ(sent.lines, std::vector<std::string>{"/togglefpsx"});
}

TEST_F(ChatTest, OtherCommandsGoToTheConsoleConnectedOrNot) {
  say("/savetrackinfo");
  say("/fov 90");
  EXPECT_EQ(sent.lines, (std::vector<std::string>{"/savetrackinfo", "/fov 90"}));
  // A build without a console says so instead of dropping the line.
  sink = recording_sink(false);
  say("/listfiles");
  EXPECT_TRUE(shown("Unknown command \"listfiles\""));
}
