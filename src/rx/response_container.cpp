// Reading one characterisation file into a CtleDatabase.
#include <iostream>

#include "rx/container_reader.hpp"
#include "rx/response_database.hpp"

namespace {

// The bandwidth key each curve row stands for: the high-gain file has one row per key, the QPI
// file a single row; the other files index their curve rows by the bandwidth position.
std::vector<double> stageValuesFor(const std::string& pathLabel, std::size_t curveRows) {
    std::vector<double> keys;
    if (pathLabel == kHighGainPathLabel) {
        keys = {4, 8, 16, 28};
    } else if (pathLabel == kQpiPathLabel) {
        keys = {16};
    }
    if (keys.size() > curveRows) keys.resize(curveRows);
    return keys;
}

bool hasCurveTable(const std::string& pathLabel) {
    return pathLabel == kHighGainPathLabel || pathLabel == kHighDataRatePathLabel ||
           pathLabel == kQpiPathLabel || pathLabel == kVgaPathLabel;
}

bool readResponses(ContainerReader& reader, CtleDatabase& db) {
    std::uint32_t dims[4] = {0, 0, 0, 0};
    for (auto& d : dims) {
        if (!reader.ReadU32(d, "the response dimensions")) return false;
    }
    std::uint64_t count = 1;
    for (auto d : dims) {
        count *= d;
        // Each record takes at least its two counts; stop before the product can overflow.
        if (!reader.Expect(count, 8, "the response table")) return false;
    }
    if (count == 0) return true;
    db.responses.resize(dims[0]);
    for (auto& byB : db.responses) {
        byB.resize(dims[1]);
        for (auto& byC : byB) {
            byC.resize(dims[2]);
            for (auto& byD : byC) {
                byD.resize(dims[3]);
                for (auto& record : byD) {
                    if (!reader.ReadRecord(record, "a response record")) return false;
                }
            }
        }
    }
    return true;
}

bool readCurves(ContainerReader& reader, CtleDatabase& db) {
    std::uint32_t rows = 0, cols = 0;
    if (!reader.ReadU32(rows, "the curve table size") ||
        !reader.ReadU32(cols, "the curve table size")) {
        return false;
    }
    const std::uint64_t count = std::uint64_t{rows} * cols;
    if (!reader.Expect(count, 8, "the curve table")) return false;
    if (count == 0) return true;
    db.curves.assign(rows, std::vector<ResponseRecord>(cols));
    for (auto& row : db.curves) {
        for (auto& record : row) {
            if (!reader.ReadRecord(record, "an amplitude curve record")) return false;
        }
    }
    return true;
}

}  // namespace

bool LoadCtleDatabase(CtleDatabase& database, const std::string& fileName,
                      const std::string& pathLabel) {
    database = CtleDatabase{};
    database.formatName = "Corvan XTT CTLE Format";

    ContainerReader reader(fileName);
    if (!reader.IsOpen()) {
        // An absent file was already reported by the file-name rule.
        if (!reader.Ok()) {
            std::cout << "Kavor database file " << fileName << " is unreadable: " << reader.Reason()
                      << ". It is treated as missing." << std::endl;
        }
        return false;
    }

    CtleDatabase db;
    db.formatName = database.formatName;
    std::uint32_t variantCount = 0;
    bool ok = reader.ReadDoubleVector(db.axisA, "the AC gain keys") &&
              reader.ReadDoubleVector(db.axisB, "the DC gain keys") &&
              reader.ReadDoubleVector(db.axisC, "the bandwidth keys") &&
              reader.ReadU32(variantCount, "the variant count") &&
              reader.Expect(variantCount, 4, "the variant names");
    if (ok) {
        db.variants.resize(variantCount);
        for (auto& v : db.variants) {
            if (!(ok = reader.ReadString(v, "a variant name"))) break;
        }
    }
    ok = ok && readResponses(reader, db);
    if (ok && hasCurveTable(pathLabel)) ok = readCurves(reader, db);

    if (!ok) {
        std::cout << "Kavor database file " << fileName << " is damaged: " << reader.Reason()
                  << ". It is treated as missing." << std::endl;
        return false;
    }
    db.stageValues = stageValuesFor(pathLabel, db.curves.size());
    database = std::move(db);
    return true;
}
