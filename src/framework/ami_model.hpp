#pragma once
// Receiver model base: parameter tree, message log, output parameters, database directory,
// block timing and the debug and dump files with their switches.
#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ami_tree.hpp"
#include "param_queries.hpp"

class AmiModel {
  public:
    AmiModel(long row_size, int aggressors, double sample_interval, double bit_time,
             const char* AMI_parameters_in);
    virtual ~AmiModel();

    AmiModel(const AmiModel&) = delete;
    AmiModel& operator=(const AmiModel&) = delete;

    virtual void Init();
    virtual std::int32_t GetWave(double* wave, long wave_size, double* clock_times);
    virtual void GetWaveEnd(double* wave, long wave_size, double* clock_times);
    virtual void Configure() = 0;

    void OpenDebugFile();
    void WriteDebug(const std::string& text);

    // Value text below the root, or empty text with warning lines in msgLog.
    std::string GetParamText(const std::vector<std::string>& names);
    // Fills paramValues/paramIndices; true when at least one row fell back to its default.
    bool FetchParamVals(const std::vector<IntParamSpec>& table);

    const std::string& MsgLog() const { return msgLog; }
    const std::string& ParamsOut() const { return paramsOut; }

  protected:
    std::unique_ptr<AmiParamTree> paramTree;
    std::string msgLog;
    std::string paramsOut;
    std::string dataDir;
    std::string debugFileName;
    std::string inputDumpFileName;
    std::string outputDumpFileName;
    std::string dfeDumpFileName;
    std::string cdrDumpFileName;
    bool dataDirEmpty = false;
    double blockStartTime = 0;
    double sampleInterval = 0;
    double bitTime = 0;
    double inputDumpTime = 0;
    double outputDumpTime = 0;
    std::int32_t aggressors = 0;
    std::int32_t rowSize = 0;
    std::int32_t prevRowSize = 0;
    std::map<std::string, std::int32_t> paramValues;
    std::map<std::string, std::int32_t> paramIndices;
    std::ofstream debugFile;
    std::ofstream inputDumpFile;
    std::ofstream outputDumpFile;
    std::ofstream dfeDumpFile;
    std::ofstream cdrDumpFile;
    bool debugOn = false;
    bool dumpInputOn = false;
    bool dumpOutputOn = false;
    bool dumpDfeOn = false;
    bool dumpCdrOn = false;
    bool adaptDumpsAllowed = false;

  private:
    // Opens `file` under `name`, or under a numbered variant while another live instance holds
    // `name` (saying so in msgLog); the name stays held until this instance is destroyed.
    bool OpenOutputFile(std::ofstream& file, const std::string& name);
    std::vector<std::string> claimedFileNames;
};
