#include "amisim/channel/touchstone.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "test_support.hpp"

using namespace amisim;

namespace {

// One frequency point of a four-port in MA format: thru 1->3 and 2->4 of magnitude `thru`,
// coupling 3<-2 and 4<-1 of `xt`, everything else 0. Lines of eight numbers, row by row.
std::string point(double freq, double thru, double xt) {
    double s[4][4] = {};
    s[2][0] = s[0][2] = thru;
    s[3][1] = s[1][3] = thru;
    s[2][1] = s[3][0] = xt;
    std::ostringstream os;
    os << freq;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) os << ' ' << s[r][c] << " 0";
        os << '\n';
    }
    return os.str();
}

}  // namespace

TEST(Touchstone, ReadsUnitsAndDifferentialInsertionLoss) {
    const std::string text =
        "! test channel\n# MHz S MA R 50\n" + point(10, 0.8, 0.1) + point(20, 0.6, 0.1) + "! end\n";
    FourPortData d = parseS4p(text, "t.s4p");
    ASSERT_EQ(d.frequencies.size(), 2u);
    EXPECT_DOUBLE_EQ(d.frequencies[1], 20e6);
    auto sdd = differentialInsertionLoss(d, PortOrder::Pairs12_34);
    // (S31 - S32 - S41 + S42) / 2 = (0.8 - 0.1 - 0.1 + 0.8) / 2
    EXPECT_NEAR(sdd[0].real(), 0.7, 1e-12);
    EXPECT_NEAR(sdd[1].real(), 0.5, 1e-12);
    // other pairing: (S21 - S23 - S41 + S43) / 2 = (0 - 0 - 0.1 + 0) / 2
    auto other = differentialInsertionLoss(d, PortOrder::Pairs13_24);
    EXPECT_NEAR(other[0].real(), -0.05, 1e-12);
}

TEST(Touchstone, DbAndRiFormatsAndDefaultUnit) {
    std::string db = "# S DB\n1";  // GHz by default
    std::string ri = "# Hz S RI R 50\n1";
    for (int i = 0; i < 16; ++i) {
        db += (i == 8) ? " -6.0205999 90" : " -200 0";  // S31 = 0.5 at 90 degrees
        ri += (i == 8) ? " 0 0.5" : " 0 0";
    }
    FourPortData a = parseS4p(db + "\n", "db.s4p");
    FourPortData b = parseS4p(ri + "\n", "ri.s4p");
    EXPECT_DOUBLE_EQ(a.frequencies[0], 1e9);
    EXPECT_DOUBLE_EQ(b.frequencies[0], 1.0);
    EXPECT_NEAR(a.s[0][8].imag(), 0.5, 1e-6);
    EXPECT_NEAR(std::abs(a.s[0][8] - b.s[0][8]), 0.0, 1e-6);
}

TEST(Touchstone, MalformedFilesAreRefusedWithTheReason) {
    auto expectError = [](const std::string& text, const std::string& part) {
        try {
            parseS4p(text, "bad.s4p");
            FAIL() << "accepted: " << text;
        } catch (const TouchstoneError& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    std::string good = point(10, 0.8, 0.1);
    expectError("# MHz S MA R 50\n" + good.substr(0, good.size() - 8) + "\n", "33 per frequency");
    expectError("# MHz S MA R 50\n" + good + "\n1.0 2.0 zz\n", "'zz' is not a number");
    expectError("# MHz S MA R 50\n" + point(20, 1, 0) + point(10, 1, 0), "strictly increasing");
    expectError("# MHz Y MA R 50\n" + good, "only S-parameters");
    expectError("# MHz S MA R -5\n" + good, "reference resistance");
    expectError("# MHz S MA R 50\n", "no data points");
    expectError("[Version] 2.0\n", "Touchstone 2");
    EXPECT_THROW(readS4p("/nonexistent/c.s4p"), TouchstoneError);
    EXPECT_THROW(parsePortOrder("1-4/2-3"), TouchstoneError);
    EXPECT_EQ(parsePortOrder("1-3/2-4"), PortOrder::Pairs13_24);
}
