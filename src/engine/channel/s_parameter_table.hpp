#pragma once
// Four-port S-parameter tables as the channel utilities use them: one row per frequency, the
// frequency in Hz followed by the 16 entries S11, S12, ..., S44 (row-major), each as a pair
// magnitude in dB, phase in degrees.
#include <cstdint>
#include <string>
#include <vector>

struct SParameterTable {
    std::string name;
    std::int32_t ports = 4;
    std::int32_t points = 0;    // number of frequency rows
    std::int32_t columns = 33;  // 1 + 2 * ports * ports
    std::vector<std::vector<double>> rows;
};

// Column of the magnitude of S(i, j), ports counted from 1; the phase is the next column.
int SParameterMagnitudeColumn(int i, int j, int ports = 4);

// A four-port "through" channel whose two port pairs (1-2 and 3-4) carry the given differential
// insertion loss and nothing else: every entry starts at (-400 dB, 0 degrees), then S12, S21, S34
// and S43 take the given magnitude and phase. Named "S4P_from_Sdd21". The three lists must be
// equally long (ChannelDataError otherwise).
SParameterTable MakeS4PFromSdd21(const std::vector<double>& frequencies,
                                 const std::vector<double>& magnitudesDb,
                                 const std::vector<double>& phasesDeg);

// For every row, the listed columns multiplied by `scale`. An empty list takes every column of
// the first row's width, in order. A column a row does not hold raises ChannelDataError.
std::vector<std::vector<double>> TakeColumns(const SParameterTable& table,
                                             const std::vector<int>& columns, double scale);

// One column over all rows, scaled.
std::vector<double> TakeColumn(const SParameterTable& table, int column, double scale);
