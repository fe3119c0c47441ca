// Descriptors: the item model, and its serialised form inside a descriptor handle (see
// _Serialise), which the scripting suites hand to and take from the plug-in.
#include "hostkit/descriptor.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"

namespace hostkit {

// ---- Items and descriptors ----

DescriptorItem DescriptorItem::Integer(DescriptorKeyID key, int32_t value) {
  DescriptorItem item;
  item.key = key;
  item.kind = DescriptorItemKind::Integer;
  item.integer = value;
  return item;
}

DescriptorItem DescriptorItem::Float(DescriptorKeyID key, double value) {
  DescriptorItem item;
  item.key = key;
  item.kind = DescriptorItemKind::Float;
  item.real = value;
  return item;
}

DescriptorItem DescriptorItem::Boolean(DescriptorKeyID key, bool value) {
  DescriptorItem item;
  item.key = key;
  item.kind = DescriptorItemKind::Boolean;
  item.boolean = value;
  return item;
}

DescriptorItem DescriptorItem::Text(DescriptorKeyID key, std::string value) {
  DescriptorItem item;
  item.key = key;
  item.kind = DescriptorItemKind::Text;
  item.text = std::move(value);
  return item;
}

DescriptorItem DescriptorItem::Enumerated(DescriptorKeyID key, DescType type,
                                          DescriptorEnumID value) {
  DescriptorItem item;
  item.key = key;
  item.kind = DescriptorItemKind::Enumerated;
  item.enumType = type;
  item.enumValue = value;
  return item;
}

DescType DescriptorItem::TypeCode() const {
  switch (kind) {
    case DescriptorItemKind::Integer:
      return kDescTypeInteger;
    case DescriptorItemKind::Float:
      return kDescTypeFloat;
    case DescriptorItemKind::Boolean:
      return kDescTypeBoolean;
    case DescriptorItemKind::Text:
      return kDescTypeText;
    case DescriptorItemKind::Enumerated:
      return kDescTypeEnumerated;
  }
  return 0;
}

// Compares only the field that the kind uses; floats bit for bit, so that a NaN equals itself.
bool DescriptorItem::operator==(const DescriptorItem& other) const {
  if (key != other.key || kind != other.kind) return false;
  switch (kind) {
    case DescriptorItemKind::Integer:
      return integer == other.integer;
    case DescriptorItemKind::Float:
      return std::memcmp(&real, &other.real, sizeof real) == 0;
    case DescriptorItemKind::Boolean:
      return boolean == other.boolean;
    case DescriptorItemKind::Text:
      return text == other.text;
    case DescriptorItemKind::Enumerated:
      return enumType == other.enumType && enumValue == other.enumValue;
  }
  return false;
}

const DescriptorItem* Descriptor::Find(DescriptorKeyID key) const {
  for (const DescriptorItem& item : items)
    if (item.key == key) return &item;
  return nullptr;
}

void Descriptor::Put(DescriptorItem item) {
  for (DescriptorItem& existing : items)
    if (existing.key == item.key) {
      existing = std::move(item);
      return;
    }
  items.push_back(std::move(item));
}

std::string FourCCString(uint32_t code) {
  char chars[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
  bool printable = std::all_of(chars, chars + 4, [](char c) { return c >= 0x20 && c <= 0x7e; });
  if (printable) return std::string(chars, 4);
  static const char kHex[] = "0123456789abcdef";
  std::string hex = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(code >> shift) & 0xf];
  return hex;
}

// ---- The serialised form inside a handle ----
//
// In the machine's byte order: the code "Dsc1", the item count, then per item its key, its type
// code (TypeCode) and its value: long 4 bytes, doub 8, bool 1, TEXT a 4-byte length and the
// bytes, enum the enumeration type and value, 4 bytes each. It lives only in this process; the
// stored form of a descriptor is its JSON (descriptor_json.h).

namespace {

constexpr uint32_t kHandleMagic = FourCC("Dsc1");

template <typename T>
void _Append(std::string* out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out->append(bytes, sizeof(T));
}

std::string _Serialise(const Descriptor& descriptor) {
  std::string out;
  _Append<uint32_t>(&out, kHandleMagic);
  _Append<uint32_t>(&out, uint32_t(descriptor.items.size()));
  for (const DescriptorItem& item : descriptor.items) {
    _Append<uint32_t>(&out, item.key);
    _Append<uint32_t>(&out, item.TypeCode());
    switch (item.kind) {
      case DescriptorItemKind::Integer:
        _Append<int32_t>(&out, item.integer);
        break;
      case DescriptorItemKind::Float:
        _Append<double>(&out, item.real);
        break;
      case DescriptorItemKind::Boolean:
        _Append<uint8_t>(&out, item.boolean ? 1 : 0);
        break;
      case DescriptorItemKind::Text:
        _Append<uint32_t>(&out, uint32_t(item.text.size()));
        out += item.text;
        break;
      case DescriptorItemKind::Enumerated:
        _Append<uint32_t>(&out, item.enumType);
        _Append<uint32_t>(&out, item.enumValue);
        break;
    }
  }
  return out;
}

// Reads values from a byte range, refusing to go past its end.
struct _Cursor {
  const char* at;
  const char* end;

