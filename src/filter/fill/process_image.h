// The body of the filter: measure the area to fill, obtain the fill choice (from the dialog or
// the settings block), record it, and carry it out on the working image, at 8 or 16 bits.
#pragma once

#include "filter/host/fill_choices.h"
#include "filter/image/named_image.h"
#include "filter/run/run_record.h"
#include "filter/settings/settings_block.h"

// Fills `image` (grey or RGB, 8 bits per sample, |record->planes| samples per pixel) where
// record->selection selects it (everywhere without a selection). The choice is the settings
// block's input 0 (a value outside 3..9 counts as kChoiceForeground), shown in the fill-choice
// dialog unless `skipDialog` is non-zero; it is stored back into input 0 and into the record's
// fillChoicePref. `parameters` is not used.
// Returns 0; -128 when the dialog was cancelled (nothing stored, nothing filled) or the host's
// abort test answered true (rows already written stay written); -108 when the row buffers
// cannot be had; with kChoiceMembrane, the status of MembraneFill.
OSErr ProcessImage(NamedImage* image, RunRecord* record, Handle parameters, SPSettings* settings,
                   uint8_t skipDialog);

// The same for 16-bit samples in the host's 0..32768 scale: white is 32768, the host's colour
// bytes are scaled by 128.5, the swatch shows the means divided by 128.5, and kChoiceMembrane
// runs MembraneFill16. Returns as ProcessImage.
OSErr ProcessImage16_48(NamedImage* image, RunRecord* record, Handle parameters,
                        SPSettings* settings, uint8_t skipDialog);
