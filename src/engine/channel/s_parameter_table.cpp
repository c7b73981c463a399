#include "engine/channel/s_parameter_table.hpp"

#include "engine/channel/channel_data_error.hpp"

namespace {

// An entry no real channel reaches: it stands for "no coupling" in the generated tables.
constexpr double kNoCouplingDb = -400.0;
constexpr int kPorts = 4;
constexpr int kColumns = 1 + 2 * kPorts * kPorts;

}  // namespace

int SParameterMagnitudeColumn(int i, int j, int ports) {
    return 1 + 2 * ((i - 1) * ports + (j - 1));
}

SParameterTable MakeS4PFromSdd21(const std::vector<double>& frequencies,
                                 const std::vector<double>& magnitudesDb,
                                 const std::vector<double>& phasesDeg) {
    if (magnitudesDb.size() != frequencies.size() || phasesDeg.size() != frequencies.size()) {
        throw ChannelDataError("MakeS4PFromSdd21: " + std::to_string(frequencies.size()) +
                               " frequencies, " + std::to_string(magnitudesDb.size()) +
                               " magnitudes and " + std::to_string(phasesDeg.size()) +
                               " phases; the three lists must be equally long");
    }
    SParameterTable table;
    table.name = "S4P_from_Sdd21";
    table.ports = kPorts;
    table.columns = kColumns;
    table.points = static_cast<std::int32_t>(frequencies.size());
    table.rows.reserve(frequencies.size());
    for (std::size_t k = 0; k < frequencies.size(); ++k) {
        std::vector<double> row(kColumns, 0.0);
        row[0] = frequencies[k];
        for (int c = 1; c < kColumns; c += 2) row[c] = kNoCouplingDb;
        for (auto [i, j] : {std::pair{1, 2}, {2, 1}, {3, 4}, {4, 3}}) {
            const int c = SParameterMagnitudeColumn(i, j);
            row[c] = magnitudesDb[k];
            row[c + 1] = phasesDeg[k];
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

std::vector<std::vector<double>> TakeColumns(const SParameterTable& table,
                                             const std::vector<int>& columns, double scale) {
    std::vector<int> wanted = columns;
    if (wanted.empty() && !table.rows.empty()) {
        for (std::size_t c = 0; c < table.rows.front().size(); ++c) {
            wanted.push_back(static_cast<int>(c));
        }
    }
    std::vector<std::vector<double>> out;
    out.reserve(table.rows.size());
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const std::vector<double>& row = table.rows[r];
        std::vector<double> picked;
        picked.reserve(wanted.size());
        for (int c : wanted) {
            if (c < 0 || static_cast<std::size_t>(c) >= row.size()) {
                throw ChannelDataError("TakeColumns: column " + std::to_string(c) +
                                       " is not in row " + std::to_string(r) + " of table '" +
                                       table.name + "', which holds " + std::to_string(row.size()) +
                                       " values");
            }
            picked.push_back(row[static_cast<std::size_t>(c)] * scale);
        }
        out.push_back(std::move(picked));
    }
    return out;
}

std::vector<double> TakeColumn(const SParameterTable& table, int column, double scale) {
    std::vector<double> out;
    out.reserve(table.rows.size());
    for (const std::vector<double>& row : TakeColumns(table, {column}, scale)) {
        out.push_back(row.front());
    }
    return out;
}
