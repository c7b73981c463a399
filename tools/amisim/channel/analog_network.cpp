#include "amisim/channel/analog_network.hpp"

#include <cmath>
#include <numbers>
#include <sstream>
#include <stdexcept>

namespace amisim {

namespace {
constexpr double kTwoPi = 2 * std::numbers::pi;
}

Abcd operator*(const Abcd& x, const Abcd& y) {
    return {x.a * y.a + x.b * y.c, x.a * y.b + x.b * y.d, x.c * y.a + x.d * y.c,
            x.c * y.b + x.d * y.d};
}

Abcd seriesImpedance(Complex z) { return {1.0, z, 0.0, 1.0}; }
Abcd shuntAdmittance(Complex y) { return {1.0, 0.0, y, 1.0}; }

Abcd abcdFromS(const std::array<Complex, 4>& s, double z0) {
    const Complex s11 = s[0], s12 = s[1], s21 = s[2], s22 = s[3];
    if (std::abs(s21) < 1e-300)
        throw std::domain_error("a two-port that passes nothing has no chain matrix");
    const Complex den = 2.0 * s21;
    return {((1.0 + s11) * (1.0 - s22) + s12 * s21) / den,
            z0 * ((1.0 + s11) * (1.0 + s22) - s12 * s21) / den,
            ((1.0 - s11) * (1.0 - s22) - s12 * s21) / (z0 * den),
            ((1.0 - s11) * (1.0 + s22) + s12 * s21) / den};
}

std::array<Complex, 4> sFromAbcd(const Abcd& t, double z0) {
    const Complex den = t.a + t.b / z0 + t.c * z0 + t.d;
    return {(t.a + t.b / z0 - t.c * z0 - t.d) / den, 2.0 * (t.a * t.d - t.b * t.c) / den, 2.0 / den,
            (-t.a + t.b / z0 - t.c * z0 + t.d) / den};
}

std::array<Complex, 4> differentialS(const std::array<Complex, 16>& s, PortOrder order) {
    // zero-based single-ended ports: P and N leg of differential port 1, then of port 2
    std::array<int, 4> p = {0, 1, 2, 3};
    if (order == PortOrder::Pairs13_24) p = {0, 2, 1, 3};
    auto at = [&](int r, int c) { return s[static_cast<std::size_t>(r * 4 + c)]; };
    auto dd = [&](int i, int j) {
        const int pi = p[static_cast<std::size_t>(2 * i)],
                  ni = p[static_cast<std::size_t>(2 * i + 1)];
        const int pj = p[static_cast<std::size_t>(2 * j)],
                  nj = p[static_cast<std::size_t>(2 * j + 1)];
        return 0.5 * (at(pi, pj) - at(pi, nj) - at(ni, pj) + at(ni, nj));
    };
    return {dd(0, 0), dd(0, 1), dd(1, 0), dd(1, 1)};
}

Abcd differentialOfLeg(const Abcd& leg) { return {leg.a, 2.0 * leg.b, leg.c / 2.0, leg.d}; }

Abcd transmitterLeg(const LumpedEnd& e, double hz) {
    const Complex jw{0, kTwoPi * hz};
    Abcd t;
    if (e.sourceOhms != 0) t = t * seriesImpedance(e.sourceOhms);
    if (e.cComp != 0) t = t * shuntAdmittance(jw * e.cComp);
    if (e.rPkg != 0 || e.lPkg != 0) t = t * seriesImpedance(e.rPkg + jw * e.lPkg);
    if (e.cPkg != 0) t = t * shuntAdmittance(jw * e.cPkg);
    return t;
}

Abcd receiverLeg(const LumpedEnd& e, double hz) {
    const Complex jw{0, kTwoPi * hz};
    Abcd t;
    if (e.cPkg != 0) t = t * shuntAdmittance(jw * e.cPkg);
    if (e.rPkg != 0 || e.lPkg != 0) t = t * seriesImpedance(e.rPkg + jw * e.lPkg);
    if (e.cComp != 0) t = t * shuntAdmittance(jw * e.cComp);
    return t;
}

Complex loadedTransfer(const Abcd& t, std::optional<double> loadOhms) {
    // V1 = A V2 + B I2 with I2 = V2 / R_load and V1 the ideal source's voltage
    const Complex den = loadOhms ? t.a + t.b / *loadOhms : t.a;
    return 2.0 / den;
}

std::array<Complex, 16> fourPortOfLegs(const Abcd& leg, double z0) {
    const std::array<Complex, 4> s = sFromAbcd(leg, z0);
    std::array<Complex, 16> out{};
    for (int l = 0; l < 2; ++l) {
        const int in = l, outPort = 2 + l;
        out[static_cast<std::size_t>(in * 4 + in)] = s[0];
        out[static_cast<std::size_t>(in * 4 + outPort)] = s[1];
        out[static_cast<std::size_t>(outPort * 4 + in)] = s[2];
        out[static_cast<std::size_t>(outPort * 4 + outPort)] = s[3];
    }
    return out;
}

std::string touchstoneText(const std::vector<double>& hz,
                           const std::vector<std::array<Complex, 16>>& s, double z0,
                           const std::string& comment) {
    std::ostringstream os;
    os.precision(10);
    std::istringstream lines(comment);
    for (std::string line; std::getline(lines, line);) os << "! " << line << "\n";
    os << "# HZ S RI R " << z0 << "\n";
    for (std::size_t k = 0; k < hz.size(); ++k) {
        os << hz[k];
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c) {
                const Complex v = s[k][static_cast<std::size_t>(r * 4 + c)];
                os << ' ' << v.real() << ' ' << v.imag();
            }
            os << (r < 3 ? "\n " : "\n");
        }
    }
    return os.str();
}

}  // namespace amisim
