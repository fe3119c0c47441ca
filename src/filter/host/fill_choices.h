// The fill choices, declared once for the filter and its hosts: the filter's codes (the choice
// dialog's radio items and the values recorded for scripting under "FilM"), the names a host's
// user types, and the labels shown to people.
#pragma once

#include <cstdint>

#include "filter/host/filter_record.h"

enum FillChoice : int16_t {
  kChoiceMembrane = 3,    // membrane fill of the selected pixels, then smoothing
  kChoiceMean = 4,        // the area's mean colour
  kChoiceForeground = 5,  // the host's foreground colour
  kChoiceBlack = 6,       // 0 in every sample
  kChoiceWhite = 7,       // full intensity in every sample
  kChoiceHorizontalBlend =
      8,                     // every pixel: foreground at the left towards background at the right
  kChoiceVerticalBlend = 9,  // every pixel: foreground at the top towards background at the bottom
};

inline constexpr int16_t kFirstFillChoice = kChoiceMembrane;
inline constexpr int16_t kLastFillChoice = kChoiceVerticalBlend;

// The scripting key and enumeration type under which a run records its choice.
inline constexpr OSType kFillChoiceKey = FourCC("FilM");
inline constexpr OSType kFillChoiceType = FourCC("rB22");

struct FillChoiceInfo {
  FillChoice choice;
  const char* name;         // what a host's user types: "membrane", "mean", …
  const char* dialogLabel;  // the radio button's text in the choice dialog
  const char* description;  // one line for a host's list of methods
};

// Every choice, in code order.
inline constexpr FillChoiceInfo kFillChoices[] = {
    {kChoiceMembrane, "membrane", "Membrane fill",
     "membrane fill: a smooth surface stretched over the selection's edge"},
    {kChoiceMean, "mean", "Mean colour of the area", "the mean colour of the selected area"},
    {kChoiceForeground, "foreground", "Foreground colour", "the foreground colour"},
    {kChoiceBlack, "black", "Black", "solid black"},
    {kChoiceWhite, "white", "White", "solid white"},
    {kChoiceHorizontalBlend, "hblend", "Horizontal blend, foreground to background",
     "horizontal blend from the foreground (left) to the background (right)"},
    {kChoiceVerticalBlend, "vblend", "Vertical blend, foreground to background",
     "vertical blend from the foreground (top) to the background (bottom)"},
};
