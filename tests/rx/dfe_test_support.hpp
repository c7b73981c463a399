#pragma once
// Shared pieces of the DFE tests: the DFE maps as the database generator writes them, and
// synthetic received waveforms with a known pulse response.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "mkdb/rx_container_writer.hpp"
#include "rx_test_support.hpp"

namespace dfetest {

// Writes the four DFE maps of the shipped receiver description into `dir`.
void WriteDfeMaps(const std::filesystem::path& dir);
// The map of the shipped description for a VGA bandwidth key (28, 16, 8 or 4).
mkdb::DfeMap ShippedDfeMap(double bandwidthKey);

// Random bits 0/1.
std::vector<int> RandomBits(std::size_t count, unsigned seed);

// The received waveform of `bits` (+1 for 1, -1 for 0) through a channel whose pulse response
// is `cursors` at the centre of its bit and at the following bit centres: the bit-centre values
// joined by straight lines. Bit k is centred at (k + 0.5) * spb * periodScale + delay samples.
std::vector<double> IsiWave(const std::vector<int>& bits, const std::vector<double>& cursors,
                            double spb, double periodScale = 1.0, double delay = 0.0);

// An impulse of `length` samples that passes the input unchanged (one sample of 1 / dt).
std::vector<double> DeltaImpulse(double dt, std::size_t length = 512);

// A test with the receiver's test database and the shipped DFE maps in a temporary folder.
class DfeDatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rxtest::WriteTestDatabase(dir.path(), rxtest::TestDatabase{});
        WriteDfeMaps(dir.path());
    }
    rxtest::TempDir dir;
};

}  // namespace dfetest
