#include "lock/LockMethods.h"

#include <dlfcn.h>

namespace tovak::lock {

bool callLibrarySymbol(const std::string& libraryPath, const std::string& symbol) {
    void* handle = dlopen(libraryPath.c_str(), libraryLoadMode);
    if (handle == nullptr) {
        return false;
    }
    void* address = dlsym(handle, symbol.c_str());
    if (address != nullptr) {
        using Function = void (*)();
        reinterpret_cast<Function>(address)();
    }
    dlclose(handle);
    return address != nullptr;
}

}  // namespace tovak::lock
