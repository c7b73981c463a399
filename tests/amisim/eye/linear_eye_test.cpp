// The real kit in its linear regime (small signal, DFE fixed, no clock recovery, no jitter):
// the time-domain eye over 100 000 bits must lie between the worst-case eye and the 1e-5
// statistical eye, both computed here from the exported pulse cursors.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "amisim/report/report.hpp"
#include "test_support.hpp"

using namespace amisim;

namespace {

// cursor index -> link cursor (volts) from cursors.csv
std::vector<std::pair<int, double>> readCursors(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);  // header
    std::vector<std::pair<int, double>> out;
    while (std::getline(in, line)) {
        std::stringstream ss(line);
        std::string k, channel, link;
        std::getline(ss, k, ',');
        std::getline(ss, channel, ',');
        std::getline(ss, link, ',');
        if (!link.empty()) out.emplace_back(std::stoi(k), std::stod(link) * 1e-3);
    }
    return out;
}

// Eye height at which the "1" level main + sum(c_k b_k), b_k = +-1 equally likely and
// independent, falls below the threshold with probability `ber`: twice that level. The
// distribution is built by convolution on a grid of 5 uV.
double statisticalEye(double main, const std::vector<double>& isi, double ber) {
    constexpr double step = 5e-6;
    double reach = 0;
    for (double c : isi) reach += std::abs(c);
    const int half = static_cast<int>(std::ceil(reach / step)) + 2;
    std::vector<double> p(static_cast<std::size_t>(2 * half + 1), 0.0);
    p[static_cast<std::size_t>(half)] = 1.0;
    for (double c : isi) {
        const int s = static_cast<int>(std::lround(c / step));
        std::vector<double> q(p.size(), 0.0);
        for (std::size_t i = 0; i < p.size(); ++i) {
            if (p[i] == 0) continue;
            for (int sign : {1, -1}) {
                const long j = static_cast<long>(i) + sign * s;
                if (j >= 0 && j < static_cast<long>(q.size()))
                    q[static_cast<std::size_t>(j)] += 0.5 * p[i];
            }
        }
        p.swap(q);
    }
    double cdf = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        cdf += p[i];
        if (cdf > ber) return 2 * (main + (static_cast<double>(i) - half) * step);
    }
    return 0;
}

}  // namespace

TEST(LinearEye, TimeDomainEyeLiesBetweenTheWorstCaseAndTheStatisticalEye) {
    amisim_test::TempDir dir;
    LinkConfig cfg;
    cfg.kitDir = KIT_DIR;
    cfg.files = locateKit(KIT_DIR, {});
    cfg.amplitude = 0.1;
    cfg.samplesPerBit = 16;
    cfg.bits = 100000;
    cfg.ignoreBits = 10000;
    cfg.tdJitter = false;
    cfg.tdSamplingPhaseUi = 0.0;  // at the main cursor, where the cursors are taken
    cfg.ber = 1e-5;
    cfg.quiet = true;
    cfg.probeOutputRange = false;
    cfg.frequencyResponse = false;
    cfg.rxOverrides = {{"ctle_mode", "0"},
                       {"eqz_s1_ac_gain", "13"},
                       {"vga_gain", "2"},
                       {"dfe.mode", "1"},
                       {"cdr_sel", "1"}};
    const LinkResult res = runLink(cfg);
    ASSERT_TRUE(res.td.has_value());
    writeCsvFiles(dir.str(), cfg, res, nullptr);
    const auto cursors = readCursors(dir.file("cursors.csv"));
    double main = 0;
    std::vector<double> isi;
    for (const auto& [k, v] : cursors) {
        if (k == 0)
            main = v;
        else
            isi.push_back(v);
    }
    ASSERT_GT(main, 0.02);
    double worst = main;
    for (double c : isi) worst -= std::abs(c);
    const double worstEye = std::max(0.0, 2 * worst);
    const double statEye = statisticalEye(main, isi, 1e-5);
    const double td = res.td->eyeHeight;
    RecordProperty("worst_case_eye_mv", std::to_string(worstEye * 1e3));
    RecordProperty("time_domain_eye_mv", std::to_string(td * 1e3));
    RecordProperty("statistical_eye_1e-5_mv", std::to_string(statEye * 1e3));
    // the cursors are rounded to the grid and cut after 40: a little slack either side
    constexpr double slack = 0.2e-3;
    EXPECT_GE(td, worstEye - slack);
    // Over N = 90 000 bits the lowest "1" and the highest "0" lie near the 1 / N = 1e-5 contour,
    // on either side of it (no bit beyond it has the chance exp(-0.9)). Beyond the 1e-7
    // contour a bit falls with the chance 1 %, inside the 1e-4 contour none with 1e-4.
    EXPECT_GE(td, statisticalEye(main, isi, 1e-7) - slack) << "1e-5 eye " << statEye;
    EXPECT_LE(td, statisticalEye(main, isi, 1e-4) + slack) << "1e-5 eye " << statEye;
    EXPECT_NEAR(td, statEye, 0.05 * statEye);
    EXPECT_LT(worstEye, statEye);
    EXPECT_EQ(res.td->bitErrors, 0u);
    EXPECT_GT(res.td->sampledBits, 89000u);
}
