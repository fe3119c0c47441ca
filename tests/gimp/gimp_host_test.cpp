// The plug-in inside a real, headless GIMP 2.10 (gimp-console with Script-Fu) against the
// command-line host, on a PNG with a rectangular and an elliptical selection: every method at 8
// and 16 bits, a grey image with alpha, float images, a layer moved against the image, the
// run modes; and, under Xvfb, that the dialog opens and that OK and Cancel reach the filter.
//
// What differs between the hosts is the masking. GIMP merges the result through the selection
// in linear light, so where the selection is hard (fully in or out) GIMP gives the command-line
// host's unmasked (--raw) output or the original, bit for bit; where it is partial (the
// ellipse's anti-aliased rim) m × filtered + (1 − m) × original computed on linear-light
// values, within one unit (babl's fast approximation of the sRGB curve lands one unit off the
// exact curve for some 16-bit samples).
//
// Each GIMP runs in a throw-away profile with the plug-in installed by the install script, its
// own home and Preferences folder, limited to the plug-ins the tests use. GIMP missing is a
// failure, not a reason to skip: these tests are the plug-in's proof.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "hostkit/fill_methods.h"
#include "imagefile/image_io.h"

namespace {

namespace fs = std::filesystem;
using imagefile::FileImage;

std::string Scheme(const std::string& text) {  // a Scheme string literal
  std::string out = "\"";
  for (char c : text) out += (c == '"' || c == '\\') ? std::string("\\") + c : std::string(1, c);
  return out + "\"";
}
std::string Word(const std::string& text) {  // one shell word
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

const fs::path kInput = AREAFILL_SOURCE_DIR "/tests/golden/inputs/rgb16.png";
fs::path gRoot;  // the session's folder: home, profile, prefs, work; removed at the end

fs::path Work(const std::string& name) { return gRoot / "work" / name; }

// Runs `command` through the shell in the session (its environment set by MakeSession), its
// output appended to *log. Returns its exit status, -1 when it could not run.
int RunInSession(const std::string& command, std::string* log) {
  const int status =
      std::system(("(" + command + ") >" + Word((gRoot / "log").string()) + " 2>&1").c_str());
  std::ifstream in(gRoot / "log");
  log->append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes the session: GIMP's own Script-Fu and PNG plug-ins linked into a fresh profile, ours
// installed as a user installs it, and this process's environment pointing GIMP, the filter's
// preferences and the home folders into it, without a display. Returns "" or what went wrong.
std::string MakeSession() {
  if (!gRoot.empty()) return "";
  if (std::system("command -v gimp-console-2.10 >/dev/null") != 0)
    return "gimp-console-2.10 is not installed (scripts/install-deps.sh installs it)";
  std::string pattern = (fs::temp_directory_path() / "areafill-gimp-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return "cannot make a temporary folder";
  gRoot = pattern;
  std::atexit([] {
    std::error_code ec;
    fs::remove_all(gRoot, ec);
  });
  for (const char* folder : {"home", "profile/system-plug-ins", "prefs", "work"})
    fs::create_directories(gRoot / folder);
  for (const char* name : {"AREAFILL_DIALOG", "GIMP2_SYSCONFDIR", "DISPLAY", "WAYLAND_DISPLAY"})
    unsetenv(name);
  for (const auto& [name, folder] : {std::pair{"HOME", "home"},
                                     {"XDG_CONFIG_HOME", "home/.config"},
                                     {"XDG_CACHE_HOME", "home/.cache"},
                                     {"GIMP2_DIRECTORY", "profile"},
                                     {"AREAFILL_PREFS_DIR", "prefs"}})
    setenv(name, (gRoot / folder).c_str(), 1);
  for (const char* plugin : {"script-fu", "file-png", "file-tiff"})
    fs::create_directory_symlink(fs::path(AREAFILL_GIMP_LIBDIR) / "plug-ins" / plugin,
                                 gRoot / "profile/system-plug-ins" / plugin);
  std::ofstream(gRoot / "profile/gimprc") << "(plug-in-path "
                                          << Scheme((gRoot / "profile/plug-ins").string() + ":" +
                                                    (gRoot / "profile/system-plug-ins").string())
                                          << ")\n";
  std::string log;
  if (RunInSession(Word(AREAFILL_SOURCE_DIR "/scripts/install-gimp-plugin.sh") + " " +
                       Word(AREAFILL_BUILD_DIR),
                   &log) != 0)
    return "the install script failed: " + log;
  return "";
}

// The shell command that runs the Script-Fu `script` in gimp-console and quits. A plug-in
// built with sanitizers checks its own memory; GIMP's libraries keep allocations that
// LeakSanitizer cannot tell from leaks, so leak reports are off.
std::string GimpBatch(const std::string& name, const std::string& script) {
  std::ofstream(Work(name)) << script;
  return "ASAN_OPTIONS=detect_leaks=0 gimp-console-2.10 -i -d -f -b " +
         Word("(load " + Scheme(Work(name).string()) + ")") + " -b '(gimp-quit 0)'";
}

FileImage Read(const std::string& name) {
  FileImage image;
  std::string error;
  EXPECT_TRUE(imagefile::ReadImage(Work(name).string(), &image, &error)) << error;
  return image;
}

uint32_t Sample(const FileImage& image, int x, int y, int c) {
  const size_t i =
      (size_t(y) * size_t(image.width) + size_t(x)) * size_t(image.SamplesPerPixel()) + size_t(c);
  uint16_t v = image.data[i];
  if (image.bitsPerSample == 16) std::memcpy(&v, image.data.data() + 2 * i, 2);
  return v;
}

bool SamePixels(const FileImage& a, const FileImage& b) {
  return a.width == b.width && a.bitsPerSample == b.bitsPerSample && a.data == b.data;
}

// The images compared: the golden runs' 16-bit RGB input (smooth ramps with a grain of their
// own in the low bits), the same as GIMP converts it to 8 bits, and that as GIMP turns it into
// grey with an alpha plane, which the filter carries through as an extra plane.
struct Kind {
  const char* name;
  int depth, colourPlanes;
};
constexpr Kind kRgb8 = {"rgb8", 8, 3}, kRgb16 = {"rgb16", 16, 3}, kGreyAlpha8 = {"greya8", 8, 1};
constexpr Kind kKinds[] = {kRgb16, kGreyAlpha8, kRgb8};  // the last run: rgb8, vblend

std::string Name(const std::string& what, const Kind& kind, const std::string& method = "") {
  return what + "-" + kind.name + (method.empty() ? "" : "-" + method) + ".png";
}
// Every method on the 8-bit RGB image (the colour methods take GIMP's colours there, the
// command line the same as --fg and --bg); the membrane fill alone on the other kinds, for their
// precision and planes: the masking is the same whatever the method.
bool Compared(const Kind& kind, const hostkit::FillMethod& method) {
  return (kind.depth == 8 && kind.colourPlanes == 3) || std::string(method.name) == "membrane";
}

// Script-Fu the scripts start with, for a work folder where (in NAME) names its files.
// (areafill-load FILE DX DY) loads a PNG, moves its layer by (DX, DY) and selects a rectangle
// (hard-edged) and an ellipse (anti-aliased) over the layer's (5, 6) and (29, 17);
// (areafill-run FILE OUT RUN-MODE METHOD) loads, runs the plug-in and saves; (areafill-say WHAT
// RESULT) puts a line into GIMP's output.
std::string Helpers() {
  return "(define (in name) (string-append " + Scheme(Work("").string()) + R"( name))
(define (areafill-load file dx dy)
  (let* ((image (car (file-png-load RUN-NONINTERACTIVE (in file) file))))
    (gimp-layer-set-offsets (car (gimp-image-get-active-drawable image)) dx dy)
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE (+ 5 dx) (+ 6 dy) 12 9)
    (gimp-image-select-ellipse image CHANNEL-OP-ADD (+ 29 dx) (+ 17 dy) 23 17)
    image))
(define (areafill-save image file)
  (file-png-save2 RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))
                  (in file) file 0 9 0 0 0 0 0 0 0))
(define (areafill-call image run-mode method)
  (car (plug-in-areafill run-mode image (car (gimp-image-get-active-drawable image)) method)))
(define (areafill-run file out run-mode method)
  (let* ((image (areafill-load file 0 0)))
    (areafill-call image run-mode method)
    (areafill-save image out)))
(define (areafill-say what result) (gimp-message (string-append "areafill-test: " what result)))
)";
}

