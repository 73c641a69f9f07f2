// The menu model driven by key, joystick and pointer events: navigation,
// editing every kind of setting record, bindings with axis calibration, the
// setup applied on leaving, the demo pages and the actions menus start.
#include <cmath>

#include "ui_test_util.h"

RecordedActions* g_recorded = nullptr;

namespace {

std::vector<std::string> labels(const MenuPage& page) {
  std::vector<std::string> out;
  for (const MenuItem& item : page.items) out.push_back(item.label);
  return out;
}

}  // namespace

TEST_F(UiTest, MainMenuListsEveryEntryAndTheCursorWrapsOverHeadings) {
  open_menu(&menus, MENU_MAIN);
  EXPECT_EQ(labels(menus.page),
            (std::vector<std::string>{"Practice", "Race", "Time Trial", "Points Series", "Multiplayer", "Demos",
                                      "Bike Setup", "Suspension and Gearing", "Advanced Stability Setup", "Controls",
                                      "Graphics", "Sound", "Quit"}));
  EXPECT_EQ(cursor_label(), "Practice");
  press(KEY_UP);
  EXPECT_EQ(cursor_label(), "Quit");
  press(KEY_DOWN, 2);
  EXPECT_EQ(cursor_label(), "Race");

  // The suspension menu starts with a heading: the cursor skips it both ways.
  open_menu(&menus, MENU_SUSPENSION);
  EXPECT_EQ(menus.page.items[0].kind, ITEM_HEADING);
  EXPECT_EQ(cursor_label(), "Countershaft Sprocket");
  press(KEY_DOWN, 2);
  EXPECT_EQ(cursor_label(), "Fork Spring Rate");  // past the ratio read-out and the "Fork" heading
  press(KEY_UP);
  EXPECT_EQ(cursor_label(), "Rear Sprocket");
  // Esc (the shell's close) goes back one level, then closes.
  menu_back(&menus);
  EXPECT_EQ(menus.page.id, MENU_MAIN);
  EXPECT_EQ(cursor_label(), "Race");  // where it was left
  menu_back(&menus);
  EXPECT_FALSE(menu_is_open(menus));
}

TEST_F(UiTest, LongMenusScrollWithTheCursorAndPageKeys) {
  open_menu(&menus, MENU_LINEUP);
  ASSERT_EQ(menus.page.items.size(), 42u);
  press(KEY_END);
  EXPECT_EQ(cursor_label(), "Gate 40");
  MenuLayout layout = layout_menu(menus, 1024, 768, menu_metrics());
  ASSERT_EQ(layout.boxes.size(), (size_t)MENU_VISIBLE_ITEMS);
  EXPECT_EQ(layout.boxes.back().item, 41);  // the cursor's row is on screen
  EXPECT_TRUE(layout.more_above);
  EXPECT_FALSE(layout.more_below);
  press(KEY_PAGE_UP);
  press(KEY_PAGE_UP);
  press(KEY_PAGE_UP);
  EXPECT_EQ(cursor_label(), "All Gates Robots");  // page keys stop at the ends
  layout = layout_menu(menus, 1024, 768, menu_metrics());
  EXPECT_EQ(layout.boxes.front().item, 0);
  // A tiny window still shows every row inside it.
  layout = layout_menu(menus, 320, 200, menu_metrics());
  EXPECT_LE(layout.boxes.back().row.y + layout.boxes.back().row.height, 200.0);
  EXPECT_GE(layout.panel.y, 0.0);
}

