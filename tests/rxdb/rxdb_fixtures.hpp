#pragma once
// Temporary directories and small hand-made databases for the response database tests.
#include <filesystem>
#include <string>

#include "mkdb/rx_container_writer.hpp"
#include "rx/response_database.hpp"
#include "support/temp_dir.hpp"

namespace rxdb_test {

using testsupport::TempDir;

// A record whose every value encodes where it came from: value = tag + row + column / 1000.
inline ResponseRecord taggedRecord(std::uint32_t rows, std::uint32_t columns, double tag) {
    ResponseRecord r;
    r.rows = rows;
    r.columns = columns;
    r.data.assign(rows, std::vector<double>(columns));
    for (std::uint32_t i = 0; i < rows; ++i) {
        for (std::uint32_t j = 0; j < columns; ++j) r.data[i][j] = tag + i + j / 1000.0;
    }
    return r;
}

// A database of nA x nB x nC x nD tagged responses (tag = 1000 a + 100 b + 10 c + d) with
// `stages` stages and a curveRows x curveCols table of tagged curves (tag = 100 r + k).
inline CtleDatabase taggedDatabase(std::size_t nA, std::size_t nB, std::size_t nC,
                                   std::vector<std::string> variants, std::uint32_t stages,
                                   std::size_t curveRows, std::size_t curveCols,
                                   std::size_t storedA = 0) {
    CtleDatabase db;
    for (std::size_t a = 0; a < nA; ++a) db.axisA.push_back(static_cast<double>(a));
    for (std::size_t b = 0; b < nB; ++b) db.axisB.push_back(static_cast<double>(b));
    const double bandwidths[] = {4, 8, 16, 28};
    for (std::size_t c = 0; c < nC; ++c) db.axisC.push_back(bandwidths[c % 4]);
    db.variants = std::move(variants);
    const std::size_t dimA = storedA ? storedA : nA;
    db.responses.resize(dimA);
    for (std::size_t a = 0; a < dimA; ++a) {
        db.responses[a].resize(nB);
        for (std::size_t b = 0; b < nB; ++b) {
            db.responses[a][b].resize(nC);
            for (std::size_t c = 0; c < nC; ++c) {
                for (std::size_t d = 0; d < db.variants.size(); ++d) {
                    db.responses[a][b][c].push_back(
                        taggedRecord(1 + 2 * stages, 5, 1000.0 * a + 100.0 * b + 10.0 * c + d));
                }
            }
        }
    }
    db.curves.resize(curveRows);
    for (std::size_t r = 0; r < curveRows; ++r) {
        for (std::size_t k = 0; k < curveCols; ++k) {
            db.curves[r].push_back(taggedRecord(2, 20, 100.0 * r + k));
        }
    }
    return db;
}

}  // namespace rxdb_test
