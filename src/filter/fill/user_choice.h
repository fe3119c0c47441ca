// The fill-choice dialog: seven radio buttons for the fill methods and a swatch of the area's
// mean colour.
#pragma once

#include "filter/run/run_record.h"

// Shows dialog `dialogID` with radio item *choice turned on and the swatch painted in (red,
// green, blue), each 0..255, and lets the user pick until OK or Cancel. On return *choice holds
// the radio item that was on when the dialog closed (after Cancel too).
// Returns the item that closed the dialog: 1 (OK) or 2 (Cancel); 2 also when the dialog could
// not be opened.
int16_t UserChoice(RunRecord* record, int16_t dialogID, int16_t* choice, int16_t red, int16_t green,
                   int16_t blue);
