#include "mkdb/tx_database_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "mkdb/writers.hpp"
#include "tx/database_files.hpp"

namespace mkdb {

namespace {

using v10kx_ami_tx::FirMap;
using v10kx_ami_tx::FirMapRecord;
using v10kx_ami_tx::FirMatrix;

// Round-trips through the model's stream extraction.
std::string Number(double v) {
    std::ostringstream out;
    out.precision(17);
    out << v;
    return out.str();
}

std::ofstream OpenForWriting(const std::filesystem::path& file, std::ios::openmode mode) {
    std::ofstream out(file, mode);
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return out;
}

void Finish(std::ofstream& out, const std::filesystem::path& file) {
    out.close();
    if (!out) throw std::runtime_error("writing " + file.string() + " failed");
}

class BinaryWriter {
  public:
    explicit BinaryWriter(std::ofstream& out) : out_(out) {}

    void U32(std::uint32_t v) {
        unsigned char bytes[4];
        for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
        out_.write(reinterpret_cast<const char*>(bytes), 4);
    }
    void Double(double d) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(bits >> (8 * i));
        out_.write(reinterpret_cast<const char*>(bytes), 8);
    }
    void List(const std::vector<double>& values) {
        U32(static_cast<std::uint32_t>(values.size()));
        for (double d : values) Double(d);
    }
    void Matrix(const FirMatrix& m) {
        U32(m.rows);
        U32(m.cols);
        for (double d : m.values) Double(d);
    }

  private:
    std::ofstream& out_;
};

// Fraction of the full tap setting range usable at Vod setting v.
double LimitFraction(const TxDescription& d, int v) {
    const double t = static_cast<double>(v - d.limitLowVod) / (d.limitFullVod - d.limitLowVod);
    return d.limitFloor + (1 - d.limitFloor) * std::clamp(t, 0.0, 1.0);
}

FirMapRecord BuildRecord(const TxDescription& d, int vod, double key) {
    constexpr std::uint32_t positions = v10kx_ami_tx::kTapPositions;
    FirMapRecord r;
    r.key = r.storedKey = key;
    r.numPre = v10kx_ami_tx::kPreTaps;
    r.numPost = v10kx_ami_tx::kPostTaps;
    r.maxSetting.assign(positions, 0.0);
    r.coefA = {positions, d.coefficientColumns,
               std::vector<double>(static_cast<std::size_t>(positions) * d.coefficientColumns)};
    r.coefB = r.coefA;
    for (const TxTapDescription& tap : d.taps) {
        r.maxSetting[tap.position] = std::floor(tap.maxSetting * LimitFraction(d, vod));
        for (std::uint32_t k = 0; k < d.coefficientColumns; ++k) {
            // Settings above the full range (never reachable) repeat the full-scale weight.
            const double weight =
                tap.fullScaleWeight * std::min(1.0, static_cast<double>(k) / tap.maxSetting);
            const std::size_t index =
                static_cast<std::size_t>(tap.position) * d.coefficientColumns + k;
            r.coefA.values[index] = 4 * weight * d.dacShare;
            r.coefB.values[index] = -4 * weight * (1 - d.dacShare);
        }
    }
    return r;
}

}  // namespace

double txSwing(const TxDescription& d, double v, const std::string& corner,
               const std::string& supply) {
    double p = 0, power = 1;
    for (double c : d.polynomial) {
        p += c * power;
        power *= v;
    }
    return 2 * d.scale * d.cornerFactors.at(corner) * d.supplyFactors.at(supply) * p;
}

TxDatabase buildTxDatabase(const TxDescription& d) {
    TxDatabase db;
    for (int v = d.firstSetting; v <= d.lastSetting; ++v) db.vodTable.settings.push_back(v);
    db.vodTable.header = static_cast<double>(db.vodTable.settings.size());
    db.vodTable.linearNumerator = d.linearNumerator;
    db.vodTable.linearDenominator = d.linearDenominator;

    for (const auto& [corner, cornerFactor] : d.cornerFactors) {
        for (const auto& [supply, supplyFactor] : d.supplyFactors) {
            v10kx_ami_tx::VodCoefRecord record;
            record.corner = corner;
            record.supply = supply;
            record.coefficients = d.polynomial;
            record.scale = d.scale * cornerFactor * supplyFactor;
            db.vodCoefTable.push_back(std::move(record));
        }
    }

    for (unsigned r = 0; r < d.records; ++r) {
        const int vod = static_cast<int>(r) + 32 - static_cast<int>(d.records);
        const double key = txSwing(d, vod, d.keyCorner, d.keySupply);
        db.firMap.keys.push_back(key);
        db.firMap.records.push_back(BuildRecord(d, vod, key));
    }
    return db;
}

void writeVodTableFile(const std::filesystem::path& file, const TxVodTableFile& table) {
    std::ofstream out = OpenForWriting(file, std::ios::out | std::ios::trunc);
    out << Number(table.header) << '\n';
    for (double v : table.settings) out << Number(v) << '\n';
    out << Number(table.linearNumerator) << '\n' << Number(table.linearDenominator) << '\n';
    Finish(out, file);
}

void writeVodCoefTableFile(const std::filesystem::path& file,
                           const v10kx_ami_tx::VodCoefTable& table) {
    std::ofstream out = OpenForWriting(file, std::ios::out | std::ios::trunc);
    for (const v10kx_ami_tx::VodCoefRecord& r : table) {
        out << r.corner << '\n' << r.supply << '\n' << r.coefficients.size() << '\n';
        for (double c : r.coefficients) out << Number(c) << '\n';
        out << Number(r.scale) << '\n';
    }
    Finish(out, file);
}

void writeFirMapFile(const std::filesystem::path& file, const FirMap& map) {
    std::ofstream out = OpenForWriting(file, std::ios::out | std::ios::trunc | std::ios::binary);
    BinaryWriter w(out);
    w.U32(static_cast<std::uint32_t>(map.records.size()));
    for (double k : map.keys) w.Double(k);
    for (const FirMapRecord& r : map.records) {
        w.Double(r.storedKey);
        w.U32(r.numPre);
        w.U32(r.numPost);
        w.U32(r.reservedWord);
        w.List(r.maxSetting);
        w.List(r.reservedList);
        w.Matrix(r.coefA);
        w.Matrix(r.coefB);
        w.Double(r.reservedReal1);
        w.Double(r.reservedReal2);
        for (const std::vector<double>& list : r.reservedLists) w.List(list);
    }
    const v10kx_ami_tx::FirMapTrailer& t = map.trailer;
    w.U32(t.reservedWord1);
    w.U32(t.reservedWord2);
    for (double d : t.reservedReals) w.Double(d);
    w.List(t.reservedList1);
    w.List(t.reservedList2);
    w.U32(static_cast<std::uint32_t>(t.jaggedTable.size()));
    for (const std::vector<double>& row : t.jaggedTable) w.List(row);
    Finish(out, file);
}

void writeTxDatabase(const TxDatabase& database, const std::filesystem::path& outDir) {
    writeVodTableFile(outDir / v10kx_ami_tx::kVodTableFile, database.vodTable);
    writeVodCoefTableFile(outDir / v10kx_ami_tx::kVodCoefTableFile, database.vodCoefTable);
    writeFirMapFile(outDir / v10kx_ami_tx::kFirMapFile, database.firMap);
}

void writeTxDatabase(const std::filesystem::path& description,
                     const std::filesystem::path& outDir) {
    writeTxDatabase(buildTxDatabase(loadTxDescription(description)), outDir);
}

}  // namespace mkdb
