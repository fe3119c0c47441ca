// The host's settings inside the platform layer, and the module's exported call that sets them.
#include "platform/host_settings.h"

#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/files.h"
#include "platform/memory.h"

namespace {

std::mutex gLock;
int32_t gDialogMode = kAreaFillDialogHeadless;
const AreaFillDialogHost* gDialogHost = nullptr;
int32_t gThreads = 0;
bool gReferenceMembrane = false;
void (*gFileNotice)(void*, const char*, int32_t) = nullptr;
void* gNoticeContext = nullptr;

}  // namespace

void PlatformSetHostServices(const AreaFillHostServices* services) {
  AreaFillHostServices settings{AREAFILL_HOST_SERVICES_VERSION,
                                nullptr,
                                kAreaFillDialogHeadless,
                                nullptr,
                                -1,
                                0,
                                kAreaFillMembraneFast,
                                nullptr,
                                nullptr};
  if (services && services->version == AREAFILL_HOST_SERVICES_VERSION) settings = *services;
  {
    std::lock_guard<std::mutex> guard(gLock);
    gDialogMode = settings.dialog;
    gDialogHost = settings.dialogHost;
    gThreads = settings.threads > 0 ? settings.threads : 0;
    gReferenceMembrane = settings.membraneEngine == kAreaFillMembraneReference;
    gFileNotice = settings.fileNotice;
    gNoticeContext = settings.noticeContext;
  }
  PlatformSetPreferencesFolder(settings.preferencesFolder);
  PlatformSetTempMemoryLimit(settings.scratchMemoryLimit);
}

int32_t PlatformFillThreads(int32_t most) {
  int32_t wanted;
  {
    std::lock_guard<std::mutex> guard(gLock);
    wanted = gThreads;
  }
  if (wanted <= 0) wanted = int32_t(std::thread::hardware_concurrency());
  if (wanted < 1) wanted = 1;
  return wanted > most ? most : wanted;
}

bool PlatformUseReferenceMembrane() {
  std::lock_guard<std::mutex> guard(gLock);
  return gReferenceMembrane;
}

void PlatformNotifyHost(const char* name, int16_t status) {
  void (*notice)(void*, const char*, int32_t);
  void* context;
  {
    std::lock_guard<std::mutex> guard(gLock);
    notice = gFileNotice;
    context = gNoticeContext;
  }
  if (notice) notice(context, name, status);
}

int32_t PlatformDialogMode(const AreaFillDialogHost** host) {
  std::lock_guard<std::mutex> guard(gLock);
  if (host) *host = gDialogHost;
  return gDialogMode;
}

std::string PlatformDefaultPreferencesFolder() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
    return std::string(xdg) + "/areafill";
  if (const char* home = std::getenv("HOME"); home && home[0] == '/')
    return std::string(home) + "/.config/areafill";
  return "";
}

extern "C" __attribute__((visibility("default"))) void AreaFillSetHostServices(
    const AreaFillHostServices* services) {
  PlatformSetHostServices(services);
}
