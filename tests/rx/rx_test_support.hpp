#pragma once
// Shared pieces of the receiver tests: the receiver library loaded through dlopen as a
// simulator loads it, database files written into temporary directories, parameter strings.
#include <complex>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "rx/response_database.hpp"
#include "support/ami_exports.hpp"
#include "support/temp_dir.hpp"

namespace rxtest {

// The receiver library's exports, loaded once per process; fails the test when it cannot.
const testsupport::AmiExports& RxLibrary();

// One AMI_Init ... AMI_Close cycle.
class RxInstance {
  public:
    RxInstance(std::vector<double>& impulse, double sampleInterval, double bitTime,
               const std::string& params);
    ~RxInstance();
    RxInstance(const RxInstance&) = delete;
    RxInstance& operator=(const RxInstance&) = delete;

    bool ok() const { return initResult_ == 1; }
    const std::string& message() const { return message_; }
    const std::string& paramsOut() const { return paramsOut_; }

    // AMI_GetWave on `wave` in place; `clockTimes` must hold wave.size() + 1 values.
    std::int32_t GetWave(std::vector<double>& wave, std::vector<double>& clockTimes);
    const std::string& lastParamsOut() const { return lastParamsOut_; }

  private:
    void* handle_ = nullptr;
    std::int32_t initResult_ = 0;
    std::string message_;
    std::string paramsOut_;
    std::string lastParamsOut_;
};

using testsupport::TempDir;

// Runs in `dir` while alive (the model writes its debug and dump files there).
class ScopedCurrentDir {
  public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir);
    ~ScopedCurrentDir();

  private:
    std::filesystem::path saved_;
};

// A stage as written into a record: frequency (Hz) -> response.
using StageFunction = std::function<std::complex<double>(double)>;
StageFunction FlatStage(double magnitudeDb);
// Gaussian low pass exp(-(f / width)^2) delayed by `delay`: a short time response that is
// causal in practice, reproduced closely by the stage interpolation on a fine grid.
StageFunction GaussianStage(double widthHz, double delay);

struct AmplitudeTable {
    std::vector<double> in;
    std::vector<double> out;
};
AmplitudeTable IdentityCurve();
AmplitudeTable SaturatingCurve(double limit);  // limit * tanh(x / limit)

// Frequencies 0, step, ..., maxHz.
std::vector<double> FrequencyGrid(double stepHz, double maxHz);

struct TestDatabase {
    std::vector<double> frequencies = FrequencyGrid(5e9, 400e9);
    StageFunction ctle = FlatStage(0.0);  // every CTLE stage (one or four)
    StageFunction vga = FlatStage(0.0);
    AmplitudeTable curve = IdentityCurve();  // every amplitude curve
};

// Writes the four characterisation files of the default supply (1.0 V) so that the default
// settings and the four-stage high-gain settings find their records. `cornerSuffix` "" is the
// typical corner, "_F" the fast and "_S" the slow one.
void WriteTestDatabase(const std::filesystem::path& dir, const TestDatabase& db,
                       const std::string& cornerSuffix = "");

// Every receiver file of the shipped description, with fewer gains to choose from (AC boosts
// 0-3 of 5 dB steps for the high-data-rate CTLE, 0-2 for the high-gain one, VGA gains 0.5, 1.1
// and 2.0), so that an auto-adaptation sweeps a dozen candidates instead of a hundred.
void WriteReducedKitDatabase(const std::filesystem::path& dir);

// A channel of one pole with a time constant of `tauUi` unit intervals, 64 unit intervals long,
// in 1/s.
std::vector<double> PoleChannel(double tauUi, int samplesPerBit, double sampleInterval);

// "(Vanta10_Rx (Database_Path "dir") (name value) ...)"
std::string Params(const std::filesystem::path& databaseDir,
                   const std::vector<std::pair<std::string, std::string>>& values = {});

std::string ReadFile(const std::filesystem::path& file);

// Value of "(Name  value)" in an output parameter string; NaN when absent.
double OutputValue(const std::string& paramsOut, const std::string& name);

}  // namespace rxtest
