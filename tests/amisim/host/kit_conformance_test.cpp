// The kit as an independent IBIS-AMI tool reads it: every .ami file parsed by amisim's reader
// and held to the IBIS 7 rules on Usage, Type, Format, Default and Description; every .ibs
// Executable line in the platform_compiler_bits form, naming files that are in the kit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <sstream>

#include "amisim/host/ami_file.hpp"
#include "amisim/host/kit_files.hpp"
#include "support/ami_exports.hpp"

namespace {

namespace fs = std::filesystem;

bool IsInteger(const std::string& text) {
    return std::regex_match(text, std::regex(R"([+-]?[0-9]+)"));
}

bool IsNumber(const std::string& text) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size();
}

double Number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

struct Violations {
    std::vector<std::string> lines;
    void add(const std::string& where, const std::string& what) {
        lines.push_back(where + ": " + what);
    }
};

// Whether `value` (written quoted or not) is a value of the parameter type.
bool FitsType(const std::string& type, const std::string& value, bool quoted) {
    if (type == "Integer") return !quoted && IsInteger(value);
    if (type == "Float" || type == "UI" || type == "Tap") return !quoted && IsNumber(value);
    if (type == "Boolean") return !quoted && (value == "True" || value == "False");
    if (type == "String") return quoted;
    return false;
}

void CheckParameter(const amisim::AmiList& p, const std::string& where, Violations& out) {
    static const std::set<std::string> usages{"In", "Out", "InOut", "Info"};
    static const std::set<std::string> types{"Float", "Integer", "String", "Boolean", "UI", "Tap"};
    const amisim::AmiList* usageList = p.find("Usage");
    const amisim::AmiList* typeList = p.find("Type");
    const std::string usage =
        usageList && usageList->values.size() == 1 ? usageList->values[0] : "";
    const std::string type = typeList && typeList->values.size() == 1 ? typeList->values[0] : "";
    if (!usages.count(usage)) out.add(where, "Usage must be one of In, Out, InOut, Info");
    if (!types.count(type))
        out.add(where, "Type must be one of Float, Integer, String, Boolean, UI, Tap");

    const amisim::AmiList* description = p.find("Description");
    if (!description || description->values.empty() || description->values[0].empty())
        out.add(where, "no Description");

    const amisim::AmiList* value = p.find("Value");
    const amisim::AmiList* range = p.find("Range");
    const amisim::AmiList* list = p.find("List");
    const amisim::AmiList* def = p.find("Default");
    if ((value != nullptr) + (range != nullptr) + (list != nullptr) > 1)
        out.add(where, "more than one Format (Value, Range, List)");

    const bool input = usage == "In" || usage == "InOut";
    if (def && !input)
        out.add(where, "'Default' may not be used with Usage " + usage + "; use Value");
    if (!input && !value) out.add(where, "an " + usage + " parameter needs a Value");
    if (input && !def && !value && !range && !list) out.add(where, "no Default and no Format");

    auto checkValues = [&](const amisim::AmiList* l, const char* what) {
        if (!l) return;
        if (l->values.empty()) out.add(where, std::string(what) + " holds no value");
        for (std::size_t i = 0; i < l->values.size(); ++i) {
            if (!FitsType(type, l->values[i], l->quoted[i]))
                out.add(where,
                        std::string(what) + " value " + l->values[i] + " is not of Type " + type);
        }
    };
    checkValues(value, "Value");
    checkValues(def, "Default");
    checkValues(list, "List");
    checkValues(range, "Range");
    if (value && value->values.size() != 1) out.add(where, "Value must hold one value");
    if (def && def->values.size() != 1) out.add(where, "Default must hold one value");

    const bool numeric = type == "Integer" || type == "Float" || type == "UI" || type == "Tap";
    if (range) {
        if (range->values.size() != 3 || !numeric) {
            out.add(where, "Range needs typ, min and max of a numeric Type");
        } else {
            const double typ = Number(range->values[0]), lo = Number(range->values[1]),
                         hi = Number(range->values[2]);
            if (!(lo <= typ && typ <= hi)) out.add(where, "Range typ is outside min .. max");
            if (def && def->values.size() == 1 &&
                !(lo <= Number(def->values[0]) && Number(def->values[0]) <= hi))
                out.add(where, "Default " + def->values[0] + " is outside its Range");
        }
    }
    if (list && def && def->values.size() == 1) {
        bool found = false;
        for (const std::string& v : list->values) found = found || v == def->values[0];
        if (!found) out.add(where, "Default " + def->values[0] + " is not in its List");
    }
}

