// ScriptingHost: the read and write descriptor suites and the handle services that a host
// answers for one filter run, over the descriptors of descriptor.h.
#pragma once

#include <memory>
#include <vector>

#include "hostkit/descriptor.h"

namespace hostkit {

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

}  // namespace hostkit
