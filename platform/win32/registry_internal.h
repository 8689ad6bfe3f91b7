// Registry store internals that tests reach for: where the file lives, how
// large it may grow, and a hook between writing the temporary file and
// renaming it over the store.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform::registry {

// A store larger than this is not read (values read as missing) and never
// overwritten; a change that would make it larger is refused.
inline constexpr std::size_t kMaxStoreBytes = 16u << 20;

// The store file for the current environment; empty when no home directory
// can be found.
std::string storePath();

// Called with the temporary file's path once it is written and flushed.
// Returning false abandons the write there, as a crash at that moment would:
// the temporary file stays and the store is not replaced.
using BeforeRenameHook = std::function<bool(const std::string& temporaryPath)>;
void setBeforeRenameHook(BeforeRenameHook hook);

}  // namespace platform::registry
