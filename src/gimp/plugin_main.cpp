// areafill for GIMP 2.10: registers the procedure plug-in-areafill under Filters → Enhance and
// runs the filter module on the drawable's selection, as a host of the filter plug-in
// interface built on the host kit. GIMP supplies the area, the selection, the colours, progress
// and scripting; the result goes through the shadow buffer, so GIMP masks it and records one
// undo step.
#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <cstdlib>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "gimp/drawable_area.h"
#include "gimp/run_plan.h"
#include "hostkit/descriptor.h"
#include "hostkit/fill_methods.h"
#include "hostkit/filter_host.h"
#include "hostkit/host_rules.h"
#include "hostkit/module_loader.h"
#include "hostkit/status_text.h"

namespace {

using namespace areafill_gimp;

constexpr char kProcedure[] = "plug-in-areafill";
constexpr char kBinary[] = "areafill";
// Progress is passed to GIMP when it has moved by this much (every row would flood its pipe).
constexpr double kProgressStep = 0.005;

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
PluginEntryProc LoadModule(std::string* error) {
  const std::string here = hostkit::ProgramFolder();
  const std::string path = hostkit::FirstExistingPath(
      {here + "/" + hostkit::kFilterModuleName, here + "/../../lib/" + hostkit::kFilterModuleName});
  return hostkit::LoadFilterModule(path, error);
}

Outcome RunProcedure(int32_t runMode, int32_t image, int32_t drawable, int32_t method) {
  const RunPlan plan = PlanRun(runMode, method, LastChoice());
  if (!plan.ok) return Fail(GIMP_PDB_CALLING_ERROR, plan.error);
  // Without a display (gimp-console in a batch) GTK cannot start, and gimp_ui_init would end the
  // plug-in. The dialog then reports that it cannot be shown, and the filter cancels the run.
  if (plan.showDialog && gtk_init_check(nullptr, nullptr)) gimp_ui_init(kBinary, FALSE);
  // The module reaches its host only through its environment: it shows its dialog through the
  // dialog table this program exports, or not at all.
  ::setenv("AREAFILL_DIALOG", plan.dialogBackend, 1);

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

  hostkit::RunOptions run;
  run.foreground = ContextColour(true, area.format);
  run.background = ContextColour(false, area.format);
  // GIMP confines the result to the selection when it merges the shadow buffer, so the host
  // kit hands the filter the selection and masks nothing itself. Selection bytes that round to
  // 0 at 8 bits lie outside the filter's area; GIMP still merges them, from the original pixels.
  if (!area.mask.empty() &&
      !hostkit::SelectArea(&run, std::move(area.mask), area.layout.width, area.layout.height,
                           /*raw=*/true))
    return {};

  PluginEntryProc entry = LoadModule(&error);
  if (!entry) return Fail(GIMP_PDB_EXECUTION_ERROR, error);

  hostkit::ScriptingHost scripting;
  if (const hostkit::FillMethod* replay = hostkit::FillMethodByChoice(plan.replayChoice)) {
    hostkit::Descriptor descriptor;
    descriptor.Put(hostkit::FillMethodDescriptorItem(*replay));
    if (!scripting.SetPlay(descriptor, plan.playInfo))
      return Fail(GIMP_PDB_EXECUTION_ERROR, "out of memory");
  } else {
    scripting.descriptorParameters()->playInfo = plan.playInfo;
  }
  run.descriptorParameters = scripting.descriptorParameters();
  run.handleProcs = scripting.handleProcs();

  gimp_progress_init("Area Fill");
  double shown = 0;
  run.progress = [&shown](int32_t done, int32_t total) {
    const double fraction = total > 0 ? double(done) / double(total) : 0;
    if (fraction - shown < kProgressStep && fraction < 1) return;
    shown = fraction;
    gimp_progress_update(fraction);
  };

  hostkit::HostImage host = hostkit::StoredToHost(area.layout, area.samples.data());
  hostkit::RunReport report;
  intptr_t data = 0;
  int16_t result;
  {
    hostkit::ScriptingHost::Activation active(scripting);
    result = hostkit::RunFilter(entry, host, run, &data, &report);
  }
  hostkit::ReleasePluginData(&data);
  if (result == userCanceledErr) return Fail(GIMP_PDB_CANCEL, "cancelled");
  if (result != 0)
    return Fail(GIMP_PDB_EXECUTION_ERROR, hostkit::DescribeFailure(result, report.failedSelector));

  hostkit::HostToStored(host, area.layout, area.samples.data(), area.samples.data());
  WriteDrawableArea(area, area.samples.data());
  gimp_progress_update(1.0);
  if (runMode == int32_t(RunMode::kInteractive)) {
    gimp_displays_flush();
    if (area.layout.depth == 32)
      g_message("Area Fill leaves 32-bit floating-point images as they are.");
  }

  hostkit::Descriptor recorded;
  if (scripting.TakeRecorded(&recorded)) {
    if (const hostkit::FillMethod* ran = hostkit::RecordedMethod(recorded)) {
      const LastValues values = EncodeLastValues(ran->choice);
      gimp_set_data(kProcedure, &values, sizeof values);
    }
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
