#pragma once
// A model library loaded the way a simulator loads it: dlopen and the five C functions,
// declared here independently of the models' own headers. Shared by the tests and benchmarks.
#include <dlfcn.h>

#include <cstdint>
#include <string>

namespace testsupport {

using AmiInitFn = std::int32_t (*)(double*, std::int32_t, std::int32_t, double, double, char*,
                                   char**, void**, char**);
using AmiGetWaveFn = std::int32_t (*)(double*, std::int32_t, double*, char**, void*);
using AmiCloseFn = std::int32_t (*)(void*);
using AmiResolveFn = std::int32_t (*)(void*, const char*, char**);
using AmiResolveCloseFn = std::int32_t (*)(char*);

struct AmiExports {
    void* handle = nullptr;
    AmiInitFn init = nullptr;
    AmiGetWaveFn getWave = nullptr;
    AmiCloseFn close = nullptr;
    AmiResolveFn resolve = nullptr;
    AmiResolveCloseFn resolveClose = nullptr;
    std::string error;  // why loading failed, or which exports are missing; empty when complete

    bool complete() const { return error.empty(); }
};

// Never unloads: the library stays mapped for the life of the process, as in a simulator.
inline AmiExports LoadAmiExports(const std::string& path) {
    AmiExports e;
    e.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!e.handle) {
        const char* why = dlerror();
        e.error = "cannot load " + path + ": " + (why ? why : "unknown error");
        return e;
    }
    auto symbol = [&](const char* name) {
        void* p = dlsym(e.handle, name);
        if (!p) e.error += std::string(e.error.empty() ? "" : "; ") + "missing export " + name;
        return p;
    };
    e.init = reinterpret_cast<AmiInitFn>(symbol("AMI_Init"));
    e.getWave = reinterpret_cast<AmiGetWaveFn>(symbol("AMI_GetWave"));
    e.close = reinterpret_cast<AmiCloseFn>(symbol("AMI_Close"));
    e.resolve = reinterpret_cast<AmiResolveFn>(symbol("AMI_Resolve"));
    e.resolveClose = reinterpret_cast<AmiResolveCloseFn>(symbol("AMI_Resolve_Close"));
    return e;
}

}  // namespace testsupport