TEST_F(UiTest, NumbersStepWithinTheirRangeAndTakeTypedValues) {
  open_menu(&menus, MENU_GRAPHICS);
  select("Field Of View");
  press(KEY_RIGHT, 3);
  EXPECT_EQ(g_config.fov, 113);
  press(KEY_RIGHT, 100);
  EXPECT_EQ(g_config.fov, 170);  // the maximum
  // Fractional steps land on the step grid however often they are taken.
  select("1st Person Height");
  press(KEY_RIGHT, 7);
  EXPECT_EQ(g_config.first_person_height, 7 * 0.03125);
  EXPECT_EQ(value("1st Person Height"), "0.21875");

  select("Field Of View");
  press(KEY_ENTER);
  ASSERT_EQ(menus.edit, MenuEdit::text);
  EXPECT_EQ(recorded.text_input, std::vector<bool>{true});
  press(KEY_BACKSPACE, 3);
  type("9x5");  // letters are not taken into a number
  EXPECT_EQ(menus.edit_text, "95");
  press(KEY_ENTER);
  EXPECT_EQ(g_config.fov, 95);
  EXPECT_EQ(menus.edit, MenuEdit::none);
  EXPECT_EQ(recorded.text_input, (std::vector<bool>{true, false}));

  // Out of range is clamped; nonsense and an empty field change nothing.
  press(KEY_ENTER);
  press(KEY_END);
  type("000");
  press(KEY_ENTER);
  EXPECT_EQ(g_config.fov, 170);
  press(KEY_ENTER);
  press(KEY_BACKSPACE, 5);
  type("-");
  press(KEY_ENTER);
  EXPECT_EQ(g_config.fov, 170);
  EXPECT_NE(menus.note.find("Not a number"), std::string::npos);
  // Esc while typing cancels the edit and stays in the menu.
  press(KEY_ENTER);
  type("1");
  menu_back(&menus);
  EXPECT_EQ(g_config.fov, 170);
  EXPECT_TRUE(menu_is_open(menus));
  EXPECT_EQ(menus.page.id, MENU_GRAPHICS);
}

TEST_F(UiTest, ChoicesWrapAndTheTrackIsChosenByItsDisplayName) {
  open_menu(&menus, MENU_RACE);
  EXPECT_EQ(value("Track"), "Rabbit Hill");
  select("Track");
  press(KEY_RIGHT);
  EXPECT_EQ(value("Track"), "Woodland Loop");
  EXPECT_STREQ(g_config.track, "woods");
  press(KEY_RIGHT);
  EXPECT_STREQ(g_config.track, "dunes");  // round to the first
  press(KEY_LEFT);
  EXPECT_STREQ(g_config.track, "woods");

  select("Robot Skill");
  press(KEY_LEFT);
  EXPECT_EQ(g_config.skill, SKILL_EXPERT);
  press(KEY_ENTER);  // Enter steps a choice forward
  EXPECT_EQ(g_config.skill, SKILL_NOVICE);

  open_menu(&menus, MENU_LINEUP);
  select("Gate 12");
  press(KEY_RIGHT, 2);
  EXPECT_EQ(g_config.slot[11], SLOT_ROBOT);
  EXPECT_EQ(value("Gate 12"), "Robot");
  select("All Gates Robots");
  press(KEY_ENTER);
  EXPECT_EQ(g_config.slot[0], SLOT_HUMAN);
  for (int i = 1; i < CONFIG_LINEUP_SLOTS; i++) EXPECT_EQ(g_config.slot[i], SLOT_ROBOT);
  EXPECT_TRUE(recorded.runs.empty());  // filling the gates starts nothing

  // The video mode is stored now and used when the window is next made.
  open_menu(&menus, MENU_GRAPHICS);
  select("Video Mode");
  press(KEY_RIGHT, 2);
  EXPECT_EQ(value("Video Mode"), "1024x768");
  EXPECT_NE(menus.note.find("when the game starts again"), std::string::npos);
  EXPECT_NE(config_text().find("video_mode=1024x768\n"), std::string::npos);
}

