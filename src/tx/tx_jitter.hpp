#pragma once
// Jitter budget of the transmitter at the simulated bit rate.
#include <string>

namespace v10kx_ami_tx {

struct TxJitter {
    float rateGbps = 0;
    float rj = 0;   // seconds
    float dj = 0;   // seconds
    float dcd = 0;  // seconds
};

// The bit rate (Gbps, single precision) and the three jitter values.
TxJitter ComputeTxJitter(double bitRate);

// Checks the bit rate against the characterised range (clearing `paramsValid` outside it) and
// appends the bit-rate line and the Tx_Rj, Tx_Dj and Tx_DCD entries.
void ReportTxJitter(double bitRate, std::string& msgLog, std::string& paramsOut, bool& paramsValid);

}  // namespace v10kx_ami_tx
