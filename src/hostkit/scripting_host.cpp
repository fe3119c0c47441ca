// The scripting suites that a host answers for one filter run: readers parse the descriptor
// handle when opened, writers build a new descriptor and hand it out as a fresh handle when
// closed; the handle services are the platform's own handles.
#include "hostkit/scripting_host.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"

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
