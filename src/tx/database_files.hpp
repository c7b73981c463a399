#pragma once
// Names of the transmitter's device database files. The database writer uses the same names.
namespace v10kx_ami_tx {

inline constexpr const char* kDeviceLabel = "Vanta 10 KX/PX";
inline constexpr const char* kVodTableFile = "V10KX_TX_VOD.kvrtxdata";
inline constexpr const char* kVodCoefTableFile = "V10KX_TX_VOD_Coef.kvrtxdata";
inline constexpr const char* kFirMapFile = "V10KX_TX_FIR_Map.kvrtxdata";

}  // namespace v10kx_ami_tx
