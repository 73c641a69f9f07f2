// Drawing the open menu over the game: a panel with the title, the items
// (labels, values, sliders of numbers, the editing caret), the note and the
// selected item's help.
#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "ui/gl_ui.h"
#include "ui/ui.h"

namespace {

constexpr Rgba PANEL = {0.04f, 0.06f, 0.09f, 0.86f};
constexpr Rgba PANEL_EDGE = {1.0f, 0.55f, 0.12f, 0.9f};
constexpr Rgba HIGHLIGHT = {1.0f, 0.55f, 0.12f, 0.30f};
constexpr Rgba HOVER = {1.0f, 1.0f, 1.0f, 0.08f};
constexpr Rgba LABEL = {0.93f, 0.93f, 0.93f, 1.0f};
constexpr Rgba VALUE = {1.0f, 0.86f, 0.45f, 1.0f};
constexpr Rgba HEADING = {1.0f, 0.62f, 0.25f, 1.0f};
constexpr Rgba DIM = {0.65f, 0.68f, 0.72f, 1.0f};
constexpr Rgba SLIDER = {1.0f, 1.0f, 1.0f, 0.12f};
constexpr Rgba SLIDER_FILL = {1.0f, 0.55f, 0.12f, 0.55f};
constexpr Rgba NOTE = {0.55f, 0.85f, 1.0f, 1.0f};

double metric_width(const char* text, void* user) {
  const float size = *static_cast<const float*>(user);
  return ui_text_width(g_ui_assets.text, text, size);
}

bool blink_on() { return std::fmod(platform_seconds(), 1.0) < 0.6; }

// The value column: a slider behind numbers, arrows around choices, the
// caret while typing.
void draw_value(const MenuSystem& menus, const MenuItem& item, const MenuItemBox& box, bool selected, float size) {
  const UiFont& font = g_ui_assets.text;
  float y = (float)(box.row.y + (box.row.height - ui_line_height(font, size)) / 2);
  float x = (float)box.value.x;
  if (item.kind == ITEM_SETTING && item.row->kind == SettingKind::number) {
    const SettingRow& row = *item.row;
    double range = row.maximum - row.minimum;
    double t = range > 0 ? std::clamp((item.row->number[item.element] - row.minimum) / range, 0.0, 1.0) : 0.0;
    float bar_h = (float)box.row.height * 0.22f;
    float bar_y = (float)(box.row.y + box.row.height - bar_h - 2);
    draw_rect(x, bar_y, (float)box.value.width, bar_h, SLIDER);
    draw_rect(x, bar_y, (float)(box.value.width * t), bar_h, SLIDER_FILL);
  }
  bool editing = selected && menus.edit != MenuEdit::none;
  std::string text;
  if (editing && menus.edit == MenuEdit::text) {
    text = menus.edit_text;
    double caret_x = x + ui_text_width(font, text.substr(0, menus.caret).c_str(), size);
    draw_rect(x - 3, (float)box.row.y + 1, (float)box.value.width + 6, (float)box.row.height - 2, {0, 0, 0, 0.6f});
    if (blink_on()) draw_rect((float)caret_x, y + size * 0.1f, 2, size * 1.1f, VALUE);
  } else if (editing && menus.edit == MenuEdit::binding) {
    text = blink_on() ? "press a key or move an axis" : "";
  } else if (editing) {
    text = menus.edit == MenuEdit::axis_low ? "axis at rest, then Enter" : "axis fully on, then Enter";
  } else {
    text = item_value_text(item);
    if (item.kind == ITEM_TRACK || (item.kind == ITEM_SETTING && item.row->kind == SettingKind::choice)) {
      if (selected) text = "< " + text + " >";
    }
  }
  draw_text(font, text.c_str(), x, y, size, editing ? LABEL : VALUE);
  if (item.detail && !editing && item.kind != ITEM_READOUT) {
    std::string detail = item.detail(item);
    float right = (float)(box.value.x + box.value.width);
    draw_text(font, detail.c_str(), right, y, size * 0.85f, DIM, ALIGN_RIGHT);
  }
}

}  // namespace

