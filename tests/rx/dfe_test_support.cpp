#include "dfe_test_support.hpp"

#include <cmath>
#include <random>
#include <stdexcept>

#include "mkdb/rx_database_writer.hpp"
#include "mkdb/rx_device_description.hpp"

namespace dfetest {
namespace {

const mkdb::RxDescription& ShippedDescription() {
    static const mkdb::RxDescription d =
        mkdb::readRxDescription(std::filesystem::path(MKDB_DEVICES_DIR) / "v10kx_rx.json");
    return d;
}

}  // namespace

void WriteDfeMaps(const std::filesystem::path& dir) {
    const mkdb::RxDescription& d = ShippedDescription();
    for (const auto& table : d.dfeTables) {
        mkdb::writeBytes(dir / mkdb::dfeMapFileName(d, table),
                         mkdb::encodeDfeMap(mkdb::buildDfeMap(d, table)));
    }
}

mkdb::DfeMap ShippedDfeMap(double bandwidthKey) {
    const mkdb::RxDescription& d = ShippedDescription();
    for (const auto& table : d.dfeTables) {
        if (table.bandwidthKey == bandwidthKey) return mkdb::buildDfeMap(d, table);
    }
    throw std::invalid_argument("no DFE map for that bandwidth key");
}

std::vector<int> RandomBits(std::size_t count, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<int> bits(count);
    for (int& b : bits) b = static_cast<int>(rng() & 1u);
    return bits;
}

std::vector<double> IsiWave(const std::vector<int>& bits, const std::vector<double>& cursors,
                            double spb, double periodScale, double delay) {
    const std::size_t n = bits.size();
    std::vector<double> centre(n, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = 0; j < cursors.size() && j <= k; ++j) {
            centre[k] += cursors[j] * (bits[k - j] ? 1.0 : -1.0);
        }
    }
    const double period = spb * periodScale;
    const auto samples = static_cast<std::size_t>(std::floor(n * period + delay));
    std::vector<double> wave(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        const double u = (static_cast<double>(i) - delay) / period - 0.5;
        if (u <= 0) {
            wave[i] = centre[0];
            continue;
        }
        const auto k = static_cast<std::size_t>(u);
        const double fraction = u - static_cast<double>(k);
        wave[i] = k + 1 < n ? centre[k] + fraction * (centre[k + 1] - centre[k]) : centre[n - 1];
    }
    return wave;
}

std::vector<double> DeltaImpulse(double dt, std::size_t length) {
    std::vector<double> v(length, 0.0);
    v[10] = 1.0 / dt;
    return v;
}

}  // namespace dfetest
