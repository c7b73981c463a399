#pragma once
// Touchstone 1.x reader for four-port S-parameter files (.s4p) and the differential
// insertion loss derived from them.
#include <array>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

namespace amisim {

struct TouchstoneError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct FourPortData {
    std::vector<double> frequencies;                      // Hz, strictly increasing
    std::vector<std::array<std::complex<double>, 16>> s;  // row-major S[i][j] at i*4+j
    double referenceOhms = 50.0;
};

// Which single-ended ports form the two differential ports.
//   Pairs12_34: input pair (1,2), output pair (3,4); lines run 1->3 and 2->4.
//   Pairs13_24: input pair (1,3), output pair (2,4); lines run 1->2 and 3->4.
enum class PortOrder { Pairs12_34, Pairs13_24 };

// Parses "1-2/3-4" or "1-3/2-4"; throws TouchstoneError otherwise.
PortOrder parsePortOrder(const std::string& text);

FourPortData parseS4p(const std::string& text, const std::string& origin);
FourPortData readS4p(const std::string& path);

// SDD21 = (S[o1][i1] - S[o1][i2] - S[o2][i1] + S[o2][i2]) / 2 at every frequency point.
std::vector<std::complex<double>> differentialInsertionLoss(const FourPortData& data,
                                                            PortOrder order);

}  // namespace amisim
