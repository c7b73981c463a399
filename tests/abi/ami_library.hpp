#pragma once
// A model library loaded the way a simulator loads it: dlopen and the five C functions,
// declared here independently of the framework's own headers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using AmiInitFn = std::int32_t (*)(double*, std::int32_t, std::int32_t, double, double, char*,
                                   char**, void**, char**);
using AmiGetWaveFn = std::int32_t (*)(double*, std::int32_t, double*, char**, void*);
using AmiCloseFn = std::int32_t (*)(void*);
using AmiResolveFn = std::int32_t (*)(void*, const char*, char**);
using AmiResolveCloseFn = std::int32_t (*)(char*);

class AmiLibrary {
  public:
    explicit AmiLibrary(const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            ADD_FAILURE() << "dlopen " << path << ": " << dlerror();
            return;
        }
        Init = Symbol<AmiInitFn>("AMI_Init");
        GetWave = Symbol<AmiGetWaveFn>("AMI_GetWave");
        Close = Symbol<AmiCloseFn>("AMI_Close");
        Resolve = Symbol<AmiResolveFn>("AMI_Resolve");
        ResolveClose = Symbol<AmiResolveCloseFn>("AMI_Resolve_Close");
    }
    ~AmiLibrary() {
        if (handle_) dlclose(handle_);
    }
    AmiLibrary(const AmiLibrary&) = delete;
    AmiLibrary& operator=(const AmiLibrary&) = delete;

    bool Loaded() const { return handle_ && Init && GetWave && Close && Resolve && ResolveClose; }

    AmiInitFn Init = nullptr;
    AmiGetWaveFn GetWave = nullptr;
    AmiCloseFn Close = nullptr;
    AmiResolveFn Resolve = nullptr;
    AmiResolveCloseFn ResolveClose = nullptr;

  private:
    template <class Fn>
    Fn Symbol(const char* name) {
        void* p = dlsym(handle_, name);
        if (!p) ADD_FAILURE() << "missing export " << name;
        return reinterpret_cast<Fn>(p);
    }

    void* handle_ = nullptr;
};

// One AMI_Init call with its outputs, closed automatically.
struct InitCall {
    InitCall(const AmiLibrary& lib, const std::string& params, std::int32_t rowSize = 8,
             std::int32_t aggressors = 0, bool withImpulse = true)
        : lib_(lib), impulse(static_cast<std::size_t>(rowSize > 0 ? rowSize : 1), 0.0) {
        impulse[0] = 1.0;
        std::string copy = params;
        result = lib.Init(withImpulse ? impulse.data() : nullptr, rowSize, aggressors, 1e-12, 1e-10,
                          copy.data(), &paramsOut, &handle, &msg);
    }
    ~InitCall() {
        if (handle) {
            EXPECT_EQ(lib_.Close(handle), 1);
        }
    }
    std::string Msg() const { return msg ? msg : "<null>"; }

    const AmiLibrary& lib_;
    std::vector<double> impulse;
    std::int32_t result = -1;
    char* paramsOut = nullptr;
    void* handle = nullptr;
    char* msg = nullptr;
};