TEST_F(UiTest, TextsKeepTheirLimitAndNeverEndInsideACharacter) {
  open_menu(&menus, MENU_BIKE_SETUP);
  select("Number");
  press(KEY_ENTER);
  press(KEY_BACKSPACE, 10);
  type("12345");
  EXPECT_EQ(menus.edit_text, "123");  // a race number has three characters
  press(KEY_HOME);
  press(KEY_DELETE);
  press(KEY_ENTER);
  EXPECT_STREQ(g_bike_setup.number, "23");

  select("Name");
  press(KEY_ENTER);
  EXPECT_EQ(menus.edit_text, "Joe Motocross");
  press(KEY_BACKSPACE, 20);
  std::string name(61, 'a');
  type(name.substr(0, 31).c_str());
  type(name.substr(31).c_str());
  type("\xC3\xA9\xC3\xA9");  // two 2-byte characters: only one more fits 63 bytes
  EXPECT_EQ(menus.edit_text.size(), 63u);
  press(KEY_BACKSPACE);  // removes the whole "é"
  EXPECT_EQ(menus.edit_text, name);
  type("\x01\x7f");      // control characters are never typed in
  EXPECT_EQ(menus.edit_text, name);
  press(KEY_ENTER);
  EXPECT_EQ(std::string(g_bike_setup.name), name);
  // What the file keeps reads back the same.
  EXPECT_NE(config_text().find("name=" + name + "\n"), std::string::npos);
}

TEST_F(UiTest, BindingsTakeAKeyOrACalibratedAxis) {
  open_menu(&menus, MENU_CONTROLS);
  select("Throttle");
  EXPECT_EQ(value("Throttle"), "x");
  press(KEY_ENTER);
  ASSERT_EQ(menus.edit, MenuEdit::binding);
  EXPECT_EQ(recorded.axis_watches, 1);
  menu_key(&menus, key_down(KEY_ENTER, true));  // Enter still repeating: ignored
  ASSERT_EQ(menus.edit, MenuEdit::binding);
  press('a');
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_name, "a");
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_code, 'a');
  EXPECT_EQ(menus.edit, MenuEdit::none);
  EXPECT_NE(config_text().find("throttle_key=(k)a\n"), std::string::npos);

  // A key another control uses is taken, with a warning.
  select("Clutch");
  press(KEY_ENTER);
  press('c');
  EXPECT_EQ(menus.note, "Also used by Front Brake");

  // An axis: the pointer does not count; a joystick axis is calibrated.
  select("Left");
  press(KEY_ENTER);
  recorded.moved = AXIS_CURSOR_X;
  menu_poll_axes(&menus);
  EXPECT_EQ(menus.edit, MenuEdit::binding);
  int stick = joystick_axis(0, 0);
  recorded.moved = stick;
  menu_poll_axes(&menus);
  ASSERT_EQ(menus.edit, MenuEdit::axis_low);
  recorded.raw[stick] = 0;
  press(KEY_ENTER);
  ASSERT_EQ(menus.edit, MenuEdit::axis_high);
  recorded.raw[stick] = 100;  // Enter twice without moving the stick
  press(KEY_ENTER);
  EXPECT_EQ(menus.edit, MenuEdit::axis_low);
  recorded.raw[stick] = -16384;
  press(KEY_ENTER);
  recorded.raw[stick] = -32768;
  press(KEY_ENTER);
  ASSERT_EQ(menus.edit, MenuEdit::none);
  const Binding& left = g_config.bindings[BINDING_LEFT];
  EXPECT_TRUE(left.key_name.empty());
  EXPECT_EQ(left.axis_name, "joystick-a-x");
  EXPECT_EQ(left.axis, stick);
  EXPECT_DOUBLE_EQ(left.low, -0.5);
  EXPECT_DOUBLE_EQ(left.high, -1.0);
  EXPECT_NE(config_text().find("left_key=(-0.500000,-1.000000)joystick-a-x\n"), std::string::npos);

  // Delete unbinds; Default Keys puts everything back.
  select("Rear Brake");
  press(KEY_DELETE);
  EXPECT_TRUE(binding_is_empty(g_config.bindings[BINDING_REAR_BRAKE]));
  EXPECT_EQ(value("Rear Brake"), "(unbound)");
  select("Default Keys");
  press(KEY_ENTER);
  EXPECT_EQ(g_config.bindings[BINDING_LEFT].key_name, "left");
  EXPECT_EQ(g_config.bindings[BINDING_LEFT].key_code, KEY_LEFT);
  EXPECT_EQ(g_config.bindings[BINDING_REAR_BRAKE].key_name, "v");
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_name, "x");
}

