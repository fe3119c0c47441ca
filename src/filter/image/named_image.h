// Named scratch images: rectangular byte arrays addressed by row, kept in memory when the
// platform's temporary memory can hold them and in a file in the Preferences folder otherwise.
// All pixel access goes through GetLine and PutLine, so callers never see where an image lives.
#pragma once

#include "platform/mac_types.h"

struct NamedImage {
  uint8_t onDisk;    // 1 when the image has a disk file
  uint8_t keepFile;  // the caller asked for a disk file; every maker here passes 0
  int16_t refNum;    // open scratch file, or -1 for a pure memory image
  int16_t bytesPerPixel;
  int16_t width;
  int16_t height;
  Handle dataHandle;  // the image in memory, locked for the image's life, or null
  Ptr data;           // contents of dataHandle
  Str255 name;        // Pascal string; also the scratch file's name
  uint8_t pivoted;    // cleared at creation, not used
};

// The first 6 bytes of a scratch file, in the machine's byte order.
struct NamedImageHeader {
  int16_t bytesPerPixel;
  int16_t width;
  int16_t height;
};

constexpr int32_t kNamedImageHeaderBytes = 6;
constexpr int32_t kClearBufferBytes = 524288;
constexpr int32_t kMaxMemoryImageBytes = 0x20000008;  // larger images go straight to disk

// Makes an image of width × height pixels of bytesPerPixel bytes, zero-filled. The record is
// stored in *outImage as soon as it exists, also when a later step fails; the caller then tosses
// it. Returns 0; -108 when the record cannot be allocated or the size does not fit in 32 bits;
// the platform's status when the scratch file cannot be created or opened; -34 when the file
// cannot be zero-filled (the file is then closed and deleted).
OSErr MakeNamedImage(ConstStr255Param name, Boolean keepFile, int16_t width, int16_t height,
                     int16_t bytesPerPixel, NamedImage** outImage);

// The four kinds of image of a run, each with its fixed name and keepFile 0.
OSErr MakeImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage);
OSErr MakeSelectionImage(int16_t width, int16_t height, int16_t bytesPerPixel,
                         NamedImage** outImage);
OSErr MakeAlphaImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage);
OSErr MakeTempImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage);

// Releases an image (null is allowed) and, unless it was a pure memory image, deletes the file
// `name` from the Preferences folder; with a null image the file is deleted all the same.
void TossNamedImage(ConstStr255Param name, NamedImage* image);
void TossImage(NamedImage* image);  // uses the record's own name
void TossSelectionImage(NamedImage* image);
void TossAlphaImage(NamedImage* image);
void TossTempImage(NamedImage* image);

// Copy `count` bytes of row `row`, from byte `column` of the row, out of the image (GetLine) or
// into it (PutLine). A request is cut at the end of the row; a row or column outside the image,
// or a negative count, moves nothing. File errors are not reported.
void GetLine(NamedImage* image, int32_t column, int32_t row, int32_t count, void* buffer);
void PutLine(NamedImage* image, int32_t column, int32_t row, int32_t count, const void* buffer);

void GetImageData(const NamedImage* image, NamedImageHeader* header);

// Copies a Pascal string (length byte and characters); a null destination does nothing.
void DuplicatePString(ConstStr255Param source, StringPtr destination);

// Sets every byte of every row to 0. Returns 0, -108 when not even a one-row buffer can be had,
// or the status of the last file write.
OSErr _ClearFile(NamedImage* image);

// The shared off-screen text buffer. Nothing in this filter creates it; the run driver releases
// it at the end of a run.
struct TextWorld {
  void* world;
  Ptr baseAddress;
  void* pixMap;
  int32_t rowBytes;
};
extern TextWorld gTW;
void _DestroyTWBuffer();
