#pragma once
// Shared helpers of the transmitter tests: a temporary database directory written with the
// mkdb writer code, and the model library loaded through dlopen.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mkdb/tx_database_writer.hpp"
#include "mkdb/writers.hpp"

namespace txtest {

namespace fs = std::filesystem;

inline mkdb::TxDescription DefaultDescription() {
    return mkdb::loadTxDescription(mkdb::defaultTxDescription());
}

// A directory of its own per test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        static std::mt19937_64 rng{std::random_device{}()};
        path_ = fs::temp_directory_path() / ("tx_tests_" + std::to_string(rng()));
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

  private:
    fs::path path_;
};

inline void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Typical-corner, 1.0 V swing of the default device: c0 + c1 v + c2 v^2 with scale 0.5.
inline double TypicalSwing(double v) { return 0.01 + 0.04546 * v - 0.000228 * v * v; }

using InitFn = std::int32_t (*)(double*, std::int32_t, std::int32_t, double, double, char*, char**,
                                void**, char**);
using GetWaveFn = std::int32_t (*)(double*, std::int32_t, double*, char**, void*);
using CloseFn = std::int32_t (*)(void*);
using ResolveFn = std::int32_t (*)(void*, const char*, char**);
using ResolveCloseFn = std::int32_t (*)(char*);

struct TxLibrary {
    void* handle = nullptr;
    InitFn init = nullptr;
    GetWaveFn getWave = nullptr;
    CloseFn close = nullptr;
    ResolveFn resolve = nullptr;
    ResolveCloseFn resolveClose = nullptr;

    static const TxLibrary& Get() {
        static const TxLibrary lib = [] {
            TxLibrary l;
            l.handle = dlopen(TX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
            if (!l.handle) return l;
            l.init = reinterpret_cast<InitFn>(dlsym(l.handle, "AMI_Init"));
            l.getWave = reinterpret_cast<GetWaveFn>(dlsym(l.handle, "AMI_GetWave"));
            l.close = reinterpret_cast<CloseFn>(dlsym(l.handle, "AMI_Close"));
            l.resolve = reinterpret_cast<ResolveFn>(dlsym(l.handle, "AMI_Resolve"));
            l.resolveClose = reinterpret_cast<ResolveCloseFn>(dlsym(l.handle, "AMI_Resolve_Close"));
            return l;
        }();
        return lib;
    }
};

// One model instance built through AMI_Init; closed on destruction.
class TxInstance {
  public:
    TxInstance(const std::string& params, std::vector<double> impulse, int rowSize,
               int aggressors = 0, double sampleInterval = 1e-10 / 32, double bitTime = 1e-10)
        : impulse_(std::move(impulse)), lib_(TxLibrary::Get()) {
        EXPECT_NE(lib_.handle, nullptr) << dlerror();
        std::string in = params;
        char* out = nullptr;
        char* msg = nullptr;
        rc_ = lib_.init(impulse_.empty() ? nullptr : impulse_.data(), rowSize, aggressors,
                        sampleInterval, bitTime, in.data(), &out, &handle_, &msg);
        if (msg) msg_ = msg;
        if (out) paramsOut_ = out;
    }
    ~TxInstance() { lib_.close(handle_); }
    TxInstance(const TxInstance&) = delete;
    TxInstance& operator=(const TxInstance&) = delete;

    int rc() const { return rc_; }
    const std::string& msg() const { return msg_; }
    const std::string& paramsOut() const { return paramsOut_; }
    const std::vector<double>& impulse() const { return impulse_; }

    // Filters `wave` in place; returns the model's result and the first clock time.
    int GetWave(std::vector<double>& wave, double* firstClock = nullptr) {
        std::vector<double> clocks(wave.size() + 1, 7.0);
        char* out = nullptr;
        const int r = lib_.getWave(wave.data(), static_cast<std::int32_t>(wave.size()),
                                   clocks.data(), &out, handle_);
        if (firstClock) *firstClock = clocks[0];
        if (out) paramsOut_ = out;
        return r;
    }

  private:
    std::vector<double> impulse_;
    const TxLibrary& lib_;
    void* handle_ = nullptr;
    int rc_ = 0;
    std::string msg_;
    std::string paramsOut_;
};

// "(Vanta10_Tx (Database_Path <dir>) <extra>)".
inline std::string Params(const std::string& dir, const std::string& extra) {
    return "(Vanta10_Tx (Database_Path \"" + dir + "\") " + extra + ")";
}

inline std::string Taps(int vod, int ptap2, int ptap1, int tap1, int tap2, int inv2 = 0,
                        int inv1 = 0, int invT1 = 0, int invT2 = 0) {
    return "(Vod " + std::to_string(vod) + ") (ptap2 " + std::to_string(ptap2) + ") (ptap1 " +
           std::to_string(ptap1) + ") (tap1 " + std::to_string(tap1) + ") (tap2 " +
           std::to_string(tap2) + ") (inv_ptap2 " + std::to_string(inv2) + ") (inv_ptap1 " +
           std::to_string(inv1) + ") (inv_tap1 " + std::to_string(invT1) + ") (inv_tap2 " +
           std::to_string(invT2) + ")";
}

// Writes the default database into `dir`.
inline mkdb::TxDatabase WriteDefaultDatabase(const fs::path& dir) {
    mkdb::TxDatabase db = mkdb::buildTxDatabase(DefaultDescription());
    mkdb::writeTxDatabase(db, dir);
    return db;
}

}  // namespace txtest