TEST_F(UiTest, LeavingASetupMenuAppliesTheSetupOnlyAfterAChange) {
  open_menu(&menus, MENU_MAIN);
  open_menu(&menus, MENU_BIKE_SETUP);
  menu_back(&menus);
  EXPECT_EQ(recorded.setups_applied, 0);  // looking changes nothing

  open_menu(&menus, MENU_STABILITY);
  select("Stability");
  press(KEY_LEFT, 50);
  EXPECT_EQ(g_bike_setup.stability, 50);
  EXPECT_DOUBLE_EQ(g_bike_setup.roll_damping, 65);  // the preset follows the stability
  EXPECT_DOUBLE_EQ(g_bike_setup.restricted_lock, 7.5);
  menu_back(&menus);
  EXPECT_EQ(recorded.setups_applied, 1);

  // Closing everything from inside a setup menu applies once too.
  open_menu(&menus, MENU_SUSPENSION);
  select("Fork Spring Rate");
  press(KEY_RIGHT);
  close_all_menus(&menus);
  EXPECT_EQ(recorded.setups_applied, 2);
  EXPECT_FALSE(menu_is_open(menus));
  // A non-setup menu never applies it.
  open_menu(&menus, MENU_SOUND);
  press(KEY_LEFT);
  menu_back(&menus);
  EXPECT_EQ(recorded.setups_applied, 2);
  EXPECT_EQ(g_config.volume, 9);
}

TEST_F(UiTest, TheBikeChoiceRebuildsItsGraphicsAndTheSuspensionReadOuts) {
  open_menu(&menus, MENU_SUSPENSION);
  // The read-outs follow the selected model's ranges: stiffer spring, higher rate.
  std::string soft = "", stiff = "";
  for (const MenuItem& item : menus.page.items)
    if (item.label == "Fork Spring Rate") soft = item.detail(item);
  select("Fork Spring Rate");
  press(KEY_RIGHT, 50);
  for (const MenuItem& item : menus.page.items)
    if (item.label == "Fork Spring Rate") stiff = item.detail(item);
  ASSERT_NE(soft.find(" kg/mm"), std::string::npos) << soft;
  EXPECT_GT(std::stod(stiff), std::stod(soft));
  for (const MenuItem& item : menus.page.items) {
    if (item.label == "Fork Preload" || item.label == "Shock Preload" || item.label == "Fork Oil Level") {
      EXPECT_NE(item.detail(item).find(" mm"), std::string::npos) << item.label;
    }
    if (item.label == "Countershaft Sprocket" || item.label == "Rear Sprocket") {
      EXPECT_NE(item.detail(item).find(" teeth"), std::string::npos) << item.label;
    }
  }
  select("Countershaft Sprocket");
  std::string before = value("Final Drive Ratio");
  press(KEY_LEFT);
  EXPECT_EQ(g_bike_setup.front_sprocket_adjustment, -1);
  EXPECT_GT(std::stod(value("Final Drive Ratio")), std::stod(before));  // fewer teeth in front: shorter gearing

  int graphics_calls = 0;
  static int* calls = nullptr;
  calls = &graphics_calls;
  g_bike_graphics_provider = [](const char*) { (*calls)++; };
  open_menu(&menus, MENU_BIKE_SETUP);
  select("Bike");
  press(KEY_RIGHT);
  EXPECT_EQ(value("Bike"), "crf450(2016)");
  EXPECT_EQ(graphics_calls, 1);
  g_bike_graphics_provider = nullptr;
}

