// Receiver model base: construction, debug and dump files, block timing.
#include "framework/ami_model.hpp"

#include "framework/ami_exceptions.hpp"
#include "framework/database_path.hpp"
#include "framework/format.hpp"
#include "framework/output_file_names.hpp"

AmiModel::AmiModel(long row_size, int aggressors, double sample_interval, double bit_time,
                   const char* AMI_parameters_in) {
    try {
        // A missing string is treated as an empty one: it fails to parse like any other.
        paramTree = std::make_unique<AmiParamTree>(AMI_parameters_in ? AMI_parameters_in : "");
    } catch (const AmiException& e) {
        msgLog +=
            "WARNING: Failed to parse input AMI parameter string; continuing with default "
            "parameter values.\n";
        msgLog += "The input AMI parameter string was:\n";
        msgLog += e.GetText();
    }
    rowSize = static_cast<std::int32_t>(row_size);
    prevRowSize = 0;
    this->aggressors = aggressors;
    sampleInterval = sample_interval;
    bitTime = bit_time;
    if (paramTree) {
        const DataDirResult resolved = ResolveDataDir(*paramTree, msgLog, ModuleDirectory());
        dataDir = resolved.dataDir;
        dataDirEmpty = resolved.fromModuleDir && dataDir.empty();
    }
}

AmiModel::~AmiModel() {
    for (std::ofstream* file :
         {&debugFile, &inputDumpFile, &outputDumpFile, &dfeDumpFile, &cdrDumpFile}) {
        if (file->is_open()) file->close();
    }
    for (const std::string& name : claimedFileNames) ReleaseOutputFileName(name);
}

bool AmiModel::OpenOutputFile(std::ofstream& file, const std::string& name) {
    const std::string claimed = ClaimOutputFileName(name);
    file.open(claimed, std::ios::out | std::ios::trunc);
    if (!file.is_open()) {
        ReleaseOutputFileName(claimed);
        return false;
    }
    claimedFileNames.push_back(claimed);
    if (claimed != name) {
        msgLog += "INFO: " + name + " is in use by another instance of this model; writing " +
                  claimed + " instead.\n";
    }
    return true;
}

void AmiModel::OpenDebugFile() {
    debugOn = false;
    if (!paramTree) return;
    std::string value;
    if (LookUpParam(*paramTree, {"debug", "enable"}, value) != 0) return;
    if (!ParseBool(value)) return;
    debugOn = OpenOutputFile(debugFile, debugFileName);
    if (!debugOn) msgLog += "WARNING: Failed to open debug output file, as requested.\n";
}

void AmiModel::WriteDebug(const std::string& text) {
    if (!debugOn) return;
    debugFile << text << '\n';
    debugFile.flush();
}

void AmiModel::Init() {
    const std::string line = ami::Format("row_size: %ld\n", static_cast<long>(rowSize));
    msgLog += line;
    WriteDebug(line);

    blockStartTime = 0;
    inputDumpTime = 0;
    outputDumpTime = 0;

    Configure();

    if (!paramTree || !debugOn) return;
    struct Dump {
        const char* switchName;
        bool& flag;
        std::ofstream& file;
        const std::string& fileName;
        const char* header;
        const char* failure;
    };
    const Dump dumps[] = {
        {"dump_getwave_input", dumpInputOn, inputDumpFile, inputDumpFileName,
         "Time`t`float\tGetWave_Input`V`float",
         "WARNING: Failed to open GetWave() input dump file, as requested.\n"},
        {"dump_getwave_output", dumpOutputOn, outputDumpFile, outputDumpFileName,
         "Time`t`float\tGetWave_Output`V`float",
         "WARNING: Failed to open GetWave() output dump file, as requested.\n"},
        {"dump_dfe_adaptation", dumpDfeOn, dfeDumpFile, dfeDumpFileName, nullptr,
         "WARNING: Failed to open DFE output dump file, as requested.\n"},
        {"dump_cdr_adaptation", dumpCdrOn, cdrDumpFile, cdrDumpFileName, "Clock Period \tLocked",
         "WARNING: Failed to open CDR output dump file, as requested.\n"},
    };
    for (const Dump& d : dumps) {
        const bool adaptive = (&d.flag == &dumpDfeOn || &d.flag == &dumpCdrOn);
        if (adaptive && !adaptDumpsAllowed) continue;
        std::string value;
        if (LookUpParam(*paramTree, {"debug", d.switchName}, value) != 0) continue;
        if (!ParseBool(value)) continue;
        d.flag = OpenOutputFile(d.file, d.fileName);
        if (!d.flag) {
            msgLog += d.failure;
            continue;
        }
        if (d.header) d.file << d.header << '\n';
    }
}

namespace {

void DumpSamples(std::ofstream& file, const double* wave, long wave_size, double& time,
                 double sampleInterval) {
    for (long i = 0; i < wave_size; ++i) {
        file << ami::Format("%14.6e\t%10.6f\n", time, wave[i]);
        time += sampleInterval;
    }
}

}  // namespace

std::int32_t AmiModel::GetWave(double* wave, long wave_size, double* /*clock_times*/) {
    if (wave_size != rowSize) {
        prevRowSize = rowSize;
        rowSize = static_cast<std::int32_t>(wave_size);
        Configure();
    }
    if (dumpInputOn && wave_size >= 1) {
        DumpSamples(inputDumpFile, wave, wave_size, inputDumpTime, sampleInterval);
    }
    return 1;
}

void AmiModel::GetWaveEnd(double* wave, long wave_size, double* /*clock_times*/) {
    if (dumpOutputOn && wave_size >= 1) {
        DumpSamples(outputDumpFile, wave, wave_size, outputDumpTime, sampleInterval);
    }
    blockStartTime += static_cast<double>(wave_size) * sampleInterval;
}
