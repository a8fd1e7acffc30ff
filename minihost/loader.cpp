// Loading the effect library and its registration.
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "minihost/detail.h"

namespace minihost {

namespace {

// The registration callback has no context argument of its own; the host
// pointer we pass carries the Plugin being registered.
thread_local std::vector<Registration> *registered = nullptr;
thread_local int32_t registrationAnswer = 0;

int32_t recordRegistration(void *hostPtr, const char *nameKey, const char *matchName, const char *categoryKey,
                           const char *entryPointName, uint32_t kind, int32_t major, int32_t minor,
                           int32_t reservedInfo) {
    if (!registered) return HOST_ERR_INTERNAL;
    Registration r;
    r.hostPtr = hostPtr;
    r.nameKey = nameKey ? nameKey : "";
    r.matchName = matchName ? matchName : "";
    r.categoryKey = categoryKey ? categoryKey : "";
    r.entryPointName = entryPointName ? entryPointName : "";
    r.kind = kind;
    r.apiVersionMajor = major;
    r.apiVersionMinor = minor;
    r.reservedInfo = reservedInfo;
    registered->push_back(std::move(r));
    return registrationAnswer;
}

#ifdef _WIN32
void *openLibrary(const std::string &path, std::string &error) {
    HMODULE m = LoadLibraryA(path.c_str());
    if (!m) error = "error " + std::to_string(GetLastError());
    return reinterpret_cast<void *>(m);
}
void *findSymbol(void *library, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void *library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
void *openLibrary(const std::string &path, std::string &error) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *e = dlerror();
        error = e ? e : "unknown error";
    }
    return handle;
}
void *findSymbol(void *library, const char *name) { return dlsym(library, name); }
void closeLibrary(void *library) { dlclose(library); }
#endif

}  // namespace

Plugin::Plugin(const std::string &path) : path_(path) {
    std::string error;
    library_ = openLibrary(path, error);
    if (!library_) throw std::runtime_error("cannot load the effect " + path + ": " + error);
    dataEntry_ = reinterpret_cast<PluginDataEntryFn>(findSymbol(library_, "PluginDataEntryFunction"));
    filterMain_ = reinterpret_cast<FilterMainFn>(findSymbol(library_, "FilterMain"));
    if (!dataEntry_ || !filterMain_) {
        closeLibrary(library_);
        library_ = nullptr;
        throw std::runtime_error(path + " is not an effect library: PluginDataEntryFunction or FilterMain is missing");
    }
}

Plugin::~Plugin() {
    if (library_) closeLibrary(library_);
}

int32_t Plugin::registerEffect(int32_t callbackResult, void *hostPtr) {
    registered = &registrations_;
    registrationAnswer = callbackResult;
    int32_t result = dataEntry_(hostPtr, &recordRegistration, nullptr, nullptr);
    registered = nullptr;
    return result;
}

}  // namespace minihost
