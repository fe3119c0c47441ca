// Descriptors to and from their stored JSON form (described in descriptor_json.h). Every
// exception of the JSON library is caught here and turned into a message.
#include "hostkit/descriptor_json.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "hostkit/status_text.h"

namespace hostkit {

namespace {

using nlohmann::json;
using ordered_json = nlohmann::ordered_json;  // written members keep the documented order

// How deep a recorded action may nest (its items are three levels down).
constexpr int kMaxJsonDepth = 64;

// A fault in the input, carried to the top as a message.
struct _JsonFault {
  std::string message;
};

// Text from the input, quoted and escaped for a one-line message: a hostile file's member names
// may hold line breaks, terminal controls or bytes that are not UTF-8.
std::string _Quoted(const std::string& text) {
  return json(text).dump(-1, ' ', true, json::error_handler_t::replace);
}

ordered_json _CodeToJson(uint32_t code) { return FourCCString(code); }

uint32_t _CodeFromJson(const json& value, const std::string& where) {
  if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() == 4) {
      uint32_t code = 0;
      for (char c : text) {
        if (c < 0x20 || c > 0x7e) throw _JsonFault{where + ": not a printable four-character code"};
        code = (code << 8) | uint8_t(c);
      }
      return code;
    }
    if (text.size() == 10 && text[0] == '0' && text[1] == 'x') {
      uint32_t code = 0;
      for (size_t i = 2; i < 10; ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) throw _JsonFault{where + ": bad hexadecimal code " + _Quoted(text)};
        code = (code << 4) | uint32_t(digit);
      }
      return code;
    }
  }
  throw _JsonFault{where + ": expected a four-character code such as \"FilM\" or \"0x12345678\""};
}

ordered_json _FloatToJson(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return value;
}