// Lists with a Usage are parameters; other lists below the two sections are groups of them.
void CheckGroup(const amisim::AmiList& group, const std::string& where, Violations& out) {
    for (const amisim::AmiList& child : group.lists) {
        const std::string path = where + "." + child.name;
        if (child.find("Usage")) {
            CheckParameter(child, path, out);
        } else if (child.name != "Description") {
            CheckGroup(child, path, out);
        }
    }
}

std::vector<std::string> CheckAmiText(const std::string& text, const std::string& origin) {
    Violations out;
    const amisim::AmiList root = amisim::parseAmiText(text, origin);
    if (!root.find("Description")) out.add(root.name, "no Description");
    if (!root.find("Reserved_Parameters")) out.add(root.name, "no Reserved_Parameters");
    if (!root.find("Model_Specific")) out.add(root.name, "no Model_Specific");
    for (const amisim::AmiList& section : root.lists) {
        if (section.name == "Reserved_Parameters" || section.name == "Model_Specific")
            CheckGroup(section, root.name + "." + section.name, out);
    }
    return out.lines;
}

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

struct ExecutableLine {
    std::string platform, library, ami;
};

std::vector<ExecutableLine> ExecutableLines(const fs::path& ibs) {
    std::vector<ExecutableLine> lines;
    std::istringstream in(ReadFile(ibs));
    std::string line;
    while (std::getline(in, line)) {
        if (const auto bar = line.find('|'); bar != std::string::npos) line.erase(bar);
        std::istringstream fields(line);
        std::string key;
        if (!(fields >> key) || key != "Executable") continue;
        ExecutableLine e;
        fields >> e.platform >> e.library >> e.ami;
        lines.push_back(e);
    }
    return lines;
}

TEST(KitConformance, RulesCatchWhatAnIndependentParserRejects) {
    auto check = [](const std::string& parameter) {
        return CheckAmiText(
            "(M (Description \"m\") (Reserved_Parameters) (Model_Specific " + parameter + "))",
            "test.ami");
    };
    EXPECT_TRUE(check("(a (Usage In) (Type Integer) (Range 1 0 3) (Default 2) (Description \"d\"))")
                    .empty());
    EXPECT_TRUE(check("(g (a (Usage Out) (Type Float) (Value 0) (Description \"d\")))").empty());
    for (const char* bad : {
             "(a (Usage Out) (Type Float) (Default 50) (Description \"d\"))",
             "(a (Usage Info) (Type String) (Default \"x\") (Description \"d\"))",
             "(a (Usage Out) (Type Boolean) (Description \"d\"))",
             "(a (Usage In) (Type Integer) (Range 1 0 3) (Default 4) (Description \"d\"))",
             "(a (Usage In) (Type Integer) (List 0 1) (Default 2) (Description \"d\"))",
             "(a (Usage In) (Type Integer) (List 0 1) (Default 0))",
             "(a (Usage In) (Type Integer) (List 0 x) (Default 0) (Description \"d\"))",
             "(a (Usage Input) (Type Integer) (List 0 1) (Default 0) (Description \"d\"))",
             "(g (a (Usage In) (Type Double) (Value 1) (Description \"d\")))",
         }) {
        EXPECT_FALSE(check(bad).empty()) << bad;
    }
}

TEST(KitConformance, EveryAmiFileFollowsTheRules) {
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(KIT_DIR)) {
        if (entry.path().extension() != ".ami") continue;
        ++files;
        for (const std::string& v : CheckAmiText(ReadFile(entry.path()), entry.path().string()))
            ADD_FAILURE() << entry.path().filename().string() << ": " << v;
    }
    EXPECT_EQ(files, 2u);
}

