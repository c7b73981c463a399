#pragma once
// A model library loaded with dlopen, and one model instance driven through its C interface.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "amisim/host/console_capture.hpp"

namespace amisim {

struct AmiLibraryError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using AmiInitFn = std::int32_t (*)(double*, std::int32_t, std::int32_t, double, double, char*,
                                   char**, void**, char**);
using AmiGetWaveFn = std::int32_t (*)(double*, std::int32_t, double*, char**, void*);
using AmiCloseFn = std::int32_t (*)(void*);

class AmiLibrary {
  public:
    // Loads `path` and looks up AMI_Init and AMI_Close (and AMI_GetWave when `needGetWave`);
    // throws AmiLibraryError with the loader's message when the file or an export is missing.
    AmiLibrary(const std::string& path, bool needGetWave);
    ~AmiLibrary();
    AmiLibrary(const AmiLibrary&) = delete;
    AmiLibrary& operator=(const AmiLibrary&) = delete;

    const std::string& path() const { return path_; }
    AmiInitFn init = nullptr;
    AmiGetWaveFn getWave = nullptr;
    AmiCloseFn close = nullptr;

  private:
    std::string path_;
    void* handle_ = nullptr;
};

// One instance: AMI_Init in the constructor, AMI_Close in the destructor.
class AmiInstance {
  public:
    // Runs AMI_Init on `impulse` (processed in place). Throws AmiLibraryError holding the
    // model's message when AMI_Init returns 0.
    AmiInstance(const AmiLibrary& lib, std::vector<double>& impulse, double sampleInterval,
                double bitTime, const std::string& parametersIn);
    ~AmiInstance();
    AmiInstance(const AmiInstance&) = delete;
    AmiInstance& operator=(const AmiInstance&) = delete;

    // Runs AMI_GetWave on `wave` in place; clock times written by the model (without the
    // -1 terminator) are returned through `clockTimes`. Throws when it returns 0.
    void getWave(std::vector<double>& wave, std::vector<double>& clockTimes);

    const std::string& message() const { return message_; }
    const std::string& initParametersOut() const { return initParamsOut_; }
    const std::string& lastParametersOut() const { return lastParamsOut_; }
    // What the model printed on standard output during its calls so far.
    std::string console() const { return console_.text(); }

  private:
    ConsoleCapture console_;
    const AmiLibrary& lib_;
    void* handle_ = nullptr;
    std::string message_;
    std::string initParamsOut_;
    std::string lastParamsOut_;
    std::vector<double> clockBuffer_;
};

}  // namespace amisim
