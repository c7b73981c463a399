// Bounded little-endian reads of the database containers.
#include "rx/container_reader.hpp"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

std::uint32_t decodeU32(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

double decodeF64(const unsigned char* b) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | b[i];
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

ContainerReader::ContainerReader(const std::string& fileName) {
    // A directory opens as a stream on some systems; only a regular file is a container.
    std::error_code ec;
    const auto status = std::filesystem::status(fileName, ec);
    if (!std::filesystem::exists(status)) return;
    if (!std::filesystem::is_regular_file(status)) {
        Fail("it is not a regular file");
        return;
    }
    const std::uintmax_t size = std::filesystem::file_size(fileName, ec);
    if (ec) return;
    in.open(fileName, std::ios::binary);
    if (!in.is_open()) {
        Fail("the file exists but cannot be opened for reading");
        return;
    }
    opened = true;
    remaining = static_cast<std::uint64_t>(size);
}

void ContainerReader::Fail(const std::string& reason) {
    if (failure.empty()) failure = reason;
}

bool ContainerReader::Expect(std::uint64_t count, std::uint64_t minBytes, const char* what) {
    if (!Ok()) return false;
    // count <= 2^32 and minBytes are small, but divide rather than multiply to stay exact.
    if (minBytes != 0 && count > remaining / minBytes) {
        Fail(std::string(what) + " announces " + std::to_string(count) + " entries of at least " +
             std::to_string(minBytes) + " bytes, but only " + std::to_string(remaining) +
             " bytes remain");
        return false;
    }
    return true;
}

bool ContainerReader::readBytes(void* out, std::uint64_t size, const char* what) {
    if (!Ok()) return false;
    if (size > remaining) {
        Fail(std::string("the file ends inside ") + what + " (" + std::to_string(size) +
             " bytes needed, " + std::to_string(remaining) + " left)");
        return false;
    }
    in.read(static_cast<char*>(out), static_cast<std::streamsize>(size));
    if (!in) {
        Fail(std::string("reading ") + what + " failed");
        return false;
    }
    remaining -= size;
    return true;
}

bool ContainerReader::ReadU32(std::uint32_t& value, const char* what) {
    unsigned char bytes[4];
    if (!readBytes(bytes, 4, what)) return false;
    value = decodeU32(bytes);
    return true;
}

bool ContainerReader::ReadU8(std::uint8_t& value, const char* what) {
    unsigned char byte;
    if (!readBytes(&byte, 1, what)) return false;
    value = byte;
    return true;
}

bool ContainerReader::ReadDoubles(std::vector<double>& values, std::uint32_t count,
                                  const char* what) {
    if (!Expect(count, 8, what)) return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * 8);
    if (count != 0 && !readBytes(bytes.data(), bytes.size(), what)) return false;
    values.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) values[i] = decodeF64(&bytes[8 * std::size_t{i}]);
    return true;
}

bool ContainerReader::ReadDoubleVector(std::vector<double>& values, const char* what) {
    std::uint32_t count = 0;
    return ReadU32(count, what) && ReadDoubles(values, count, what);
}

bool ContainerReader::ReadString(std::string& value, const char* what) {
    std::uint32_t length = 0;
    if (!ReadU32(length, what) || !Expect(length, 1, what)) return false;
    value.assign(length, '\0');
    if (length != 0 && !readBytes(value.data(), length, what)) return false;
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return true;
}

bool ContainerReader::ReadRecord(ResponseRecord& record, const char* what) {
    std::uint32_t rows = 0, columns = 0;
    if (!ReadU32(rows, what) || !ReadU32(columns, what)) return false;
    if (rows != 0 && columns == 0) {
        // Nothing in the file would back the rows; a writer never produces this.
        Fail(std::string(what) + " has " + std::to_string(rows) + " rows of no columns");
        return false;
    }
    const std::uint64_t cells = std::uint64_t{rows} * columns;  // < 2^64, exact
    if (!Expect(cells, 8, what)) return false;
    record.rows = rows;
    record.columns = columns;
    record.data.assign(rows, {});
    for (auto& row : record.data) {
        if (!ReadDoubles(row, columns, what)) return false;
    }
    return true;
}