// The cross-host run. The masks hold the selection as GIMP merges with it and as the plug-in
// reads it: an 8-bit image's holds its 8-bit values in a channel that GIMP's conversions take
// for perceptual, so it goes unconverted into a perceptual 8-bit image; a 16-bit image's is
// linear 16-bit, saved as it is and then at 8 bits for the command line. Then the methods
// compared; "Repeat" (this session's last choice: vblend) and a script's method 0 (the
// filter's remembered one: vblend); the moved layer; single and half float images;
// an interactive call without a display; a method outside the table.
std::string CompareScript() {
  std::string script = Helpers() + R"((define (areafill-mask file mask8 mask16)
  (let* ((image (areafill-load file 0 0))
         (saved (car (gimp-selection-save image)))
         (mask (car (gimp-image-new (car (gimp-image-width image)) (car (gimp-image-height image))
                                    GRAY))))
    (if mask16 (gimp-image-convert-precision mask PRECISION-U16-LINEAR))
    (gimp-image-insert-layer mask (car (gimp-layer-new-from-drawable saved mask)) 0 0)
    (if mask16 (begin (areafill-save mask mask16)
                      (gimp-image-convert-precision mask PRECISION-U8-LINEAR)))
    (areafill-save mask mask8)))
(define (areafill-float out half)
  (let* ((image (car (file-tiff-load RUN-NONINTERACTIVE (in "in-float.tif") "")))
         (drawable (car (gimp-image-get-active-drawable image)))
         (float (car (gimp-image-get-precision image))))
    (if half (begin (gimp-image-convert-precision image (- float 100))
                    (gimp-image-convert-precision image float)
                    (file-tiff-save RUN-NONINTERACTIVE image drawable (in "in-half.tif") "" 0)
                    (gimp-image-convert-precision image (- float 100))))
    (gimp-image-select-rectangle image CHANNEL-OP-REPLACE 5 6 12 9)
    (areafill-call image RUN-NONINTERACTIVE 3)
    (if half (gimp-image-convert-precision image float))
    (file-tiff-save RUN-NONINTERACTIVE image drawable (in out) "" 0)))
