// A fill of a drawable's area made into the host call, and the preview worker that runs one
// handed over through a pipe.
#include "gimp/fill_request.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "hostkit/fill_methods.h"
#include "hostkit/host_rules.h"
#include "hostkit/steady_progress.h"

namespace areafill_gimp {
namespace {

volatile std::sig_atomic_t gCancelled = 0;

bool _WriteAll(int fd, const void* bytes, size_t size) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t n = write(fd, at, size);
    if (n <= 0) return false;
    at += n;
    size -= size_t(n);
  }
  return true;
}

bool _ReadAll(int fd, void* bytes, size_t size) {
  auto* at = static_cast<uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t n = read(fd, at, size);
    if (n <= 0) return false;
    at += n;
    size -= size_t(n);
  }
  return true;
}

// The request's fixed part, in the machine's byte order (both ends are the same program).
struct _Header {
  int32_t width, height, colorPlanes, extraPlanes, depth, choice;
  uint8_t foreground[3], background[3], hasMask, pad;
};

bool _Failed(const std::string& message) {
  const uint32_t size = uint32_t(message.size());
  return _WriteAll(1, &kRecordFailed, 1) && _WriteAll(1, &size, 4) &&
         _WriteAll(1, message.data(), size);
}

}  // namespace

bool PrepareFillCall(const FillRequest& request, const hostkit::FilterModule* module,
                     hostkit::HostCall* call) {
  call->run.foreground = request.foreground;
  call->run.background = request.background;
  // GIMP confines the result to the selection when it merges the shadow buffer, so the host
  // kit hands the filter the selection and masks nothing itself. Selection bytes that round to
  // 0 at 8 bits lie outside the filter's area; GIMP still merges them, from the original pixels.
  if (!request.mask.empty() &&
      !hostkit::SelectArea(&call->run, request.mask, request.layout.width, request.layout.height,
                           /*raw=*/true))
    return false;
  call->module = module;
  call->choice.method = hostkit::FillMethodByChoice(request.choice);
  call->settings = hostkit::HostSettingsFromEnvironment();
  // Half, single and double float drawables come as 32-bit floats and are filled through the
  // filter's 16-bit mode by the float rule, exact outside the selection; GIMP turns the floats
  // back into the drawable's own precision as it takes them.
  call->fillFloats = true;
  return true;
}

bool WriteFillRequest(int fd, const FillRequest& r) {
  const _Header header = {r.layout.width,
                          r.layout.height,
                          r.layout.colorPlanes,
                          r.layout.extraPlanes,
                          r.layout.depth,
                          r.choice,
                          {r.foreground[0], r.foreground[1], r.foreground[2]},
                          {r.background[0], r.background[1], r.background[2]},
                          uint8_t(r.mask.empty() ? 0 : 1),
                          0};
  return _WriteAll(fd, &header, sizeof header) &&
         _WriteAll(fd, r.samples.data(), r.samples.size()) &&
         _WriteAll(fd, r.mask.data(), r.mask.size());
}

int RunPreviewWorker(const std::string& modulePath) {
  std::signal(SIGTERM, [](int) { gCancelled = 1; });
  // A plug-in that ends (its dialog closed, or a crash) cancels its preview too.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  std::signal(SIGPIPE, SIG_IGN);
  FillRequest request;
  _Header header{};
  if (!_ReadAll(0, &header, sizeof header)) return 2;
  request.layout = {header.width, header.height, header.colorPlanes, header.extraPlanes,
                    header.depth};
  if (!hostkit::CheckStoredLayout(request.layout).empty()) return 2;
  request.choice = header.choice;
  std::memcpy(request.foreground.data(), header.foreground, 3);
  std::memcpy(request.background.data(), header.background, 3);
  request.samples.resize(request.layout.ByteCount());
  request.mask.resize(header.hasMask ? size_t(header.width) * size_t(header.height) : 0);
  if (!_ReadAll(0, request.samples.data(), request.samples.size()) ||
      !_ReadAll(0, request.mask.data(), request.mask.size()))
    return 2;

  hostkit::FilterModule module;
  std::string error;
  if (!hostkit::LoadFilterModule(modulePath, &module, &error)) return _Failed(error) ? 1 : 2;
  hostkit::HostCall call;
  if (!PrepareFillCall(request, &module, &call)) return _Failed("nothing selected") ? 1 : 2;
  // Preferences of its own, so that the preview leaves the filter's remembered choice alone;
  // removed on every way out.
  struct Folder {
    std::string path = std::filesystem::temp_directory_path() / "areafill-preview-XXXXXX";
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  } folder;
  if (!mkdtemp(folder.path.data())) {
    folder.path.clear();
    return _Failed("cannot make a temporary folder") ? 1 : 2;
  }
  call.settings.preferencesFolder = folder.path;
  call.settings.dialog = kAreaFillDialogHeadless;
  call.run.abort = [] { return gCancelled != 0; };
  hostkit::SteadyProgress steady;
  int32_t shown = -1;
  call.run.progress = [&steady, &shown](int32_t done, int32_t total) {
    const int32_t count = steady.Count(done, total);
    if (count == shown) return;
    shown = count;
    _WriteAll(1, &kRecordProgress, 1) && _WriteAll(1, &count, 4);
  };

  hostkit::HostImage host = hostkit::StoredToHost(request.layout, request.samples.data());
  const hostkit::HostCallOutcome outcome = hostkit::RunHostCall(host, call);
  if (outcome.status != hostkit::HostCallStatus::kFilled)
    return _Failed(outcome.status == hostkit::HostCallStatus::kCancelled ? "cancelled"
                                                                         : outcome.message)
               ? 1
               : 2;
  hostkit::HostToStored(host, request.layout, request.samples.data(), request.samples.data());
  return _WriteAll(1, &kRecordResult, 1) &&
                 _WriteAll(1, request.samples.data(), request.samples.size())
             ? 0
             : 2;
}

}  // namespace areafill_gimp
