// The dialog's preview of the chosen method: a preview worker per method shown, its output read
// as it comes without blocking the dialog, the result drawn over the drawable's pixels.
#include "gimp/fill_preview.h"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hostkit/fill_methods.h"
#include "hostkit/steady_progress.h"

namespace areafill_gimp {
namespace {

// The 8-bit format that GIMP's drawable preview draws for `drawable`.
const Babl* _PreviewFormat(int32_t drawable) {
  const char* name = "R'G'B'A u8";
  switch (gimp_drawable_type(drawable)) {
    case GIMP_RGB_IMAGE:
      name = "R'G'B' u8";
      break;
    case GIMP_GRAY_IMAGE:
      name = "Y' u8";
      break;
    case GIMP_GRAYA_IMAGE:
      name = "Y'A u8";
      break;
    default:
      break;
  }
  return babl_format_with_space(name, gimp_drawable_get_format(drawable));
}

// For the tests: AREAFILL_PREVIEW_DUMP names a file that receives each finished preview's
// samples as the worker gave them (the area's own encoding), so that they can be compared with
// what OK writes.
void _Dump(const std::vector<uint8_t>& samples) {
  const char* path = getenv("AREAFILL_PREVIEW_DUMP");
  if (!path || !*path) return;
  const std::string partial = std::string(path) + ".part";
  if (FILE* file = std::fopen(partial.c_str(), "wb")) {
    const bool ok = std::fwrite(samples.data(), 1, samples.size(), file) == samples.size();
    if (std::fclose(file) == 0 && ok) std::rename(partial.c_str(), path);
  }
}

}  // namespace

FillPreview::FillPreview(const DrawableArea& area, FillRequest request, std::string program)
    : area_(area), request_(std::move(request)), program_(std::move(program)) {}

FillPreview::~FillPreview() { _Stop(); }

GtkWidget* FillPreview::Widget() {
  if (box_) return box_;
  box_ = gtk_vbox_new(FALSE, 6);
  preview_ = gimp_drawable_preview_new_from_drawable_id(area_.drawable);
  progress_ = gtk_progress_bar_new();
  gtk_widget_set_no_show_all(progress_, TRUE);
  gtk_box_pack_start(GTK_BOX(box_), preview_, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box_), progress_, FALSE, FALSE, 0);
  g_signal_connect(preview_, "invalidated", G_CALLBACK(_Invalidated), this);
  // The dialog goes before the preview object: from then on it has no widgets to touch.
  g_signal_connect_swapped(box_, "destroy", G_CALLBACK(+[](FillPreview* self) {
                             self->box_ = self->preview_ = self->progress_ = nullptr;
                             self->_Stop();
                           }),
                           this);
  return box_;
}

void FillPreview::Choose(int32_t choice) {
  if (!hostkit::FillMethodByChoice(choice)) return;
  choice_ = choice;
  if (preview_) gimp_preview_invalidate(GIMP_PREVIEW(preview_));
}

// The preview asks to be drawn (its toggle came on, it scrolled, the method changed): the
// result when it is known, else a worker for it.
void FillPreview::_Invalidated(GtkWidget*, gpointer data) {
  auto* self = static_cast<FillPreview*>(data);
  if (self->choice_ == 0) return;
  if (self->ready_ == self->choice_) {
    self->_Draw();
  } else if (!self->worker_ || self->request_.choice != self->choice_) {
    self->_Stop();
    self->_Start();
  }
}

void FillPreview::_Start() {
  request_.choice = choice_;
  failure_.clear();
  gchar* argv[] = {const_cast<gchar*>(program_.c_str()), const_cast<gchar*>(kPreviewWorkerFlag),
                   nullptr};
  gint in = -1, out = -1;
  if (!g_spawn_async_with_pipes(nullptr, argv, nullptr, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr,
                                &worker_, &in, &out, nullptr, nullptr)) {
    worker_ = 0;
    failure_ = "No preview: its worker cannot start";
    return _Stop();
  }
  g_child_watch_add(
      worker_, [](GPid pid, gint, gpointer) { g_spawn_close_pid(pid); }, nullptr);
  // The worker reads the whole request before it writes anything, so this does not wait long.
  const bool sent = WriteFillRequest(in, request_);
  close(in);
  channel_ = g_io_channel_unix_new(out);
  g_io_channel_set_close_on_unref(channel_, TRUE);
  watch_ = g_io_add_watch(channel_, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), _Readable, this);
  if (!sent) {
    failure_ = "No preview: its worker ended early";
    return _Stop();
  }
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_), nullptr);
  gtk_widget_show(progress_);
}

// Ends the running worker (its host call sees the abort test and cancels) and its watch; the
// progress bar goes, or stays to say why the last worker failed.
void FillPreview::_Stop() {
  if (worker_) kill(worker_, SIGTERM);
  worker_ = 0;
  if (watch_) g_source_remove(watch_);
  watch_ = 0;
  if (channel_) g_io_channel_unref(channel_);
  channel_ = nullptr;
  received_.clear();
  if (!progress_) return;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_), 0.0);
  gtk_progress_bar_set_text(GTK_PROGRESS_BAR(progress_),
                            failure_.empty() ? nullptr : failure_.c_str());
  gtk_widget_set_visible(progress_, !failure_.empty());
}

