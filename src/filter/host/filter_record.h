// The host's filter plug-in interface as this filter uses it: the parameter block
// (FilterRecord) with the fields the filter reads and writes, under their published names, the
// selectors, the result codes, the callbacks, and the scripting descriptor and handle suites.
// Hosts (src/hostkit) fill these records; the filter module reads them.
#pragma once

#include "platform/mac_types.h"

// Selectors passed to the entry point.
enum : int16_t {
  filterSelectorAbout = 0,
  filterSelectorParameters = 1,
  filterSelectorPrepare = 2,
  filterSelectorStart = 3,
  filterSelectorContinue = 4,
  filterSelectorFinish = 5,
};

// Result codes of the interface.
enum : OSErr {
  filterBadParameters = -30100,
  filterBadMode = -30101,
};

// Image modes (imageMode).
enum : int16_t {
  plugInModeBitmap = 0,
  plugInModeGrayScale = 1,
  plugInModeIndexedColor = 2,
  plugInModeRGBColor = 3,
  plugInModeCMYKColor = 4,
  plugInModeHSLColor = 5,
  plugInModeHSBColor = 6,
  plugInModeMultichannel = 7,
  plugInModeDuotone = 8,
  plugInModeLabColor = 9,
  plugInModeGray16 = 10,
  plugInModeRGB48 = 11,
  plugInModeLab48 = 12,
  plugInModeCMYK64 = 13,
  plugInModeDeepMultichannel = 14,
  plugInModeDuotone16 = 15,
  plugInModeRGB96 = 16,
  plugInModeGray32 = 17,
};

// Play modes of the descriptor parameters (playInfo).
enum : int16_t {
  plugInDialogDontDisplay = 0,
  plugInDialogDisplay = 1,
  plugInDialogSilent = 2,
};

// Record modes (recordInfo).
enum : int16_t {
  plugInDialogOptional = 0,
  plugInDialogRequired = 1,
  plugInDialogNone = 2,
};

typedef unsigned char FilterColor[4];

// Host callbacks. The interface passes no context: a host finds its own state by itself.
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef Boolean (*TestAbortProc)(void);
typedef OSErr (*AdvanceStateProc)(void);
typedef void (*ProcessEventProc)(void* event);

// ---- Scripting descriptors ----

typedef Handle PIDescriptorHandle;
typedef struct PIOpaqueReadDescriptor* PIReadDescriptor;
typedef struct PIOpaqueWriteDescriptor* PIWriteDescriptor;
typedef uint32_t DescriptorKeyID;
typedef uint32_t DescType;
typedef uint32_t DescriptorEnumID;
typedef DescriptorKeyID* DescriptorKeyIDArray;
typedef void (*PIUnusedDescriptorProc)(void);  // a suite entry this filter never calls

typedef PIReadDescriptor (*OpenReadDescriptorProc)(PIDescriptorHandle, DescriptorKeyIDArray);
typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor);
typedef Boolean (*GetKeyProc)(PIReadDescriptor, DescriptorKeyID* key, DescType* type,
                              int32_t* flags);
typedef OSErr (*GetIntegerProc)(PIReadDescriptor, int32_t*);
typedef OSErr (*GetFloatProc)(PIReadDescriptor, double*);
typedef OSErr (*GetBooleanProc)(PIReadDescriptor, Boolean*);
typedef OSErr (*GetTextProc)(PIReadDescriptor, Handle*);
typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor, DescriptorEnumID*);

typedef PIWriteDescriptor (*OpenWriteDescriptorProc)(void);
typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor, PIDescriptorHandle*);
typedef OSErr (*PutIntegerProc)(PIWriteDescriptor, DescriptorKeyID, int32_t);
typedef OSErr (*PutFloatProc)(PIWriteDescriptor, DescriptorKeyID, const double*);
typedef OSErr (*PutBooleanProc)(PIWriteDescriptor, DescriptorKeyID, Boolean);
typedef OSErr (*PutTextProc)(PIWriteDescriptor, DescriptorKeyID, Handle);
typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor, DescriptorKeyID, DescType, DescriptorEnumID);

// The read suite: 18 entries in the published order.
struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;
  CloseReadDescriptorProc closeReadDescriptorProc;
  GetKeyProc getKeyProc;
  GetIntegerProc getIntegerProc;
  GetFloatProc getFloatProc;
  PIUnusedDescriptorProc getUnitFloatProc;
  GetBooleanProc getBooleanProc;
  GetTextProc getTextProc;
  PIUnusedDescriptorProc getAliasProc;
  GetEnumeratedProc getEnumeratedProc;
  PIUnusedDescriptorProc getClassProc;
  PIUnusedDescriptorProc getSimpleReferenceProc;
  PIUnusedDescriptorProc getObjectProc;
  PIUnusedDescriptorProc getCountProc;
  PIUnusedDescriptorProc getStringProc;
  PIUnusedDescriptorProc getPinnedIntegerProc;
  PIUnusedDescriptorProc getPinnedFloatProc;
  PIUnusedDescriptorProc getPinnedUnitFloatProc;
};
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;

// The write suite: 16 entries in the published order.
struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;
  CloseWriteDescriptorProc closeWriteDescriptorProc;
  PutIntegerProc putIntegerProc;
  PutFloatProc putFloatProc;
  PIUnusedDescriptorProc putUnitFloatProc;
  PutBooleanProc putBooleanProc;
  PutTextProc putTextProc;
  PIUnusedDescriptorProc putAliasProc;
  PutEnumeratedProc putEnumeratedProc;
  PIUnusedDescriptorProc putClassProc;
  PIUnusedDescriptorProc putSimpleReferenceProc;
  PIUnusedDescriptorProc putObjectProc;
  PIUnusedDescriptorProc putCountProc;
  PIUnusedDescriptorProc putStringProc;
  PIUnusedDescriptorProc putScopedClassProc;
  PIUnusedDescriptorProc putScopedObjectProc;
};
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};
constexpr int16_t kCurrentDescriptorParametersVersion = 0;

// ---- Handle services ----

typedef Handle (*NewPIHandleProc)(int32_t size);
typedef void (*DisposePIHandleProc)(Handle h);
typedef int32_t (*GetPIHandleSizeProc)(Handle h);
typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32_t newSize);
typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle h);

struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
};
constexpr int16_t kCurrentHandleProcsVersion = 1;

// ---- The parameter block ----

// The fields in use, in the interface's order. Rectangles are (top, left, bottom, right) in
// image coordinates; samples are interleaved, inLoPlane..inHiPlane of each pixel in turn.
struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;

  Point imageSize;
  int16_t planes;
  Rect filterRect;

  FilterColor background;
  FilterColor foreground;

  int32_t maxSpace;
  int32_t bufferSpace;

  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;

  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;

  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;

  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;

  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;

  FilterColor backColor;
  FilterColor foreColor;

  OSType hostSig;
  int16_t imageMode;

  AdvanceStateProc advanceState;
  ProcessEventProc processEvent;
  HandleProcs* handleProcs;
  PIDescriptorParameters* descriptorParameters;

  int32_t depth;
};

// The entry point every filter module exports as the C symbol `main`. The data word holds the
// module's globals handle between calls (a pointer-sized word on this platform).
typedef void (*PluginEntryProc)(int16_t selector, FilterRecord* filterRecord, intptr_t* data,
                                int16_t* result);
