#pragma once
// Four-port Touchstone files of a made-up backplane for the tests: a differential pair of lossy
// lines with the built-in line's loss, a flight delay, small reflections and crosstalk, written
// in either port numbering, with faults on request.
#include <complex>
#include <string>
#include <vector>

#include "amisim/channel/touchstone.hpp"

namespace amisim_test {

struct BackplaneOptions {
    double lossDbAtNyquist = 20.0;
    double nyquistHz = 5.15625e9;
    double delay = 4e-9;  // seconds of flight
    double stepHz = 10e6;
    double stopHz = 30e9;
    amisim::PortOrder order = amisim::PortOrder::Pairs12_34;
    double scale = 1.0;      // every |S| multiplied (a wrongly scaled file)
    bool conjugate = false;  // every phase negated (a file whose response runs backwards)
    double reflection = 0.05, next = 0.01, fext = 0.02;
};

// Single-ended through path of one line at each f (multiples of stepHz): the line's loss with
// its minimum phase, as a causal line has, and the flight delay. The far-end crosstalk is
// fext * f / nyquistHz times the through path; SDD21 = thru - fext.
std::vector<std::complex<double>> backplaneThru(const BackplaneOptions& o,
                                                const std::vector<double>& hz);
std::complex<double> backplaneFext(const BackplaneOptions& o, double f, std::complex<double> thru);

// The whole file, "# GHz S RI R 50", four rows of the matrix per frequency.
std::string backplaneS4p(const BackplaneOptions& o);

}  // namespace amisim_test
