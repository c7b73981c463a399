// writeRxDatabase: every receiver characterisation file and DFE map.
#include "mkdb/rx_database_writer.hpp"

#include <cctype>
#include <cmath>
#include <stdexcept>

#include "mkdb/rx_stage_model.hpp"
#include "mkdb/writers.hpp"

namespace mkdb {
namespace {

std::string insertBeforeExtension(const std::string& file, const std::string& suffix) {
    const auto dot = file.rfind('.');
    if (dot == std::string::npos) return file + suffix;
    return file.substr(0, dot) + suffix + file.substr(dot);
}

ResponseRecord stageRecord(const std::vector<double>& grid, const std::vector<StageShape>& stages) {
    ResponseRecord r;
    r.rows = static_cast<std::uint32_t>(1 + 2 * stages.size());
    r.columns = static_cast<std::uint32_t>(grid.size());
    r.data.reserve(r.rows);
    r.data.push_back(grid);
    for (const auto& shape : stages) {
        std::vector<double> magnitude, phase;
        sampleStage(shape, grid, magnitude, phase);
        r.data.push_back(std::move(magnitude));
        r.data.push_back(std::move(phase));
    }
    return r;
}

}  // namespace

CtleDatabase buildBlockDatabase(const RxDescription& d, const RxBlock& block,
                                const RxCorner& corner, const RxSupply& supply) {
    CtleDatabase db;
    db.formatName = "Corvan XTT CTLE Format";
    for (int a = 0; a < block.acGainKeys; ++a) db.axisA.push_back(a);
    db.axisB = block.dcGainKeys;
    db.axisC = block.bandwidthKeys;
    for (const auto& v : block.variants) db.variants.push_back(v.name);

    const std::vector<double> grid = frequencyGrid(d.gridStartHz, d.gridStopHz, d.pointsPerDecade);
    const double frequencyScale = corner.frequencyScale * supply.frequencyScale;

    db.responses.resize(block.storedAcGains);
    for (int a = 0; a < block.storedAcGains; ++a) {
        db.responses[a].resize(block.dcGainKeys.size());
        for (std::size_t b = 0; b < block.dcGainKeys.size(); ++b) {
            db.responses[a][b].resize(block.bandwidthKeys.size());
            for (std::size_t c = 0; c < block.bandwidthKeys.size(); ++c) {
                for (const auto& variant : block.variants) {
                    std::vector<StageShape> stages;
                    for (double poleScale : block.stagePoleScale) {
                        StageShape s;
                        const bool plainGain = !block.linearGains.empty();
                        s.dcGainDb = (plainGain ? 20.0 * std::log10(block.linearGains[a])
                                                : block.dcGainDb[b]) +
                                     corner.gainOffsetDb + variant.gainOffsetDb;
                        s.peakingDb =
                            plainGain ? 0.0 : block.peakingDbAtZero + a * block.peakingDbPerStep;
                        s.poleHz = block.poleHz[c] * poleScale * frequencyScale;
                        s.secondPoleRatio = block.secondPoleRatio;
                        s.delaySeconds = block.delaySeconds;
                        stages.push_back(s);
                    }
                    db.responses[a][b][c].push_back(stageRecord(grid, stages));
                }
            }
        }
    }

    db.curves.resize(block.curveRows);
    for (auto& row : db.curves) {
        for (std::size_t k = 0; k < block.saturationVolts.size(); ++k) {
            const double second = block.secondPairSaturationVolts.empty()
                                      ? 0.0
                                      : block.secondPairSaturationVolts[k] * supply.saturationScale;
            row.push_back(saturationCurve(d.curvePoints, d.curveInputMaxVolts,
                                          block.saturationVolts[k] * supply.saturationScale,
                                          second));
        }
    }
    return db;
}

std::string blockFileName(const RxBlock& block, const RxCorner& corner, const RxSupply& supply) {
    return insertBeforeExtension(block.file,
                                 (block.versioned ? supply.suffix : "") + corner.suffix);
}

DfeMap buildDfeMap(const RxDescription& d, const RxDfeTable& table) {
    DfeMap map;
    map.secondCount = static_cast<std::uint32_t>(d.codesPerTable);
    for (std::size_t k = 0; k < d.tapRanges.size(); ++k) {
        const double halfRange = d.tapRanges[k] / 2;
        const double step = table.fullScaleVolts[k] / halfRange;
        map.maxCodes.push_back(halfRange);
        map.minCodes.push_back(-halfRange);
        std::vector<double> positive(d.codesPerTable), negative(d.codesPerTable);
        for (int code = 0; code < d.codesPerTable; ++code) {
            positive[code] = code * step;
            negative[code] = -code * step;
        }
        map.positiveTable.push_back(std::move(positive));
        map.negativeTable.push_back(std::move(negative));
    }
    return map;
}

std::string dfeMapFileName(const RxDescription& d, const RxDfeTable& table) {
    const auto dot = d.dfeFile.rfind('.');
    std::string stem = dot == std::string::npos ? d.dfeFile : d.dfeFile.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : d.dfeFile.substr(dot);
    while (!stem.empty() && std::isdigit(static_cast<unsigned char>(stem.back()))) stem.pop_back();
    return stem + table.digit + extension;
}

void writeRxDatabase(const std::filesystem::path& description,
                     const std::filesystem::path& outDir) {
    const RxDescription d = readRxDescription(description);
    if (!std::filesystem::is_directory(outDir)) {
        throw std::runtime_error("output directory " + outDir.string() + " does not exist");
    }
    for (const auto& block : d.blocks) {
        for (const auto& corner : d.corners) {
            for (const auto& supply : d.supplies) {
                if (!block.versioned && supply.label != block.supply) continue;
                const CtleDatabase db = buildBlockDatabase(d, block, corner, supply);
                writeBytes(outDir / blockFileName(block, corner, supply), encodeCtleContainer(db));
            }
        }
    }
    for (const auto& table : d.dfeTables) {
        writeBytes(outDir / dfeMapFileName(d, table), encodeDfeMap(buildDfeMap(d, table)));
    }
}

}  // namespace mkdb