double _FloatFromJson(const json& value, const std::string& where) {
  if (value.is_number()) return value.get<double>();
  if (value == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (value == "inf") return std::numeric_limits<double>::infinity();
  if (value == "-inf") return -std::numeric_limits<double>::infinity();
  throw _JsonFault{where + ": expected a number, \"nan\", \"inf\" or \"-inf\""};
}

// A whole number within [min, max].
long long _WholeFromJson(const json& value, long long min, long long max,
                         const std::string& where) {
  if (!value.is_number_integer()) throw _JsonFault{where + ": expected a whole number"};
  long long whole = 0;
  if (value.is_number_unsigned() &&
      value.get<unsigned long long>() > static_cast<unsigned long long>(max))
    whole = max + 1;  // beyond any range used here; reported below
  else
    whole = value.get<long long>();
  if (whole < min || whole > max)
    throw _JsonFault{where + ": " + value.dump() + " is out of range " + std::to_string(min) +
                     ".." + std::to_string(max)};
  return whole;
}

ordered_json _ItemToJson(const DescriptorItem& item) {
  ordered_json out = ordered_json::object();
  out["key"] = _CodeToJson(item.key);
  switch (item.kind) {
    case DescriptorItemKind::Integer:
      out["type"] = "integer";
      out["value"] = item.integer;
      break;
    case DescriptorItemKind::Float:
      out["type"] = "float";
      out["value"] = _FloatToJson(item.real);
      break;
    case DescriptorItemKind::Boolean:
      out["type"] = "boolean";
      out["value"] = item.boolean;
      break;
    case DescriptorItemKind::Text:
      out["type"] = "text";
      out["value"] = item.text;
      break;
    case DescriptorItemKind::Enumerated:
      out["type"] = "enum";
      out["enumType"] = _CodeToJson(item.enumType);
      out["value"] = item.enumValue;
      break;
  }
  return out;
}

void _CheckMembers(const json& object, std::initializer_list<const char*> allowed,
                   const std::string& where) {
  for (const auto& member : object.items()) {
    bool known = false;
    for (const char* name : allowed) known = known || member.key() == name;
    if (!known) throw _JsonFault{where + ": unknown member " + _Quoted(member.key())};
  }
  for (const char* name : allowed)
    if (!object.contains(name)) throw _JsonFault{where + ": missing \"" + name + "\""};
}

DescriptorItem _ItemFromJson(const json& value, size_t index) {
  std::string where = "item " + std::to_string(index);
  if (!value.is_object()) throw _JsonFault{where + ": expected an object"};
  if (!value.contains("type") || !value["type"].is_string())
    throw _JsonFault{where + ": missing \"type\""};
  const std::string& type = value["type"].get_ref<const std::string&>();
  if (type == "enum")
    _CheckMembers(value, {"key", "type", "enumType", "value"}, where);
  else
    _CheckMembers(value, {"key", "type", "value"}, where);
  DescriptorKeyID key = _CodeFromJson(value["key"], where + " key");
  where += " (" + FourCCString(key) + ")";
  const json& v = value["value"];
  if (type == "integer")
    return DescriptorItem::Integer(key, int32_t(_WholeFromJson(v, INT32_MIN, INT32_MAX, where)));
  if (type == "float") return DescriptorItem::Float(key, _FloatFromJson(v, where));
  if (type == "boolean") {
    if (!v.is_boolean()) throw _JsonFault{where + ": expected true or false"};
    return DescriptorItem::Boolean(key, v.get<bool>());
  }
  if (type == "text") {
    if (!v.is_string()) throw _JsonFault{where + ": expected a string"};
    return DescriptorItem::Text(key, v.get<std::string>());
  }
  if (type == "enum") {
    DescType enumType = _CodeFromJson(value["enumType"], where + " enumType");
    return DescriptorItem::Enumerated(key, enumType,
                                      DescriptorEnumID(_WholeFromJson(v, 0, UINT32_MAX, where)));
  }
  throw _JsonFault{where + ": unknown type " + _Quoted(type) +
                   " (expected integer, float, boolean, text or enum)"};
}

// Version 1 is the first; a later version adds a step here that rewrites a version-1 document
// into its own form before it is read.
json _Upgrade(json document, int version) {
  (void)version;
  return document;
}

Descriptor _DescriptorFromDocument(const json& document) {
  if (!document.is_object()) throw _JsonFault{"expected an object with \"version\" and \"items\""};
  _CheckMembers(document, {"version", "items"}, "descriptor");
  const json& version = document["version"];
  if (!version.is_number_integer()) throw _JsonFault{"\"version\" must be a whole number"};
  long long number = version.get<long long>();
  if (number < 1 || number > kDescriptorJsonVersion)
    throw _JsonFault{"unsupported descriptor version " + version.dump() + " (this build reads 1.." +
                     std::to_string(kDescriptorJsonVersion) + ")"};
  json current = _Upgrade(document, int(number));
  const json& items = current["items"];
  if (!items.is_array()) throw _JsonFault{"\"items\" must be an array"};
  Descriptor descriptor;
  for (size_t i = 0; i < items.size(); ++i) {
    DescriptorItem item = _ItemFromJson(items[i], i);
    if (descriptor.Find(item.key))
      throw _JsonFault{"item " + std::to_string(i) + ": duplicate key " + FourCCString(item.key)};
    descriptor.items.push_back(std::move(item));
  }
  return descriptor;
}

}  // namespace

bool DescriptorToJson(const Descriptor& descriptor, std::string* json, std::string* message) {
  json->clear();
  try {
    ordered_json document = ordered_json::object();
    document["version"] = kDescriptorJsonVersion;
    document["items"] = ordered_json::array();
    for (const DescriptorItem& item : descriptor.items)
      document["items"].push_back(_ItemToJson(item));
    *json = document.dump(2) + "\n";
    if (message) message->clear();
    return true;
  } catch (const std::exception& e) {
    if (message) *message = std::string("descriptor cannot be written as JSON: ") + e.what();
    return false;
  }
}

bool DescriptorFromJson(const std::string& json, Descriptor* out, std::string* message) {
  out->items.clear();
  try {
    // A recorded action is a shallow document; a deeply nested one is refused while it is read,
    // before it can take the stack or the memory of the copies made of it.
    const auto shallow = [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
      if (depth > kMaxJsonDepth) throw _JsonFault{"nested more than 64 levels deep"};
      return true;
    };
    *out = _DescriptorFromDocument(nlohmann::json::parse(json, shallow));
    if (message) message->clear();
    return true;
  } catch (const _JsonFault& fault) {
    if (message) *message = "descriptor JSON: " + fault.message;
  } catch (const std::exception& e) {
    // The parser quotes what it last read, which may be any byte.
    if (message) *message = "descriptor JSON: " + OneLine(e.what());
  }
  out->items.clear();
  return false;
}

}  // namespace hostkit
