#pragma once
// Pieces shared by the libFuzzer harnesses: a scratch directory for fuzz input written as a file
// for the file readers, and the three calls of a model instance's life. Models write their
// debug and dump files into the working directory, which scripts/fuzz.sh points at a directory
// of the harness's own (a harness must not change it: libFuzzer's paths may be relative).
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fuzz {

// Created on first use, left for the system to clean up.
inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "ami_fuzz_XXXXXX").string();
        if (!mkdtemp(pattern.data())) abort();
        return std::filesystem::path(pattern);
    }();
    return dir;
}

// Writes the bytes into `name` in the scratch directory and returns its path.
inline std::string WriteInput(const std::uint8_t* data, std::size_t size, const std::string& name) {
    const std::string path = (ScratchDir() / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

inline std::string AsText(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace fuzz

// The five functions of the model library the harness is linked with.
extern "C" {
std::int32_t AMI_Init(double*, std::int32_t, std::int32_t, double, double, char*, char**, void**,
                      char**);
std::int32_t AMI_GetWave(double*, std::int32_t, double*, char**, void*);
std::int32_t AMI_Close(void*);
std::int32_t AMI_Resolve(void*, const char*, char**);
std::int32_t AMI_Resolve_Close(char*);
}

namespace fuzz {

// AMI_Init with an impulse of `rowSize` x (1 + `aggressors`) samples, one AMI_GetWave per
// block size in `blocks` (a bit pattern of +-0.5 V), AMI_Close. Every string handed back is
// read to its end, so a missing terminator shows up under AddressSanitizer.
inline void RunInstance(std::string params, std::int32_t rowSize, std::int32_t aggressors,
                        double sampleInterval, double bitTime,
                        const std::vector<std::int32_t>& blocks) {
    const std::size_t impulseSize =
        rowSize > 0 && aggressors >= 0 ? static_cast<std::size_t>(rowSize) * (1 + aggressors) : 0;
    std::vector<double> impulse(impulseSize, 0.0);
    for (std::size_t i = 0; i < impulse.size(); ++i) impulse[i] = 1.0 / (1.0 + i % 97);
    char* out = nullptr;
    char* msg = nullptr;
    void* handle = nullptr;
    const std::int32_t ok =
        AMI_Init(impulse.empty() ? nullptr : impulse.data(), rowSize, aggressors, sampleInterval,
                 bitTime, params.data(), &out, &handle, &msg);
    volatile std::size_t seen = 0;
    if (msg) seen = seen + std::string(msg).size();
    if (ok == 1) {
        if (out) seen = seen + std::string(out).size();
        std::uint32_t state = 0x1234567u;
        for (std::int32_t n : blocks) {
            const std::size_t size = n > 0 ? static_cast<std::size_t>(n) : 0;
            std::vector<double> wave(size);
            for (double& v : wave) {
                state = state * 1103515245u + 12345u;
                v = (state >> 16) & 1 ? 0.5 : -0.5;
            }
            // One clock time per sample at most, then the closing -1.
            std::vector<double> clocks(size + 1, 0.0);
            char* waveOut = nullptr;
            AMI_GetWave(wave.empty() ? nullptr : wave.data(), n, clocks.data(), &waveOut, handle);
            if (waveOut) seen = seen + std::string(waveOut).size();
        }
    }
    AMI_Close(handle);
}

}  // namespace fuzz
