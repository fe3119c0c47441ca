// The module's own resources, compiled into it: the fill-choice dialog (its 'DLOG' template
// and 'DITL' item list) and the module's 'vers' 2 resource.
#pragma once

#include "filter/host/fill_choices.h"
#include "platform/mac_types.h"

constexpr int16_t kFillChoiceDialogID = 10060;

// Items of the fill-choice dialog. The seven radio buttons between them are numbered like the
// fill choices, item kChoiceMembrane for the membrane fill and so on.
enum : int16_t {
  kChoiceOKItem = 1,
  kChoiceCancelItem = 2,
  kChoiceFirstRadioItem = kFirstFillChoice,
  kChoiceLastRadioItem = kLastFillChoice,
  kChoiceSwatchItem = 10,
  kChoiceSwatchLabelItem = 11,
};

// Puts the module's resources in front of the platform's resource chain. Cheap and idempotent:
// callers may register on every use.
void RegisterModuleResources();
