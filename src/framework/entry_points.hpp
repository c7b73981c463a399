#pragma once
// The five C functions a simulator calls, written once and instantiated per model library.
//
// In exactly one .cpp file of each model library:
//
//   #include "framework/entry_points.hpp"
//   DEFINE_AMI_ENTRY_POINTS(AmiTx, v10kx_ami_tx::UserModel)   // AMI_Init, AMI_GetWave, AMI_Close
//
// The receiver, which resolves nothing, adds
//
//   DEFINE_AMI_RESOLVE_NOOP()   // AMI_Resolve and AMI_Resolve_Close: ignore arguments, return 1
//
// The transmitter adds DEFINE_AMI_RESOLVE(fn), where fn is callable as
//   fn(const AmiParamTree& tree, const std::string& parametersIn, std::string& result)
// and fills `result`. The parameter string is parsed before fn is called; a parse failure or
// any exception from fn makes AMI_Resolve return 0 without writing `*resolved_out`. Writing
// the two functions by hand with GuardedResolve and ResolveCloseImpl is equivalent.
//
// Requirements on the model: `Model` derives from `Base`; `Base` has a virtual destructor,
// `std::int32_t GetWave(double* wave, long wave_size, double* clock_times)`, `MsgLog()` and
// `ParamsOut()` returning the texts handed to the simulator; `Model` is constructible as
//   Model(double* impulse_matrix, std::int32_t row_size, std::int32_t aggressors,
//         double sample_interval, double bit_time, char* AMI_parameters_in)
// (any parameter types these convert to will do; AMI_parameters_in may be null).
//
// No exception ever leaves these functions. Parameter problems (the AmiException family) fail
// AMI_Init with the exception's own text; anything else fails it with
// "ERROR: model initialisation failed: " and the exception's text. A failed AMI_GetWave
// returns 0 and still hands out a valid output parameter string. Arguments that cannot be
// right (negative sizes, missing buffers, a null handle) are refused before any memory is
// touched.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "framework/ami_exceptions.hpp"
#include "framework/ami_tree.hpp"

#define AMI_EXPORT_ATTR __attribute__((visibility("default")))
#define AMI_EXPORT extern "C" AMI_EXPORT_ATTR

extern "C" {
AMI_EXPORT_ATTR std::int32_t AMI_Init(double* impulse_matrix, std::int32_t row_size,
                                      std::int32_t aggressors, double sample_interval,
                                      double bit_time, char* AMI_parameters_in,
                                      char** AMI_parameters_out, void** AMI_memory_handle,
                                      char** msg) noexcept;
AMI_EXPORT_ATTR std::int32_t AMI_GetWave(double* wave, std::int32_t wave_size, double* clock_times,
                                         char** AMI_parameters_out,
                                         void* AMI_memory_handle) noexcept;
AMI_EXPORT_ATTR std::int32_t AMI_Close(void* AMI_memory_handle) noexcept;
AMI_EXPORT_ATTR std::int32_t AMI_Resolve(void* context, const char* parameters_in,
                                         char** resolved_out) noexcept;
AMI_EXPORT_ATTR std::int32_t AMI_Resolve_Close(char* resolved) noexcept;
}

// The record handed to the simulator as AMI_memory_handle. It owns the model and the two
// strings given out; the simulator never frees them.
template <class Base>
struct AmiHandle {
    Base* model = nullptr;
    char* msgCopy = nullptr;
    char* paramsOutCopy = nullptr;
};

