// The host's scripting services: an in-memory descriptor (an ordered list of keyed, typed
// items), its serialised form inside a descriptor handle, and ScriptingHost, which answers the
// read and write descriptor suites and the handle services for one filter run.
#pragma once

#include <memory>
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

// Answers the descriptor suites and the handle services for one run. It owns the records that a
// FilterRecord points at (hand descriptorParameters() and handleProcs() to RunOptions), the
// descriptor handed to the plug-in for a replay, and the readers and writers the plug-in opens.
// The suites' callbacks carry no context: they find the host through the Activation that the
// caller holds around the run, on the calling thread.
class ScriptingHost {
 public:
  // Calls of the suites, for tests and diagnostics.
  struct Counts {
    int readersOpened = 0;
    int readersClosed = 0;
    int writersOpened = 0;
    int writersClosed = 0;
    int itemsRead = 0;  // successful get calls
    int itemsPut = 0;
  };

  // Sets the active host of this thread for its lifetime and restores the previous one after.
  class Activation {
   public:
    explicit Activation(ScriptingHost& host);
    ~Activation();
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;

   private:
    ScriptingHost* previous_;
  };

  // Full suites at the published versions and counts, no descriptor, playInfo
  // plugInDialogDisplay and recordInfo plugInDialogOptional: a run that records and shows the
  // dialog.
  ScriptingHost();
  ~ScriptingHost();
  ScriptingHost(const ScriptingHost&) = delete;
  ScriptingHost& operator=(const ScriptingHost&) = delete;

  // Prepares a replay: `descriptor` becomes the handle the plug-in reads (replacing any held
  // one) and `playInfo` the play mode. Returns false when the handle cannot be allocated.
  bool SetPlay(const Descriptor& descriptor, int16_t playInfo);

  // Takes the descriptor the plug-in left in the record (what it recorded), parses it into
  // *out, releases the handle and sets the record's descriptor to null. Returns false when the
  // record holds no descriptor or one that does not parse.
  bool TakeRecorded(Descriptor* out);

  PIDescriptorParameters* descriptorParameters() { return &parameters_; }
  ReadDescriptorProcs* readProcs() { return &readProcs_; }
  WriteDescriptorProcs* writeProcs() { return &writeProcs_; }
  HandleProcs* handleProcs() { return &handleProcs_; }

  const Counts& counts() const { return counts_; }
  // The key list the plug-in passed to the last openReadDescriptorProc, without the 0 code.
  const std::vector<DescriptorKeyID>& requestedKeys() const { return requestedKeys_; }
  // Readers and writers opened and not yet closed.
  size_t openTokens() const { return readers_.size() + writers_.size(); }

  struct Reader;
  struct Writer;

 private:
  friend struct SuiteAccess;

  PIDescriptorParameters parameters_{};
  ReadDescriptorProcs readProcs_{};
  WriteDescriptorProcs writeProcs_{};
  HandleProcs handleProcs_{};
  Counts counts_;
  std::vector<DescriptorKeyID> requestedKeys_;
  std::vector<std::unique_ptr<Reader>> readers_;
  std::vector<std::unique_ptr<Writer>> writers_;
};

// Renders a four-character code for messages: "FilM", or 0x…. for codes that are not printable.
std::string FourCCString(uint32_t code);

}  // namespace hostkit