(gimp-context-set-foreground '(200 40 10))
(gimp-context-set-background '(20 90 230))
(let* ((image (car (file-png-load RUN-NONINTERACTIVE (in "in-rgb16.png") ""))))
  (gimp-image-convert-precision image PRECISION-U8-GAMMA)
  (areafill-save image "in-rgb8.png"))
(areafill-mask "in-rgb8.png" "mask-rgb8.png" #f)
(areafill-mask "in-rgb16.png" "mask-rgb16-8.png" "mask-rgb16.png")
(let* ((image (car (file-png-load RUN-NONINTERACTIVE (in "in-rgb8.png") ""))))
  (gimp-image-convert-grayscale image)
  (gimp-layer-add-alpha (car (gimp-image-get-active-drawable image)))
  (areafill-save image "in-greya8.png"))
)";
  for (const Kind& kind : kKinds)
    for (const hostkit::FillMethod& method : hostkit::FillMethods())
      if (Compared(kind, method))
        script += "(areafill-run " + Scheme(Name("in", kind)) + " " +
                  Scheme(Name("gimp", kind, method.name)) + " RUN-NONINTERACTIVE " +
                  std::to_string(method.choice) + ")\n";
  return script + R"((areafill-run "in-rgb8.png" "repeat.png" RUN-WITH-LAST-VALS 0)
(areafill-run "in-rgb8.png" "remembered.png" RUN-NONINTERACTIVE 0)
(let* ((image (areafill-load "in-rgb8.png" 3 4)))
  (areafill-call image RUN-NONINTERACTIVE 3)
  (areafill-save image "moved.png"))
(areafill-float "gimp-float.tif" #f)
(areafill-float "gimp-half.tif" #t)
(areafill-say "no display " (catch "failed" (if (areafill-call (areafill-load "in-rgb8.png" 0 0)
  RUN-INTERACTIVE 0) "ran" "cancelled")))
(areafill-say "method 2 " (catch "refused"
  (areafill-run "in-rgb8.png" "bad.png" RUN-NONINTERACTIVE 2) "accepted"))
)";
}

struct BothRuns {
  std::string error;  // "" or why the tests cannot run
  std::string gimpLog;
};

// The float input: the 16-bit input times 2, so that the float rule's scale is above 1; and the
// rectangle that the float runs select, as a mask for the command line.
void _WriteFloatInputs() {
  FileImage image = Read("in-rgb16.png"), mask;
  std::vector<uint8_t> floats(image.data.size() * 2);
  for (size_t i = 0; i < floats.size() / 4; ++i) {
    const float v = float(Sample(image, int(i / 3 % size_t(image.width)),
                                 int(i / 3 / size_t(image.width)), int(i % 3)) /
                          32767.5);
    std::memcpy(floats.data() + 4 * i, &v, 4);
  }
  image.bitsPerSample = 32;
  image.data.Assign(floats, image.RowBytes());
  mask.width = image.width;
  mask.height = image.height;
  mask.data = hostkit::PixelRows(mask.RowBytes(), mask.height);
  for (int y = 6; y < 15; ++y) std::memset(&mask.data[size_t(y * image.width + 5)], 255, 12);
  std::string error;
  EXPECT_TRUE(imagefile::WriteImage(Work("in-float.tif").string(), image, &error) &&
              imagefile::WriteImage(Work("mask-rect.png").string(), mask, &error))
      << error;
}

// Runs GIMP and the command-line host (unmasked) once, for every test of the program.
BothRuns _RunBoth() {
  BothRuns run;
  run.error = MakeSession();
  if (run.error.empty()) fs::copy_file(kInput, Work("in-rgb16.png"));
  if (run.error.empty()) _WriteFloatInputs();
  if (run.error.empty() && RunInSession(GimpBatch("compare.scm", CompareScript()), &run.gimpLog))
    run.error = "gimp-console failed:\n" + run.gimpLog;
  const auto program = [&run](const std::string& in, const std::string& out,
                              const std::string& mask, const std::string& method) {
    const std::string command =
        Word(AREAFILL_PROGRAM) + " " + Word(Work(in).string()) + " -o " + Word(Work(out).string()) +
        " --mask " + Word(Work(mask).string()) + " --method " + method +
        " --fg '#c8280a' --bg '#145ae6' --raw -q --prefs " + Word((gRoot / "cli-prefs").string());
    std::string output;
    if (run.error.empty() && RunInSession(command, &output) != 0)
      run.error = "areafill failed: " + output + run.gimpLog;
  };
  for (const Kind& kind : kKinds)
    for (const hostkit::FillMethod& method : hostkit::FillMethods())
      if (Compared(kind, method))
        program(Name("in", kind), Name("raw", kind, method.name),
                kind.depth == 8 ? "mask-rgb8.png" : "mask-rgb16-8.png", method.name);
  program("in-float.tif", "raw-float.tif", "mask-rect.png", "membrane");
  program("in-half.tif", "raw-half.tif", "mask-rect.png", "membrane");
  return run;
}
const BothRuns& RunBoth() {
  static const BothRuns run = _RunBoth();
  return run;
}

// The sRGB tone curve, as GIMP's babl applies it.
double ToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double FromLinear(double l) {
  return l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
}

// The first sample of GIMP's output that breaks the rules of the masking above (alpha is carried
// through untouched), or "".
std::string FirstMismatch(const Kind& kind, const std::string& method) {
  const FileImage original = Read(Name("in", kind)), gimp = Read(Name("gimp", kind, method)),
                  raw = Read(Name("raw", kind, method)),
                  mask = Read(kind.depth == 8 ? "mask-rgb8.png" : "mask-rgb16.png");
  if (gimp.bitsPerSample != kind.depth || mask.bitsPerSample != kind.depth ||
      gimp.SamplesPerPixel() != kind.colourPlanes + (kind.colourPlanes == 1 ? 1 : 0) ||
      gimp.data.size() != original.data.size())
    return "not the image's layout";
  const double full = kind.depth == 8 ? 255.0 : 65535.0;
  int partial = 0, changed = 0;
  for (int y = 0; y < original.height; ++y)
    for (int x = 0; x < original.width; ++x) {
      const uint32_t m = Sample(mask, x, y, 0);
      const bool hard = m == 0 || m == uint32_t(full);
      partial += hard ? 0 : 1;
      for (int c = 0; c < gimp.SamplesPerPixel(); ++c) {
        const int g = int(Sample(gimp, x, y, c)), o = int(Sample(original, x, y, c));
        const int f = int(Sample(raw, x, y, c));
        changed += g != o;
        const double t = m / full;
        const int blend = int(
            std::lround(FromLinear(t * ToLinear(f / full) + (1 - t) * ToLinear(o / full)) * full));
        const int expected = c >= kind.colourPlanes || m == 0 ? o : hard ? f : blend;
        if (std::abs(g - expected) > (hard || c >= kind.colourPlanes ? 0 : 1))
          return "at (" + std::to_string(x) + ", " + std::to_string(y) + ") plane " +
                 std::to_string(c) + ", mask " + std::to_string(m) + ": " + std::to_string(g) +
                 " where " + std::to_string(expected) + " was expected";
      }
    }
  return changed == 0 ? "the filter changed nothing" : partial == 0 ? "no partial selection" : "";
}

TEST(GimpMatchesAreafill, HardSelectionIsExactAndPartialBlendsInLinearLight) {
  ASSERT_EQ(RunBoth().error, "");
  for (const Kind& kind : kKinds)
    for (const hostkit::FillMethod& method : hostkit::FillMethods()) {
      if (!Compared(kind, method)) continue;
      EXPECT_EQ(FirstMismatch(kind, method.name), "") << kind.name << ", " << method.name;
    }
}

// "Repeat" replays this session's last choice, a script's 0 the filter's remembered one (both
// vblend here); a call for the dialog without a display is cancelled; methods outside the table
// are refused.
TEST(GimpMatchesAreafill, RunModes) {
  const BothRuns& run = RunBoth();
  ASSERT_EQ(run.error, "");
  EXPECT_TRUE(SamePixels(Read("repeat.png"), Read(Name("gimp", kRgb8, "vblend"))));
  EXPECT_TRUE(SamePixels(Read("remembered.png"), Read(Name("gimp", kRgb8, "vblend"))));
  EXPECT_NE(run.gimpLog.find("areafill-test: no display cancelled"), std::string::npos);
  EXPECT_NE(run.gimpLog.find("areafill-test: method 2 refused"), std::string::npos);
  EXPECT_FALSE(fs::exists(Work("bad.png"))) << run.gimpLog;
}

// The first float sample of GIMP's output `name` that is not the program's `raw` one from `in`:
// exactly where the program kept the input, else within `relative` (GIMP merges a perceptual float
// image's result in linear light, and a half float rounds it to 11 bits), or "". The round trip
// through linear light is GIMP's: its libraries load code built for the processor's instruction
// set, and the round trip's error moves with it (7e-7 here, over 2e-6 on another machine), so
// single floats are held to 2e-5, still under one step of the float rule (1/32768 of the scale,
// which no sample exceeds).
std::string FirstFloatMismatch(const std::string& name, const std::string& raw,
                               const std::string& input, double relative) {
  const FileImage gimp = Read(name), program = Read(raw), in = Read(input);
  if (gimp.bitsPerSample != 32 || gimp.data.size() != program.data.size()) return "layout";
  for (size_t i = 0; i < gimp.data.size(); i += 4) {
    float g = 0, p = 0, o = 0;
    std::memcpy(&g, gimp.data.data() + i, 4);
    std::memcpy(&p, program.data.data() + i, 4);
    std::memcpy(&o, in.data.data() + i, 4);
    if (p == o ? g != p : std::abs(g - p) > std::abs(p) * relative + 1e-7)
      return "sample " + std::to_string(i / 4) + ": " + std::to_string(g) + ", not " +
             std::to_string(p);
  }
  return "";
}

// The selection lies over the image: a layer moved with its selection is filled the same. Float
// drawables (single and half) are filled by the program's float rule, HDR values kept.
TEST(GimpMatchesAreafill, MovedLayersAndFloatImages) {
  ASSERT_EQ(RunBoth().error, "");
  EXPECT_TRUE(SamePixels(Read("moved.png"), Read(Name("gimp", kRgb8, "membrane"))));
  EXPECT_FALSE(SamePixels(Read("raw-float.tif"), Read("in-float.tif")));
  EXPECT_EQ(FirstFloatMismatch("gimp-float.tif", "raw-float.tif", "in-float.tif", 2e-5), "");
  EXPECT_EQ(FirstFloatMismatch("gimp-half.tif", "raw-half.tif", "in-half.tif", 1.0 / 2048), "");
}

// Under Xvfb, synthetic key presses answer two interactive runs after a script's run of the
// mean colour: Return runs the choice the dialog opened on, once its preview has finished, and
// the preview's samples are OK's; Escape cancels and leaves the image.
TEST(GimpDialog, OpensOnTheLastChoiceReturnRunsItEscapeCancels) {
  ASSERT_EQ(MakeSession(), "");
  ASSERT_EQ(std::system("command -v xvfb-run >/dev/null && command -v xdotool >/dev/null"), 0)
      << "xvfb-run and xdotool are needed (scripts/install-deps.sh installs them)";
  std::string log;
  setenv("AREAFILL_PREVIEW_DUMP", Work("preview.raw").c_str(), 1);
  fs::copy_file(kInput, Work("in-rgb16.png"), fs::copy_options::overwrite_existing);
  const std::string batch = GimpBatch("dialog.scm", Helpers() + R"(
(areafill-save (areafill-load "in-rgb16.png" 0 0) "in.png")
(areafill-run "in-rgb16.png" "script.png" RUN-NONINTERACTIVE 4)
(areafill-run "in-rgb16.png" "ok.png" RUN-INTERACTIVE 0)
(let* ((image (areafill-load "in-rgb16.png" 0 0)))
  (areafill-say "second dialog " (if (areafill-call image RUN-INTERACTIVE 0) "ran" "cancelled"))
  (areafill-save image "cancel.png"))
)");
  // The next dialog's window may get the id of the one before, so it is told apart by the
  // first one having gone. -noreset keeps the display between the plug-in's two runs.
  const std::string preview = "preview=" + Word(Work("preview.raw").string()) + "\n";
  const std::string driver = preview + "(" + batch + R"() & gimp=$!
dialog() { timeout 60 xdotool search --sync --onlyvisible --name '^Area Fill$' | head -n 1; }
w=$(dialog) && for i in $(seq 300); do [ -f "$preview" ] && break; sleep 0.1; done
xdotool windowfocus --sync $w key Return
for i in $(seq 300); do
  xdotool search --onlyvisible --name '^Area Fill$' | grep -qx $w || break; sleep 0.1
done
w=$(dialog) && xdotool windowfocus --sync $w key Escape
wait $gimp)";
  ASSERT_EQ(
      RunInSession("xvfb-run -a -s '-screen 0 1024x768x24 -noreset' sh -c " + Word(driver), &log),
      0)
      << log;
  EXPECT_NE(log.find("areafill-test: second dialog cancelled"), std::string::npos) << log;
  EXPECT_TRUE(SamePixels(Read("ok.png"), Read("script.png"))) << "Return ran the mean colour";
  EXPECT_TRUE(SamePixels(Read("cancel.png"), Read("in.png")));
  // The preview holds the selection's bounds, (5, 6) to (52, 34), as the drawable's 16-bit
  // samples; OK wrote them unblended over the rectangle (5, 6) to (17, 15).
  std::ifstream dump(Work("preview.raw"), std::ios::binary);
  const std::vector<char> samples{std::istreambuf_iterator<char>(dump), {}};
  const FileImage ok = Read("ok.png");
  ASSERT_EQ(samples.size(), size_t(47 * 28 * 3 * 2));
  for (int y = 6; y < 15; ++y)
    for (int x = 5; x < 17; ++x)
      for (int c = 0; c < 3; ++c) {
        uint16_t v = 0;
        std::memcpy(&v, &samples[2 * size_t(((y - 6) * 47 + x - 5) * 3 + c)], 2);
        ASSERT_EQ(v, Sample(ok, x, y, c)) << "(" << x << ", " << y << ") plane " << c;
      }
}

}  // namespace