gboolean FillPreview::_Readable(GIOChannel* channel, GIOCondition, gpointer data) {
  auto* self = static_cast<FillPreview*>(data);
  uint8_t chunk[65536];
  const ssize_t n = read(g_io_channel_unix_get_fd(channel), chunk, sizeof chunk);
  if (n <= 0) {  // the worker ended (it is reaped by its child watch); what it wrote was taken
    self->watch_ = 0;
    self->worker_ = 0;
    self->_Stop();
    return FALSE;
  }
  self->received_.insert(self->received_.end(), chunk, chunk + n);
  self->_Take();
  return TRUE;
}

// Takes the whole records received: progress moves the bar, a result is kept and drawn.
void FillPreview::_Take() {
  size_t at = 0;
  const size_t size = received_.size();
  while (at < size) {
    const char kind = char(received_[at]);
    if (kind == kRecordProgress && size - at >= 5) {
      int32_t count = 0;
      std::memcpy(&count, &received_[at + 1], 4);
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress_),
                                    double(count) / hostkit::kSteadyTotal);
      at += 5;
    } else if (kind == kRecordResult && size - at > request_.samples.size()) {
      result_.assign(received_.begin() + std::ptrdiff_t(at + 1),
                     received_.begin() + std::ptrdiff_t(at + 1 + request_.samples.size()));
      ready_ = request_.choice;
      at = size;
      _Dump(result_);
      _Draw();
    } else if (kind == kRecordFailed && size - at >= 5) {
      uint32_t length = 0;
      std::memcpy(&length, &received_[at + 1], 4);
      if (size - at - 5 < length) break;
      // The original stays shown, with the reason under it (a cancelled worker was replaced).
      const std::string why(received_.begin() + std::ptrdiff_t(at + 5),
                            received_.begin() + std::ptrdiff_t(at + 5 + length));
      if (why != "cancelled") failure_ = "No preview: " + why;
      at += 5 + length;
    } else {
      break;  // a record still arriving
    }
  }
  received_.erase(received_.begin(), received_.begin() + std::ptrdiff_t(at));
}

// The visible part of the drawable with the result over the area, as the preview's 8-bit
// pixels, merged with the original through the selection. (The drawable preview's own merge
// reads the result's rows at a wrong offset in GIMP 2.10, so the preview area is drawn here.)
void FillPreview::_Draw() {
  if (!preview_ || ready_ != choice_) return;
  gint x = 0, y = 0, width = 0, height = 0;
  gimp_preview_get_position(GIMP_PREVIEW(preview_), &x, &y);
  gimp_preview_get_size(GIMP_PREVIEW(preview_), &width, &height);
  const Babl* format = _PreviewFormat(area_.drawable);
  const int bpp = babl_format_get_bytes_per_pixel(format);
  std::vector<uint8_t> original(size_t(width) * size_t(height) * size_t(bpp));
  const GeglRectangle visible = {x, y, width, height};
  GeglBuffer* buffer = gimp_drawable_get_buffer(area_.drawable);
  gegl_buffer_get(buffer, &visible, 1.0, format, original.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  g_object_unref(buffer);
  std::vector<uint8_t> pixels = original;
  const int left = std::max(x, area_.x), right = std::min(x + width, area_.x + area_.layout.width);
  const int top = std::max(y, area_.y),
            bottom = std::min(y + height, area_.y + area_.layout.height);
  const size_t pixelBytes = size_t(area_.layout.Planes()) * size_t(area_.layout.depth / 8);
  const Babl* fish = babl_fish(area_.format, format);
  for (int row = top; row < bottom && left < right; ++row)
    babl_process(
        fish,
        &result_[(size_t(row - area_.y) * size_t(area_.layout.width) + size_t(left - area_.x)) *
                 pixelBytes],
        &pixels[(size_t(row - y) * size_t(width) + size_t(left - x)) * size_t(bpp)], right - left);

  // The selection over the visible part (it lies over the image; the drawable may be moved),
  // all selected when there is none.
  std::vector<uint8_t> selection(size_t(width) * size_t(height), 255);
  const int32_t image = gimp_item_get_image(area_.drawable);
  if (!gimp_selection_is_empty(image)) {
    gint offsetX = 0, offsetY = 0;
    gimp_drawable_offsets(area_.drawable, &offsetX, &offsetY);
    const GeglRectangle over = {x + offsetX, y + offsetY, width, height};
    GeglBuffer* mask = gimp_drawable_get_buffer(gimp_image_get_selection(image));
    gegl_buffer_get(mask, &over, 1.0, babl_format("Y u8"), selection.data(), GEGL_AUTO_ROWSTRIDE,
                    GEGL_ABYSS_NONE);
    g_object_unref(mask);
  }
  gimp_preview_area_mask(GIMP_PREVIEW_AREA(gimp_preview_get_area(GIMP_PREVIEW(preview_))), 0, 0,
                         width, height, gimp_drawable_type(area_.drawable), original.data(),
                         width * bpp, pixels.data(), width * bpp, selection.data(), width);
}

}  // namespace areafill_gimp