TEST_F(UiTest, DemoListShowsPagesOfTwenty) {
  for (int i = 0; i < 45; i++) {
    char path[64];
    snprintf(path, sizeof path, "demos/ride%02d.dvdemo", i);
    g_demos.paths.push_back(path);
    g_demos.names.push_back(demo_display_name(path));
  }
  open_menu(&menus, MENU_DEMOS);
  auto entries = [&] {
    std::vector<std::string> out;
    for (const MenuItem& item : menus.page.items)
      if (item.kind == ITEM_ACTION && item.target == ACTION_PLAY_DEMO) out.push_back(item.label);
    return out;
  };
  ASSERT_EQ(entries().size(), 20u);
  EXPECT_EQ(entries().front(), "ride00");
  EXPECT_EQ(value("Page 1 of 3"), "");
  select("Next Page");
  press(KEY_ENTER);
  EXPECT_EQ(entries().front(), "ride20");
  select("Next Page");
  press(KEY_ENTER);
  ASSERT_EQ(entries().size(), 5u);
  EXPECT_EQ(entries().back(), "ride44");
  for (const MenuItem& item : menus.page.items) EXPECT_NE(item.label, "Next Page");
  select("Previous Page");
  press(KEY_ENTER);
  EXPECT_EQ(entries().front(), "ride20");

  select("ride23");
  press(KEY_ENTER);
  ASSERT_EQ(recorded.runs.size(), 1u);
  EXPECT_EQ(recorded.runs[0], std::make_pair(ACTION_PLAY_DEMO, 23));
  EXPECT_FALSE(menu_is_open(menus));  // playing leaves the menus
}

TEST_F(UiTest, MultiplayerMenuOffersTheServerHistory) {
  remember_server("older.example");
  remember_server("newer.example");
  open_menu(&menus, MENU_MULTIPLAYER);
  std::vector<std::string> all = labels(menus.page);
  auto at = std::find(all.begin(), all.end(), "Recent Servers");
  ASSERT_NE(at, all.end());
  EXPECT_EQ(*(at + 1), "newer.example");
  EXPECT_EQ(*(at + 2), "older.example");
  select("older.example");
  press(KEY_ENTER);
  ASSERT_EQ(recorded.runs.size(), 1u);
  EXPECT_EQ(recorded.runs[0], std::make_pair(ACTION_CONNECT_HISTORY, 1));
}

TEST_F(UiTest, JoystickHatAndButtonsDriveTheMenus) {
  open_menu(&menus, MENU_MAIN);
  int hat_down = joystick_key(1, JOYSTICK_HAT_KEY + 1);
  int pad_a = joystick_key(0, JOYSTICK_PAD_KEY + 0);
  int button_2 = joystick_key(0, 1);
  press(hat_down, 11);
  EXPECT_EQ(cursor_label(), "Sound");
  press(pad_a);
  EXPECT_EQ(menus.page.id, MENU_SOUND);
  press(joystick_key(0, JOYSTICK_PAD_KEY + 13));  // d-pad left
  EXPECT_EQ(g_config.volume, 9);
  press(button_2);
  EXPECT_EQ(menus.page.id, MENU_MAIN);
}

TEST_F(UiTest, PointerHoversClicksAndDragsNumbers) {
  open_menu(&menus, MENU_SOUND);
  MenuLayout layout = layout_menu(menus, 1000, 700, menu_metrics());
  ASSERT_EQ(layout.boxes.size(), 2u);
  const MenuItemBox& volume = layout.boxes[0];
  const MenuItemBox& competitor = layout.boxes[1];
  // Where the pointer rests when the menu opens takes nothing; moving it does.
  menu_pointer(&menus, (int)competitor.row.x + 6, (int)(competitor.row.y + 2), false, 1000, 700);
  EXPECT_EQ(cursor_label(), "Volume");
  menu_pointer(&menus, (int)competitor.row.x + 5, (int)(competitor.row.y + competitor.row.height / 2), false, 1000, 700);
  EXPECT_EQ(cursor_label(), "Competitor Volume");
  // A pointer resting there leaves the keys in charge.
  press(KEY_UP);
  menu_pointer(&menus, (int)competitor.row.x + 5, (int)(competitor.row.y + competitor.row.height / 2), false, 1000, 700);
  EXPECT_EQ(cursor_label(), "Volume");
  // A click on the left end of a value sets it there, a drag moves it.
  int y = (int)(volume.row.y + volume.row.height / 2);
  menu_pointer(&menus, (int)volume.value.x + 1, y, false, 1000, 700);
  press(KEY_CURSOR_LEFT);
  EXPECT_EQ(g_config.volume, 0);
  EXPECT_TRUE(menus.dragging);
  menu_pointer(&menus, (int)(volume.value.x + volume.value.width * 0.72), y, true, 1000, 700);
  EXPECT_EQ(g_config.volume, 7);
  menu_pointer(&menus, (int)(volume.value.x + volume.value.width * 3), y, true, 1000, 700);
  EXPECT_EQ(g_config.volume, 10);  // past the end is the maximum
  menu_pointer(&menus, 0, 0, false, 1000, 700);  // the button is up again
  EXPECT_FALSE(menus.dragging);
  menu_pointer(&menus, (int)(volume.value.x + 10), y, true, 1000, 700);
  EXPECT_EQ(g_config.volume, 10);  // a drag that did not start on the value does nothing

  // A click on a submenu opens it; a right click away from the items goes back.
  open_menu(&menus, MENU_MAIN);
  layout = layout_menu(menus, 1000, 700, menu_metrics());
  menu_pointer(&menus, (int)layout.boxes[11].row.x + 3, (int)layout.boxes[11].row.y + 3, false, 1000, 700);
  press(KEY_CURSOR_LEFT);
  EXPECT_EQ(menus.page.id, MENU_SOUND);
  menu_pointer(&menus, 2, 2, false, 1000, 700);
  press(KEY_CURSOR_RIGHT);
  EXPECT_EQ(menus.page.id, MENU_MAIN);
}

