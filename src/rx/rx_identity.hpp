#pragma once
// Identity of the receiver model: the texts it reports and the names of the files it writes.
namespace v10kx_ami_rx {

inline constexpr const char* kRootName = "Vanta10_Rx";
inline constexpr const char* kIdentificationLine =
    "Model Identification: Corvan Vanta-10KX/KT Rx AMI v2.0\n\n";
inline constexpr const char* kDescriptionLine = "  (Description \"Corvan Vanta-10 Rx AMI v2.0\")\n";

inline constexpr const char* kDebugFileName = "Corvan_V10_Rx_AMI_Debug.txt";
inline constexpr const char* kInputDumpFileName = "Corvan_V10_Rx_AMI_GetWave_Input.txt";
inline constexpr const char* kOutputDumpFileName = "Corvan_V10_Rx_AMI_GetWave_Output.txt";
inline constexpr const char* kDfeDumpFileName = "Corvan_V10_Rx_AMI_DFE_Adaptation.txt";
inline constexpr const char* kCdrDumpFileName = "Corvan_V10_Rx_AMI_CDR_Adaptation.txt";

inline constexpr const char* kDfeMapFile = "V10KX_RX_DFE_Map_BW1.kvrrxdata";

// Bit rates the receiver serves, in bit/s: those its clock recovery's oscillator (0.5 to 100 GHz,
// divided by up to 8 at the slowest rates) can run at. The jitter tables, characterised well
// inside this range, give only non-finite numbers far outside it.
inline constexpr double kMinBitRate = 62.5e6;
inline constexpr double kMaxBitRate = 100e9;

// Clock-time offset handed to the DFE set-up, in samples.
inline constexpr double kDfeClockOffset = 2.5;

}  // namespace v10kx_ami_rx
