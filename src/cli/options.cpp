// The program's options and their parsing.
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "hostkit/fill_methods.h"
#include "hostkit/status_text.h"

#ifndef AREAFILL_VERSION
#define AREAFILL_VERSION "0.0.0"
#endif

namespace areafill_cli {

namespace {

// One line per method: name, choice and what it does.
void _PrintMethods() {
  for (const hostkit::FillMethod& method : hostkit::FillMethods())
    std::printf("%-11s %d  %s\n", method.name, method.choice, method.description);
}

int _UsageError(const std::string& message) {
  std::fprintf(stderr, "areafill: %s\n", hostkit::OneLine(message).c_str());
  return kExitBadInput;
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, char** argv, Options* options) {
  CLI::App app{"areafill: fill the selected area of an image from the pixels around it.\n"};
  app.set_version_flag("--version", std::string("areafill ") + AREAFILL_VERSION);
  bool listMethods = false;
  app.add_flag("--list-methods", listMethods, "List the fill methods and exit");
  app.add_option("INPUT", options->input, "Image to fill (PNG, TIFF or JPEG)")->type_name("FILE");
  app.add_option("-o,--output", options->output,
                 "Where to write the result; .png, .tif, .tiff or .jpg picks the format")
      ->type_name("FILE");
  app.add_option("--mask", options->mask,
                 "Selection: grey PNG/TIFF (1 to 16 bits, palette of greys or RGB with R = G = B) "
                 "the size of INPUT, white = selected; with transparency, the selection is where "
                 "the paint is; a mask of only 0 and 1 means 0 and 255. Without it the whole "
                 "image is filled from its outer ring")
      ->type_name("FILE");
  app.add_option("--method", options->method, "Fill method (skips the dialog); see --list-methods")
      ->type_name("NAME");
  app.add_option("--fg", options->fg, "Foreground colour (default #000000)")->type_name("#rrggbb");
  app.add_option("--bg", options->bg, "Background colour (default #ffffff)")->type_name("#rrggbb");
  app.add_flag("--raw", options->raw,
               "Write the filter's rows as they are, without masking by MASK");
  app.add_option("--quality", options->quality,
                 "Quality (1 to 100, default 95) of a JPEG written from a PNG or TIFF; a JPEG "
                 "written from a JPEG re-encodes only the 8x8 blocks the fill changed")
      ->check(CLI::Range(1, 100).description(""))
      ->type_name("N");
  app.add_option("--prefs", options->prefs,
                 "Preferences folder (preferences file and scratch files)")
      ->type_name("DIR");
  app.add_flag("-q,--quiet", options->quiet, "No progress and no summary");
  app.add_flag("--dialog", options->dialog,
               "Show the choice dialog even when replaying or not on a terminal");
  app.add_option("--record", options->record, "Write the recorded action (JSON) to FILE")
      ->type_name("FILE");
  app.add_option("--replay", options->replay, "Replay a recorded action (JSON) from FILE")
      ->type_name("FILE");
  app.add_option("--page", options->page,
                 "The page of a multi-page TIFF to fill (default 1); a TIFF output keeps every "
                 "other page unchanged")
      ->type_name("N")
      ->check(CLI::PositiveNumber);
  app.add_option("--mask-orientation", options->maskOrientation,
                 "displayed (default): MASK, as its own orientation tag shows it, covers INPUT "
                 "as INPUT's tag shows it, and is turned into INPUT's stored layout; stored: "
                 "MASK's stored pixels cover INPUT's stored pixels. OUTPUT keeps INPUT's stored "
                 "layout and orientation tag")
      ->type_name("displayed|stored")
      ->check(CLI::IsMember({"displayed", "stored"}));
  app.add_option("--float", options->floats,
                 "32-bit float images: fill (through the filter's 16-bit scale, keeping values "
                 "above 1) or pass (written back unfilled, with a warning); default fill")
      ->type_name("fill|pass")
      ->check(CLI::IsMember({"fill", "pass"}));
  app.add_option("--plugin", options->plugin, "Filter module to load instead of the built-in one")
      ->type_name("PATH");
  app.footer(
      "Examples:\n"
      "  areafill photo.png --mask hole.png -o filled.png\n"
      "  areafill scan.tif --mask dust.png --method mean --quiet -o cleaned.tif\n\n"
      "Without --method or --replay the choice dialog appears on a terminal; elsewhere the\n"
      "method of the last run (remembered in the preferences folder) is used.\n"
      "Exit status: 0 done, 1 bad usage or input, 3 the filter failed, 130 cancelled.");

  try {
    app.parse(argc, argv);
    options->qualityAsked = app.count("--quality") > 0;
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return _UsageError(e.what());
  }
  if (listMethods) {
    _PrintMethods();
    return kExitOk;
  }
  if (options->input.empty()) return _UsageError("missing INPUT (see --help)");
  if (options->output.empty()) return _UsageError("missing -o OUTPUT (see --help)");
  if (!options->method.empty() && !options->replay.empty())
    return _UsageError("--method and --replay cannot be used together");
  return std::nullopt;
}

}  // namespace areafill_cli
