// libzup: the stand-in host's error raising and plug-in loader.
#include "call_scope.hpp"

#include <algorithm>
#include <array>
#include <new>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

namespace zuhost {

namespace {

#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) error = "LoadLibrary failed with code " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(handle);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* openLibrary(const std::string& path, std::string& error) {
    // A path without a slash would be searched for on the library path; a
    // module is always named by its file.
    const std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "unknown dlopen error";
    }
    return handle;
}
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
#endif

}  // namespace

Module::Module(const std::string& path) : path_(path) {
    std::string error;
    handle_ = openLibrary(path, error);
    if (handle_ == nullptr) {
        throw std::runtime_error("cannot load module '" + path + "': " + error);
    }
    entry_ = reinterpret_cast<zupFunctionType>(findSymbol(handle_, "zupFunction"));
    if (entry_ == nullptr) {
        closeLibrary(handle_);
        handle_ = nullptr;
        throw std::runtime_error("module '" + path + "' does not export zupFunction");
    }
}

Module::~Module() {
    if (handle_ != nullptr) closeLibrary(handle_);
}

CallOutcome Module::call(std::span<const zuArray* const> inputs, int outputCount) const {
    return call(inputs, OutputPlacement{}, outputCount);
}

CallOutcome Module::call(std::span<const zuArray* const> inputs, const OutputPlacement& placement,
                         int outputCount) const {
    CallOutcome outcome;
    // The host always offers at least one output slot, as a script's `ans`
    // does when no output is asked for; a module writes only the first.
    std::array<zuArray*, 8> slots{};
    std::vector<const zuArray*> args(inputs.begin(), inputs.end());
    const int inputCount = static_cast<int>(args.size());

    detail::CallScope scope(&placement);
    try {
        entry_(outputCount, slots.data(), inputCount, args.empty() ? nullptr : args.data());
    } catch (const HostError& error) {
        outcome.firstSlotWritten = slots[0] != nullptr;
        outcome.failed = true;
        outcome.identifier = error.identifier();
        outcome.message = error.message();
        return outcome;  // the scope releases everything the call made
    } catch (const std::bad_alloc&) {
        outcome.firstSlotWritten = slots[0] != nullptr;
        outcome.failed = true;
        outcome.identifier = kOutOfMemoryId;
        outcome.message = "Out of memory.";
        return outcome;
    }
    outcome.firstSlotWritten = slots[0] != nullptr;
    if (slots[0] != nullptr) {
        if (!scope.keep(slots[0])) {
            outcome.failed = true;
            outcome.identifier = kBadArrayId;
            outcome.message = "The module returned an array it did not create.";
            return outcome;
        }
        outcome.output.reset(slots[0]);
    }
    return outcome;
}

CallOutcome Module::call(std::initializer_list<const zuArray*> inputs, int outputCount) const {
    return call(std::span<const zuArray* const>(inputs.begin(), inputs.size()), outputCount);
}

}  // namespace zuhost

extern "C" void zupErrMsgIdAndTxt(const char* identifier, const char* message) {
    throw zuhost::HostError(identifier != nullptr ? identifier : "",
                            message != nullptr ? message : "");
}
