// The module's own resources, compiled into it: the fill-choice dialog (its 'DLOG' template
// and 'DITL' item list) and the module's 'vers' 2 resource.
#pragma once

#include "platform/mac_types.h"

constexpr int16_t kFillChoiceDialogID = 10060;

// Items of the fill-choice dialog. The seven radio buttons between them are numbered like the
// fill choices (3 to 9).
enum : int16_t {
  kChoiceOKItem = 1,
  kChoiceCancelItem = 2,
  kChoiceFirstRadioItem = 3,
  kChoiceLastRadioItem = 9,
  kChoiceSwatchItem = 10,
  kChoiceSwatchLabelItem = 11,
};

// Puts the module's resources in front of the platform's resource chain. Cheap and idempotent:
// callers may register on every use.
void RegisterModuleResources();
