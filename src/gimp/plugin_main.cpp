// areafill for GIMP 2.10: registers the procedure plug-in-areafill under Filters → Enhance and
// runs the filter module on the drawable's selection, as a host of the filter plug-in
// interface built on the host kit. GIMP supplies the area, the selection, the colours, progress
// and scripting; the result goes through the shadow buffer, so GIMP masks it and records one
// undo step.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "gimp/drawable_area.h"
#include "gimp/gtk_dialog.h"
#include "gimp/run_plan.h"
#include "hostkit/host_call.h"
#include "hostkit/host_rules.h"
#include "hostkit/steady_progress.h"

namespace {

using namespace areafill_gimp;

constexpr char kProcedure[] = "plug-in-areafill";
constexpr char kBinary[] = "areafill";
// Progress is passed to GIMP when it has moved by this much (every row would flood its pipe).
constexpr int32_t kProgressStep = 5;  // of hostkit::kSteadyTotal

struct Outcome {
  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  std::string message;  // for GIMP's error report when the run did not succeed
};

Outcome Fail(GimpPDBStatusType status, std::string message) { return {status, std::move(message)}; }

gchar* Text(const char* text) { return const_cast<gchar*>(text); }

void Query() {
  std::string methods = "0: ask (interactive) or the filter's last choice (scripts)";
  for (const hostkit::FillMethod& method : hostkit::FillMethods())
    methods += "; " + std::to_string(method.choice) + ": " + method.name;
  static GimpParamDef args[] = {
      {GIMP_PDB_INT32, Text("run-mode"),
       Text("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1) }")},
      {GIMP_PDB_IMAGE, Text("image"), Text("Input image")},
      {GIMP_PDB_DRAWABLE, Text("drawable"), Text("Input drawable")},
      {GIMP_PDB_INT32, Text("method"), nullptr},
  };
  args[3].description = Text(methods.c_str());
  gimp_install_procedure(
      kProcedure, "Fill the selection from the pixels around it",
      "Replaces every selected pixel by a value built from the pixels around the selection: a "
      "membrane stretched over the selection's edge, the area's mean colour, the foreground "
      "colour, black, white, or a horizontal or vertical blend from the foreground to the "
      "background colour. Without a selection the whole drawable is filled from its outer ring.",
      "areafill", "areafill", "2026", "_Area Fill…", "RGB*, GRAY*", GIMP_PLUGIN, G_N_ELEMENTS(args),
      0, args, nullptr);
  gimp_plugin_menu_register(kProcedure, "<Image>/Filters/Enhance");
}

std::optional<int32_t> LastChoice() {
  const gint size = gimp_get_data_size(kProcedure);
  if (size != gint(sizeof(LastValues))) return std::nullopt;
  LastValues values{};
  gimp_get_data(kProcedure, &values);
  return DecodeLastValues(&values, sizeof values);
}

// The filter module: beside the plug-in (its installed folder), else in the build tree.
bool LoadModule(hostkit::FilterModule* module, std::string* error) {
  const std::string here = hostkit::ProgramFolder();
  const std::string path = hostkit::FirstExistingPath(
      {here + "/" + hostkit::kFilterModuleName, here + "/../../lib/" + hostkit::kFilterModuleName});
  return hostkit::LoadFilterModule(path, module, error);
}

Outcome RunProcedure(int32_t runMode, int32_t image, int32_t drawable, int32_t method) {
  const RunPlan plan = PlanRun(runMode, method, LastChoice());
  if (!plan.ok) return Fail(GIMP_PDB_CALLING_ERROR, plan.error);
  // Without a display (gimp-console in a batch) GTK cannot start, and gimp_ui_init would end the
  // plug-in. The dialog then reports that it cannot be shown, and the filter cancels the run.
  if (plan.showDialog && gtk_init_check(nullptr, nullptr)) gimp_ui_init(kBinary, FALSE);

  DrawableArea area;
  std::string error;
  switch (ReadDrawableArea(image, drawable, &area, &error)) {
    case AreaStatus::kNothingSelected:
      return {};  // as GIMP's own filters: nothing to do
    case AreaStatus::kFailed:
      return Fail(GIMP_PDB_EXECUTION_ERROR, error);
    case AreaStatus::kRead:
      break;
  }

  hostkit::HostCall call;
  call.run.foreground = ContextColour(true, area.format);
  call.run.background = ContextColour(false, area.format);
  // GIMP confines the result to the selection when it merges the shadow buffer, so the host
  // kit hands the filter the selection and masks nothing itself. Selection bytes that round to
  // 0 at 8 bits lie outside the filter's area; GIMP still merges them, from the original pixels.
  if (!area.mask.empty() &&
      !hostkit::SelectArea(&call.run, std::move(area.mask), area.layout.width, area.layout.height,
                           /*raw=*/true))
    return {};

  hostkit::FilterModule module;
  if (!LoadModule(&module, &error)) return Fail(GIMP_PDB_EXECUTION_ERROR, error);
  call.module = &module;
  call.choice.method = hostkit::FillMethodByChoice(plan.replayChoice);
  call.choice.showDialog = plan.showDialog;
  call.settings = hostkit::HostSettingsFromEnvironment();
  // The module shows its dialog through GTK, or, in a batch, not at all.
  call.settings.dialog = plan.showDialog ? kAreaFillDialogHost : kAreaFillDialogHeadless;
  call.settings.dialogHost = GtkDialogHost();

  gimp_progress_init("Area Fill");
  hostkit::SteadyProgress steady;
  int32_t shown = 0;
  call.run.progress = [&steady, &shown](int32_t done, int32_t total) {
    const int32_t count = steady.Count(done, total);
    if (count - shown < kProgressStep) return;
    shown = count;
    gimp_progress_update(double(count) / hostkit::kSteadyTotal);
  };

  hostkit::HostImage host = hostkit::StoredToHost(area.layout, area.samples.data());
  const hostkit::HostCallOutcome outcome = hostkit::RunHostCall(host, call);
  if (outcome.status == hostkit::HostCallStatus::kCancelled)
    return Fail(GIMP_PDB_CANCEL, "cancelled");
  if (outcome.status == hostkit::HostCallStatus::kFailed)
    return Fail(GIMP_PDB_EXECUTION_ERROR, outcome.message);

  hostkit::HostToStored(host, area.layout, area.samples.data(), area.samples.data());
  WriteDrawableArea(area, area.samples.data());
  gimp_progress_update(1.0);
  if (runMode == int32_t(RunMode::kInteractive)) {
    gimp_displays_flush();
    if (area.layout.depth == 32)
      g_message("Area Fill leaves 32-bit floating-point images as they are.");
  }
  for (const std::string& warning : outcome.warnings) g_message("Area Fill: %s", warning.c_str());
  if (outcome.ran) {
    const LastValues values = EncodeLastValues(outcome.ran->choice);
    gimp_set_data(kProcedure, &values, sizeof values);
  }
  return {};
}

void Run(const gchar* name, gint nparams, const GimpParam* params, gint* nreturn,
         GimpParam** returnValues) {
  static GimpParam values[2];
  static std::string message;
  gegl_init(nullptr, nullptr);

  Outcome outcome;
  if (nparams < 3) {
    outcome = Fail(GIMP_PDB_CALLING_ERROR, "expected run-mode, image and drawable");
  } else {
    try {
      outcome = RunProcedure(params[0].data.d_int32, params[1].data.d_image,
                             params[2].data.d_drawable, nparams >= 4 ? params[3].data.d_int32 : 0);
    } catch (const std::bad_alloc&) {
      outcome = Fail(GIMP_PDB_EXECUTION_ERROR, "out of memory");
    }
  }
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = outcome.status;
  *nreturn = 1;
  *returnValues = values;
  if (outcome.status != GIMP_PDB_SUCCESS && outcome.status != GIMP_PDB_CANCEL) {
    message = outcome.message;
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = message.data();
    *nreturn = 2;
  }
}

}  // namespace

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, Query, Run};

MAIN()
