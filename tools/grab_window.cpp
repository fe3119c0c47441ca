// grab_window WINDOW-ID OUT.png: saves what an X window shows (its area of the screen) as a
// PNG, for the picture of the GIMP dialog (scripts/gimp-dialog-screenshot.sh).
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3 || !gdk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "usage: grab_window WINDOW-ID OUT.png (with a display)\n");
    return 2;
  }
  GdkNativeWindow id = GdkNativeWindow(std::strtoul(argv[1], nullptr, 0));
  GdkWindow* window = gdk_window_foreign_new(id);
  if (!window) {
    std::fprintf(stderr, "grab_window: no window %s\n", argv[1]);
    return 1;
  }
  gint x = 0, y = 0, width = 0, height = 0;
  gdk_window_get_origin(window, &x, &y);
  gdk_drawable_get_size(window, &width, &height);
  GdkPixbuf* pixbuf = gdk_pixbuf_get_from_drawable(
      nullptr, gdk_get_default_root_window(),
      gdk_screen_get_system_colormap(gdk_screen_get_default()), x, y, 0, 0, width, height);
  GError* error = nullptr;
  const bool saved = pixbuf && gdk_pixbuf_save(pixbuf, argv[2], "png", &error, nullptr);
  if (!saved) std::fprintf(stderr, "grab_window: %s\n", error ? error->message : "cannot grab");
  if (error) g_error_free(error);
  if (pixbuf) g_object_unref(pixbuf);
  g_object_unref(window);
  return saved ? 0 : 1;
}
