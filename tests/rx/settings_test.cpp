// From parameter positions to the labels and the database requests of the CTLE and VGA.
#include <gtest/gtest.h>

#include "engine/cdr/cdr_presets.hpp"
#include "rx/rx_identity.hpp"
#include "rx/rx_settings.hpp"

using namespace v10kx_ami_rx;

TEST(RxSettings, HighDataRateCtleTakesItsPeakFrequencyFromTheBandwidthSelector) {
    RxSettings s;
    s.eqzS1AcGain = 9;
    s.eqzS4AcGain = 20;
    s.eqzS4DcGain = 3;
    const double keys[] = {4, 8, 16, 28};
    for (int index = 0; index < 4; ++index) {
        s.eqzBwSel = index;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.ctleMode, "High Data Rate, Peak Freq " + std::to_string(index));
        const ResponseRequest r = CtleRequest(s, l, 10e9);
        EXPECT_EQ(r.bandwidth, keys[index]);
        EXPECT_EQ(r.path, "Low-Gain");
        EXPECT_EQ(r.variant, "H");
        EXPECT_EQ(r.acGain, 9);  // the high-data-rate gain; no DC gain
        EXPECT_EQ(r.dcGain, 0);
        EXPECT_EQ(r.family, "Vanta 10 KT");
        EXPECT_EQ(r.bitRate, 10e9);
    }
}

TEST(RxSettings, HighGainCtleAlternatesLowAndHighBandwidth) {
    RxSettings s;
    s.ctleHgSel = 1;
    s.eqzS1AcGain = 9;
    s.eqzS4AcGain = 20;
    s.eqzS4DcGain = 3;
    for (int index : {0, 2}) {
        s.eqzBwSel = index;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.ctleMode, "High-Gain, Low BW");
        const ResponseRequest r = CtleRequest(s, l, 10e9);
        EXPECT_EQ(r.bandwidth, 8);
        EXPECT_EQ(r.path, "High-Gain, Low BW");
        EXPECT_EQ(r.acGain, 20);
        EXPECT_EQ(r.dcGain, 3);
    }
    for (int index : {1, 3}) {
        s.eqzBwSel = index;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.ctleMode, "High-Gain, High BW");
        EXPECT_EQ(CtleRequest(s, l, 10e9).bandwidth, 16);
    }
}

TEST(RxSettings, QpiOverridesSupplyVgaBandwidthAndGains) {
    RxSettings s;
    s.qpiSel = 1;
    s.ctleHgSel = 1;
    s.eqzS4AcGain = 20;
    s.eqzS4DcGain = 3;
    s.pwrql = 2;
    s.vgaBwSel = 0;
    const char* codes[] = {"0p125V", "0p25V", "0p35V"};
    for (int vcm = 0; vcm < 3; ++vcm) {
        s.qpiVcm = vcm;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.ctleMode, "QPI");
        EXPECT_EQ(l.supply, "1.0 V");
        EXPECT_EQ(l.vgaBandwidth, "3");
        const ResponseRequest r = CtleRequest(s, l, 10e9);
        EXPECT_EQ(r.variant, codes[vcm]);
        EXPECT_EQ(r.path, "QPI");
        EXPECT_EQ(r.bandwidth, 16);
        EXPECT_EQ(r.acGain, 0);
        EXPECT_EQ(r.dcGain, 0);
        EXPECT_EQ(VgaRequest(s, l, 10e9).bandwidth, 28);
    }
}

TEST(RxSettings, CornerSupplyAndVgaLabels) {
    RxSettings s;
    const char* corners[] = {"Typical", "Fast", "Slow"};
    const char* supplies[] = {"1.0 V", "1.1 V", "0.9 V"};
    for (int i = 0; i < 3; ++i) {
        s.corner = i;
        s.pwrql = i;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.corner, corners[i]);
        EXPECT_EQ(l.supply, supplies[i]);
    }
    const double keys[] = {4, 8, 16, 28};
    s.vgaGain = 5;
    for (int index = 0; index < 4; ++index) {
        s.vgaBwSel = index;
        const RxLabels l = DeriveLabels(s);
        EXPECT_EQ(l.vgaBandwidth, std::to_string(index));
        const ResponseRequest r = VgaRequest(s, l, 10e9);
        EXPECT_EQ(r.bandwidth, keys[index]);
        EXPECT_EQ(r.acGain, 5);
        EXPECT_EQ(r.dcGain, 0);
        EXPECT_EQ(r.path, "VGA");
        EXPECT_EQ(r.variant, "H");
    }
}

TEST(RxSettings, JitterRequestDescribesTheCtleTheLookupAsksFor) {
    for (int qpi : {0, 1}) {
        for (int hg : {0, 1, 2, -1}) {
            for (int bw = 0; bw < 4; ++bw) {
                RxSettings s;
                s.qpiSel = qpi;
                s.ctleHgSel = hg;
                s.eqzBwSel = bw;
                const ResponseRequest r = CtleRequest(s, DeriveLabels(s), 6e9);
                const JitterRequest j = MakeJitterRequest(s, 1 / 6e9);
                SCOPED_TRACE(testing::Message() << "qpi " << qpi << " hg " << hg << " bw " << bw);
                // The low-bandwidth curve goes with the high-gain record of bandwidth key 8.
                const bool highGainPath = r.path != "Low-Gain" && r.path != "QPI";
                EXPECT_EQ(j.ctleBandwidth < 16, highGainPath && r.bandwidth == 8);
                // The sensitivity goes with the high-gain selection, the one that gives four
                // stages and the high-gain gains.
                EXPECT_EQ(j.highGainCtle, hg != 0);
                if (!qpi) {
                    EXPECT_EQ(j.highGainCtle, highGainPath);
                }
            }
        }
    }
}

TEST(ServedBitRates, AreTheRatesTheClockRecoveryOscillatorReaches) {
    // The oscillator runs at the output divider times the bit rate and is held to its range.
    auto reaches = [](double rate, const char* bandwidth) {
        const CdrPreset p = SelectCdrPreset(rate, bandwidth);
        const double f = p.outputDivider * rate;
        return f >= p.vcoMinFrequency && f <= p.vcoMaxFrequency;
    };
    for (const char* bandwidth : {kCdrLowBandwidth, kCdrMediumBandwidth, kCdrHighBandwidth}) {
        EXPECT_TRUE(reaches(kMinBitRate, bandwidth)) << bandwidth;
        EXPECT_TRUE(reaches(kMaxBitRate, bandwidth)) << bandwidth;
        EXPECT_FALSE(reaches(kMinBitRate * 0.99, bandwidth)) << bandwidth;
        EXPECT_FALSE(reaches(kMaxBitRate * 1.01, bandwidth)) << bandwidth;
        for (double rate = kMinBitRate; rate <= kMaxBitRate; rate *= 1.05) {
            EXPECT_TRUE(reaches(rate, bandwidth)) << bandwidth << " " << rate;
        }
    }
}
