// The exchange between the settings block and the host's scripting descriptors: recorded values
// are read into the block's inputs before the fill, and every setting is recorded afterwards.
#pragma once

#include "filter/run/run_record.h"
#include "filter/settings/settings_block.h"

// Size of the text handle handed to the host for a text setting: the string, its NUL, zeros.
constexpr int32_t kScriptTextHandleBytes = 514;

// Reads the host's descriptor into the inputs of `block`: each item whose key matches an input
// is read by the input's type and stored when it lies within the input's range (enumerations
// compared as unsigned, integers as signed numbers); anything else leaves the input unchanged.
// The host's descriptor is released and its field set to null. Returns 1 when the dialog is to
// be skipped (the descriptor services are usable and the host does not ask for the dialog),
// else 0.
uint8_t _ReadScriptParamFromPS(Globals* globals, SPSettings* block);

// Records every input, then every output, of `block` as a new descriptor for the host; the old
// descriptor is released, the new one stored in the host's record and recordInfo set to 0.
// A block without settings or a host without usable services is left alone. Returns 0.
OSErr _WriteScriptParamToPS(Globals* globals, SPSettings* block);

// 1 when the host's descriptor services are usable: the record is present, its version is 0 and
// both suites are present with at least the published counts and non-negative versions. When
// `newerOut` is not null it becomes 1 for a record newer than this filter knows, else 0.
uint8_t HostDescriptorAvailable(PIDescriptorParameters* params, uint8_t* newerOut);

// 1 when the host asks for the dialog (playInfo is plugInDialogDisplay), else 0.
uint8_t HostPlayDialog(PIDescriptorParameters* params);

// Closes a reader: the host's close, then the host's descriptor is released (through the host's
// handle services when usable, else DisposeHandle) and set to null, and *token to null. Returns
// the status of the host's close (0 when the host has no close callback).
OSErr HostCloseReader(PIDescriptorParameters* params, HandleProcs* procs, PIReadDescriptor* token);

// Closes a writer: releases the old descriptor as HostCloseReader does, stores the descriptor
// that the host's close gives as the new one, sets recordInfo to plugInDialogOptional and
// *token to null. Returns 0.
OSErr HostCloseWriter(PIDescriptorParameters* params, HandleProcs* procs, PIWriteDescriptor* token);
