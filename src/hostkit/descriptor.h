// Descriptors as a host holds them: an ordered list of keyed, typed items, and its serialised
// form inside a descriptor handle (what the scripting suites of scripting_host.h exchange).
#pragma once

#include <string>
#include <vector>

#include "filter/host/filter_record.h"

namespace hostkit {

// Type codes that the read suite's getKeyProc reports for each kind of item.
constexpr DescType kDescTypeInteger = FourCC("long");
constexpr DescType kDescTypeFloat = FourCC("doub");
constexpr DescType kDescTypeBoolean = FourCC("bool");
constexpr DescType kDescTypeText = FourCC("TEXT");
constexpr DescType kDescTypeEnumerated = FourCC("enum");

// Status codes of the suites: a get of the wrong kind, a get with no current item, and a token
// or call that no active ScriptingHost knows.
constexpr OSErr kDescErrWrongType = -1703;
constexpr OSErr kDescErrNoItem = -1701;
constexpr OSErr kDescErrNoHost = paramErr;

enum class DescriptorItemKind { Integer, Float, Boolean, Text, Enumerated };

struct DescriptorItem {
  DescriptorKeyID key = 0;
  DescriptorItemKind kind = DescriptorItemKind::Integer;
  int32_t integer = 0;    // Integer
  double real = 0;        // Float
  bool boolean = false;   // Boolean
  std::string text;       // Text: bytes, without a terminating NUL
  DescType enumType = 0;  // Enumerated: the enumeration's type code
  DescriptorEnumID enumValue = 0;

  static DescriptorItem Integer(DescriptorKeyID key, int32_t value);
  static DescriptorItem Float(DescriptorKeyID key, double value);
  static DescriptorItem Boolean(DescriptorKeyID key, bool value);
  static DescriptorItem Text(DescriptorKeyID key, std::string value);
  static DescriptorItem Enumerated(DescriptorKeyID key, DescType type, DescriptorEnumID value);

  // The type code getKeyProc reports for this item.
  DescType TypeCode() const;
  bool operator==(const DescriptorItem& other) const;
};

// Items in the order they were put; a key appears at most once (putting a key again replaces
// its item in place).
struct Descriptor {
  std::vector<DescriptorItem> items;

  const DescriptorItem* Find(DescriptorKeyID key) const;
  void Put(DescriptorItem item);
  bool operator==(const Descriptor& other) const { return items == other.items; }
};

// A new handle (the platform's NewHandle) holding `descriptor` serialised; null when memory is
// refused. Whoever receives it releases it with DisposeHandle (or the handle procs' disposeProc).
PIDescriptorHandle NewDescriptorHandle(const Descriptor& descriptor);

// Parses a handle made by NewDescriptorHandle into *out. A null handle is an empty descriptor.
// Returns false, leaving *out empty, for contents that are not a serialised descriptor.
bool ReadDescriptorHandle(PIDescriptorHandle handle, Descriptor* out);

// Renders a four-character code for messages: "FilM", or 0x…. for codes that are not printable.
std::string FourCCString(uint32_t code);

}  // namespace hostkit
