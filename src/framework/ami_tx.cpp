// Transmitter model base: construction and destruction. The waveform path is in
// ami_tx_processing.cpp.
#include "framework/ami_tx.hpp"

#include "framework/ami_exceptions.hpp"

// A parse failure is not caught: it leaves the constructor and fails AMI_Init with its text.
// A missing string is treated as an empty one.
AmiTx::AmiTx(const char* AMI_parameters_in)
    : paramTree(std::make_unique<AmiParamTree>(AMI_parameters_in ? AMI_parameters_in : "")) {}

AmiTx::~AmiTx() = default;
