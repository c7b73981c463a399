#pragma once
// Parameter strings that drive the two models through their different set-ups: corners,
// supplies, swings, tap settings, CTLE stage counts. The stress test and the fuzz harnesses
// share them; a new feature's settings (the DFE, clock recovery) are one more line here.
#include <string>
#include <vector>

namespace testsupport {

// Transmitter settings, database found through the library directory or `(Database_Path ...)`
// added by the caller.
inline const std::vector<std::string>& TxSettingsVariety() {
    static const std::vector<std::string> settings{
        "(Vod 31) (ptap2 0) (ptap1 0) (tap1 0) (tap2 0) (inv_ptap2 0) (inv_ptap1 0) (inv_tap1 0) "
        "(inv_tap2 0)",
        "(Vod 20) (Vcc 1) (corner 1) (ptap2 1) (ptap1 3) (tap1 8) (tap2 2) (inv_ptap2 1) "
        "(inv_ptap1 0) (inv_tap1 1) (inv_tap2 0)",
        "(Vod 9) (Vcc 2) (corner 2) (ptap2 0) (ptap1 2) (tap1 5) (tap2 0) (inv_ptap2 0) "
        "(inv_ptap1 1) (inv_tap1 1) (inv_tap2 1)",
        "(Vod 2) (Vcc 0) (corner 0) (ptap2 7) (ptap1 7) (tap1 40) (tap2 40) (inv_ptap2 0) "
        "(inv_ptap1 0) (inv_tap1 0) (inv_tap2 0)",
    };
    return settings;
}

// Receiver settings: one-stage and four-stage CTLE, QPI, corners and supplies.
inline const std::vector<std::string>& RxSettingsVariety() {
    static const std::vector<std::string> settings{
        "(eqz_s1_ac_gain 1) (vga_gain 1) (eqz_bw_sel 2) (vga_bw_sel 2)",
        "(ctle_hg_sel 1) (eqz_s4_ac_gain 2) (eqz_s4_dc_gain 1) (eqz_bw_sel 1) (corner 1) "
        "(pwrql 1)",
        "(ctle_hg_sel 1) (eqz_s4_ac_gain 1) (eqz_bw_sel 2) (corner 2) (pwrql 2) (vga_gain 7)",
        "(QPI_sel 1) (QPI_vcm 1) (corner 1)",
        "(eqz_s1_ac_gain 2) (vga_gain 0) (eqz_bw_sel 4) (vga_bw_sel 4) (cdr_sel 1)",
        "(eqz_s1_ac_gain 6) (dfe (mode 2)) (cdr_bandwidth 2)",
        "(eqz_s1_ac_gain 4) (dfe (mode 1)) (tap_1 40) (tap_2 -12) (vga_bw_sel 3) (cdr_bandwidth 1)",
    };
    return settings;
}

// Receiver settings whose DFE learns: they need runs beyond its first 5000 bits.
inline const std::vector<std::string>& RxDfeSettings() {
    static const std::vector<std::string> settings{
        "(eqz_s1_ac_gain 6) (dfe (mode 2)) (cdr_bandwidth 2)",
        "(ctle_hg_sel 1) (eqz_s4_ac_gain 6) (dfe (mode 2)) (DFE_tap_length 5) (corner 2)",
        "(eqz_s1_ac_gain 4) (dfe (mode 1)) (tap_1 40) (tap_2 -12) (vga_bw_sel 3)",
    };
    return settings;
}

}  // namespace testsupport
