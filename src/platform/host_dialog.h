/* The dialog exchange between the filter module and the program that hosts it, when that program
 * shows the module's dialogs with its own toolkit. Plain C, so that a host in any language can
 * implement it: the module describes a dialog once, when its first wait begins, and the host
 * answers with the items the user hit, which the module replays as clicks.
 *
 * The host hands its table to the module in the host-services record (platform/host_services.h,
 * dialog kAreaFillDialogHost). Without a table the module's dialogs run headless: each ends with
 * its default item. */
#ifndef AREAFILL_PLATFORM_HOST_DIALOG_H
#define AREAFILL_PLATFORM_HOST_DIALOG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define AREAFILL_DIALOG_HOST_VERSION 1

/* Item kinds, numbered as the dialog item lists number them. */
enum {
  kAreaFillItemUser = 0, /* an area the dialog paints itself (a colour swatch) */
  kAreaFillItemButton = 4,
  kAreaFillItemCheckBox = 5,
  kAreaFillItemRadioButton = 6,
  kAreaFillItemStaticText = 8,
  kAreaFillItemEditText = 16
};

typedef struct AreaFillDialogRect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
} AreaFillDialogRect;

typedef struct AreaFillDialogItem {
  int16_t kind;            /* kAreaFillItem... */
  int16_t enabled;         /* 1 when a click on it counts as a hit */
  int16_t value;           /* a control's value (radio button, check box: 0 off, 1 on); -1 for
                              items that are not controls */
  AreaFillDialogRect rect; /* in the dialog's content, pixels from its top-left corner */
  const char* text;        /* NUL-terminated, in the Mac OS Roman character set */
  uint8_t colour[3];       /* red, green, blue drawn at the item's centre (a swatch's colour) */
} AreaFillDialogItem;

typedef struct AreaFillDialogDescription {
  const char* title;         /* Mac OS Roman, may be empty */
  AreaFillDialogRect bounds; /* the content where the module placed it, in screen pixels with
                                (0, 0) at the top-left corner of the host's main screen */
  int16_t itemCount;
  const AreaFillDialogItem* items; /* item n is items[n - 1] */
  int16_t defaultItem;             /* what Return chooses; 0 for none */
  int16_t cancelItem;              /* what Escape and closing the window choose; 0 for none */
} AreaFillDialogDescription;

typedef struct AreaFillDialogHost {
  int32_t version; /* AREAFILL_DIALOG_HOST_VERSION */
  /* Stores the size of the screen that dialogs appear on, in pixels, and returns 1; returns 0
     when the host does not know it (the module then assumes 1024 x 768). May be null. */
  int (*screenSize)(int16_t* width, int16_t* height);
  /* Shows `dialog`, waits for the user and stores the numbers of the items hit, in order, into
     hits[0] to hits[capacity - 1]; the last is the item that closed the dialog. Returns how many
     it stored, or a negative number when it cannot show the dialog (the module then takes the
     cancel item, so that nothing changes without the user's answer). */
  int (*runDialog)(const AreaFillDialogDescription* dialog, int16_t* hits, int capacity);
} AreaFillDialogHost;

#ifdef __cplusplus
}
#endif

#endif /* AREAFILL_PLATFORM_HOST_DIALOG_H */
