// The transmitter's .ami file and the kit's .ibs file agree with the model they describe.
#include <boost/variant/get.hpp>

#include "framework/ami_tree.hpp"
#include "tx_test_support.hpp"

namespace {

const ts_ami::AmiTree* Child(const ts_ami::AmiTree& t, const std::string& name) {
    for (const ts_ami::AmiNode& n : t.children)
        if (const auto* c = boost::get<ts_ami::AmiTree>(&n))
            if (c->name == name) return c;
    return nullptr;
}

std::string FirstText(const ts_ami::AmiTree* t) {
    if (!t) return {};
    for (const ts_ami::AmiNode& n : t->children)
        if (const auto* s = boost::get<std::string>(&n)) return *s;
    return {};
}

TEST(KitFiles, AmiDefaultsBuildAModelWithoutRepairs) {
    const AmiParamTree ami(txtest::ReadBytes(TX_AMI_FILE));
    EXPECT_EQ(ami.rootName, "Vanta10_Tx");
    const ts_ami::AmiTree* specific = Child(ami.root, "Model_Specific");
    ASSERT_NE(specific, nullptr);

    txtest::TempDir dir;
    txtest::WriteDefaultDatabase(dir.path());
    std::string params = "(Vanta10_Tx (Database_Path \"" + dir.str() + "\")";
    for (const char* name : {"Vod", "Vcc", "corner", "ptap2", "ptap1", "tap1", "tap2", "inv_ptap2",
                             "inv_ptap1", "inv_tap1", "inv_tap2", "rterm", "slew"}) {
        const ts_ami::AmiTree* p = Child(*specific, name);
        ASSERT_NE(p, nullptr) << name;
        EXPECT_EQ(FirstText(Child(*p, "Usage")), "In") << name;
        EXPECT_EQ(FirstText(Child(*p, "Type")), "Integer") << name;
        const std::string def = FirstText(Child(*p, "Default"));
        ASSERT_FALSE(def.empty()) << name;
        EXPECT_TRUE(Child(*p, "Range") || Child(*p, "List")) << name;
        params += " (" + std::string(name) + " " + def + ")";
    }
    params += ")";

    std::vector<double> impulse(12 * 32, 0.0);
    impulse[0] = 1.0;
    txtest::TxInstance m(params, impulse, 12 * 32);
    ASSERT_EQ(m.rc(), 1) << m.msg();
    EXPECT_EQ(m.msg().find("**Warning**"), std::string::npos) << m.msg();
    EXPECT_NE(m.paramsOut().find("(Params_Valid True)"), std::string::npos);
    EXPECT_NEAR(m.impulse()[64], txtest::TypicalSwing(31), 1e-12);
}

TEST(KitFiles, IbsNamesBothAlgorithmicModels) {
    const std::string ibs = txtest::ReadBytes(TX_IBS_FILE);
    EXPECT_NE(ibs.find("Executable Linux_gcc_64 v10kx_ami_tx_x64.so v10kx_ami_tx.ami"),
              std::string::npos);
    EXPECT_NE(ibs.find("Executable Linux_gcc_64 v10kx_ami_rx_x64.so v10kx_ami_rx.ami"),
              std::string::npos);
}

}  // namespace
