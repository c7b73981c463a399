#pragma once
// A minimal concrete receiver model for exercising the base class, and a fixture that runs
// each test in a fresh temporary directory (the debug and dump files land in the current one).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/ami_model.hpp"

class TestRxModel : public AmiModel {
  public:
    explicit TestRxModel(const char* params, long rowSize = 4, double sampleInterval = 1e-12,
                         bool adaptDumps = false)
        : AmiModel(rowSize, 0, sampleInterval, 100e-12, params) {
        debugFileName = "test_debug.txt";
        inputDumpFileName = "test_input.txt";
        outputDumpFileName = "test_output.txt";
        dfeDumpFileName = "test_dfe.txt";
        cdrDumpFileName = "test_cdr.txt";
        adaptDumpsAllowed = adaptDumps;
    }

    void Configure() override { ++configureCalls; }

    // The receiver's waveform path in miniature: base first, processing, base end last.
    std::int32_t GetWave(double* wave, long wave_size, double* clock_times) override {
        AmiModel::GetWave(wave, wave_size, clock_times);
        for (long i = 0; i < wave_size; ++i) wave[i] *= 2;
        GetWaveEnd(wave, wave_size, clock_times);
        return 1;
    }

    int configureCalls = 0;
    AmiParamTree* Tree() const { return paramTree.get(); }
    const std::string& DataDir() const { return dataDir; }
    bool DataDirEmpty() const { return dataDirEmpty; }
    double BlockStartTime() const { return blockStartTime; }
    std::int32_t RowSize() const { return rowSize; }
    std::int32_t PrevRowSize() const { return prevRowSize; }
    bool DebugOn() const { return debugOn; }
    const std::map<std::string, std::int32_t>& Values() const { return paramValues; }
    const std::map<std::string, std::int32_t>& Indices() const { return paramIndices; }
    void SetDebugFileName(const std::string& name) { debugFileName = name; }
    void SetInputDumpFileName(const std::string& name) { inputDumpFileName = name; }
};

class InTempDir : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        char pattern[] = "/tmp/ami_framework_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    static std::string ReadFile(const std::string& name) {
        std::ifstream in(name);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path previous_;
    std::filesystem::path dir_;
};
