// The filter module's dialogs shown with GTK inside the GIMP plug-in: the plug-in exports the
// dialog table of platform/host_dialog.h, and the module's host dialog backend hands each dialog
// to it. Radio buttons, check boxes, text and colour swatches are laid out in columns as the
// module's item rectangles order them, the buttons go to the action area; around them the
// plug-in's additions (title, Help button, colour swatches, preview), and the window is placed
// by GIMP's rules, transient for the image's window.
#include "gimp/gtk_dialog.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using areafill_gimp::DialogAdditions;

constexpr int kBorder = 12;
constexpr int kSpacing = 6;
constexpr int kSwatchSize = 16;

const DialogAdditions* gAdditions = nullptr;
const DialogAdditions kNoAdditions;
const DialogAdditions& _Additions() { return gAdditions ? *gAdditions : kNoAdditions; }

// The module's text (Mac OS Roman) as UTF-8.
std::string _Utf8(const char* text) {
  if (!text) return "";
  if (g_utf8_validate(text, -1, nullptr)) return text;
  gchar* converted = g_convert(text, -1, "UTF-8", "MACINTOSH", nullptr, nullptr, nullptr);
  std::string out = converted ? converted : "";
  g_free(converted);
  return out;
}

struct Run {
  std::vector<int16_t> hits;
};

struct ToggleContext {
  Run* run;
  int16_t item;
  bool radio;
};

// A radio button that comes on, or a check box that changes, is a hit on its item.
void _Toggled(GtkToggleButton* button, gpointer data) {
  auto* context = static_cast<ToggleContext*>(data);
  if (context->radio && !gtk_toggle_button_get_active(button)) return;
  context->run->hits.push_back(context->item);
  if (context->radio && _Additions().radioOn) _Additions().radioOn(context->item);
}

// Themes draw a toggle's label in the toggle's state; a button that is on would look disabled.
// Every label keeps the normal colour in every state but the insensitive one.
void _EquallyLegible(GtkWidget* toggle) {
  GtkWidget* label = gtk_bin_get_child(GTK_BIN(toggle));
  if (!label) return;
  gtk_widget_ensure_style(label);
  const GdkColor normal = gtk_widget_get_style(label)->fg[GTK_STATE_NORMAL];
  for (GtkStateType state : {GTK_STATE_ACTIVE, GTK_STATE_PRELIGHT, GTK_STATE_SELECTED})
    gtk_widget_modify_fg(label, state, &normal);
}

// `widget` followed by the additions' swatches for `item`, if it has any.
GtkWidget* _WithSwatches(GtkWidget* widget, int16_t item) {
  for (const auto& [number, colours] : _Additions().swatches) {
    if (number != item) continue;
    GtkWidget* row = gtk_hbox_new(FALSE, kSpacing);
    gtk_box_pack_start(GTK_BOX(row), widget, FALSE, FALSE, 0);
    for (const GimpRGB& colour : colours) {
      GtkWidget* swatch = gimp_color_area_new(&colour, GIMP_COLOR_AREA_FLAT, GdkModifierType(0));
      gimp_color_area_set_draw_border(GIMP_COLOR_AREA(swatch), TRUE);
      gtk_widget_set_size_request(swatch, kSwatchSize, kSwatchSize);
      GtkWidget* centred = gtk_alignment_new(0.5, 0.5, 0, 0);
      gtk_container_add(GTK_CONTAINER(centred), swatch);
      gtk_box_pack_start(GTK_BOX(row), centred, FALSE, FALSE, 0);
    }
    return row;
  }
  return widget;
}

GtkWidget* _Swatch(const AreaFillDialogItem& item) {
  GimpRGB colour;
  gimp_rgba_set_uchar(&colour, item.colour[0], item.colour[1], item.colour[2], 255);
  GtkWidget* area = gimp_color_area_new(&colour, GIMP_COLOR_AREA_FLAT, GdkModifierType(0));
  gimp_color_area_set_draw_border(GIMP_COLOR_AREA(area), TRUE);
  gtk_widget_set_size_request(area, item.rect.right - item.rect.left,
                              item.rect.bottom - item.rect.top);
  return area;
}

