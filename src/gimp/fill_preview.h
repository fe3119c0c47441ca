// The dialog's preview: GIMP's drawable preview (with its "Preview" toggle) showing the chosen
// method's result over the drawable, masked by the selection as OK's merge masks it. Each
// result is computed by a preview worker (fill_request.h) on the drawable's selection area with
// the host call that OK makes; choosing another method stops a worker still running, and a
// progress bar under the preview shows how far the worker is, or why it failed.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gimp/drawable_area.h"
#include "gimp/fill_request.h"

namespace areafill_gimp {

class FillPreview {
 public:
  // `area` must outlive the preview; `request` is the fill without its choice; `program` is the
  // plug-in's program, started as the worker.
  FillPreview(const DrawableArea& area, FillRequest request, std::string program);
  ~FillPreview();
  FillPreview(const FillPreview&) = delete;
  FillPreview& operator=(const FillPreview&) = delete;

  // The preview and its progress bar, made on the first call.
  GtkWidget* Widget();
  // Shows `choice` (3..9): its result when known, else starts its worker (while the toggle is
  // on). Other numbers are ignored.
  void Choose(int32_t choice);

 private:
  static void _Invalidated(GtkWidget*, gpointer self);
  static gboolean _Readable(GIOChannel*, GIOCondition, gpointer self);
  void _Start();
  void _Stop();
  void _Take();
  void _Draw();

  const DrawableArea& area_;
  FillRequest request_;
  std::string program_;
  GtkWidget* box_ = nullptr;
  GtkWidget* preview_ = nullptr;
  GtkWidget* progress_ = nullptr;
  int32_t choice_ = 0;  // the method shown
  int32_t ready_ = 0;   // the method whose result `result_` holds, or 0
  std::vector<uint8_t> result_;
  // The running worker: its process, its output as it arrives, the watch on it.
  GPid worker_ = 0;
  GIOChannel* channel_ = nullptr;
  guint watch_ = 0;
  std::vector<uint8_t> received_;
  std::string failure_;  // why the last worker gave no result, or ""
};

}  // namespace areafill_gimp
