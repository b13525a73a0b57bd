#pragma once
// The published copy of a module's options: a named shared memory block of
// the process that other modules (and other processes) read.
//
// Block name: the process ID as 8 upper-case hexadecimal digits, the module
// handle as 16 (the pointer width), then "MODULE". Content: a 4-byte
// little-endian size (the data size + 4), then the data: one byte 1 and the
// options' stream form of CurrentOptionsVersion.
#include <cstdint>
#include <optional>
#include <string>

#include "crashreport/options/module_identity.h"
#include "platform/kernel/shared_memory.h"

namespace crashreport {

class TTavrelModuleOptions;

std::string PublishedOptionsBlockName(std::uint32_t processId, TModuleHandle module);

// Writes the record into the block of this process and the reporter's
// module, keeping `block` as its owner; the block it held before is released
// once the new one is written. False (and `block` unchanged) when the block
// cannot be created or mapped.
bool PublishOptions(const TTavrelModuleOptions& options, kernel::TSharedMemory& block);

// The data of a published block (after its size field): none when the block
// does not exist or its size field does not fit the block.
std::optional<std::string> ReadPublishedBlock(std::uint32_t processId, TModuleHandle module);

// Loads `into` from the published copy of module `module` of process
// `processId`. False when there is none or its first data byte is 0; a
// damaged copy raises EOptionsStreamError.
bool LoadPublishedOptions(TTavrelModuleOptions& into, std::uint32_t processId, TModuleHandle module);

} // namespace crashreport
