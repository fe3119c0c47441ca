// The scratch image store: images in one locked memory block, or in a file of the same layout
// (a 6-byte header, then the rows without padding) in the Preferences folder.
#include "filter/image/named_image.h"

#include <cstring>

#include "platform/files.h"
#include "platform/memory.h"

namespace {

const unsigned char kBackingStoreName[] =
    "\x0c"
    "BackingStore";
const unsigned char kSelectionImageName[] =
    "\x0e"
    "SelectionImage";
const unsigned char kAlphaImageName[] =
    "\x0a"
    "AlphaImage";
const unsigned char kTempImageName[] =
    "\x09"
    "TempImage";

constexpr OSType kScratchCreator = FourCC("CREA");
constexpr OSType kScratchType = FourCC("TYPE");

// Deletes the file `name` from the Preferences folder; failures do not matter to callers.
void _DeleteScratchFile(ConstStr255Param name) {
  int16_t vRefNum = 0;
  long dirID = 0;
  if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID) ==
      noErr)
    HDelete(vRefNum, dirID, name);
}

int32_t _RowBytes(const NamedImage* image) {
  return int32_t(image->width) * int32_t(image->bytesPerPixel);
}

// The byte count of a row access after clipping, or -1 when nothing is to move.
int32_t _ClipRowAccess(const NamedImage* image, int32_t column, int32_t row, int32_t count) {
  int32_t rowBytes = _RowBytes(image);
  if (column < 0 || column >= rowBytes || row < 0 || row >= image->height || count < 0) return -1;
  if (count > rowBytes - column) count = rowBytes - column;
  return count;
}

// Creates, opens and zero-fills the scratch file of `image` (steps of making a disk image).
OSErr _MakeScratchFile(NamedImage* image, int32_t imageBytes) {
  int16_t vRefNum = 0;
  long dirID = 0;
  OSErr err =
      FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID);
  if (err != noErr) return err;
  err = HCreate(vRefNum, dirID, image->name, kScratchCreator, kScratchType);
  if (err != noErr) return err;
  int16_t refNum = 0;
  err = HOpen(vRefNum, dirID, image->name, fsRdWrPerm, &refNum);
  if (err != noErr) {
    HDelete(vRefNum, dirID, image->name);
    return err;
  }
  image->refNum = refNum;
  NamedImageHeader header = {image->bytesPerPixel, image->width, image->height};
  long headerBytes = kNamedImageHeaderBytes;
  FSWrite(refNum, &headerBytes, &header);
  long reserve = long(kNamedImageHeaderBytes) + imageBytes;
  AllocContig(refNum, &reserve);
  if (_ClearFile(image) != noErr) {
    FSClose(refNum);
    HDelete(vRefNum, dirID, image->name);
    return dskFulErr;
  }
  return noErr;
}

}  // namespace

TextWorld gTW = {nullptr, nullptr, nullptr, 0};

OSErr MakeNamedImage(ConstStr255Param name, Boolean keepFile, int16_t width, int16_t height,
                     int16_t bytesPerPixel, NamedImage** outImage) {
  NamedImage* image = reinterpret_cast<NamedImage*>(NewPtrClear(sizeof(NamedImage)));
  *outImage = image;
  if (!image) return memFullErr;

  _DeleteScratchFile(name);  // a stale file of an earlier run goes away

  image->bytesPerPixel = bytesPerPixel;
  image->width = width;
  image->height = height;
  image->keepFile = keepFile;
  image->pivoted = 0;
  DuplicatePString(name, image->name);

  // Sizes are computed wide so that nothing wraps; an image whose bytes do not fit in 32 bits
  // (or that has a negative dimension) cannot be stored in either form and is refused.
  int64_t imageBytes = int64_t(width) * bytesPerPixel * height;
  int64_t total = imageBytes + kNamedImageHeaderBytes;
  if (width < 0 || height < 0 || bytesPerPixel < 0 || total > INT32_MAX) return memFullErr;

  Handle block = nullptr;
  if (total <= kMaxMemoryImageBytes) {
    OSErr tempErr = noErr;
    block = TempNewHandle(Size(total), &tempErr);
  }
  if (block) {
    HLock(block);
    image->dataHandle = block;
    image->data = *block;
  } else {
    image->dataHandle = nullptr;
  }
  image->onDisk = (keepFile || !block) ? 1 : 0;

  if (image->onDisk) return _MakeScratchFile(image, int32_t(imageBytes));

  image->refNum = -1;
  _ClearFile(image);  // a memory image is reported as made whatever the zero fill found
  return noErr;
}

OSErr MakeImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage) {
  return MakeNamedImage(kBackingStoreName, 0, width, height, bytesPerPixel, outImage);
}

