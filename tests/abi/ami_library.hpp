#pragma once
// A model library loaded the way a simulator loads it, closed again with the object.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/ami_exports.hpp"

class AmiLibrary {
  public:
    explicit AmiLibrary(const std::string& path) : exports_(testsupport::LoadAmiExports(path)) {
        if (!exports_.complete()) ADD_FAILURE() << exports_.error;
        Init = exports_.init;
        GetWave = exports_.getWave;
        Close = exports_.close;
        Resolve = exports_.resolve;
        ResolveClose = exports_.resolveClose;
    }
    ~AmiLibrary() {
        if (exports_.handle) dlclose(exports_.handle);
    }
    AmiLibrary(const AmiLibrary&) = delete;
    AmiLibrary& operator=(const AmiLibrary&) = delete;

    bool Loaded() const { return exports_.handle && exports_.complete(); }

    testsupport::AmiInitFn Init = nullptr;
    testsupport::AmiGetWaveFn GetWave = nullptr;
    testsupport::AmiCloseFn Close = nullptr;
    testsupport::AmiResolveFn Resolve = nullptr;
    testsupport::AmiResolveCloseFn ResolveClose = nullptr;

  private:
    testsupport::AmiExports exports_;
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
