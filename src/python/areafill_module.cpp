// The extension `areafill._areafill` under the Python package `areafill`: the filter on NumPy
// arrays. A host beside the command-line program: it checks the arrays, converts them to the
// host's scale with the shared host rules, runs the filter module with the GIL released, and
// returns a new array. The package's __init__.py gives these functions their signatures.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/host_rules.h"
#include "hostkit/steady_progress.h"
#include "hostkit/stored_samples.h"
#include "python/array_layout.h"
#include "python/docstrings.h"
#include "python/file_info.h"
#include "python/fill_run.h"

#ifndef AREAFILL_VERSION
#define AREAFILL_VERSION "0.0.0"
#endif

namespace py = pybind11;

namespace areafill_py {
namespace {

// The C++ side of areafill.Cancelled (a KeyboardInterrupt).
struct CancelledError : std::exception {
  const char* what() const noexcept override { return "cancelled"; }
};

// How often, at most, a run looks for a pending signal (Ctrl-C) while the GIL is released.
constexpr auto kSignalCheckInterval = std::chrono::milliseconds(100);

[[noreturn]] void _Refuse(const std::string& message) { throw py::value_error(message); }

std::string _Repr(py::handle value) { return py::repr(value).cast<std::string>(); }

std::string _TypeName(py::handle value) {
  return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

// Bits per sample of an image array's dtype, or 0 when it is not one the module takes.
int _DepthOf(const py::array& array) {
  if (py::isinstance<py::array_t<uint8_t>>(array)) return 8;
  if (py::isinstance<py::array_t<uint16_t>>(array)) return 16;
  if (py::isinstance<py::array_t<float>>(array)) return 32;
  return 0;
}

// Checks `image` and returns it as a C-contiguous array (a copy only when it is not one),
// with its layout in `*layout`. `dtypes` names the sample types the caller takes.
py::array _ImageArray(py::handle image, hostkit::StoredLayout* layout, const char* dtypes) {
  if (!py::isinstance<py::array>(image))
    _Refuse("image: expected a NumPy array, got " + _TypeName(image));
  auto array = py::reinterpret_borrow<py::array>(image);
  const int depth = _DepthOf(array);
  if (depth == 0) {
    _Refuse(std::string("image: expected ") + dtypes + " samples, got " +
            py::str(array.dtype()).cast<std::string>());
  }
  if (array.ndim() != 2 && array.ndim() != 3) {
    _Refuse("image: expected an HxW or HxWxC array, got " + std::to_string(array.ndim()) +
            " dimensions");
  }
  const int64_t channels = array.ndim() == 3 ? int64_t(array.shape(2)) : 1;
  std::string problem = ArrayLayout(array.shape(0), array.shape(1), channels, depth, layout);
  if (!problem.empty()) _Refuse("image: " + problem);
  return py::array::ensure(array, py::array::c_style);
}

// The selection bytes of `mask`: H×W, uint8 as it is or bool as 0 and 255.
std::vector<uint8_t> _MaskBytes(py::handle mask, const hostkit::StoredLayout& layout) {
  if (!py::isinstance<py::array>(mask))
    _Refuse("mask: expected a NumPy array, got " + _TypeName(mask));
  auto array = py::reinterpret_borrow<py::array>(mask);
  const bool isBool = py::isinstance<py::array_t<bool>>(array);
  if (!isBool && !py::isinstance<py::array_t<uint8_t>>(array)) {
    _Refuse("mask: expected uint8 or bool samples, got " +
            py::str(array.dtype()).cast<std::string>());
  }
  if (array.ndim() != 2) {
    _Refuse("mask: expected an HxW array, got " + std::to_string(array.ndim()) + " dimensions");
  }
  if (array.shape(0) != layout.height || array.shape(1) != layout.width) {
    _Refuse("mask: the mask is " + std::to_string(array.shape(0)) + "x" +
            std::to_string(array.shape(1)) + " (HxW) but the image is " +
            std::to_string(layout.height) + "x" + std::to_string(layout.width));
  }
  py::array packed = py::array::ensure(array, py::array::c_style);
  const auto* bytes = static_cast<const uint8_t*>(packed.data());
  std::vector<uint8_t> out(bytes, bytes + size_t(layout.width) * size_t(layout.height));
  if (isBool)
    for (uint8_t& b : out) b = b ? 255 : 0;
  return out;
}

// A colour given as three integers 0..255.
std::array<uint8_t, 3> _Colour(py::handle value, const char* name) {
  auto refuse = [&] {
    _Refuse(std::string(name) + ": expected a colour like (26, 43, 60) or \"#1a2b3c\", got " +
            _Repr(value));
  };
  std::array<uint8_t, 3> rgb{};
  if (py::isinstance<py::str>(value)) {
    if (!hostkit::ParseHexColour(value.cast<std::string>(), &rgb)) refuse();
    return rgb;
  }
  if (py::isinstance<py::bytes>(value) || !py::isinstance<py::sequence>(value)) refuse();
  auto items = py::reinterpret_borrow<py::sequence>(value);
  if (items.size() != 3) refuse();
  for (size_t i = 0; i < 3; ++i) {
    py::object item = items[i];
    if (py::isinstance<py::bool_>(item) || !py::hasattr(item, "__index__")) refuse();
    // Compared as Python integers: any size is told apart from 0..255 without overflowing.
    const py::int_ v(item);
    if (v < py::int_(0) || v > py::int_(255)) refuse();
    rgb[i] = uint8_t(v.cast<int>());
  }
  return rgb;
}

// A path argument as the file system takes it (str, bytes or os.PathLike). A NUL would end the
// name early and name another file, so it is refused.
std::string _Path(py::handle value, const char* name) {
  const std::string path = py::module_::import("os").attr("fsdecode")(value).cast<std::string>();
  if (path.find('\0') != std::string::npos)
    _Refuse(std::string(name) + ": a path cannot hold a NUL character");
  return path;
}

// A monotonic clock in milliseconds, read from the kernel's last tick: a few nanoseconds where a
// precise read costs tens, which counts at a test for cancel per row; a tick of a few
// milliseconds is fine enough for a check every kSignalCheckInterval.
int64_t _CoarseMilliseconds() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// What the callbacks of a run leave for the bindings once the GIL is back: whether to stop,
// and an exception raised by `progress` or by a signal handler, to be raised again.
struct CallbackState {
  py::object progress;
  hostkit::SteadyProgress steady;
  int32_t shown = -1;
  bool stop = false;
  std::exception_ptr pending;
  int64_t lastSignalCheck = _CoarseMilliseconds();
};

// Calls progress(count, kSteadyTotal) under the GIL when the run's steady count has moved. It
// returns True to stop the run, None or False to go on; anything else is a mistake, raised.
void _ShowProgress(CallbackState& state, int32_t count) {
  if (state.stop || !state.progress || count == state.shown) return;
  state.shown = count;
  py::gil_scoped_acquire gil;
  try {
    py::object answer = state.progress(count, hostkit::kSteadyTotal);
    if (answer.ptr() == Py_True) {
      state.stop = true;
    } else if (!answer.is_none() && answer.ptr() != Py_False) {
      throw py::type_error("progress: return True to cancel, or None or False to go on; got " +
                           _Repr(answer));
    }
  } catch (...) {
    state.pending = std::current_exception();
    state.stop = true;
  }
}

// The run's cancel test: stop when asked, and now and then let Python's signal handlers run,
// so that Ctrl-C ends a long fill with KeyboardInterrupt.
bool _ShouldStop(CallbackState& state) {
  if (state.stop) return true;
  const int64_t now = _CoarseMilliseconds();
  if (now - state.lastSignalCheck < kSignalCheckInterval.count()) return false;
  state.lastSignalCheck = now;
  py::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) {
    try {
      throw py::error_already_set();
    } catch (...) {
      state.pending = std::current_exception();
    }
    state.stop = true;
  }
  return state.stop;
}

py::array Fill(py::handle image, py::handle mask, const std::string& method, py::handle fg,
               py::handle bg, bool raw, py::handle progress, py::handle prefs,
               const std::string& floatMode) {
  hostkit::StoredLayout layout;
  // float64 reaches here as float32 (the package's fill widens the result again).
  py::array input = _ImageArray(image, &layout, "uint8, uint16, float32 or float64");
  FillRequest request;
  request.method = hostkit::FillMethodByName(method);
  if (!request.method) _Refuse("method: unknown method '" + method + "' (see areafill.METHODS)");
  request.foreground = _Colour(fg, "fg");
  request.background = _Colour(bg, "bg");
  if (floatMode != "fill" && floatMode != "pass")
    _Refuse("float_mode: expected \"fill\" or \"pass\", got " + _Repr(py::str(floatMode)));
  request.fillFloats = floatMode == "fill";
  bool widened = false;
  if (!mask.is_none()) {
    request.mask = _MaskBytes(mask, layout);
    widened = hostkit::WidenZeroOneMask(&request.mask);
  }
  request.raw = raw;
  if (!prefs.is_none()) request.prefsFolder = _Path(prefs, "prefs");
  CallbackState state;
  if (!progress.is_none()) {
    if (!PyCallable_Check(progress.ptr()))
      _Refuse("progress: expected a callable(done, total), got " + _Repr(progress));
    state.progress = py::reinterpret_borrow<py::object>(progress);
  }
  request.progress = [&state](int32_t done, int32_t total) {
    _ShowProgress(state, state.steady.Count(done, total));
  };
  request.cancel = [&state] { return _ShouldStop(state); };

  py::array output(input.dtype(),
                   std::vector<py::ssize_t>(input.shape(), input.shape() + input.ndim()));
  const void* samples = input.data();
  void* outSamples = output.mutable_data();
  FillOutcome outcome;
  {
    py::gil_scoped_release release;
    hostkit::HostImage host = hostkit::StoredToHost(layout, samples);
    outcome = RunFill(host, request);
    if (outcome.status == FillStatus::Filled)
      hostkit::HostToStored(host, layout, samples, outSamples);
  }
  if (outcome.status == FillStatus::Filled) _ShowProgress(state, hostkit::kSteadyTotal);
  if (state.pending) std::rethrow_exception(state.pending);
  switch (outcome.status) {
    case FillStatus::Filled:
      break;
    case FillStatus::Cancelled:
      throw CancelledError();
    case FillStatus::BadInput:
      _Refuse(outcome.message);
    case FillStatus::Failed:
      throw std::runtime_error(outcome.message);
  }
  if (widened)
    outcome.warnings.insert(outcome.warnings.begin(),
                            "the mask holds only 0 and 1: taken as 0 and 255 (selected)");
  // The filter itself writes 32-bit images back as they are.
  if (layout.depth == 32 && !request.fillFloats)
    outcome.warnings.push_back(
        "no fill (float_mode=\"pass\": the float image is returned as it is)");
  for (const std::string& warning : outcome.warnings)
    if (PyErr_WarnEx(PyExc_RuntimeWarning, ("areafill: " + warning).c_str(), 2) < 0)
      throw py::error_already_set();
  return output;
}

py::object ReadImage(py::handle path, int page, bool info) {
  const std::string name = _Path(path, "path");
  if (page < 1) throw py::value_error("page: expected 1 or more, got " + std::to_string(page));
  imagefile::FileImage file;
  std::string error;
  bool read;
  {
    py::gil_scoped_release release;
    read = imagefile::ReadImage(name, &file, &error, page - 1);
  }
  if (!read) {
    PyErr_SetString(PyExc_OSError, error.c_str());
    throw py::error_already_set();
  }
  hostkit::StoredLayout layout;
  if (std::string problem = ArrayLayoutOfFile(file, &layout); !problem.empty())
    throw py::value_error(name + ": " + problem);
  const py::dtype dtype = layout.depth == 8    ? py::dtype::of<uint8_t>()
                          : layout.depth == 16 ? py::dtype::of<uint16_t>()
                                               : py::dtype::of<float>();
  std::vector<py::ssize_t> shape = {layout.height, layout.width};
  if (Channels(layout) > 1) shape.push_back(Channels(layout));
  py::array out(dtype, shape);
  std::memcpy(out.mutable_data(), file.data.data(), layout.ByteCount());
  for (const std::string& notice : file.notices)
    if (PyErr_WarnEx(PyExc_RuntimeWarning, ("areafill: " + name + ": " + notice).c_str(), 1) < 0)
      throw py::error_already_set();
  if (!info) return out;
  return py::make_tuple(out, InfoOfFile(file));
}

void WriteImage(py::handle path, py::handle image, py::handle info) {
  const std::string name = _Path(path, "path");
  hostkit::StoredLayout layout;
  py::array input = _ImageArray(image, &layout, "uint8, uint16 or float32");
  imagefile::FileImage file = FileImageOfArray(layout, input.data());
  ApplyInfo(info, &file);
  std::string error;
  if (!imagefile::CanWrite(file, name, &error)) throw py::value_error(error);
  bool written;
  {
    py::gil_scoped_release release;
    written = imagefile::WriteImage(name, file, &error);
  }
  if (!written) {
    PyErr_SetString(PyExc_OSError, error.c_str());
    throw py::error_already_set();
  }
}

py::array ReadMask(py::handle path, py::handle shape, int orientation, bool stored) {
  const std::string name = _Path(path, "path");
  const auto sides = shape.cast<std::vector<py::ssize_t>>();
  if (sides.size() < 2) throw py::value_error("shape: expected (height, width, ...)");
  if (orientation < 1 || orientation > 8)
    throw py::value_error("orientation: expected 1 to 8, got " + std::to_string(orientation));
  std::vector<uint8_t> mask;
  std::vector<std::string> notices;
  std::string error;
  bool read;
  {
    py::gil_scoped_release release;
    read = imagefile::ReadMask(name, int32_t(sides[1]), int32_t(sides[0]), &mask, &error, &notices,
                               imagefile::Orientation(orientation), stored);
  }
  if (!read) throw py::value_error(error);
  for (const std::string& notice : notices)
    if (PyErr_WarnEx(PyExc_RuntimeWarning, ("areafill: " + notice).c_str(), 1) < 0)
      throw py::error_already_set();
  py::array_t<uint8_t> out({sides[0], sides[1]});
  std::memcpy(out.mutable_data(), mask.data(), mask.size());
  return out;
}

}  // namespace
}  // namespace areafill_py

