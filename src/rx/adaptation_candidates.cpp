#include "rx/adaptation_candidates.hpp"

#include <optional>
#include <stdexcept>

#include "rx/rx_format.hpp"
#include "rx/stage_assembly.hpp"

namespace v10kx_ami_rx {
namespace {

double ValueAt(const std::vector<double>& values, int index, const char* what) {
    if (index < 0 || static_cast<std::size_t>(index) >= values.size()) {
        throw std::out_of_range(Format("%s index %d is not in the response database", what, index));
    }
    return values[static_cast<std::size_t>(index)];
}

ChainStage StageOf(const ResponseSelection& selection, const StageRows& rows,
                   const std::string& name) {
    std::optional<StageResponse> response =
        StageFromRecord(selection.response, rows.magnitude, rows.phase);
    if (!response) throw std::runtime_error("the response database holds no usable " + name);
    ChainStage stage;
    stage.response = std::move(*response);
    // As in the receiver: a stage without a usable curve runs without one.
    if (std::optional<AmplitudeCurve> curve =
            CurveFromRecord(selection.curve, rows.curveIn, rows.curveOut)) {
        stage.curveIn = std::move(curve->in);
        stage.curveOut = std::move(curve->out);
    }
    return stage;
}

ResponseRequest RequestOf(double bandwidth, std::string path, std::string variant,
                          const std::string& family, double bitRate) {
    ResponseRequest request;
    request.bandwidth = bandwidth;
    request.path = std::move(path);
    request.variant = std::move(variant);
    request.family = family;
    request.bitRate = bitRate;
    return request;
}

}  // namespace

DatabaseCandidates::DatabaseCandidates(const AdaptationSetup& setup,
                                       const ResponseDatabaseFiles& files, double bitRate,
                                       bool fourStageCtle)
    : files_(files),
      ctle_(
          RequestOf(setup.ctleBandwidth, setup.ctlePath, setup.ctleVariant, setup.family, bitRate)),
      vga_(RequestOf(setup.vgaBandwidth, kVgaPath, "H", setup.family, bitRate)),
      fourStages_(fourStageCtle) {}

CandidateGrid DatabaseCandidates::Grid() {
    ResponseSelection ctle;
    ResponseSelection vga;
    grid_ = CandidateGrid();
    if (LookupResponse(ctle, ctle_, files_, true) && LookupResponse(vga, vga_, files_, true)) {
        grid_.boostValues = ctle.info.axisA;
        grid_.dcValues = ctle.info.axisB;
        grid_.vgaGains = vga.info.axisA;
    }
    return grid_;
}

std::vector<ChainStage> DatabaseCandidates::CtleStages(int dc, int boost) {
    ResponseRequest request = ctle_;
    request.acGain = ValueAt(grid_.boostValues, boost, "AC boost");
    request.dcGain = ValueAt(grid_.dcValues, dc, "DC gain");
    ResponseSelection selection;
    const std::string name =
        Format("CTLE response for AC gain %g and DC gain %g", request.acGain, request.dcGain);
    if (!LookupResponse(selection, request, files_)) {
        throw std::runtime_error("the response database holds no " + name);
    }
    std::vector<ChainStage> stages;
    for (const StageRows& rows : CtleStageRows(fourStages_, false)) {
        stages.push_back(StageOf(selection, rows, name));
    }
    return stages;
}

ChainStage DatabaseCandidates::VgaStage(int vga) {
    ResponseRequest request = vga_;
    request.acGain = ValueAt(grid_.vgaGains, vga, "VGA gain");
    ResponseSelection selection;
    const std::string name = Format("VGA response for gain %g", request.acGain);
    if (!LookupResponse(selection, request, files_)) {
        throw std::runtime_error("the response database holds no " + name);
    }
    return StageOf(selection, kVgaStageRows, name);
}

}  // namespace v10kx_ami_rx
