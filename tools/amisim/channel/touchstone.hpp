#pragma once
// Touchstone reader (1.x, and 2.0 with its keywords, matrix formats and mixed-mode data) for
// S-parameter files of any port count, the four ports of a differential through path taken
// from them, and the differential insertion loss of those.
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

// Single-ended S-parameters of any number of ports, as read from a file.
struct NPortData {
    int ports = 0;
    int version = 1;                                   // 1 or 2 (Touchstone 2.0)
    std::vector<double> frequencies;                   // Hz, strictly increasing
    std::vector<std::vector<std::complex<double>>> s;  // row-major S[i][j] at i*ports+j
    double referenceOhms = 50.0;
};

// The port count of a 1.x file comes from its name (.s8p: 8 ports; 4 when the name does not
// say); a 2.0 file states it. Mixed-mode data are turned back into single-ended ones.
NPortData parseTouchstone(const std::string& text, const std::string& origin);
NPortData readTouchstone(const std::string& path);

// The through pair of a file of more than four ports: "a-b/c-d" names the input pair (a, b) and
// the output pair (c, d), the lines running a->c and b->d. Throws TouchstoneError otherwise.
std::array<int, 4> parseThroughPorts(const std::string& text);

// The four ports `through` (1-based: input P, input N, output P, output N) of `data` in the
// numbering 1-2/3-4; the file's other ports stay terminated in the reference impedance.
FourPortData throughFourPort(const NPortData& data, const std::array<int, 4>& through,
                             const std::string& origin);

// A four-port file; a file of another port count is refused, naming what to do.
FourPortData parseS4p(const std::string& text, const std::string& origin);
FourPortData readS4p(const std::string& path);

// SDD21 = (S[o1][i1] - S[o1][i2] - S[o2][i1] + S[o2][i2]) / 2 at every frequency point.
std::vector<std::complex<double>> differentialInsertionLoss(const FourPortData& data,
                                                            PortOrder order);

}  // namespace amisim