PYBIND11_MODULE(_areafill, m) {
  using namespace areafill_py;
  m.doc() = kModuleDoc;
  m.attr("__version__") = AREAFILL_VERSION;
  py::list names;
  for (const hostkit::FillMethod& method : hostkit::FillMethods()) names.append(method.name);
  m.attr("METHODS") = py::tuple(names);

  // The package's wrappers (areafill/__init__.py) carry the signatures.
  py::options options;
  options.disable_function_signatures();
  auto& cancelled = py::register_exception<CancelledError>(m, "Cancelled", PyExc_KeyboardInterrupt);
  cancelled.attr("__doc__") = kCancelledDoc;
  cancelled.attr("__module__") = "areafill";

  m.def("fill", &Fill, py::arg("image"), py::arg("mask") = py::none(),
        py::arg("method") = "membrane", py::arg("fg") = py::make_tuple(0, 0, 0),
        py::arg("bg") = py::make_tuple(255, 255, 255), py::arg("raw") = false,
        py::arg("progress") = py::none(), py::arg("prefs") = py::none(),
        py::arg("float_mode") = "fill", kFillDoc);
  m.def("read_image", &ReadImage, py::arg("path"), py::arg("page") = 1, py::arg("info") = false,
        kReadImageDoc);
  m.def("write_image", &WriteImage, py::arg("path"), py::arg("image"), py::arg("info") = py::none(),
        kWriteImageDoc);
  m.def("read_mask", &ReadMask, py::arg("path"), py::arg("shape"), py::arg("orientation") = 1,
        py::arg("stored") = false, kReadMaskDoc);
  m.def(
      "filter_module_path",
      [] {
        std::string error;
        std::string path = FilterModulePath(&error);
        if (path.empty()) throw std::runtime_error(error);
        return path;
      },
      kFilterModulePathDoc);
}
