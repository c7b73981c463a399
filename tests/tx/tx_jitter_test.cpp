// Jitter budget and bit-rate range check.
#include "tx/tx_jitter.hpp"

#include "tx_test_support.hpp"

namespace v10kx_ami_tx {
namespace {

struct JitterCase {
    double bitRate;
    bool warns;
    const char* rateLine;
    const char* rj;
    const char* dj;
    const char* dcd;
};

TEST(ReportTxJitter, ValuesAndRangeWarning) {
    const JitterCase cases[] = {
        {10.3125e9, false, "10.312500", "3.677475e-13", "1.462354e-12", "5.616340e-13"},
        {1e9, false, "1.000000", "5.803611e-13", "2.565988e-12", "9.534722e-13"},
        {25e9, true, "25.000000", "2.107111e-13", "6.472093e-13", "2.722222e-13"},
        {0.5e9, true, "0.500000", "5.803611e-13", "2.565988e-12", "9.534722e-13"},
        {1.0 / (1.0 / 17.4e9), false, "17.400000", nullptr, nullptr, nullptr},
    };
    for (const JitterCase& c : cases) {
        std::string log, out;
        bool valid = true;
        ReportTxJitter(c.bitRate, log, out, valid);
        EXPECT_EQ(valid, !c.warns) << c.rateLine;
        const std::string warning =
            "**Warning** Bit rate is outside the legal range of 0.611000 - 17.400000 Gbps!\n";
        EXPECT_EQ(log.rfind(warning, 0) == 0, c.warns) << log;
        EXPECT_NE(log.find(std::string("  Bit rate:  ") + c.rateLine + " Gbps\n"),
                  std::string::npos)
            << log;
        if (!c.rj) continue;
        const std::string lines = std::string("  (Tx_Rj  ") + c.rj + ")\n  (Tx_Dj  " + c.dj +
                                  ")\n  (Tx_DCD " + c.dcd + ")\n";
        EXPECT_EQ(out, lines);
        EXPECT_NE(log.find(lines), std::string::npos);
    }
}

TEST(ReportTxJitter, RateThatIsNotANumberWarnsAndUsesTheLowestFit) {
    std::string log, out;
    bool valid = true;
    ReportTxJitter(std::nan(""), log, out, valid);
    EXPECT_FALSE(valid);
    EXPECT_EQ(out, "  (Tx_Rj  5.803611e-13)\n  (Tx_Dj  2.565988e-12)\n  (Tx_DCD 9.534722e-13)\n");
}

}  // namespace
}  // namespace v10kx_ami_tx
