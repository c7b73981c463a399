#pragma once
// Little-endian reader of the binary database containers that knows how many bytes the file
// still holds: every count is checked against that before anything is allocated or read, so a
// short or corrupt file ends in a clear reason instead of a huge allocation or a bad read.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "rx/response_database.hpp"

class ContainerReader {
  public:
    // Opens `fileName` for binary reading; IsOpen() tells whether that worked. Something that
    // exists but is not a readable regular file also sets Reason(); an absent file does not.
    explicit ContainerReader(const std::string& fileName);

    bool IsOpen() const { return opened; }
    // False after the first failed read; Reason() then says what was wrong.
    bool Ok() const { return failure.empty(); }
    const std::string& Reason() const { return failure; }
    std::uint64_t Remaining() const { return remaining; }

    // Each returns false (and records the reason) when the file does not hold what is asked;
    // `what` names the field in that reason.
    bool ReadU32(std::uint32_t& value, const char* what);
    bool ReadU8(std::uint8_t& value, const char* what);
    bool ReadDoubles(std::vector<double>& values, std::uint32_t count, const char* what);
    // A u32 count followed by that many doubles.
    bool ReadDoubleVector(std::vector<double>& values, const char* what);
    // A u32 length followed by that many bytes; trailing NUL bytes are dropped.
    bool ReadString(std::string& value, const char* what);
    // u32 rows, u32 columns, then rows x columns doubles row by row.
    bool ReadRecord(ResponseRecord& record, const char* what);
    // Checks that `count` items of at least `minBytes` each can still follow.
    bool Expect(std::uint64_t count, std::uint64_t minBytes, const char* what);
    // Records a failure found by the caller.
    void Fail(const std::string& reason);

  private:
    bool readBytes(void* out, std::uint64_t size, const char* what);

    std::ifstream in;
    bool opened = false;
    std::uint64_t remaining = 0;
    std::string failure;
};
