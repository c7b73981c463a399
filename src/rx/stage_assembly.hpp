#pragma once
// Turning database records into the stage responses and amplitude curves of the cascade.
#include <cstdint>
#include <optional>
#include <vector>

#include "rx/ami_rx_fft_mult.hpp"
#include "rx/response_database.hpp"

namespace v10kx_ami_rx {

// Points (f, 10^(M/20) e^(j P pi/180)) with f from row 0, M from row `magnitudeRow` and P from
// row `phaseRow`. Nothing when the record lacks those rows, holds no point, or its frequencies
// are not finite and strictly ascending.
std::optional<AmiRxFFTMult::StageResponse> StageFromRecord(const ResponseRecord& record,
                                                           std::uint32_t magnitudeRow,
                                                           std::uint32_t phaseRow);

struct AmplitudeCurve {
    std::vector<double> in;
    std::vector<double> out;
};

// Input amplitudes from row `inRow`, output amplitudes from row `outRow`. Nothing when the
// record lacks those rows, holds fewer than two points, or its inputs are not finite and
// strictly monotonic.
std::optional<AmplitudeCurve> CurveFromRecord(const ResponseRecord& record, std::uint32_t inRow,
                                              std::uint32_t outRow);

// Where each CTLE stage's response and amplitude curve stand in the records of one lookup: the
// single high-data-rate stage, or the four stages of the high-gain and QPI records (the QPI
// file's stages after the first take the second curve pair).
struct StageRows {
    std::uint32_t magnitude;
    std::uint32_t phase;
    std::uint32_t curveIn;
    std::uint32_t curveOut;
};
std::vector<StageRows> CtleStageRows(bool fourStages, bool qpi);
// The VGA stage's rows.
inline constexpr StageRows kVgaStageRows{1, 2, 0, 1};

}  // namespace v10kx_ami_rx
