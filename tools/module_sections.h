#pragma once
// Puts the stored data into a linked module: the `.tldata` and `.tlversion`
// sections (added with objcopy as non-loaded, read-only sections, which
// `strip` keeps), or the block at the end of the file.
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

// Replaces (or adds) the sections in place. Raises rtl::Exception when
// objcopy fails.
void WriteSections(const std::string& module, const std::vector<std::uint8_t>& data,
                   const std::vector<std::uint8_t>& version, const std::string& objcopy = "objcopy");

// Appends the file-end block to the module.
void AppendFileEndBlock(const std::string& module, const std::vector<std::uint8_t>& block);

} // namespace tools
