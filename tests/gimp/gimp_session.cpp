// The throw-away GIMP of the plug-in's tests.
#include "gimp/gimp_session.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#ifndef AREAFILL_BUILD_DIR
#error "AREAFILL_BUILD_DIR names the build folder holding gimp/areafill"
#endif

namespace gimp_test {

std::string MissingProgram(const std::vector<std::string>& programs) {
  for (const std::string& program : programs) {
    if (std::system(("command -v " + ShellWord(program) + " >/dev/null 2>&1").c_str()) != 0)
      return program;
  }
  return "";
}

std::string SchemeString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string ShellWord(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string MakeSession(Session* session) {
  std::string pattern = (fs::temp_directory_path() / "areafill-gimp-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return "cannot make a temporary folder";
  session->root = pattern;
  session->profile = session->root / "profile";
  session->prefs = session->root / "prefs";
  session->work = session->root / "work";
  for (const char* folder :
       {"home", "profile/gradients", "profile/system-plug-ins", "prefs", "work"})
    fs::create_directories(session->root / folder);

  // GIMP's own plug-ins that the tests call, linked from its plug-in folder.
  const fs::path system = fs::path(AREAFILL_GIMP_LIBDIR) / "plug-ins";
  for (const char* plugin : {"script-fu", "file-png"}) {
    std::error_code ec;
    fs::create_directory_symlink(system / plugin, session->profile / "system-plug-ins" / plugin,
                                 ec);
    if (ec) return "cannot link GIMP's " + std::string(plugin) + ": " + ec.message();
  }
  std::ofstream(session->profile / "gimprc")
      << "(plug-in-path "
      << SchemeString((session->profile / "plug-ins").string() + ":" +
                      (session->profile / "system-plug-ins").string())
      << ")\n";

  // The plug-in goes in as a user installs it.
  std::string output;
  const int status = RunInSession(*session,
                                  ShellWord(AREAFILL_SOURCE_DIR "/scripts/install-gimp-plugin.sh") +
                                      " " + ShellWord(AREAFILL_BUILD_DIR),
                                  &output);
  if (status != 0) return "the install script failed: " + output;
  if (!fs::exists(session->profile / "plug-ins" / "areafill" / "areafill"))
    return "the install script put no plug-in into the profile: " + output;
  return "";
}

void RemoveSession(const Session& session) {
  if (std::getenv("AREAFILL_KEEP_GIMP_TEST")) {
    std::fprintf(stderr, "kept %s\n", session.root.c_str());
    return;
  }
  std::error_code ec;
  if (!session.root.empty()) fs::remove_all(session.root, ec);
}

int RunInSession(const Session& session, const std::string& command, std::string* output) {
  const fs::path log = session.root / "command.log";
  const std::string home = (session.root / "home").string();
  const std::string line =
      "env -u AREAFILL_DIALOG -u GIMP2_SYSCONFDIR -u DISPLAY -u WAYLAND_DISPLAY HOME=" +
      ShellWord(home) + " XDG_CONFIG_HOME=" + ShellWord(home + "/.config") +
      " XDG_CACHE_HOME=" + ShellWord(home + "/.cache") +
      " XDG_DATA_HOME=" + ShellWord(home + "/.local/share") +
      " GIMP2_DIRECTORY=" + ShellWord(session.profile.string()) +
      " AREAFILL_PREFS_DIR=" + ShellWord(session.prefs.string()) + " sh -c " + ShellWord(command) +
      " >" + ShellWord(log.string()) + " 2>&1";
  const int status = std::system(line.c_str());
  std::ifstream in(log);
  output->append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

std::string GimpBatchCommand(const fs::path& script) {
  // -i no interface, -d no data (brushes, patterns), -f no fonts: only what a filter needs.
  // A plug-in built with sanitizers checks its own memory use; leak reports are left off,
  // because GIMP's libraries (GEGL's unloaded modules, fontconfig's caches) keep allocations to
  // the end that LeakSanitizer cannot tell from leaks, and the unit tests cover our own code's.
  return "ASAN_OPTIONS=detect_leaks=0 gimp-console-2.10 -i -d -f -b " +
         ShellWord("(load " + SchemeString(script.string()) + ")") + " -b '(gimp-quit 0)'";
}

imagefile::FileImage TestImage(int bits) {
  imagefile::FileImage image;
  image.width = kTestWidth;
  image.height = kTestHeight;
  image.model = ColourModel::kRGB;
  image.colorChannels = 3;
  image.bitsPerSample = bits;
  image.data.resize(image.RowBytes() * kTestHeight);
  for (int y = 0; y < kTestHeight; ++y) {
    for (int x = 0; x < kTestWidth; ++x) {
      const int v8[3] = {x * 255 / (kTestWidth - 1), y * 255 / (kTestHeight - 1),
                         ((x / 6 + y / 6) % 2) ? 200 : 60};
      for (int c = 0; c < 3; ++c) {
        const size_t i = (size_t(y) * kTestWidth + size_t(x)) * 3 + size_t(c);
        if (bits == 8) {
          image.data[i] = uint8_t(v8[c]);
          continue;
        }
        const int low = (x * 31 + y * 17 + c * 50) % 200 - 100;
        const uint16_t v = uint16_t(std::clamp(v8[c] * 257 + low, 0, 65535));
        std::memcpy(image.data.data() + 2 * i, &v, 2);
      }
    }
  }
  return image;
}

std::string SchemeHelpers() {
  return R"((define (areafill-load file)
  (let* ((image (car (file-png-load RUN-NONINTERACTIVE file file))))
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 5 6 12 9)
    (gimp-image-select-ellipse image CHANNEL-OP-ADD 29 17 23 17)
    image))
(define (areafill-save image file)
  (file-png-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))
                  file file 0 9 0 0 0 0 0 0 0))
(define (areafill-run file out run-mode method)
  (let* ((image (areafill-load file)))
    (plug-in-areafill run-mode image (car (gimp-image-get-active-drawable image)) method)
    (areafill-save image out)
    (gimp-image-delete image)))
)";
}

imagefile::FileImage ReadPng(const std::string& path) {
  imagefile::FileImage image;
  std::string error;
  EXPECT_TRUE(imagefile::ReadImage(path, &image, &error)) << error;
  return image;
}

}  // namespace gimp_test
