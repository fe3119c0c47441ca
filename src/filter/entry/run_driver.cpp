// The run driver: one step of a run per delivery of data from the host.
#include "filter/entry/entry.h"

namespace {

void RequestNothing(FilterRecord* host) {
  host->inRect = Rect{0, 0, 0, 0};
  host->outRect = Rect{0, 0, 0, 0};
}

void ReleaseImages(Globals* globals) {
  if (globals->image) TossImage(globals->image);
  if (globals->alphaImage) TossAlphaImage(globals->alphaImage);
  if (globals->selectionImage) TossSelectionImage(globals->selectionImage);
  globals->image = globals->alphaImage = globals->selectionImage = nullptr;
}

}  // namespace

OSErr DoContinue(Globals* globals) {
  switch (globals->phase) {
    case kPhaseIdle:
      RequestNothing(globals->host);
      return globals->result;
    case kPhaseDone:
      ReleaseImages(globals);
      RequestNothing(globals->host);
      return globals->result;
    default:
      return globals->result;
  }
}
