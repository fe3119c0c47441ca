// A drawable's area through GEGL buffers: read in the drawable's own encoding at the depth the
// filter handles, the selection as bytes, and written back through the shadow buffer.
#include "gimp/drawable_area.h"

#include <libgimp/gimp.h>

namespace areafill_gimp {
namespace {

// The filter handles 8-bit and 16-bit integer samples and 32-bit float ones. Wider integers go
// through 16 bits (the filter's 16-bit scale has 15 bits anyway); half and double floats through
// 32-bit float, which the host call fills by the float rule.
int _WorkingDepth(const Babl* format) {
  const std::string type = babl_get_name(babl_format_get_type(format, 0));
  if (type == "u8") return 8;
  if (type == "u16" || type == "u32") return 16;
  return 32;
}

const char* _TypeName(int depth) { return depth == 8 ? "u8" : depth == 16 ? "u16" : "float"; }

// The colour model's name with its tone curve, for example "R'G'B'A" or "Y".
std::string _ModelName(const Babl* format) { return babl_get_name(babl_format_get_model(format)); }

// `format` with another component type, keeping its model and colour space.
const Babl* _WithType(const std::string& model, const char* type, const Babl* format) {
  return babl_format_with_space((model + " " + type).c_str(), format);
}

}  // namespace

AreaStatus ReadDrawableArea(int32_t image, int32_t drawable, DrawableArea* area,
                            std::string* error) {
  gint x = 0, y = 0, width = 0, height = 0;
  if (!gimp_drawable_mask_intersect(drawable, &x, &y, &width, &height) || width <= 0 || height <= 0)
    return AreaStatus::kNothingSelected;

  const Babl* own = gimp_drawable_get_format(drawable);
  const bool alpha = babl_format_has_alpha(own) != 0;
  hostkit::StoredLayout layout;
  layout.width = width;
  layout.height = height;
  layout.colorPlanes = babl_format_get_n_components(own) - (alpha ? 1 : 0);
  layout.extraPlanes = alpha ? 1 : 0;
  layout.depth = _WorkingDepth(own);
  if (std::string problem = hostkit::CheckStoredLayout(layout); !problem.empty()) {
    *error = problem;
    return AreaStatus::kFailed;
  }

  area->drawable = drawable;
  area->x = x;
  area->y = y;
  area->layout = layout;
  area->format = _WithType(_ModelName(own), _TypeName(layout.depth), own);
  area->samples.assign(layout.ByteCount(), 0);
  const GeglRectangle rect = {x, y, width, height};
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  gegl_buffer_get(buffer, &rect, 1.0, area->format, area->samples.data(), GEGL_AUTO_ROWSTRIDE,
                  GEGL_ABYSS_NONE);
  g_object_unref(buffer);

  area->mask.clear();
  if (!gimp_selection_is_empty(image)) {
    // The selection lies over the image; the drawable may be moved against it.
    gint offsetX = 0, offsetY = 0;
    gimp_drawable_offsets(drawable, &offsetX, &offsetY);
    const GeglRectangle over = {x + offsetX, y + offsetY, width, height};
    area->mask.assign(size_t(width) * size_t(height), 0);
    GeglBuffer* selection = gimp_drawable_get_buffer(gimp_image_get_selection(image));
    gegl_buffer_get(selection, &over, 1.0, babl_format("Y u8"), area->mask.data(),
                    GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(selection);
  }
  return AreaStatus::kRead;
}

void WriteDrawableArea(const DrawableArea& area, const void* samples) {
  const GeglRectangle rect = {area.x, area.y, area.layout.width, area.layout.height};
  GeglBuffer* shadow = gimp_drawable_get_shadow_buffer(area.drawable);
  gegl_buffer_set(shadow, &rect, 0, area.format, samples, GEGL_AUTO_ROWSTRIDE);
  gegl_buffer_flush(shadow);
  g_object_unref(shadow);
  gimp_drawable_merge_shadow(area.drawable, TRUE);
  gimp_drawable_update(area.drawable, area.x, area.y, area.layout.width, area.layout.height);
}

std::array<uint8_t, 3> ContextColour(bool foreground, const Babl* format) {
  GimpRGB colour;
  if (foreground)
    gimp_context_get_foreground(&colour);
  else
    gimp_context_get_background(&colour);
  // GIMP's context colours are sRGB with its tone curve; the filter writes the bytes it gets
  // as samples, so they are turned into the drawable's own encoding first.
  std::string model = _ModelName(format);
  if (babl_format_has_alpha(format) && !model.empty() && model.back() == 'A') model.pop_back();
  const Babl* target = _WithType(model, "u8", format);
  const double rgb[3] = {colour.r, colour.g, colour.b};
  uint8_t out[3] = {0, 0, 0};
  babl_process(babl_fish(babl_format("R'G'B' double"), target), rgb, out, 1);
  if (babl_format_get_n_components(target) == 1) out[1] = out[2] = out[0];
  return {out[0], out[1], out[2]};
}

}  // namespace areafill_gimp
