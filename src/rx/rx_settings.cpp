#include "rx/rx_settings.hpp"

namespace v10kx_ami_rx {
namespace {

std::vector<int> Range(int first, int last) {
    std::vector<int> values;
    for (int v = first; v <= last; ++v) values.push_back(v);
    return values;
}

std::vector<std::string> NumberLabels(int first, int last, const std::string& suffix) {
    std::vector<std::string> labels;
    for (int v = first; v <= last; ++v) labels.push_back(std::to_string(v) + suffix);
    return labels;
}

int IndexOf(const std::map<std::string, int>& indices, const std::string& name) {
    auto it = indices.find(name);
    return it == indices.end() ? 0 : it->second;
}

}  // namespace

std::vector<IntParamSpec> ReceiverParamTable() {
    const std::vector<std::string> bandwidths{"3 GHz", "6 GHz", "10 GHz", "14 GHz"};
    // The bandwidth selectors are numbered from 1 in the parameter string.
    return {
        MakeIntParamSpec("vga_gain", Range(0, 7),
                         {"0.5", "0.8", "1.1", "1.3", "1.5", "1.65", "1.8", "2"}),
        MakeIntParamSpec("eqz_s1_ac_gain", Range(0, 15), NumberLabels(0, 15, " dB")),
        MakeIntParamSpec("eqz_s4_ac_gain", Range(0, 28), NumberLabels(0, 28, "")),
        MakeIntParamSpec("pwrql", Range(0, 2), {"1.0", "1.1", "0.9"}),
        MakeIntParamSpec("corner", Range(0, 2), {"TT", "FF", "SS"}),
        MakeIntParamSpec("eqz_bw_sel", Range(1, 4), bandwidths),
        MakeIntParamSpec("vga_bw_sel", Range(1, 4), bandwidths),
        MakeIntParamSpec("eqz_s4_dc_gain", Range(0, 4), NumberLabels(0, 4, "")),
        MakeIntParamSpec("hg_bw_sel", Range(0, 1), {"3 GHz", "6 GHz"}),
        MakeIntParamSpec("QPI_sel", Range(0, 1), {"0", "1"}),
        MakeIntParamSpec("QPI_vcm", Range(0, 2), {"0.125 V", "0.25 V", "0.35 V"}),
        MakeIntParamSpec("cdr_bandwidth", Range(0, 2), {"Low", "Medium", "High"}),
        MakeIntParamSpec("cdr_sel", Range(0, 1), {"Enable", "Disable"}),
        MakeIntParamSpec("temp_grade", Range(0, 1), {"industrial", "extended"}),
    };
}

RxSettings SettingsFromIndices(const std::map<std::string, int>& indices) {
    RxSettings s;
    s.vgaGain = IndexOf(indices, "vga_gain");
    s.eqzS1AcGain = IndexOf(indices, "eqz_s1_ac_gain");
    s.eqzS4AcGain = IndexOf(indices, "eqz_s4_ac_gain");
    s.pwrql = IndexOf(indices, "pwrql");
    s.corner = IndexOf(indices, "corner");
    s.eqzBwSel = IndexOf(indices, "eqz_bw_sel");
    s.vgaBwSel = IndexOf(indices, "vga_bw_sel");
    s.eqzS4DcGain = IndexOf(indices, "eqz_s4_dc_gain");
    s.hgBwSel = IndexOf(indices, "hg_bw_sel");
    s.qpiSel = IndexOf(indices, "QPI_sel");
    s.qpiVcm = IndexOf(indices, "QPI_vcm");
    s.cdrBandwidth = IndexOf(indices, "cdr_bandwidth");
    s.cdrSel = IndexOf(indices, "cdr_sel");
    s.tempGrade = IndexOf(indices, "temp_grade");
    return s;
}

RxLabels DeriveLabels(const RxSettings& s) {
    RxLabels l;
    if (s.Qpi()) {
        l.ctleMode = "QPI";
    } else if (!s.HighGainCtle()) {
        static const char* const peak[] = {"High Data Rate, Peak Freq 0",
                                           "High Data Rate, Peak Freq 1",
                                           "High Data Rate, Peak Freq 2"};
        l.ctleMode =
            (s.eqzBwSel >= 0 && s.eqzBwSel <= 2) ? peak[s.eqzBwSel] : "High Data Rate, Peak Freq 3";
    } else {
        l.ctleMode = s.LowBandwidthCtle() ? "High-Gain, Low BW" : "High-Gain, High BW";
    }
    l.vgaBandwidth = s.Qpi() ? "3" : std::to_string(s.vgaBwSel);
    static const char* const corners[] = {"Typical", "Fast", "Slow"};
    l.corner = (s.corner >= 0 && s.corner <= 2) ? corners[s.corner] : "Typical";
    if (s.Qpi() || s.pwrql == 0) {
        l.supply = "1.0 V";
    } else if (s.pwrql == 1) {
        l.supply = "1.1 V";
    } else {
        l.supply = "0.9 V";
    }
    l.qpiCode = s.qpiVcm == 0 ? "0p125V" : (s.qpiVcm == 2 ? "0p35V" : "0p25V");
    return l;
}

JitterRequest MakeJitterRequest(const RxSettings& s, double bitTime) {
    JitterRequest request;
    request.bitTime = bitTime;
    request.dfeOn = s.dfeMode != 0;
    request.highGainCtle = s.HighGainCtle();
    request.ctleBandwidth = s.LowBandwidthCtle() ? 8.0 : 16.0;
    request.industrialGrade = s.tempGrade == 0;
    return request;
}

ResponseRequest CtleRequest(const RxSettings& s, const RxLabels& l, double bitRate) {
    ResponseRequest r;
    if (!s.Qpi()) {
        // An adapted AC gain takes effect whichever CTLE family is in use.
        r.acGain = (s.HighGainCtle() || s.adapted) ? s.eqzS4AcGain : s.eqzS1AcGain;
        r.dcGain = s.HighGainCtle() ? s.eqzS4DcGain : 0;
    }
    const CtleLookupKeys keys = CtleKeysForLabel(l.ctleMode, l.qpiCode);
    r.bandwidth = keys.bandwidth;
    r.path = keys.path;
    r.variant = keys.variant;
    r.family = kReceiverFamily;
    r.bitRate = bitRate;
    return r;
}

ResponseRequest VgaRequest(const RxSettings& s, const RxLabels& l, double bitRate) {
    ResponseRequest r;
    r.acGain = s.vgaGain;
    r.dcGain = 0;
    r.bandwidth = VgaBandwidthKey(l.vgaBandwidth);
    r.variant = std::string(1, 'H');  // not assigned from a literal: a false -Wrestrict at -O3
    r.path = kVgaPath;
    r.family = kReceiverFamily;
    r.bitRate = bitRate;
    return r;
}

}  // namespace v10kx_ami_rx
