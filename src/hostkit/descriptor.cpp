// The host's scripting services over an in-memory descriptor. A descriptor handle holds the
// descriptor serialised (see _Serialise); readers parse it when opened, writers build a new one
// and hand it out as a fresh handle when closed.
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

// ---- The suites ----

namespace hostkit {

struct ScriptingHost::Reader {
  Descriptor descriptor;
  size_t next = 0;
  const DescriptorItem* current = nullptr;  // the item of the last getKeyProc
};

struct ScriptingHost::Writer {
  Descriptor descriptor;
};

namespace {
thread_local ScriptingHost* gActiveHost = nullptr;
}  // namespace

// The callbacks handed to the plug-in. Each finds the active host of its thread and the token's
// reader or writer in it; a token that host did not hand out is refused.
struct SuiteAccess {
  static ScriptingHost::Reader* FindReader(PIReadDescriptor token) {
    if (!gActiveHost || !token) return nullptr;
    for (auto& reader : gActiveHost->readers_)
      if (reinterpret_cast<PIReadDescriptor>(reader.get()) == token) return reader.get();
    return nullptr;
  }

  static ScriptingHost::Writer* FindWriter(PIWriteDescriptor token) {
    if (!gActiveHost || !token) return nullptr;
    for (auto& writer : gActiveHost->writers_)
      if (reinterpret_cast<PIWriteDescriptor>(writer.get()) == token) return writer.get();
    return nullptr;
  }

  // The reader's current item when it is of `kind`; else *err says why not.
  static const DescriptorItem* Current(PIReadDescriptor token, DescriptorItemKind kind,
                                       OSErr* err) {
    ScriptingHost::Reader* reader = FindReader(token);
    if (!reader) {
      *err = kDescErrNoHost;
      return nullptr;
    }
    if (!reader->current) {
      *err = kDescErrNoItem;
      return nullptr;
    }
    if (reader->current->kind != kind) {
      *err = kDescErrWrongType;
      return nullptr;
    }
    *err = noErr;
    ++gActiveHost->counts_.itemsRead;
    return reader->current;
  }

  // The handle is the plug-in's; the host reads it but neither keeps nor releases it.
  static PIReadDescriptor OpenRead(PIDescriptorHandle handle, DescriptorKeyIDArray keys) {
    if (!gActiveHost) return nullptr;
    gActiveHost->requestedKeys_.clear();
    for (size_t i = 0; keys && keys[i] != 0; ++i) gActiveHost->requestedKeys_.push_back(keys[i]);
    auto reader = std::make_unique<ScriptingHost::Reader>();
    if (!ReadDescriptorHandle(handle, &reader->descriptor)) return nullptr;
    auto token = reinterpret_cast<PIReadDescriptor>(reader.get());
    gActiveHost->readers_.push_back(std::move(reader));
    ++gActiveHost->counts_.readersOpened;
    return token;
  }

  static OSErr CloseRead(PIReadDescriptor token) {
    ScriptingHost::Reader* reader = FindReader(token);
    if (!reader) return kDescErrNoHost;
    auto& readers = gActiveHost->readers_;
    readers.erase(std::find_if(readers.begin(), readers.end(),
                               [&](const auto& r) { return r.get() == reader; }));
    ++gActiveHost->counts_.readersClosed;
    return noErr;
  }

  static Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescType* type,
                        int32_t* flags) {
    ScriptingHost::Reader* reader = FindReader(token);
    if (!reader) return false;
    if (reader->next >= reader->descriptor.items.size()) {
      reader->current = nullptr;
      return false;
    }
    reader->current = &reader->descriptor.items[reader->next++];
    if (key) *key = reader->current->key;
    if (type) *type = reader->current->TypeCode();
    if (flags) *flags = 0;
    return true;
  }

  static OSErr GetInteger(PIReadDescriptor token, int32_t* value) {
    OSErr err;
    if (const DescriptorItem* item = Current(token, DescriptorItemKind::Integer, &err))
      *value = item->integer;
    return err;
  }

