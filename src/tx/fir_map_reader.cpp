#include "tx/fir_map_reader.hpp"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace v10kx_ami_tx {

namespace {

// The map of the device is well under a megabyte; anything far larger is not a FIR map.
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

class Cursor {
  public:
    explicit Cursor(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}

    std::size_t Remaining() const { return bytes_.size() - pos_; }

    bool U32(std::uint32_t& out) {
        if (Remaining() < 4) return false;
        out = 0;
        for (int i = 3; i >= 0; --i) out = (out << 8) | bytes_[pos_ + i];
        pos_ += 4;
        return true;
    }

    bool Double(double& out) {
        if (Remaining() < 8) return false;
        std::uint64_t bits = 0;
        for (int i = 7; i >= 0; --i) bits = (bits << 8) | bytes_[pos_ + i];
        std::memcpy(&out, &bits, sizeof out);
        pos_ += 8;
        return true;
    }

    bool Doubles(std::uint64_t count, std::vector<double>& out) {
        if (count > Remaining() / 8) return false;
        out.resize(count);
        for (double& d : out) Double(d);
        return true;
    }

    bool List(std::vector<double>& out) {
        std::uint32_t n = 0;
        return U32(n) && Doubles(n, out);
    }

    bool Matrix(FirMatrix& out) {
        return U32(out.rows) && U32(out.cols) &&
               Doubles(static_cast<std::uint64_t>(out.rows) * out.cols, out.values);
    }

  private:
    const std::vector<unsigned char>& bytes_;
    std::size_t pos_ = 0;
};

bool ReadRecord(Cursor& in, FirMapRecord& r) {
    return in.Double(r.storedKey) && in.U32(r.numPre) && in.U32(r.numPost) &&
           in.U32(r.reservedWord) && in.List(r.maxSetting) && in.List(r.reservedList) &&
           in.Matrix(r.coefA) && in.Matrix(r.coefB) && in.Double(r.reservedReal1) &&
           in.Double(r.reservedReal2) && in.List(r.reservedLists[0]) &&
           in.List(r.reservedLists[1]) && in.List(r.reservedLists[2]);
}

bool ReadTrailer(Cursor& in, FirMapTrailer& t) {
    if (!(in.U32(t.reservedWord1) && in.U32(t.reservedWord2))) return false;
    for (double& d : t.reservedReals)
        if (!in.Double(d)) return false;
    std::uint32_t rows = 0;
    if (!(in.List(t.reservedList1) && in.List(t.reservedList2) && in.U32(rows))) return false;
    if (rows > in.Remaining() / 4) return false;  // every row needs at least its count
    t.jaggedTable.resize(rows);
    for (std::vector<double>& row : t.jaggedTable)
        if (!in.List(row)) return false;
    return true;
}

}  // namespace

FirMapFile ReadFirMap(const std::string& path) {
    FirMapFile result;
    std::ifstream file(path, std::ios::binary);
    if (!file) return result;
    result.opened = true;

    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (size < 0 || static_cast<std::uintmax_t>(size) > kMaxFileSize) {
        result.error = "the file size is not that of a FIR map";
        return result;
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !file.read(reinterpret_cast<char*>(bytes.data()), size)) {
        result.error = "the file could not be read";
        return result;
    }

    Cursor in(bytes);
    FirMap map;
    std::uint32_t count = 0;
    if (!in.U32(count) || !in.Doubles(count, map.keys)) {
        result.error = "the file ends before its record keys";
        return result;
    }
    // Each record takes at least 72 bytes, even with every list and matrix empty.
    if (count > in.Remaining() / 72) {
        result.error = "the file is too short for its " + std::to_string(count) + " records";
        return result;
    }
    map.records.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!ReadRecord(in, map.records[i])) {
            result.error = "the file ends inside record " + std::to_string(i);
            return result;
        }
        map.records[i].key = map.keys[i];
    }
    if (!ReadTrailer(in, map.trailer)) {
        result.error = "the file ends inside its trailer";
        return result;
    }
    result.map = std::move(map);
    return result;
}

std::string CheckFirMap(const FirMap& map) {
    if (map.records.empty()) return "it holds no records";
    if (map.records.size() > kMaxFirMapRecords)
        return "it holds " + std::to_string(map.records.size()) + " records, more than " +
               std::to_string(kMaxFirMapRecords);
    for (std::size_t i = 0; i < map.records.size(); ++i) {
        const FirMapRecord& r = map.records[i];
        const std::string where = "record " + std::to_string(i);
        if (r.numPre != kPreTaps || r.numPost != kPostTaps)
            return where + " has " + std::to_string(r.numPre) + " pre-cursor and " +
                   std::to_string(r.numPost) + " post-cursor taps instead of 2 and 2";
        if (r.maxSetting.size() < kTapPositions) return where + " has fewer than 5 tap limits";
        for (std::uint32_t j = 0; j < kTapPositions; ++j) {
            const double limit = r.maxSetting[j];
            if (j != kMainPosition && !(limit >= 0.0 && limit < 2147483648.0))
                return where + " has an unusable limit for tap position " + std::to_string(j);
        }
        if (r.coefA.rows < kTapPositions || r.coefB.rows < kTapPositions)
            return where + " has fewer than 5 coefficient rows";
    }
    return {};
}

}  // namespace v10kx_ami_tx
