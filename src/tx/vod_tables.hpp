#pragma once
// Output swing of the transmitter: the VOD table (settings covered by the FIR map and a linear
// fallback) and the VOD coefficient table (one amplitude polynomial per corner and supply).
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace v10kx_ami_tx {

struct VodTable {
    double linearNumerator = 1.0;
    double linearDenominator = 1.0;
};

struct VodCoefRecord {
    std::string corner;
    std::string supply;
    std::vector<double> coefficients;  // c0 first; never empty in a parsed table
    double scale = 0;
};

using VodCoefTable = std::vector<VodCoefRecord>;

// The corner and supply the amplitude is looked up for, and the simulated bit rate.
struct TxSelections {
    std::string cornerName = "Typical";
    std::string supplyId = "1.0 V";
    double bitRate = 0;
};

// A VOD table needs a header line, the settings and the two trailer lines; anything shorter, or a
// zero denominator, is unusable (`error` says why).
std::optional<VodTable> ParseVodTable(const std::vector<std::string>& lines, std::string& error);

// The settings listed between the header line and the two trailer lines (lenient parse).
std::vector<double> VodSettings(const std::vector<std::string>& lines);

// Records back to back: corner, supply, count k, k coefficients, scale. Any malformed number
// rejects the whole table. `error` is set when the table is cut off or holds a count that cannot
// be a coefficient count; it stays empty for a number that does not parse.
std::optional<VodCoefTable> ParseVodCoefTable(const std::vector<std::string>& lines,
                                              std::string& error);

// Output amplitude of Vod setting v. Without coefficient records the linear fallback of the VOD
// table applies; otherwise the record of the selected corner and supply (or, after a line on
// `console`, the first record).
double VodAmplitude(double v, const VodTable& vodTable, const VodCoefTable& coefTable,
                    const TxSelections& selections, std::ostream& console);

}  // namespace v10kx_ami_tx