// The widget of one item other than a button; null for kinds that show nothing.
GtkWidget* _ItemWidget(const AreaFillDialogItem& item, int16_t number, GSList** group, Run* run,
                       std::vector<ToggleContext>* contexts) {
  const std::string text = _Utf8(item.text);
  GtkWidget* widget = nullptr;
  switch (item.kind) {
    case kAreaFillItemRadioButton:
    case kAreaFillItemCheckBox: {
      const bool radio = item.kind == kAreaFillItemRadioButton;
      widget = radio ? gtk_radio_button_new_with_label(*group, text.c_str())
                     : gtk_check_button_new_with_label(text.c_str());
      if (radio) *group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(widget));
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), item.value > 0);
      gtk_widget_set_sensitive(widget, item.enabled != 0);
      contexts->push_back(ToggleContext{run, number, radio});
      break;
    }
    case kAreaFillItemStaticText:
    case kAreaFillItemEditText:  // the module's dialogs take no typed text: shown as it stands
      widget = gtk_label_new(text.c_str());
      gtk_misc_set_alignment(GTK_MISC(widget), 0.0, 0.5);
      break;
    case kAreaFillItemUser:
      widget = _Swatch(item);
      break;
    default:
      break;
  }
  return widget;
}

// Items other than buttons in columns: an item starts a new column when it lies right of every
// item of the current one; each column runs top to bottom.
GtkWidget* _Columns(const AreaFillDialogDescription& d, Run* run,
                    std::vector<ToggleContext>* contexts, std::vector<GtkWidget*>* toggles) {
  std::vector<int16_t> order;
  for (int16_t i = 1; i <= d.itemCount; ++i)
    if (d.items[i - 1].kind != kAreaFillItemButton) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&d](int16_t a, int16_t b) {
    const AreaFillDialogRect &ra = d.items[a - 1].rect, &rb = d.items[b - 1].rect;
    return ra.left != rb.left ? ra.left < rb.left : ra.top < rb.top;
  });
  std::vector<std::vector<int16_t>> columns;
  int16_t columnRight = INT16_MIN;
  for (int16_t i : order) {
    const AreaFillDialogRect& r = d.items[i - 1].rect;
    if (columns.empty() || r.left >= columnRight) columns.emplace_back();
    columns.back().push_back(i);
    columnRight = std::max(columnRight, r.right);
  }
  // The contexts must not move once signals point at them.
  contexts->reserve(size_t(d.itemCount));
  GtkWidget* row = gtk_hbox_new(FALSE, kBorder);
  GSList* group = nullptr;
  for (std::vector<int16_t>& column : columns) {
    std::stable_sort(column.begin(), column.end(), [&d](int16_t a, int16_t b) {
      return d.items[a - 1].rect.top < d.items[b - 1].rect.top;
    });
    GtkWidget* box = gtk_vbox_new(FALSE, kSpacing / 2);
    for (int16_t i : column) {
      GtkWidget* widget = _ItemWidget(d.items[i - 1], i, &group, run, contexts);
      if (!widget) continue;
      if (GTK_IS_TOGGLE_BUTTON(widget)) toggles->push_back(widget);
      gtk_box_pack_start(GTK_BOX(box), _WithSwatches(widget, i), FALSE, FALSE, 0);
    }
    gtk_box_pack_start(GTK_BOX(row), box, FALSE, FALSE, 0);
  }
  // A GTK radio group always has one button on; when the module set none on, a hidden one
  // holds that state, so that no choice is shown (or reported) that the user did not make.
  bool anyOn = false;
  for (int16_t i = 1; i <= d.itemCount; ++i)
    anyOn |= d.items[i - 1].kind == kAreaFillItemRadioButton && d.items[i - 1].value > 0;
  if (group && !anyOn) {
    GtkWidget* none = gtk_radio_button_new(group);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(none), TRUE);
    gtk_widget_set_no_show_all(none, TRUE);
    gtk_box_pack_start(GTK_BOX(row), none, FALSE, FALSE, 0);
  }
  if (_Additions().side) gtk_box_pack_end(GTK_BOX(row), _Additions().side, TRUE, TRUE, 0);
  return row;
}

int _ScreenSize(int16_t* width, int16_t* height) {
  GdkScreen* screen = gdk_screen_get_default();
  if (!screen) return 0;
  GdkRectangle monitor;
  gdk_screen_get_monitor_geometry(screen, gdk_screen_get_primary_monitor(screen), &monitor);
  *width = int16_t(std::min(monitor.width, int(INT16_MAX)));
  *height = int16_t(std::min(monitor.height, int(INT16_MAX)));
  return 1;
}