OSErr MakeSelectionImage(int16_t width, int16_t height, int16_t bytesPerPixel,
                         NamedImage** outImage) {
  return MakeNamedImage(kSelectionImageName, 0, width, height, bytesPerPixel, outImage);
}

OSErr MakeAlphaImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage) {
  return MakeNamedImage(kAlphaImageName, 0, width, height, bytesPerPixel, outImage);
}

OSErr MakeTempImage(int16_t width, int16_t height, int16_t bytesPerPixel, NamedImage** outImage) {
  return MakeNamedImage(kTempImageName, 0, width, height, bytesPerPixel, outImage);
}

void TossNamedImage(ConstStr255Param name, NamedImage* image) {
  if (image) {
    if (image->dataHandle) {
      HUnlock(image->dataHandle);
      DisposeHandle(image->dataHandle);
      image->dataHandle = nullptr;
    }
    if (!image->onDisk) {
      DisposePtr(reinterpret_cast<Ptr>(image));
      return;
    }
    if (image->refNum > 0) FSClose(image->refNum);
  }
  _DeleteScratchFile(name);
  if (image) DisposePtr(reinterpret_cast<Ptr>(image));
}

void TossImage(NamedImage* image) {
  // The record's name is copied first: tossing releases the record that holds it.
  Str255 name;
  DuplicatePString(image ? image->name : kBackingStoreName, name);
  TossNamedImage(name, image);
}

void TossSelectionImage(NamedImage* image) { TossNamedImage(kSelectionImageName, image); }
void TossAlphaImage(NamedImage* image) { TossNamedImage(kAlphaImageName, image); }
void TossTempImage(NamedImage* image) { TossNamedImage(kTempImageName, image); }

void GetLine(NamedImage* image, int32_t column, int32_t row, int32_t count, void* buffer) {
  int32_t bytes = _ClipRowAccess(image, column, row, count);
  if (bytes < 0) return;
  int64_t position = kNamedImageHeaderBytes + int64_t(row) * _RowBytes(image) + column;
  if (image->dataHandle) {
    BlockMoveData(image->data + position, buffer, bytes);
  } else {
    long n = bytes;
    SetFPos(image->refNum, fsFromStart, long(position));
    FSRead(image->refNum, &n, buffer);
  }
}

void PutLine(NamedImage* image, int32_t column, int32_t row, int32_t count, const void* buffer) {
  int32_t bytes = _ClipRowAccess(image, column, row, count);
  if (bytes < 0) return;
  int64_t position = kNamedImageHeaderBytes + int64_t(row) * _RowBytes(image) + column;
  if (image->dataHandle) {
    BlockMoveData(buffer, image->data + position, bytes);
  } else {
    long n = bytes;
    SetFPos(image->refNum, fsFromStart, long(position));
    FSWrite(image->refNum, &n, buffer);
  }
}

void GetImageData(const NamedImage* image, NamedImageHeader* header) {
  header->bytesPerPixel = image->bytesPerPixel;
  header->width = image->width;
  header->height = image->height;
}

void DuplicatePString(ConstStr255Param source, StringPtr destination) {
  if (!destination) return;
  BlockMoveData(source, destination, Size(source[0]) + 1);
}

OSErr _ClearFile(NamedImage* image) {
  int32_t rowBytes = _RowBytes(image);
  int32_t height = image->height;

  Ptr buffer = NewPtr(kClearBufferBytes);
  if (!buffer) {
    // One row at a time when the large buffer is refused.
    buffer = NewPtr(rowBytes);
    if (!buffer) return memFullErr;
    std::memset(buffer, 0, size_t(rowBytes));
    for (int32_t row = 0; row < height; ++row) PutLine(image, 0, row, rowBytes, buffer);
    DisposePtr(buffer);
    return noErr;
  }

  std::memset(buffer, 0, kClearBufferBytes);
  OSErr status = noErr;
  if (!image->dataHandle) {
    NamedImageHeader header = {image->bytesPerPixel, image->width, image->height};
    long headerBytes = kNamedImageHeaderBytes;
    SetFPos(image->refNum, fsFromStart, 0);
    FSWrite(image->refNum, &headerBytes, &header);
  }
  int64_t remaining = int64_t(rowBytes) * height;
  int64_t offset = kNamedImageHeaderBytes;
  do {
    long chunk = remaining > kClearBufferBytes - 1 ? kClearBufferBytes : long(remaining);
    if (image->dataHandle) {
      BlockMoveData(buffer, image->data + offset, chunk);
    } else {
      long written = chunk;
      status = FSWrite(image->refNum, &written, buffer);
    }
    offset += chunk;
    remaining -= chunk;
  } while (remaining > 0);
  DisposePtr(buffer);
  return status;
}

void _DestroyTWBuffer() {
  if (gTW.world) gTW = TextWorld{nullptr, nullptr, nullptr, 0};
}