  static OSErr GetFloat(PIReadDescriptor token, double* value) {
    OSErr err;
    if (const DescriptorItem* item = Current(token, DescriptorItemKind::Float, &err))
      *value = item->real;
    return err;
  }

  static OSErr GetBoolean(PIReadDescriptor token, Boolean* value) {
    OSErr err;
    if (const DescriptorItem* item = Current(token, DescriptorItemKind::Boolean, &err))
      *value = item->boolean ? 1 : 0;
    return err;
  }

  // A new handle of exactly the text's bytes, without a NUL, which the plug-in releases.
  static OSErr GetText(PIReadDescriptor token, Handle* value) {
    OSErr err;
    const DescriptorItem* item = Current(token, DescriptorItemKind::Text, &err);
    if (!item) return err;
    Handle text = NewHandle(Size(item->text.size()));
    if (!text) return memFullErr;
    std::memcpy(*text, item->text.data(), item->text.size());
    *value = text;
    return noErr;
  }

  static OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
    OSErr err;
    if (const DescriptorItem* item = Current(token, DescriptorItemKind::Enumerated, &err))
      *value = item->enumValue;
    return err;
  }

  static PIWriteDescriptor OpenWrite() {
    if (!gActiveHost) return nullptr;
    auto writer = std::make_unique<ScriptingHost::Writer>();
    auto token = reinterpret_cast<PIWriteDescriptor>(writer.get());
    gActiveHost->writers_.push_back(std::move(writer));
    ++gActiveHost->counts_.writersOpened;
    return token;
  }

  // Hands the written descriptor out as a new handle, which the plug-in stores in the record.
  static OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* handle) {
    if (handle) *handle = nullptr;
    ScriptingHost::Writer* writer = FindWriter(token);
    if (!writer) return kDescErrNoHost;
    PIDescriptorHandle made = NewDescriptorHandle(writer->descriptor);
    auto& writers = gActiveHost->writers_;
    writers.erase(std::find_if(writers.begin(), writers.end(),
                               [&](const auto& w) { return w.get() == writer; }));
    ++gActiveHost->counts_.writersClosed;
    if (!made) return memFullErr;
    if (handle)
      *handle = made;
    else
      DisposeHandle(made);
    return noErr;
  }

  static OSErr Put(PIWriteDescriptor token, DescriptorItem item) {
    ScriptingHost::Writer* writer = FindWriter(token);
    if (!writer) return kDescErrNoHost;
    writer->descriptor.Put(std::move(item));
    ++gActiveHost->counts_.itemsPut;
    return noErr;
  }

  static OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
    return Put(token, DescriptorItem::Integer(key, value));
  }

  static OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
    if (!value) return paramErr;
    return Put(token, DescriptorItem::Float(key, *value));
  }

  static OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
    return Put(token, DescriptorItem::Boolean(key, value != 0));
  }

  // The text is the handle's bytes up to its first NUL or its end; the handle stays the
  // plug-in's.
  static OSErr PutText(PIWriteDescriptor token, DescriptorKeyID key, Handle value) {
    if (!value) return paramErr;
    const char* bytes = *value;
    Size size = GetHandleSize(value);
    Size length = 0;
    while (length < size && bytes[length] != 0) ++length;
    return Put(token, DescriptorItem::Text(key, std::string(bytes, size_t(length))));
  }

  static OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescType type,
                             DescriptorEnumID value) {
    return Put(token, DescriptorItem::Enumerated(key, type, value));
  }
};

namespace {

// The handle services: the platform's own handles, so that either side may release them.
Handle _NewHandleProc(int32_t size) { return NewHandle(size); }
void _DisposeHandleProc(Handle h) { DisposeHandle(h); }
int32_t _GetHandleSizeProc(Handle h) { return int32_t(GetHandleSize(h)); }
OSErr _SetHandleSizeProc(Handle h, int32_t newSize) {
  if (!h) return nilHandleErr;
  SetHandleSize(h, newSize);
  return MemError();
}
Ptr _LockHandleProc(Handle h, Boolean) {
  if (!h) return nullptr;
  HLock(h);
  return *h;
}
void _UnlockHandleProc(Handle h) { HUnlock(h); }

}  // namespace