TEST_F(UiTest, StartingARaceClosesTheMenusAndRunsTheAction) {
  open_menu(&menus, MENU_MAIN);
  open_menu(&menus, MENU_RACE);
  select("Start Race");
  press(KEY_ENTER);
  EXPECT_FALSE(menu_is_open(menus));
  ASSERT_EQ(recorded.runs.size(), 1u);
  EXPECT_EQ(recorded.runs[0].first, ACTION_START_RACE);
  // Quit keeps the menu (the loop ends at the next frame anyway).
  open_menu(&menus, MENU_MAIN);
  select("Quit");
  press(KEY_ENTER);
  EXPECT_EQ(recorded.runs.back().first, ACTION_QUIT);
}

TEST_F(UiTest, EveryMenuOfTheTreeBuildsWithRealSettings) {
  for (int id = 0; id < MENU_COUNT; id++) {
    MenuPage page;
    build_menu((MenuId)id, 0, &page);
    EXPECT_FALSE(page.items.empty()) << id;
    for (const MenuItem& item : page.items) {
      EXPECT_EQ(item.label.find("missing setting"), std::string::npos) << item.label;
      if (item.kind == ITEM_SETTING) {
        EXPECT_NE(item.row->label, nullptr) << item.label;
        EXPECT_FALSE(item_value_text(item).empty()) << item.label;
      }
    }
  }
}

TEST_F(UiTest, AKeySequenceFromTheMainMenuEditsAndStartsARace) {
  open_menu(&menus, MENU_MAIN);
  press(KEY_DOWN, 10);
  press(KEY_ENTER);
  press(KEY_DOWN);
  press(KEY_RIGHT, 5);
  menu_back(&menus);
  press(KEY_HOME);
  press(KEY_DOWN);
  press(KEY_ENTER);
  press(KEY_DOWN);
  press(KEY_LEFT, 3);
  press(KEY_DOWN, 2);
  press(KEY_RIGHT);
  menu_back(&menus);
  press(KEY_DOWN, 8);
  press(KEY_ENTER);
  press(KEY_ENTER);
  press('q');
  menu_back(&menus);
  press(KEY_HOME);
  press(KEY_DOWN);
  press(KEY_ENTER);
  press(KEY_END);
  EXPECT_EQ(cursor_label(), "Start Race");
  press(KEY_ENTER);
  EXPECT_FALSE(menu_is_open(menus));
  ASSERT_EQ(recorded.runs.size(), 1u);
  EXPECT_EQ(recorded.runs[0].first, ACTION_START_RACE);
  EXPECT_EQ(g_config.fov, 115);
  EXPECT_EQ(g_config.laps, 2);
  EXPECT_EQ(g_config.skill, SKILL_AMATEUR);
  EXPECT_EQ(g_config.bindings[BINDING_THROTTLE].key_name, "q");
}