void draw_menu_screen(int width, int height) {
  MenuSystem& menus = g_ui.menus;
  if (!menu_is_open(menus)) return;
  static float size = 18;
  size = ui_text_size(height);
  MenuMetrics metrics = {metric_width, &size, std::round(ui_line_height(g_ui_assets.text, size) * 1.15)};
  set_menu_metrics(metrics);
  MenuLayout layout = layout_menu(menus, width, height, metrics);
  const UiFont& font = g_ui_assets.text;
  // The rows may have been shrunk to fit a small window: the text follows.
  double line = layout.boxes.empty() ? metrics.line_height : layout.boxes[0].row.height;
  float item_size = (float)std::min<double>(size, size * line / metrics.line_height);

  draw_rect(0, 0, (float)width, (float)height, {0, 0, 0, 0.35f});
  const MenuRect& p = layout.panel;
  draw_rect((float)p.x, (float)p.y, (float)p.width, (float)p.height, PANEL);
  draw_rect((float)p.x, (float)p.y, (float)p.width, 3, PANEL_EDGE);
  draw_text_shadowed(font, menus.page.title.c_str(), (float)(p.x + p.width / 2), (float)layout.title_y,
                     item_size * 1.35f, LABEL, ALIGN_CENTRE);

  const MenuItem* selected = selected_item(menus);
  for (const MenuItemBox& box : layout.boxes) {
    const MenuItem& item = menus.page.items[(size_t)box.item];
    bool is_selected = &item == selected;
    if (is_selected) {
      draw_rect((float)box.row.x, (float)box.row.y, (float)box.row.width, (float)box.row.height, HIGHLIGHT);
      draw_rect((float)box.row.x, (float)box.row.y, 4, (float)box.row.height, PANEL_EDGE);
    } else if (box.item == menus.hover) {
      draw_rect((float)box.row.x, (float)box.row.y, (float)box.row.width, (float)box.row.height, HOVER);
    }
    float y = (float)(box.row.y + (box.row.height - ui_line_height(font, item_size)) / 2);
    Rgba colour = item.kind == ITEM_HEADING ? HEADING : item.kind == ITEM_READOUT ? DIM : LABEL;
    float x = (float)(item.kind == ITEM_HEADING ? layout.label_x - line * 0.3 : layout.label_x);
    std::string label = item.label;
    if (item.kind == ITEM_SUBMENU) label += "  >";
    float label_size = item_size;
    bool has_value = item.kind == ITEM_SETTING || item.kind == ITEM_TRACK || item.kind == ITEM_READOUT;
    double room = (has_value ? box.value.x : box.row.x + box.row.width) - x - line * 0.4;
    double natural = ui_text_width(font, label.c_str(), item_size);
    if (natural > room && room > 0) label_size = (float)(item_size * room / natural);
    draw_text(font, label.c_str(), x, y + (item_size - label_size) * 0.5f, label_size, colour);
    if (item.kind == ITEM_SETTING || item.kind == ITEM_TRACK || item.kind == ITEM_READOUT)
      draw_value(menus, item, box, is_selected, item_size);
  }
  float cx = (float)(p.x + p.width / 2);
  if (layout.more_above && !layout.boxes.empty()) {
    float y = (float)layout.boxes.front().row.y - 2;
    draw_triangle(cx - 8, y, cx + 8, y, cx, y - 8, DIM);
  }
  if (layout.more_below && !layout.boxes.empty()) {
    const MenuRect& last = layout.boxes.back().row;
    float y = (float)(last.y + last.height + 2);
    draw_triangle(cx - 8, y, cx, y + 8, cx + 8, y, DIM);
  }
  if (!menus.note.empty())
    draw_text(font, menus.note.c_str(), cx, (float)layout.note_y, item_size * 0.9f, NOTE, ALIGN_CENTRE);
  const char* help = selected && !selected->help.empty() ? selected->help.c_str() : "";
  if (menus.edit == MenuEdit::none && help[0])
    draw_text(font, help, cx, (float)layout.help_y, item_size * 0.85f, DIM, ALIGN_CENTRE);
}