ScriptingHost::Activation::Activation(ScriptingHost& host) : previous_(gActiveHost) {
  gActiveHost = &host;
}

ScriptingHost::Activation::~Activation() { gActiveHost = previous_; }

ScriptingHost::ScriptingHost() {
  readProcs_.readDescriptorProcsVersion = kCurrentReadDescriptorProcsVersion;
  readProcs_.numReadDescriptorProcs = kCurrentReadDescriptorProcsCount;
  readProcs_.openReadDescriptorProc = &SuiteAccess::OpenRead;
  readProcs_.closeReadDescriptorProc = &SuiteAccess::CloseRead;
  readProcs_.getKeyProc = &SuiteAccess::GetKey;
  readProcs_.getIntegerProc = &SuiteAccess::GetInteger;
  readProcs_.getFloatProc = &SuiteAccess::GetFloat;
  readProcs_.getBooleanProc = &SuiteAccess::GetBoolean;
  readProcs_.getTextProc = &SuiteAccess::GetText;
  readProcs_.getEnumeratedProc = &SuiteAccess::GetEnumerated;

  writeProcs_.writeDescriptorProcsVersion = kCurrentWriteDescriptorProcsVersion;
  writeProcs_.numWriteDescriptorProcs = kCurrentWriteDescriptorProcsCount;
  writeProcs_.openWriteDescriptorProc = &SuiteAccess::OpenWrite;
  writeProcs_.closeWriteDescriptorProc = &SuiteAccess::CloseWrite;
  writeProcs_.putIntegerProc = &SuiteAccess::PutInteger;
  writeProcs_.putFloatProc = &SuiteAccess::PutFloat;
  writeProcs_.putBooleanProc = &SuiteAccess::PutBoolean;
  writeProcs_.putTextProc = &SuiteAccess::PutText;
  writeProcs_.putEnumeratedProc = &SuiteAccess::PutEnumerated;

  handleProcs_.handleProcsVersion = kCurrentHandleProcsVersion;
  handleProcs_.numHandleProcs = 6;
  handleProcs_.newProc = &_NewHandleProc;
  handleProcs_.disposeProc = &_DisposeHandleProc;
  handleProcs_.getSizeProc = &_GetHandleSizeProc;
  handleProcs_.setSizeProc = &_SetHandleSizeProc;
  handleProcs_.lockProc = &_LockHandleProc;
  handleProcs_.unlockProc = &_UnlockHandleProc;

  parameters_.descriptorParametersVersion = kCurrentDescriptorParametersVersion;
  parameters_.playInfo = plugInDialogDisplay;
  parameters_.recordInfo = plugInDialogOptional;
  parameters_.descriptor = nullptr;
  parameters_.writeDescriptorProcs = &writeProcs_;
  parameters_.readDescriptorProcs = &readProcs_;
}

// The descriptor still in the record is the host's (a replay the plug-in did not read, or a
// recording nobody took); open readers and writers go with their owners.
ScriptingHost::~ScriptingHost() {
  if (gActiveHost == this) gActiveHost = nullptr;
  DisposeHandle(parameters_.descriptor);
}

bool ScriptingHost::SetPlay(const Descriptor& descriptor, int16_t playInfo) {
  PIDescriptorHandle handle = NewDescriptorHandle(descriptor);
  if (!handle) return false;
  DisposeHandle(parameters_.descriptor);
  parameters_.descriptor = handle;
  parameters_.playInfo = playInfo;
  return true;
}

bool ScriptingHost::TakeRecorded(Descriptor* out) {
  out->items.clear();
  if (!parameters_.descriptor) return false;
  bool parsed = ReadDescriptorHandle(parameters_.descriptor, out);
  DisposeHandle(parameters_.descriptor);
  parameters_.descriptor = nullptr;
  return parsed;
}

}  // namespace hostkit