namespace ami_entry {

inline constexpr const char* kFatalAllocation =
    "FATAL ERROR: Couldn't even allocate pointer memory!";
inline constexpr const char* kInitFailed = "ERROR: model initialisation failed: ";
inline constexpr const char* kInitOutOfMemory = "ERROR: model initialisation failed: out of memory";
inline constexpr const char* kNoHandleSlot =
    "ERROR: AMI_Init received no place to store its memory handle.";

// malloc'd NUL-terminated copy, or null when memory is short.
inline char* CopyToC(const std::string& text) noexcept {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// The text a failed AMI_Init hands to the simulator, by exception family: a parameter problem
// keeps its own text, running out of memory says so, anything else is prefixed as a failed
// initialisation.
inline std::string FailureText(const std::exception& e) {
    if (dynamic_cast<const AmiException*>(&e)) return e.what();
    if (dynamic_cast<const std::bad_alloc*>(&e)) return kInitOutOfMemory;
    return kInitFailed + std::string(e.what());
}

// Refusal text for arguments no model can work with; empty when they are acceptable.
inline std::string CheckInitArguments(const double* impulse_matrix, std::int32_t row_size,
                                      std::int32_t aggressors) {
    if (row_size < 0) {
        return "ERROR: AMI_Init received a negative row_size: " + std::to_string(row_size);
    }
    if (aggressors < 0) {
        return "ERROR: AMI_Init received a negative aggressors count: " +
               std::to_string(aggressors);
    }
    if (row_size > 0 && !impulse_matrix) {
        return "ERROR: AMI_Init received no impulse_matrix for row_size " +
               std::to_string(row_size);
    }
    return {};
}

template <class Base, class Model>
std::int32_t InitImpl(double* impulse_matrix, std::int32_t row_size, std::int32_t aggressors,
                      double sample_interval, double bit_time, char* AMI_parameters_in,
                      char** AMI_parameters_out, void** AMI_memory_handle, char** msg) noexcept {
    auto say = [msg](const char* text) {
        if (msg) *msg = const_cast<char*>(text);
    };
    if (!AMI_memory_handle) {
        say(kNoHandleSlot);
        return 0;
    }
    auto* handle = new (std::nothrow) AmiHandle<Base>();
    if (!handle) {
        say(kFatalAllocation);
        return 0;
    }
    // Stored before the model exists, so that AMI_Close can free a failed attempt.
    *AMI_memory_handle = handle;

    std::string failure;
    bool failureTextLost = false;
    try {
        failure = CheckInitArguments(impulse_matrix, row_size, aggressors);
        if (failure.empty()) {
            try {
                handle->model = new Model(impulse_matrix, row_size, aggressors, sample_interval,
                                          bit_time, AMI_parameters_in);
            } catch (const std::exception& e) {
                failure = FailureText(e);
            } catch (...) {
                failure = kInitFailed + std::string("unknown exception");
            }
        }
    } catch (...) {
        // Even the failure text could not be built.
        failureTextLost = true;
    }

    if (failureTextLost || !failure.empty()) {
        handle->msgCopy = failureTextLost ? nullptr : CopyToC(failure);
        if (handle->msgCopy) {
            say(handle->msgCopy);
        } else {
            say(kInitOutOfMemory);
        }
        return 0;
    }

    handle->msgCopy = CopyToC(handle->model->MsgLog());
    handle->paramsOutCopy = CopyToC(handle->model->ParamsOut());
    if (!handle->msgCopy || !handle->paramsOutCopy) {
        // The model cannot hand back its texts; treat it as not built.
        delete handle->model;
        handle->model = nullptr;
        std::free(handle->msgCopy);
        std::free(handle->paramsOutCopy);
        handle->msgCopy = nullptr;
        handle->paramsOutCopy = nullptr;
        say(kInitOutOfMemory);
        return 0;
    }
    say(handle->msgCopy);
    if (AMI_parameters_out) *AMI_parameters_out = handle->paramsOutCopy;
    return 1;
}

template <class Base>
std::int32_t GetWaveImpl(double* wave, std::int32_t wave_size, double* clock_times,
                         char** AMI_parameters_out, void* AMI_memory_handle) noexcept {
    auto* handle = static_cast<AmiHandle<Base>*>(AMI_memory_handle);
    // No model after a failed AMI_Init; nothing sensible to do with a negative size or a
    // missing waveform either.
    if (!handle || !handle->model) return 0;
    if (wave_size < 0 || (wave_size > 0 && !wave)) return 0;

    std::int32_t result = 0;
    try {
        // A model writes at most one clock time per sample and the closing -1.0; without an
        // array from the simulator it writes into a private one.
        std::vector<double> scratch;
        if (!clock_times) {
            scratch.assign(static_cast<std::size_t>(wave_size) + 1, -1.0);
            clock_times = scratch.data();
        }
        result = handle->model->GetWave(wave, wave_size, clock_times);
    } catch (...) {
        result = 0;
    }

    // The new copy is made before the old one is freed, so the simulator always gets a fresh
    // array and keeps a valid one even when memory is short.
    if (char* fresh = CopyToC(handle->model->ParamsOut())) {
        std::free(handle->paramsOutCopy);
        handle->paramsOutCopy = fresh;
    } else {
        result = 0;
    }
    if (AMI_parameters_out && handle->paramsOutCopy) {
        *AMI_parameters_out = handle->paramsOutCopy;
    }
    return result;
}

template <class Base>
std::int32_t CloseImpl(void* AMI_memory_handle) noexcept {
    auto* handle = static_cast<AmiHandle<Base>*>(AMI_memory_handle);
    if (!handle) return 1;
    delete handle->model;  // virtual: closes the model's files and frees its tree
    std::free(handle->msgCopy);
    std::free(handle->paramsOutCopy);
    delete handle;
    return 1;
}

template <class F>
std::int32_t GuardedResolve(const char* parameters_in, char** resolved_out,
                            F&& resolveFn) noexcept {
    if (!parameters_in) return 0;
    try {
        std::string text(parameters_in);
        const AmiParamTree tree(text);
        std::string result;
        resolveFn(tree, text, result);
        char* copy = CopyToC(result);
        if (!copy) return 0;
        if (resolved_out) {
            *resolved_out = copy;
        } else {
            std::free(copy);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// Frees a string returned by AMI_Resolve; null is allowed.
inline std::int32_t ResolveCloseImpl(char* resolved) noexcept {
    std::free(resolved);
    return 1;
}

}  // namespace ami_entry

#define DEFINE_AMI_ENTRY_POINTS(BaseType, ModelType)                                               \
    AMI_EXPORT std::int32_t AMI_Init(                                                              \
        double* impulse_matrix, std::int32_t row_size, std::int32_t aggressors,                    \
        double sample_interval, double bit_time, char* AMI_parameters_in,                          \
        char** AMI_parameters_out, void** AMI_memory_handle, char** msg) noexcept {                \
        return ::ami_entry::InitImpl<BaseType, ModelType>(                                         \
            impulse_matrix, row_size, aggressors, sample_interval, bit_time, AMI_parameters_in,    \
            AMI_parameters_out, AMI_memory_handle, msg);                                           \
    }                                                                                              \
    AMI_EXPORT std::int32_t AMI_GetWave(double* wave, std::int32_t wave_size, double* clock_times, \
                                        char** AMI_parameters_out,                                 \
                                        void* AMI_memory_handle) noexcept {                        \
        return ::ami_entry::GetWaveImpl<BaseType>(wave, wave_size, clock_times,                    \
                                                  AMI_parameters_out, AMI_memory_handle);          \
    }                                                                                              \
    AMI_EXPORT std::int32_t AMI_Close(void* AMI_memory_handle) noexcept {                          \
        return ::ami_entry::CloseImpl<BaseType>(AMI_memory_handle);                                \
    }

#define DEFINE_AMI_RESOLVE_NOOP()                                                          \
    AMI_EXPORT std::int32_t AMI_Resolve(void*, const char*, char**) noexcept { return 1; } \
    AMI_EXPORT std::int32_t AMI_Resolve_Close(char*) noexcept { return 1; }

#define DEFINE_AMI_RESOLVE(resolveFn)                                               \
    AMI_EXPORT std::int32_t AMI_Resolve(void*, const char* parameters_in,           \
                                        char** resolved_out) noexcept {             \
        return ::ami_entry::GuardedResolve(parameters_in, resolved_out, resolveFn); \
    }                                                                               \
    AMI_EXPORT std::int32_t AMI_Resolve_Close(char* resolved) noexcept {            \
        return ::ami_entry::ResolveCloseImpl(resolved);                             \
    }