// The Help button: the page the additions name, in the desktop's viewer.
void _ShowHelp(const gchar* uri, gpointer) {
  GError* error = nullptr;
  if (!gtk_show_uri(gdk_screen_get_default(), uri, GDK_CURRENT_TIME, &error)) {
    g_message("Area Fill cannot open its help page %s: %s", uri, error->message);
    g_error_free(error);
  }
}

int _RunDialog(const AreaFillDialogDescription* d, int16_t* hits, int capacity) {
  if (!gdk_screen_get_default()) return -1;  // GTK has no display: the dialog cannot be shown
  Run run;
  const DialogAdditions& additions = _Additions();
  const std::string title = additions.title.empty() ? _Utf8(d->title) : additions.title;
  const bool help = !additions.helpUri.empty();
  GtkWidget* dialog = gimp_dialog_new(title.c_str(), "areafill", nullptr, GtkDialogFlags(0),
                                      help ? _ShowHelp : nullptr,
                                      help ? additions.helpUri.c_str() : nullptr, nullptr);
  // Buttons left to right as the module places them; each answers with its item number.
  std::vector<int16_t> buttons;
  for (int16_t i = 1; i <= d->itemCount; ++i)
    if (d->items[i - 1].kind == kAreaFillItemButton) buttons.push_back(i);
  std::stable_sort(buttons.begin(), buttons.end(), [d](int16_t a, int16_t b) {
    return d->items[a - 1].rect.left < d->items[b - 1].rect.left;
  });
  GtkWidget* defaultButton = nullptr;
  for (int16_t i : buttons) {
    GtkWidget* button =
        gtk_dialog_add_button(GTK_DIALOG(dialog), _Utf8(d->items[i - 1].text).c_str(), i);
    gtk_widget_set_sensitive(button, d->items[i - 1].enabled != 0);
    if (i == d->defaultItem) defaultButton = button;
  }
  if (d->defaultItem > 0) gtk_dialog_set_default_response(GTK_DIALOG(dialog), d->defaultItem);

  std::vector<ToggleContext> contexts;
  std::vector<GtkWidget*> toggles;
  GtkWidget* columns = _Columns(*d, &run, &contexts, &toggles);
  gtk_container_set_border_width(GTK_CONTAINER(columns), kBorder);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), columns, TRUE, TRUE,
                     0);
  // Signals only now, so that setting the initial values was not taken for the user's hits.
  for (size_t k = 0; k < toggles.size(); ++k) {
    g_signal_connect(toggles[k], "toggled", G_CALLBACK(_Toggled), &contexts[k]);
    _EquallyLegible(toggles[k]);
    if (contexts[k].radio && additions.radioOn &&
        gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggles[k])))
      additions.radioOn(contexts[k].item);
  }

  // GIMP places the dialog: transient for the image's window, where the window manager puts
  // such dialogs (not where the module's item list would have it on a screen of its own).
  gimp_window_set_transient(GTK_WINDOW(dialog));
  gtk_widget_show_all(columns);
  // Return chooses the default button from the start, not the first radio button.
  if (defaultButton) gtk_widget_grab_focus(defaultButton);

  const gint response = gimp_dialog_run(GIMP_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  // A button answers with its item; closing the window or Escape is the cancel item.
  if (response > 0)
    run.hits.push_back(int16_t(response));
  else if (d->cancelItem > 0)
    run.hits.push_back(d->cancelItem);

  // A longer answer than the module takes keeps its end, which holds the closing item.
  const size_t count = std::min(run.hits.size(), size_t(std::max(capacity, 0)));
  std::copy(run.hits.end() - std::ptrdiff_t(count), run.hits.end(), hits);
  return int(count);
}

const AreaFillDialogHost kDialogHost = {AREAFILL_DIALOG_HOST_VERSION, _ScreenSize, _RunDialog};

}  // namespace

namespace areafill_gimp {

const AreaFillDialogHost* GtkDialogHost() { return &kDialogHost; }

void SetDialogAdditions(const DialogAdditions* additions) { gAdditions = additions; }

}  // namespace areafill_gimp
