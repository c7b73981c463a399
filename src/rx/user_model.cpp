// Construction of the receiver, in the order its message log and output parameters report it.
#include "rx/user_model.hpp"

#include <cmath>

#include "framework/ami_exceptions.hpp"
#include "framework/database_path.hpp"
#include "rx/rx_format.hpp"
#include "rx/rx_identity.hpp"
#include "rx/rx_jitter.hpp"
#include "rx/rx_process_state.hpp"
#include "rx/stage_assembly.hpp"

namespace v10kx_ami_rx {
namespace {

// What the simulator hands over must make sense before anything is computed from it.
void CheckInitArguments(const double* impulse_matrix, long row_size, double sample_interval,
                        double bit_time) {
    if (!(sample_interval > 0) || !std::isfinite(sample_interval)) {
        throw AmiException(
            Format("Invalid sample_interval %g s: it must be a positive time.", sample_interval));
    }
    if (!(bit_time > 0) || !std::isfinite(bit_time)) {
        throw AmiException(Format("Invalid bit_time %g s: it must be a positive time.", bit_time));
    }
    const double bitRate = 1.0 / bit_time;
    if (!(bitRate >= kMinBitRate && bitRate <= kMaxBitRate)) {
        throw AmiException(
            Format("Invalid bit_time %g s: its bit rate of %g Gbps is outside the range of %f - %f "
                   "Gbps that the clock recovery and the jitter tables serve.",
                   bit_time, bitRate / 1e9, kMinBitRate / 1e9, kMaxBitRate / 1e9));
    }
    if (row_size < 0) {
        throw AmiException(Format("Invalid row_size %ld: it must not be negative.", row_size));
    }
    if (row_size > 0 && impulse_matrix == nullptr) {
        throw AmiException("No impulse_matrix was given for a non-empty impulse response.");
    }
}

}  // namespace

UserModel::UserModel(double* impulse_matrix, long row_size, int aggressors, double sample_interval,
                     double bit_time, const char* AMI_parameters_in, FftEngine fftEngine)
    : AmiRxFFTMult(row_size, aggressors, sample_interval, bit_time, AMI_parameters_in, fftEngine) {
    CheckInitArguments(impulse_matrix, row_size, sample_interval, bit_time);

    // Identity.
    msgLog += kIdentificationLine;
    paramsOut = std::string("(") + kRootName + "\n" + kDescriptionLine;
    debugFileName = kDebugFileName;
    inputDumpFileName = kInputDumpFileName;
    outputDumpFileName = kOutputDumpFileName;
    dfeDumpFileName = kDfeDumpFileName;
    cdrDumpFileName = kCdrDumpFileName;
    OpenDebugFile();

    TheReceiverProcessState().dfeConstant = 2.5;

    // Table parameters.
    if (FetchParamVals(ReceiverParamTable())) {
        msgLog += "WARNING: An error was reported by `FetchParamVals()`\n";
        msgLog += "         Simulation results may be suspect.\n";
    }
    RxSettings settings = SettingsFromIndices(paramIndices);

    stageResponses.clear();
    stageCurveIn.clear();
    stageCurveOut.clear();
    const double bitRate = 1.0 / bitTime;

    if (bitRate > 17.4e9 && settings.pwrql != 1) {
        const std::string warning =
            "WARNING: 'pwrql' must be set to 1.1V for operation at 17.4 Gbps or above!\n";
        WriteDebug(warning);
        msgLog += warning;
    }

    // Jitter and sensitivity outputs.
    settings.ctleHgSel = ReadIntParam({"ctle_hg_sel"}, 0);
    settings.dfeMode = ReadIntParam({"dfe", "mode"}, 0);
    ReportJitter(MakeJitterRequest(settings, bitTime), msgLog, paramsOut);

    // Read again with ctle_mode, so a missing value is reported for this step too.
    settings.ctleHgSel = ReadIntParam({"ctle_hg_sel"}, 0);
    settings.ctleMode = ReadIntParam({"ctle_mode"}, 0);
    RxLabels labels = DeriveLabels(settings);

    if (!dataDirEmpty && !dataDir.empty()) dataDir += "/";

    if (settings.ctleMode != 0 && (dataDirEmpty || !dataDir.empty()) && !settings.Qpi()) {
        AutoAdaptEqualiser(settings, labels, bitRate, impulse_matrix);
    }
    if (settings.Qpi()) settings.vgaGain = 7;

    // Database lookups. The files go with each lookup under one lock: another instance under
    // construction on another thread may be asking for another corner or supply at the same
    // moment.
    const ResponseDatabaseFiles files = DatabaseFiles(labels);
    ResponseSelection ctle;
    LookupResponse(ctle, CtleRequest(settings, labels, bitRate), files);
    ResponseSelection vga;
    LookupResponse(vga, VgaRequest(settings, labels, bitRate), files);
    AssembleStages(settings, ctle, vga);
    ReleaseResponseCache();

    SetUpDecisionFeedback(settings, labels);

    paramsOut += ")\n";
    AmiRxFFTMult::Init(impulse_matrix, 1);
}

ResponseDatabaseFiles UserModel::DatabaseFiles(const RxLabels& labels) const {
    ResponseDatabaseFiles files;
    files.highGain = dataDir + kHighGainCtleFile;
    files.highDataRate = dataDir + kHighDataRateCtleFile;
    files.qpi = dataDir + kQpiCtleFile;
    files.vga = dataDir + kVgaResponseFile;
    files.corner = labels.corner;
    files.supplyLabel = labels.supply;
    files.supplySetting = labels.supply;
    return files;
}

int UserModel::ReadIntParam(const std::vector<std::string>& names, int fallback) {
    return ScanIntOr(GetParamText(names), fallback);
}

void UserModel::AssembleStages(const RxSettings& settings, const ResponseSelection& ctle,
                               const ResponseSelection& vga) {
    const bool fourStages = settings.HighGainCtle() || settings.Qpi();
    const std::vector<StageRows> rows = CtleStageRows(fourStages, settings.Qpi());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        AddStage(ctle.response, ctle.curve, rows[k],
                 fourStages ? Format("CTLE stage %u", static_cast<unsigned>(k + 1)) : "CTLE");
    }
    AddStage(vga.response, vga.curve, kVgaStageRows, "VGA");
}

void UserModel::AddStage(const ResponseRecord& response, const ResponseRecord& curve,
                         const StageRows& rows, const std::string& stageName) {
    std::optional<StageResponse> stage = StageFromRecord(response, rows.magnitude, rows.phase);
    if (!stage) {
        msgLog += "WARNING: No usable " + stageName +
                  " response was found in the database for these settings; the stage is left "
                  "out.\n";
        return;
    }
    std::optional<AmplitudeCurve> amplitude = CurveFromRecord(curve, rows.curveIn, rows.curveOut);
    if (!amplitude) {
        msgLog += "WARNING: No usable amplitude curve was found for the " + stageName +
                  " stage; it is applied without one.\n";
        amplitude.emplace();
    }
    stageResponses.push_back(std::move(*stage));
    stageCurveIn.push_back(std::move(amplitude->in));
    stageCurveOut.push_back(std::move(amplitude->out));
}

}  // namespace v10kx_ami_rx
