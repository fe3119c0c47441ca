// The error handling shared by the TIFF reader and writer.
#include "imagefile/tiff_common.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace imagefile {
namespace {

int _KeepFirstError(TIFF*, void* user, const char*, const char* format, va_list arguments) {
  auto* context = static_cast<TiffContext*>(user);
  if (context->message[0] == 0) {
    std::vsnprintf(context->message, sizeof context->message, format, arguments);
    // The report names the file once, in front; drop libtiff's copy of the name.
    const size_t length = context->name.size();
    if (length > 0 && std::strncmp(context->message, context->name.c_str(), length) == 0 &&
        std::strncmp(context->message + length, ": ", 2) == 0) {
      std::memmove(context->message, context->message + length + 2,
                   std::strlen(context->message + length + 2) + 1);
    }
    // One line: libtiff's messages may break lines and indent, and may quote the file's bytes.
    char* out = context->message;
    bool space = false;
    for (const char* in = context->message; *in; ++in) {
      const unsigned char c = static_cast<unsigned char>(*in);
      const bool blank = c < 0x20 || c == 0x7F || c == ' ';
      if (blank && (space || out == context->message)) continue;
      *out++ = blank ? ' ' : char(c);
      space = blank;
    }
    if (out > context->message && out[-1] == ' ') --out;
    *out = 0;
  }
  return 1;  // handled: libtiff prints nothing
}

int _IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Messages that some libtiff paths still send to the process-wide handlers are dropped too.
void _SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

// The most libtiff may allocate at once (the raw data of a strip or tile, a tag's array): an
// outer fence behind the checks of declared sizes against the image data.
constexpr tmsize_t kMaxTiffAlloc = tmsize_t(256) << 20;

}  // namespace

TiffOptions::TiffOptions(TiffContext* context) {
  _SilenceGlobalHandlers();
  options = TIFFOpenOptionsAlloc();
  if (options) {
    // libtiff's own fence: no single allocation beyond what a real file of ours needs.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAlloc);
    TIFFOpenOptionsSetErrorHandlerExtR(options, _KeepFirstError, context);
    TIFFOpenOptionsSetWarningHandlerExtR(options, _IgnoreWarning, nullptr);
  }
}

TiffOptions::~TiffOptions() {
  if (options) TIFFOpenOptionsFree(options);
}

std::string WithCause(const std::string& what, const TiffContext& context) {
  if (context.message[0] == 0) return what;
  return what + " (" + context.message + ")";
}

}  // namespace imagefile