  template <typename T>
  bool Take(T* value) {
    if (size_t(end - at) < sizeof(T)) return false;
    std::memcpy(value, at, sizeof(T));
    at += sizeof(T);
    return true;
  }
  bool TakeBytes(uint32_t count, std::string* out) {
    if (size_t(end - at) < count) return false;
    out->assign(at, count);
    at += count;
    return true;
  }
};

bool _ParseItem(_Cursor* cursor, DescriptorItem* item) {
  uint32_t type = 0;
  if (!cursor->Take(&item->key) || !cursor->Take(&type)) return false;
  switch (type) {
    case kDescTypeInteger:
      item->kind = DescriptorItemKind::Integer;
      return cursor->Take(&item->integer);
    case kDescTypeFloat:
      item->kind = DescriptorItemKind::Float;
      return cursor->Take(&item->real);
    case kDescTypeBoolean: {
      item->kind = DescriptorItemKind::Boolean;
      uint8_t value = 0;
      if (!cursor->Take(&value) || value > 1) return false;
      item->boolean = value == 1;
      return true;
    }
    case kDescTypeText: {
      item->kind = DescriptorItemKind::Text;
      uint32_t length = 0;
      return cursor->Take(&length) && cursor->TakeBytes(length, &item->text);
    }
    case kDescTypeEnumerated:
      item->kind = DescriptorItemKind::Enumerated;
      return cursor->Take(&item->enumType) && cursor->Take(&item->enumValue);
    default:
      return false;
  }
}

}  // namespace

PIDescriptorHandle NewDescriptorHandle(const Descriptor& descriptor) {
  std::string bytes = _Serialise(descriptor);
  Handle handle = NewHandle(Size(bytes.size()));
  if (handle) std::memcpy(*handle, bytes.data(), bytes.size());
  return handle;
}

bool ReadDescriptorHandle(PIDescriptorHandle handle, Descriptor* out) {
  out->items.clear();
  if (!handle) return true;
  _Cursor cursor{*handle, *handle + GetHandleSize(handle)};
  uint32_t magic = 0;
  uint32_t count = 0;
  if (!cursor.Take(&magic) || magic != kHandleMagic || !cursor.Take(&count)) return false;
  Descriptor parsed;
  for (uint32_t i = 0; i < count; ++i) {
    DescriptorItem item;
    if (!_ParseItem(&cursor, &item)) return false;
    parsed.Put(std::move(item));
  }
  if (cursor.at != cursor.end) return false;
  *out = std::move(parsed);
  return true;
}

}  // namespace hostkit
