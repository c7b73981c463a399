#include "amisim/host/ami_library.hpp"

#include <dlfcn.h>

#include <limits>

namespace amisim {

namespace {
std::string loaderError() {
    const char* e = dlerror();
    return e ? e : "unknown loader error";
}
}  // namespace

AmiLibrary::AmiLibrary(const std::string& path, bool needGetWave) : path_(path) {
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        throw AmiLibraryError("cannot load the model library '" + path + "': " + loaderError());
    auto lookup = [&](const char* name, bool required) -> void* {
        dlerror();
        void* sym = dlsym(handle_, name);
        if (!sym && required) {
            std::string why = loaderError();
            dlclose(handle_);
            handle_ = nullptr;
            throw AmiLibraryError("the model library '" + path + "' does not export " + name +
                                  ": " + why);
        }
        return sym;
    };
    init = reinterpret_cast<AmiInitFn>(lookup("AMI_Init", true));
    close = reinterpret_cast<AmiCloseFn>(lookup("AMI_Close", true));
    getWave = reinterpret_cast<AmiGetWaveFn>(lookup("AMI_GetWave", needGetWave));
}

AmiLibrary::~AmiLibrary() {
    if (handle_) dlclose(handle_);
}

AmiInstance::AmiInstance(const AmiLibrary& lib, std::vector<double>& impulse, double sampleInterval,
                         double bitTime, const std::string& parametersIn)
    : lib_(lib) {
    if (impulse.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw AmiLibraryError("the impulse response is too long for AMI_Init");
    std::vector<char> params(parametersIn.begin(), parametersIn.end());
    params.push_back('\0');
    char* out = nullptr;
    char* msg = nullptr;
    std::int32_t rc = 0;
    {
        ConsoleCapture::Scope capture(console_);
        rc = lib.init(impulse.data(), static_cast<std::int32_t>(impulse.size()), 0, sampleInterval,
                      bitTime, params.data(), &out, &handle_, &msg);
    }
    if (msg) message_ = msg;
    if (out) initParamsOut_ = out;
    lastParamsOut_ = initParamsOut_;
    if (rc == 0) {
        if (handle_) lib.close(handle_);
        handle_ = nullptr;
        std::string why = message_.empty() ? "(no message)" : message_;
        if (const std::string printed = console(); !printed.empty())
            why += "; it printed: " + printed;
        throw AmiLibraryError("AMI_Init of '" + lib.path() + "' failed: " + why);
    }
}

AmiInstance::~AmiInstance() {
    if (handle_) lib_.close(handle_);
}

void AmiInstance::getWave(std::vector<double>& wave, std::vector<double>& clockTimes) {
    if (!lib_.getWave) throw AmiLibraryError("'" + lib_.path() + "' has no AMI_GetWave");
    if (wave.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw AmiLibraryError("waveform block too long for AMI_GetWave");
    // Room for one time per sample and the terminator: a model can never write past it.
    clockBuffer_.assign(wave.size() + 2, -1.0);
    char* out = nullptr;
    std::int32_t rc = 0;
    {
        ConsoleCapture::Scope capture(console_);
        rc = lib_.getWave(wave.data(), static_cast<std::int32_t>(wave.size()), clockBuffer_.data(),
                          &out, handle_);
    }
    if (out) lastParamsOut_ = out;
    if (rc == 0) throw AmiLibraryError("AMI_GetWave of '" + lib_.path() + "' returned 0");
    clockTimes.clear();
    for (std::size_t i = 0; i < clockBuffer_.size() && clockBuffer_[i] >= 0.0; ++i)
        clockTimes.push_back(clockBuffer_[i]);
}

}  // namespace amisim
