#pragma once
// Writers of the receiver's binary containers: the CTLE/VGA characterisation container and the
// DFE map. The byte layout mirrors what the receiver reads (little-endian, no header).
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "rx/response_database.hpp"

namespace mkdb {

// Little-endian byte sink.
class ByteWriter {
  public:
    void u32(std::uint32_t value);
    void u8(std::uint8_t value);
    void f64(double value);
    void doubles(const std::vector<double>& values);       // values only, no count
    void doubleVector(const std::vector<double>& values);  // u32 count, then the values
    void text(const std::string& value);                   // u32 length, then the bytes
    void record(const ResponseRecord& record);             // u32 rows, u32 columns, then the rows

    const std::vector<unsigned char>& bytes() const { return buffer; }

  private:
    std::vector<unsigned char> buffer;
};

// The container of one characterisation file. `responses` and `curves` must be rectangular and
// every record's data must match its rows and columns (std::runtime_error otherwise). The
// curve table follows the responses when `withCurves` is set.
std::vector<unsigned char> encodeCtleContainer(const CtleDatabase& db, bool withCurves = true);

// One DFE map: per tap the highest and lowest code and the feedback voltage per code magnitude
// on the positive and the negative side.
struct DfeMap {
    std::uint32_t secondCount = 0;
    std::vector<double> maxCodes;
    std::vector<double> minCodes;
    std::vector<std::vector<double>> positiveTable;  // tap x code
    std::vector<std::vector<double>> negativeTable;  // tap x code magnitude
};
std::vector<unsigned char> encodeDfeMap(const DfeMap& map);

// Writes `bytes` to `file`; std::runtime_error naming the file when that fails.
void writeBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes);

}  // namespace mkdb
