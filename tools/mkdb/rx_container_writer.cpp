// Serialisation of the receiver's characterisation containers and DFE maps.
#include "mkdb/rx_container_writer.hpp"

#include <cstring>
#include <fstream>
#include <stdexcept>

namespace mkdb {

void ByteWriter::u32(std::uint32_t value) {
    for (int i = 0; i < 4; ++i) buffer.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void ByteWriter::u8(std::uint8_t value) { buffer.push_back(value); }

void ByteWriter::f64(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) buffer.push_back(static_cast<unsigned char>(bits >> (8 * i)));
}

void ByteWriter::doubles(const std::vector<double>& values) {
    for (double v : values) f64(v);
}

void ByteWriter::doubleVector(const std::vector<double>& values) {
    u32(static_cast<std::uint32_t>(values.size()));
    doubles(values);
}

void ByteWriter::text(const std::string& value) {
    u32(static_cast<std::uint32_t>(value.size()));
    buffer.insert(buffer.end(), value.begin(), value.end());
}

void ByteWriter::record(const ResponseRecord& record) {
    if (record.data.size() != record.rows) {
        throw std::runtime_error("record says " + std::to_string(record.rows) + " rows but holds " +
                                 std::to_string(record.data.size()));
    }
    u32(record.rows);
    u32(record.columns);
    for (const auto& row : record.data) {
        if (row.size() != record.columns) {
            throw std::runtime_error("record row of " + std::to_string(row.size()) +
                                     " values where " + std::to_string(record.columns) +
                                     " columns are declared");
        }
        doubles(row);
    }
}

std::vector<unsigned char> encodeCtleContainer(const CtleDatabase& db, bool withCurves) {
    ByteWriter w;
    w.doubleVector(db.axisA);
    w.doubleVector(db.axisB);
    w.doubleVector(db.axisC);
    w.u32(static_cast<std::uint32_t>(db.variants.size()));
    for (const auto& v : db.variants) w.text(v);

    const auto& r = db.responses;
    const std::size_t dimA = r.size();
    const std::size_t dimB = dimA ? r[0].size() : 0;
    const std::size_t dimC = dimB ? r[0][0].size() : 0;
    const std::size_t dimD = dimC ? r[0][0][0].size() : 0;
    w.u32(static_cast<std::uint32_t>(dimA));
    w.u32(static_cast<std::uint32_t>(dimB));
    w.u32(static_cast<std::uint32_t>(dimC));
    w.u32(static_cast<std::uint32_t>(dimD));
    for (const auto& byB : r) {
        if (byB.size() != dimB) throw std::runtime_error("response table is not rectangular");
        for (const auto& byC : byB) {
            if (byC.size() != dimC) throw std::runtime_error("response table is not rectangular");
            for (const auto& byD : byC) {
                if (byD.size() != dimD) {
                    throw std::runtime_error("response table is not rectangular");
                }
                for (const auto& record : byD) w.record(record);
            }
        }
    }

    if (withCurves) {
        const std::size_t rows = db.curves.size();
        const std::size_t cols = rows ? db.curves[0].size() : 0;
        w.u32(static_cast<std::uint32_t>(rows));
        w.u32(static_cast<std::uint32_t>(cols));
        for (const auto& row : db.curves) {
            if (row.size() != cols) throw std::runtime_error("curve table is not rectangular");
            for (const auto& record : row) w.record(record);
        }
    }
    return w.bytes();
}

std::vector<unsigned char> encodeDfeMap(const DfeMap& map) {
    const std::size_t taps = map.maxCodes.size();
    if (map.minCodes.size() != taps || map.positiveTable.size() != taps ||
        map.negativeTable.size() != taps) {
        throw std::runtime_error(
            "DFE map: the code limits and tables describe different tap counts");
    }
    ByteWriter w;
    w.u32(static_cast<std::uint32_t>(taps));
    w.u32(map.secondCount);
    w.doubleVector(map.maxCodes);
    w.doubleVector(map.minCodes);
    for (const auto* table : {&map.positiveTable, &map.negativeTable}) {
        const std::size_t cols = taps ? (*table)[0].size() : 0;
        w.u32(static_cast<std::uint32_t>(taps));
        w.u32(static_cast<std::uint32_t>(cols));
        for (const auto& row : *table) {
            if (row.size() != cols) throw std::runtime_error("DFE map table is not rectangular");
            w.doubles(row);
        }
    }
    return w.bytes();
}

void writeBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot open " + file.string() + " for writing");
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw std::runtime_error("writing " + file.string() + " failed");
}

}  // namespace mkdb
