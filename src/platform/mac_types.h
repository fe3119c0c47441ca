// Basic types, result codes and constants of the classic operating-system services that the
// filter module was written against. The platform layer provides those services on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int16_t OSErr;
typedef int32_t OSStatus;
typedef uint32_t OSType;
typedef uint32_t ResType;
typedef uint8_t Boolean;
typedef char* Ptr;
typedef Ptr* Handle;
typedef long Size;
typedef unsigned char Str255[256];
typedef unsigned char Str63[64];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStr255Param;

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

struct Point {
  int16_t v;
  int16_t h;
};

// A four-character code: the first character is the most significant byte.
constexpr OSType FourCC(const char (&code)[5]) {
  return (OSType(uint8_t(code[0])) << 24) | (OSType(uint8_t(code[1])) << 16) |
         (OSType(uint8_t(code[2])) << 8) | OSType(uint8_t(code[3]));
}

// Result codes.
enum : OSErr {
  noErr = 0,
  dirFulErr = -33,
  dskFulErr = -34,
  nsvErr = -35,
  ioErr = -36,
  bdNamErr = -37,
  fnOpnErr = -38,
  eofErr = -39,
  posErr = -40,
  tmfoErr = -42,
  fnfErr = -43,
  wPrErr = -44,
  fBsyErr = -47,
  dupFNErr = -48,
  opWrErr = -49,
  paramErr = -50,
  rfNumErr = -51,
  permErr = -54,
  memFullErr = -108,
  nilHandleErr = -109,
  memWZErr = -111,
  dirNFErr = -120,
  resNotFound = -192,
  userCanceledErr = -128,
  gestaltUndefSelectorErr = -5551,
};

// File permissions and positioning modes.
enum : int8_t { fsCurPerm = 0, fsRdPerm = 1, fsWrPerm = 2, fsRdWrPerm = 3 };
enum : int16_t { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };

// Folder Manager.
enum : int16_t { kOnSystemDisk = -32768 };
constexpr OSType kPreferencesFolderType = FourCC("pref");
constexpr Boolean kCreateFolder = 1;
constexpr Boolean kDontCreateFolder = 0;
