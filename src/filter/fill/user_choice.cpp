// The fill-choice dialog: paints the mean-colour swatch, keeps the seven radio buttons one
// group, and waits for OK or Cancel through the movable modal wait.
#include "filter/fill/user_choice.h"

#include "filter/util/dialog_utils.h"
#include "filter/util/module_resources.h"

namespace {

// Fills item `item`'s rectangle line by line in the given 8-bit colour, then sets the
// foreground colour back to black.
void _PaintSwatch(DialogPtr dialog, int16_t item, int16_t red, int16_t green, int16_t blue) {
  RGBColor colour = {uint16_t(red * 256), uint16_t(green * 256), uint16_t(blue * 256)};
  RGBForeColor(&colour);
  Rect box;
  GetDRect(dialog, item, &box);
  for (int16_t v = box.top; v < box.bottom; ++v) {
    MoveTo(box.left, v);
    LineTo(box.right, v);
  }
  RGBColor black = {0, 0, 0};
  RGBForeColor(&black);
}

}  // namespace

int16_t UserChoice(RunRecord* record, int16_t dialogID, int16_t* choice, int16_t red, int16_t green,
                   int16_t blue) {
  RegisterModuleResources();
  GrafPtr savedPort;
  GetPort(&savedPort);
  DialogPtr dialog = GetNewMooDialog(dialogID, nullptr, kFirstWindowOfClass);
  // The module carries its own dialog, so this happens only when the platform fails; without
  // the user's answer nothing may be changed, which is what Cancel means.
  if (!dialog) return kChoiceCancelItem;
  SetPortWindowPort(GetDialogWindow(dialog));
  _PaintSwatch(dialog, kChoiceSwatchItem, red, green, blue);

  int16_t current = *choice;
  SetDGItem(dialog, current, 1);
  OutlineButton(dialog, kChoiceOKItem);
  InitCursor();

  int16_t itemHit = 0;
  do {
    MooModalDialog(record, dialog, nullptr, &itemHit);
    if (itemHit >= kChoiceFirstRadioItem && itemHit <= kChoiceLastRadioItem) {
      SetDGItem(dialog, current, 0);
      current = itemHit;
      SetDGItem(dialog, current, 1);
    }
  } while (itemHit != kChoiceOKItem && itemHit != kChoiceCancelItem);

  DisposeDialog(dialog);
  SetPort(savedPort);
  *choice = current;
  return itemHit;
}
