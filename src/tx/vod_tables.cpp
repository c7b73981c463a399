#include "tx/vod_tables.hpp"

#include <cmath>
#include <cstdint>
#include <limits>

#include "tx/text_lines.hpp"

namespace v10kx_ami_tx {

namespace {

// Longest coefficient table walk: records are read while their first line is within this index.
constexpr std::size_t kLastRecordStartLine = 1000;

// Round half away from zero to a 32-bit integer, saturating instead of overflowing.
std::int32_t RoundToInt32(double t) {
    if (std::isnan(t)) return 0;
    const double r = t > 0 ? t + 0.5 : t - 0.5;
    if (r >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (r <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

}  // namespace

std::optional<VodTable> ParseVodTable(const std::vector<std::string>& lines, std::string& error) {
    if (lines.size() < 3) {
        error = "it holds " + std::to_string(lines.size()) +
                " complete lines; a header, the settings and two trailer lines are needed";
        return std::nullopt;
    }
    VodTable table;
    table.linearNumerator = ParseLenient(lines[lines.size() - 2]);
    table.linearDenominator = ParseLenient(lines[lines.size() - 1]);
    if (table.linearDenominator == 0.0) {
        error = "its last line (the linear denominator) is zero";
        return std::nullopt;
    }
    return table;
}

std::vector<double> VodSettings(const std::vector<std::string>& lines) {
    std::vector<double> settings;
    for (std::size_t i = 1; i + 2 < lines.size(); ++i) settings.push_back(ParseLenient(lines[i]));
    return settings;
}

std::optional<VodCoefTable> ParseVodCoefTable(const std::vector<std::string>& lines,
                                              std::string& error) {
    VodCoefTable table;
    std::size_t i = 0;
    const auto cutOff = [&](std::size_t recordStart) {
        error = "the record starting at line " + std::to_string(recordStart + 1) +
                " is cut off by the end of the file";
        return std::nullopt;
    };
    while (i < lines.size() && i <= kLastRecordStartLine) {
        const std::size_t start = i;
        if (lines.size() - i < 3) return cutOff(start);
        VodCoefRecord record;
        record.corner = lines[i];
        record.supply = lines[i + 1];
        const std::optional<double> count = ParseFull(lines[i + 2]);
        if (!count) return std::nullopt;
        i += 3;
        // A record needs at least c0, and its count must describe lines that exist.
        if (!(*count >= 1.0)) {
            error = "the record starting at line " + std::to_string(start + 1) +
                    " has a coefficient count below 1";
            return std::nullopt;
        }
        if (*count >= static_cast<double>(lines.size() - i)) return cutOff(start);
        const auto k = static_cast<std::size_t>(*count);  // truncation, as the format defines
        record.coefficients.reserve(k);
        for (std::size_t j = 0; j < k; ++j, ++i) {
            const std::optional<double> c = ParseFull(lines[i]);
            if (!c) return std::nullopt;
            record.coefficients.push_back(*c);
        }
        const std::optional<double> scale = ParseFull(lines[i]);
        if (!scale) return std::nullopt;
        record.scale = *scale;
        ++i;
        table.push_back(std::move(record));
    }
    return table;
}

double VodAmplitude(double v, const VodTable& vodTable, const VodCoefTable& coefTable,
                    const TxSelections& selections, std::ostream& console) {
    if (coefTable.empty()) {
        const double t =
            (v - 1) * (vodTable.linearNumerator * 1000) / vodTable.linearDenominator * 1000;
        return static_cast<double>(RoundToInt32(t)) / 1000 / 1000;
    }
    const VodCoefRecord* record = nullptr;
    for (const VodCoefRecord& r : coefTable) {
        if (r.corner == selections.cornerName && r.supply == selections.supplyId) {
            record = &r;
            break;
        }
    }
    if (!record) {
        console << "Cannot find exact TX VOD corner id. Use typical corner in simulation. Please "
                   "check Kavor installation integrity.\n";
        record = &coefTable.front();
    }
    const std::vector<double>& c = record->coefficients;
    double power = 1.0;
    double sum = c[0];
    for (std::size_t j = 1; j < c.size(); ++j) {
        power = power * v;
        sum = power * c[j] + sum;
    }
    return (sum * 2) * record->scale;
}

}  // namespace v10kx_ami_tx
