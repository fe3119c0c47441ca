// Internal to the image files: what the TIFF reader and writer share. Each open file gets its
// own error handler that keeps libtiff's first message for the one-line report; libtiff's own
// printing is switched off.
#pragma once

#include <tiffio.h>

#include <string>

namespace imagefile {

// Where one file's first libtiff error lands.
struct TiffContext {
  std::string name;  // the file's name, which libtiff puts in front of some messages
  char message[200] = {};
};

// The options of one open file: its handlers report into `context`, and no single allocation
// goes beyond what a real file of ours needs.
struct TiffOptions {
  TIFFOpenOptions* options = nullptr;
  explicit TiffOptions(TiffContext* context);
  ~TiffOptions();
  TiffOptions(const TiffOptions&) = delete;
  TiffOptions& operator=(const TiffOptions&) = delete;
};

struct TiffCloser {
  TIFF* tiff = nullptr;
  ~TiffCloser() {
    if (tiff) TIFFClose(tiff);
  }
};

// `what`, followed by libtiff's message in brackets when there is one.
std::string WithCause(const std::string& what, const TiffContext& context);

}  // namespace imagefile
