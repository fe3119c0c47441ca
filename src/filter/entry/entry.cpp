// The entry point: restores the Globals from the host-kept handle, dispatches the selector and
// saves the Globals back. Start drives the whole run through the host's advance-state service.
#include "filter/entry/entry.h"

#include <cstring>

#include "filter/entry/image_modes.h"
#include "filter/image/named_image.h"
#include "platform/memory.h"

namespace {

constexpr int16_t kParametersFirstWord = 50;
constexpr int16_t kParametersSecondWord = 1;

// Every field starts cleared, not only the phase and the image: a host may call finish without
// a successful start, and finish releases whatever the record points at.
void InitGlobals(Globals* globals) {
  std::memset(globals, 0, sizeof(Globals));
  globals->phase = kPhaseIdle;
  globals->image = nullptr;
}

OSErr DoParameters(Globals* globals) {
  FilterRecord* host = globals->host;
  if (!host->parameters) {
    host->parameters = NewHandle(2 * sizeof(int16_t));
    if (!host->parameters) return memFullErr;
    reinterpret_cast<int16_t*>(*host->parameters)[0] = kParametersFirstWord;
  }
  reinterpret_cast<int16_t*>(*host->parameters)[1] = kParametersSecondWord;
  return noErr;
}

OSErr DoPrepare(Globals* globals) {
  globals->host->bufferSpace = 0;
  return noErr;
}

// Releases what a run still holds. The selection image is released too: an interrupted run can
// leave one, and nothing else would ever release it.
OSErr DoFinish(Globals* globals) {
  if (globals->alphaImage) TossAlphaImage(globals->alphaImage);
  globals->alphaImage = nullptr;
  if (globals->image) TossImage(globals->image);
  globals->image = nullptr;
  if (globals->rowBuffer) DisposePtr(globals->rowBuffer);
  globals->rowBuffer = nullptr;
  if (globals->paramHandle) DisposeHandle(globals->paramHandle);
  globals->paramHandle = nullptr;
  if (globals->selectionImage) TossSelectionImage(globals->selectionImage);
  globals->selectionImage = nullptr;
  return globals->result;
}

OSErr PhotoshopAdvanceState(FilterRecord* host) {
  if (!host->advanceState) return userCanceledErr;
  return OSErr(host->advanceState());
}

bool RectIsEmpty(const Rect& r) {
  return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0;
}

}  // namespace

extern "C" void AreaFillMain(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                             int16_t* result) {
  if (*data == 0) {
    Handle handle = NewHandle(sizeof(Globals));
    if (!handle) {
      *result = memFullErr;
      return;
    }
    *data = reinterpret_cast<intptr_t>(handle);
    InitGlobals(reinterpret_cast<Globals*>(*handle));
  }
  Handle handle = reinterpret_cast<Handle>(*data);
  Globals globals;
  BlockMoveData(*handle, &globals, sizeof(Globals));
  globals.host = filterRecord;
  globals.result = noErr;

  OSErr status;
  switch (selector) {
    case filterSelectorAbout:
      status = noErr;
      break;
    case filterSelectorParameters:
      status = DoParameters(&globals);
      break;
    case filterSelectorPrepare:
      status = DoPrepare(&globals);
      break;
    case filterSelectorStart:
      status = DoStart(&globals);
      break;
    case filterSelectorContinue:
      status = DoContinue(&globals);
      break;
    case filterSelectorFinish:
      status = DoFinish(&globals);
      break;
    default:
      status = filterBadParameters;
      break;
  }

  *result = status;
  globals.result = status;
  BlockMoveData(&globals, *handle, sizeof(Globals));
}

OSErr DoStart(Globals* globals) {
  FilterRecord* host = globals->host;
  globals->image = nullptr;
  // Modes the filter does not handle are turned away before anything is allocated.
  if (!_ImageModeIsHandled(host)) {
    globals->phase = kPhaseIdle;
    return filterBadParameters;
  }
  int32_t width = host->filterRect.right - host->filterRect.left;

  globals->depth = 8;
  if (host->depth == 16) globals->depth = 16;
  if (host->depth == 32) globals->depth = 32;

  globals->useMask = 0;
  globals->transparentSeen = 0;
  globals->phase = kPhaseRead;
  globals->alphaImage = nullptr;
  globals->selectionImage = nullptr;
  globals->paramHandle = nullptr;
  globals->maskAnd = 255;

  int32_t bytesPerSample = globals->depth / 8;
  // Room for one row of all planes at the run's depth, plus one byte per pixel. A filter area
  // of no width asks for an empty block rather than a negative size.
  Size rowBytes = Size(width) + Size(width) * host->planes * bytesPerSample;
  globals->rowBuffer = NewPtr(rowBytes > 0 ? rowBytes : 0);
  // Without a row buffer the run cannot move a row: stop before anything is requested.
  if (!globals->rowBuffer) {
    globals->phase = kPhaseIdle;
    return memFullErr;
  }

  if (host->haveMask) globals->useMask = 1;

  Rect first = host->filterRect;
  first.bottom = int16_t(first.top + 1);
  host->inRect = first;
  host->outRect = first;
  if (globals->useMask) host->maskRect = first;
  host->inLoPlane = host->outLoPlane = 0;
  host->inHiPlane = host->outHiPlane = int16_t(host->planes - 1);

  if (!host->advanceState) return noErr;

  for (;;) {
    if (!host->advanceState) return userCanceledErr;
    OSErr err = PhotoshopAdvanceState(host);
    if (err != noErr) return err;
    err = DoContinue(globals);
    if (err != noErr) return err;
    if (RectIsEmpty(host->inRect) && RectIsEmpty(host->outRect)) return noErr;
  }
}

OSErr GetParameters(NamedImage*, RunRecord*, Handle* handle, void*, uint8_t) {
  *handle = NewHandle(sizeof(int16_t));
  if (*handle) reinterpret_cast<int16_t*>(**handle)[0] = 0;
  return noErr;
}
