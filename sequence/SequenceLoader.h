#pragma once
// Parsing install sequence documents. Free of Windows headers.
//
// A document has the root Installer with the sequences bootstrapper, appliance, x64 and
// x86; each holds Item elements whose attributes and child elements become the item's
// values. Node names are matched ignoring ASCII case.
#include "sequence/Blob.h"
#include "sequence/InstallItem.h"
#include "sequence/InstallSequence.h"

#include <string>

// The text without white space (iswspace) at either end.
std::wstring TrimWhitespace(const std::wstring& text);

// The numeric place of an item from its "Order" property; 0 when absent or not a number.
unsigned int ItemOrder(const InstallItem& item);

// Loads the sequence called name, sorted by Order (equal places keep document order).
// Appends a NUL to blob when its last byte is not one. Logs the reason and returns false
// (sequence empty) on malformed XML, a missing Installer root or a missing sequence.
bool LoadSequence(Blob& blob, const std::wstring& name, InstallSequence& sequence);

// The platform sequences; throw std::runtime_error("Unable to load sequence 32-bit from
// Blob") or ("... 64-bit ...") when the sequence cannot be loaded.
void LoadX86Sequence(Blob& blob, InstallSequence& sequence);
void LoadX64Sequence(Blob& blob, InstallSequence& sequence);

// The sequence for this system (the caller says whether it is 64-bit); logs any failure
// and returns whether the sequence holds items.
bool LoadPlatformSequence(Blob& blob, InstallSequence& sequence, bool is64BitOs);

// The single item of the bootstrapper or appliance sequence; logs and returns false when
// the sequence cannot be loaded or does not hold exactly one item.
bool LoadBootstrapperItem(Blob& blob, InstallItem& item);
bool LoadApplianceItem(Blob& blob, InstallItem& item);

// Both platforms' sequences, then the appliance program: what a medium for any machine
// needs. Throws as the platform sequences do; returns false, with the components loaded,
// when the document holds no single appliance program.
bool LoadCompleteSequence(Blob& blob, InstallSequence& sequence);
