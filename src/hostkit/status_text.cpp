#include "hostkit/status_text.h"

#include "filter/host/filter_record.h"

namespace hostkit {

namespace {

struct StatusEntry {
  int16_t status;
  const char* name;
};

constexpr StatusEntry kStatusNames[] = {
    {userCanceledErr, "cancelled"},
    {memFullErr, "out of memory"},
    {dskFulErr, "disk full (scratch files)"},
    {ioErr, "input/output error (scratch files)"},
    {eofErr, "unexpected end of file"},
    {fnfErr, "file not found"},
    {dupFNErr, "a scratch file of that name already exists"},
    {permErr, "permission denied (Preferences folder)"},
    {wPrErr, "write-protected (Preferences folder)"},
    {tmfoErr, "too many files open"},
    {bdNamErr, "bad file name"},
    {dirNFErr, "Preferences folder not found and cannot be made"},
    {opWrErr, "file already open for writing"},
    {filterBadParameters, "the filter cannot handle this image or request"},
    {filterBadMode, "the filter cannot handle this image mode"},
};

}  // namespace

std::string StatusName(int16_t status) {
  for (const StatusEntry& entry : kStatusNames)
    if (entry.status == status) return entry.name;
  return "error";
}

std::string SelectorName(int16_t selector) {
  switch (selector) {
    case filterSelectorAbout:
      return "showing its about box";
    case filterSelectorParameters:
      return "setting up";
    case filterSelectorPrepare:
      return "preparing";
    case filterSelectorStart:
      return "running";
    case filterSelectorContinue:
      return "running";
    case filterSelectorFinish:
      return "finishing";
    default:
      return "selector " + std::to_string(selector);
  }
}

std::string DescribeFailure(int16_t status, int16_t selector) {
  return "filter failed while " + SelectorName(selector) + ": " + StatusName(status) + " (" +
         std::to_string(status) + ")";
}

std::string OneLine(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  auto escape = [&](unsigned char c) {
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
  };
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7f || c == '\\') {
      if (c == '\\')
        out += "\\\\";
      else
        escape(c);
      ++i;
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, or 0.
    size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || (c == 0xc0 || c == 0xc1) || i + length > text.size()) length = 0;
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) length = 0;
    if (length == 0) {
      escape(c);
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace hostkit
