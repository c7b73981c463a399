// Transmitter base: a string that does not parse fails construction with the parse text.
#include "framework/ami_tx.hpp"

#include <gtest/gtest.h>

#include "framework/ami_exceptions.hpp"

namespace {

TEST(AmiTx, ParseFailureLeavesTheConstructor) {
    try {
        AmiTx tx("(Tx (Vod 31))x");
        FAIL() << "constructed";
    } catch (const AmiException& e) {
        EXPECT_EQ(e.GetText(), "Parse failed at: x\nin: (Tx (Vod 31))x");
    }
    try {
        AmiTx tx(nullptr);
        FAIL() << "constructed";
    } catch (const EFailedParse& e) {
        EXPECT_EQ(e.GetText(), "Parse failed at: \nin: ");
    }
}

TEST(AmiTx, StartsWithEmptyTexts) {
    AmiTx tx("(Tx (Vod 31))");
    EXPECT_EQ(tx.MsgLog(), "");
    EXPECT_EQ(tx.ParamsOut(), "");
}

}  // namespace
