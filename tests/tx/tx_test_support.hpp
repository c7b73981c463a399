#pragma once
// Shared helpers of the transmitter tests: a temporary database directory written with the
// mkdb writer code, and the model library loaded through dlopen.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mkdb/tx_database_writer.hpp"
#include "mkdb/writers.hpp"
#include "support/ami_exports.hpp"
#include "support/temp_dir.hpp"

namespace txtest {

namespace fs = std::filesystem;

inline mkdb::TxDescription DefaultDescription() {
    return mkdb::loadTxDescription(mkdb::defaultTxDescription());
}

using testsupport::TempDir;

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

// The library's exports, loaded once per process.
struct TxLibrary {
    static const testsupport::AmiExports& Get() {
        static const testsupport::AmiExports lib = testsupport::LoadAmiExports(TX_LIBRARY_PATH);
        return lib;
    }
};

// One model instance built through AMI_Init; closed on destruction.
class TxInstance {
  public:
    TxInstance(const std::string& params, std::vector<double> impulse, int rowSize,
               int aggressors = 0, double sampleInterval = 1e-10 / 32, double bitTime = 1e-10)
        : impulse_(std::move(impulse)), lib_(TxLibrary::Get()) {
        EXPECT_TRUE(lib_.complete()) << lib_.error;
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
    const testsupport::AmiExports& lib_;
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
