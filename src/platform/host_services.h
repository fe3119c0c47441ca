/* What a hosting program tells the platform layer inside the filter module before a run: where
 * the Preferences folder is, how dialogs are shown, how much memory scratch images may take and
 * how many threads the fill may use. Plain C, so that a host in any language can fill it in.
 *
 * The module exports AREAFILL_HOST_SERVICES_SYMBOL with C linkage; a host looks it up with dlsym
 * after loading the module and calls it before each run. The module copies what it needs (the
 * strings too), so the record may go away after the call. A module that is never told uses the
 * defaults: the user's Preferences folder, headless dialogs, no memory cap, one thread per
 * processor and the fast membrane engine. */
#ifndef AREAFILL_PLATFORM_HOST_SERVICES_H
#define AREAFILL_PLATFORM_HOST_SERVICES_H

#include <stdint.h>

#include "platform/host_dialog.h"

#ifdef __cplusplus
extern "C" {
#endif

#define AREAFILL_HOST_SERVICES_SYMBOL "AreaFillSetHostServices"
#define AREAFILL_HOST_SERVICES_VERSION 1

/* How the module's dialogs are shown. */
enum {
  kAreaFillDialogHeadless = 0, /* no one to ask: every dialog ends with its default item */
  kAreaFillDialogTerminal = 1, /* drawn as text on the controlling terminal (/dev/tty) */
  kAreaFillDialogHost = 2      /* handed to the host's own toolkit through `dialogHost` */
};

/* Which membrane engine fills: the fast one, or the plain reference that it is checked against. */
enum { kAreaFillMembraneFast = 0, kAreaFillMembraneReference = 1 };

typedef struct AreaFillHostServices {
  int32_t version; /* AREAFILL_HOST_SERVICES_VERSION */
  /* The Preferences folder: the preferences file and any scratch files go there. Null or empty:
     the user's own ($XDG_CONFIG_HOME/areafill, else ~/.config/areafill). */
  const char* preferencesFolder;
  int32_t dialog;                       /* kAreaFillDialog... */
  const AreaFillDialogHost* dialogHost; /* for kAreaFillDialogHost; null: headless */
  int64_t scratchMemoryLimit;           /* bytes that scratch images may hold in memory; the
                                           rest goes to disk. Negative: no cap. */
  int32_t threads;                      /* threads of the fill; 0: one per processor */
  int32_t membraneEngine;               /* kAreaFillMembrane... */
  /* Called when a file of the Preferences folder could not be made, written or stored back:
     `name` is its name ("ZELKpref", "BackingStore", "SelectionImage", ...), `status` the
     platform's code. The run goes on as the filter decides; what to tell the user is the
     host's. May be null. */
  void (*fileNotice)(void* context, const char* name, int32_t status);
  void* noticeContext;
} AreaFillHostServices;

typedef void (*AreaFillSetHostServicesProc)(const AreaFillHostServices* services);

#ifdef __cplusplus
}
#endif

#endif /* AREAFILL_PLATFORM_HOST_SERVICES_H */
