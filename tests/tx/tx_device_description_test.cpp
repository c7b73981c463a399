// The transmitter device description: mistakes in it are refused with the file and the item.
#include <stdexcept>

#include "tx_test_support.hpp"

namespace {

std::string LoadError(const std::string& from, const std::string& to) {
    std::string text = txtest::ReadBytes(mkdb::defaultTxDescription());
    const std::size_t at = text.find(from);
    if (at == std::string::npos) return "pattern not in the description: " + from;
    text.replace(at, from.size(), to);
    txtest::TempDir dir;
    const auto file = dir.path() / "tx.json";
    txtest::WriteText(file, text);
    try {
        mkdb::loadTxDescription(file);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "accepted";
}

TEST(TxDeviceDescription, MistakesAreNamed) {
    EXPECT_NE(LoadError("\"position\": 1,", "\"position\": 0,")
                  .find("fir_map: taps ptap2 and ptap1 share position 0"),
              std::string::npos);
    EXPECT_NE(LoadError("\"position\": 1,", "\"position\": 2,")
                  .find("ptap1: position must be 0, 1, 3 or 4"),
              std::string::npos);
    EXPECT_NE(LoadError("\"max_setting\": 31", "\"max_setting\": 32")
                  .find("tap1: max_setting must be 1 to coefficient_columns - 1"),
              std::string::npos);
    EXPECT_NE(LoadError("\"records\": 32", "\"records\": 33").find("\"records\" must be 1 to 32"),
              std::string::npos);
}

}  // namespace
