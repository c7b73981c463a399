#pragma once
// Two-port networks by their chain (ABCD) matrices: the lumped analog ends of a link (source
// resistance, die capacitance, package), the differential two-port of a four-port S-matrix,
// and their cascade into the voltage a termination receives.
#include <array>
#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "amisim/channel/touchstone.hpp"

namespace amisim {

using Complex = std::complex<double>;

struct Abcd {
    Complex a{1}, b{0}, c{0}, d{1};
};

Abcd operator*(const Abcd& x, const Abcd& y);
Abcd seriesImpedance(Complex z);
Abcd shuntAdmittance(Complex y);

// The S-matrix of a two-port (row-major s11, s12, s21, s22) with reference impedance z0.
Abcd abcdFromS(const std::array<Complex, 4>& s, double z0);
std::array<Complex, 4> sFromAbcd(const Abcd& t, double z0);

// The differential-mode two-port of a four-port S-matrix: the mixed-mode SDD block, with
// reference impedance twice the single-ended one. Mode conversion is left out.
std::array<Complex, 4> differentialS(const std::array<Complex, 16>& s, PortOrder order);

// A differential pair of two equal, uncoupled single-ended legs: series impedances double and
// shunt admittances halve.
Abcd differentialOfLeg(const Abcd& leg);

// One single-ended leg of a buffer's analog end, each element omitted when zero.
struct LumpedEnd {
    double sourceOhms = 0;                // series source resistance (transmitter only)
    double cComp = 0;                     // die capacitance, shunt at the pad
    double rPkg = 0, lPkg = 0, cPkg = 0;  // package: series R and L, shunt C at the pin
};

// Transmitter: source resistance, C_comp at the pad, package R-L, C_pkg at the pin, from the
// ideal source to the pin.
Abcd transmitterLeg(const LumpedEnd& e, double hz);
// Receiver: C_pkg at the pin, package R-L, C_comp at the pad, from the pin to the pad (the
// termination is the load).
Abcd receiverLeg(const LumpedEnd& e, double hz);

// Voltage at a load `loadOhms` (empty: open) driven through `t` by an ideal source, divided by
// half the source voltage: a matched, parasitic-free link of insertion loss S21 gives S21.
Complex loadedTransfer(const Abcd& t, std::optional<double> loadOhms);

// The four-port S-matrix (reference z0) of two equal uncoupled legs: ports 1 and 2 at the
// input of the P and N legs, 3 and 4 at their outputs (numbering 1-2/3-4).
std::array<Complex, 16> fourPortOfLegs(const Abcd& leg, double z0);

// A Touchstone 1.x four-port file in RI format, frequencies in Hz.
std::string touchstoneText(const std::vector<double>& hz,
                           const std::vector<std::array<Complex, 16>>& s, double z0,
                           const std::string& comment);

}  // namespace amisim