TEST(KitConformance, ExecutableLinesNameThisPlatformAndFilesOfTheKit) {
    const std::regex platformCompilerBits(R"([A-Za-z0-9]+_[A-Za-z0-9.]+_(32|64))");
    std::size_t executables = 0;
    for (const auto& entry : fs::directory_iterator(KIT_DIR)) {
        if (entry.path().extension() != ".ibs") continue;
        for (const ExecutableLine& e : ExecutableLines(entry.path())) {
            ++executables;
            EXPECT_TRUE(std::regex_match(e.platform, platformCompilerBits))
                << e.platform << " is not of the form platform_compiler_bits (32 or 64)";
            EXPECT_TRUE(fs::is_regular_file(fs::path(KIT_DIR) / e.library)) << e.library;
            EXPECT_TRUE(fs::is_regular_file(fs::path(KIT_DIR) / e.ami)) << e.ami;
        }
    }
    EXPECT_EQ(executables, 2u);
    // A simulator on this host finds both models through those lines.
    const amisim::KitFiles kit = amisim::locateKit(KIT_DIR, {});
    EXPECT_FALSE(kit.ibsFile.empty());
    EXPECT_EQ(fs::path(kit.txLibrary).filename(), "v10kx_ami_tx_x64.so");
    EXPECT_EQ(fs::path(kit.rxLibrary).filename(), "v10kx_ami_rx_x64.so");
}

// Every file a parameter names (a String value with a file extension) and every front-end file
// the transmitter's AMI_Resolve can name, for all its settings, is in the kit.
TEST(KitConformance, EveryFileTheParametersNameIsInTheKit) {
    std::set<std::string> named;
    const std::regex fileName(R"([A-Za-z0-9_.-]+\.(s[0-9]+p|ts|ibs|ami|so|dll|txt|csv))");
    for (const auto& entry : fs::directory_iterator(KIT_DIR)) {
        if (entry.path().extension() != ".ami") continue;
        const amisim::AmiModelFile f = amisim::loadModelFile(entry.path().string());
        for (const amisim::AmiParameter& p : f.parameters) {
            if (p.type != "String") continue;
            std::vector<std::string> values = p.allowed;
            if (p.defaultValue) values.push_back(*p.defaultValue);
            if (auto v = f.infoValue(p.dottedName())) values.push_back(*v);
            for (const std::string& v : values)
                if (std::regex_match(v, fileName)) named.insert(v);
        }
        const amisim::AmiList root = amisim::readAmiFile(entry.path().string());
        std::function<void(const amisim::AmiList&)> walk = [&](const amisim::AmiList& l) {
            if (l.name == "Value" || l.name == "Default")
                for (const std::string& v : l.values)
                    if (std::regex_match(v, fileName)) named.insert(v);
            for (const amisim::AmiList& c : l.lists) walk(c);
        };
        walk(root);
    }
    const testsupport::AmiExports tx =
        testsupport::LoadAmiExports(std::string(KIT_DIR) + "/v10kx_ami_tx_x64.so");
    ASSERT_TRUE(tx.complete()) << tx.error;
    for (const char* rterm : {"100", "85"})
        for (int corner = 0; corner <= 3; ++corner)
            for (int slew = -1; slew <= 6; ++slew) {
                const std::string in = std::string("(Vanta10_Tx (rterm ") + rterm + ") (corner " +
                                       std::to_string(corner) + ") (slew " + std::to_string(slew) +
                                       "))";
                char* out = nullptr;
                ASSERT_EQ(tx.resolve(nullptr, in.c_str(), &out), 1) << in;
                ASSERT_NE(out, nullptr);
                const amisim::AmiList r = amisim::parseAmiText(out, "resolved");
                tx.resolveClose(out);
                const amisim::AmiList* t = r.find("Tstonefile");
                ASSERT_TRUE(t && t->values.size() == 1) << in;
                named.insert(t->values[0]);
            }
    std::size_t frontEnds = 0;
    for (const std::string& n : named) {
        EXPECT_TRUE(fs::is_regular_file(fs::path(KIT_DIR) / n)) << n << " is named but missing";
        frontEnds += n.rfind("v10tx_afe_", 0) == 0;
    }
    EXPECT_EQ(frontEnds, 18u);
}

}  // namespace
