#pragma once
// The analog ends of a link as IBIS simulators put them into the channel: the transmitter's
// source resistance and C_comp with the package of its pins (or the front-end Touchstone file
// its AMI_Resolve names), the receiver's package, C_comp and termination, for one corner.
#include <optional>
#include <string>
#include <vector>

#include "amisim/channel/analog_network.hpp"
#include "amisim/host/ibis_file.hpp"
#include "amisim/channel/touchstone.hpp"

namespace amisim {

// What the transmitter's AMI_Resolve reported for a parameter string.
struct TxResolution {
    bool called = false;  // the library exports AMI_Resolve and it returned 1
    std::optional<double> txR;
    std::string tstoneFile;  // as named, without a folder
    std::string note;        // why nothing was resolved
};

// Calls AMI_Resolve of the library with `parametersIn`; never throws on what the model does.
TxResolution resolveTxFrontEnd(const std::string& library, const std::string& parametersIn);

struct AnalogEnds {
    std::string ibsFile, corner;
    std::string txModel, rxModel;
    LumpedEnd tx, rx;                     // one leg of each pair
    std::optional<double> rxTermination;  // per leg, ohms; empty: the input is left open
    std::string txSource;                 // where the source resistance came from
    // The front-end file that replaces the transmitter's lumped end, when there is one.
    std::string txFrontEndFile;
    std::vector<double> frontEndHz;
    std::vector<std::array<Complex, 4>> frontEndSdd;  // differential two-port, reference 2 z0
    double frontEndZ0 = 50;
    std::vector<std::string> warnings;

    // Differential chain matrices of the two ends at a frequency.
    Abcd transmitterAt(double hz) const;
    Abcd receiverAt(double hz) const;
    // The link's differential transfer with these ends around a channel given by its
    // differential two-port S-matrix (reference zd): equal to the channel's SDD21 between
    // matched ideal ends.
    Complex transfer(const std::array<Complex, 4>& channelSdd, double zd, double hz) const;
    // One line saying what the ends hold.
    std::string describe() const;
};

// What a run reports about its ends.
struct EndsInfo {
    bool analog = false;      // false: ideal ends, the channel's SDD21 alone
    std::string description;  // what the ends hold, or why they are ideal
    std::string corner;
    std::string txFrontEndFile;            // empty when the lumped end was used
    double costAtNyquistDb = 0;            // loss the ends add at Nyquist
    std::optional<double> eyeHeightCostV;  // statistical eye height lost to the ends
    std::string eyeCostSettings;           // the receiver settings both eyes were taken at
    // What the transmitter's AMI_Resolve named for these ends (whether or not the file exists).
    std::optional<double> resolvedTxR;
    std::string resolvedFile;
};

// Reads the ends from the .ibs file of the kit at `corner`. The transmitter's source is its
// Tx_R from AMI_Resolve when it reports one, else its I-V tables; a front-end file named by
// AMI_Resolve that exists in `kitDir` replaces the transmitter's lumped end. Throws IbisError
// with a clear message when the file lacks what the ends need.
AnalogEnds loadAnalogEnds(const std::string& ibsFile, IbisCorner corner,
                          const TxResolution& resolution, const std::string& kitDir);

}  // namespace amisim
