// The dict form of a file image's metadata, layout and origin.
#include "python/file_info.h"

#include <pybind11/stl.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace areafill_py {
namespace {

using imagefile::FileFormat;
using imagefile::Resolution;

py::bytes _Bytes(const std::string& value) { return py::bytes(value); }

// `info[key]` when present and not None, else an empty handle.
py::object _Get(const py::dict& info, const char* key) {
  if (!info.contains(key) || info[key].is_none()) return py::object();
  return info[key];
}

template <typename T>
T _As(const py::object& value, const char* key) {
  try {
    return value.cast<T>();
  } catch (const py::cast_error&) {
    throw py::value_error(std::string("info: '") + key + "' has a value of the wrong kind");
  }
}

}  // namespace

py::dict InfoOfFile(const imagefile::FileImage& file) {
  const imagefile::ImageMetadata& m = file.metadata;
  py::dict info;
  info["format"] = file.format == FileFormat::PNG    ? "PNG"
                   : file.format == FileFormat::TIFF ? "TIFF"
                                                     : "JPEG";
  info["source"] = file.sourcePath;
  info["page"] = file.page + 1;
  info["pages"] = file.pages;
  info["compression"] = file.tiffCompression;
  info["interlaced"] = file.interlaced;
  info["orientation"] = int(m.orientation);
  info["icc"] = _Bytes(m.icc);
  info["exif"] = _Bytes(m.exif);
  info["xmp"] = _Bytes(m.xmp);
  info["iptc"] = _Bytes(m.iptc);
  if (m.resolution.x > 0 && m.resolution.y > 0) {
    const py::object unit = m.resolution.unit == Resolution::Unit::kInch ? py::str("inch")
                            : m.resolution.unit == Resolution::Unit::kCentimetre
                                ? py::object(py::str("cm"))
                                : py::object(py::none());
    info["resolution"] = py::make_tuple(m.resolution.x, m.resolution.y, unit);
  } else {
    info["resolution"] = py::none();
  }
  py::list text, chunks;
  for (const auto& [key, value] : m.text) text.append(py::make_tuple(key, value));
  for (const auto& chunk : m.formatChunks)
    chunks.append(py::make_tuple(chunk.name, _Bytes(chunk.bytes)));
  info["text"] = text;
  info["chunks"] = chunks;
  return info;
}

void ApplyInfo(py::handle handle, imagefile::FileImage* file) {
  if (handle.is_none()) return;
  if (!py::isinstance<py::dict>(handle)) throw py::value_error("info: expected a dict or None");
  const py::dict info = py::reinterpret_borrow<py::dict>(handle);
  imagefile::ImageMetadata& m = file->metadata;
  if (py::object v = _Get(info, "format")) {
    const std::string format = _As<std::string>(v, "format");
    file->format = format == "TIFF"   ? FileFormat::TIFF
                   : format == "JPEG" ? FileFormat::JPEG
                                      : FileFormat::PNG;
  }
  if (py::object v = _Get(info, "source")) file->sourcePath = _As<std::string>(v, "source");
  if (py::object v = _Get(info, "page")) file->page = _As<int>(v, "page") - 1;
  if (py::object v = _Get(info, "pages")) file->pages = _As<int>(v, "pages");
  if (py::object v = _Get(info, "compression"))
    file->tiffCompression = _As<uint16_t>(v, "compression");
  if (py::object v = _Get(info, "interlaced")) file->interlaced = _As<bool>(v, "interlaced");
  if (py::object v = _Get(info, "orientation")) {
    const int orientation = _As<int>(v, "orientation");
    if (orientation < 1 || orientation > 8)
      throw py::value_error("info: 'orientation' must be 1 to 8");
    m.orientation = imagefile::Orientation(orientation);
  }
  if (py::object v = _Get(info, "icc")) m.icc = _As<std::string>(v, "icc");
  if (py::object v = _Get(info, "exif")) m.exif = _As<std::string>(v, "exif");
  if (py::object v = _Get(info, "xmp")) m.xmp = _As<std::string>(v, "xmp");
  if (py::object v = _Get(info, "iptc")) m.iptc = _As<std::string>(v, "iptc");
  if (py::object v = _Get(info, "resolution")) {
    const auto [x, y, unit] = _As<std::tuple<double, double, py::object>>(v, "resolution");
    const std::string name = unit.is_none() ? "" : _As<std::string>(unit, "resolution");
    m.resolution = {x, y,
                    name == "inch" ? Resolution::Unit::kInch
                    : name == "cm" ? Resolution::Unit::kCentimetre
                                   : Resolution::Unit::kNone};
  }
  if (py::object v = _Get(info, "text"))
    m.text = _As<std::vector<std::pair<std::string, std::string>>>(v, "text");
  if (py::object v = _Get(info, "chunks")) {
    m.formatChunks.clear();
    for (const auto& [name, bytes] :
         _As<std::vector<std::pair<std::string, std::string>>>(v, "chunks"))
      m.formatChunks.push_back({name, bytes});
  }
}

}  // namespace areafill_py
