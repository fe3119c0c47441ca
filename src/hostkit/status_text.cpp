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

}  // namespace hostkit
