#pragma once

#include <string>

namespace tovak::lock {

// dlopen mode 2: every symbol resolved at load time, so a broken library fails here, not mid-call.
inline constexpr int libraryLoadMode = 2;

// Loads the library, calls the symbol (a function without arguments whose result is ignored) and
// unloads it. True when the symbol was found and called.
[[nodiscard]] bool callLibrarySymbol(const std::string& libraryPath, const std::string& symbol);

}  // namespace tovak::lock
