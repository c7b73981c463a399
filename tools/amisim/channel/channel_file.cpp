#include "amisim/channel/channel_file.hpp"

namespace amisim {

std::string throughPortsText(const std::array<int, 4>& p) {
    return std::to_string(p[0]) + "-" + std::to_string(p[1]) + "/" + std::to_string(p[2]) + "-" +
           std::to_string(p[3]);
}

FourPortData readChannelFile(const std::string& path,
                             const std::optional<std::array<int, 4>>& throughPorts,
                             std::vector<std::string>& warnings) {
    const NPortData d = readTouchstone(path);
    if (!throughPorts) {
        if (d.ports != 4)
            throw TouchstoneError(
                path + " has " + std::to_string(d.ports) + " ports: " +
                (d.ports < 4 ? std::string("a differential channel needs four")
                             : "name its through pair with --ports a-b/c-d (input pair a-b, "
                               "output pair c-d, lines a->c and b->d)"));
        return throughFourPort(d, {1, 2, 3, 4}, path);
    }
    FourPortData four = throughFourPort(d, *throughPorts, path);
    if (d.ports > 4) {
        std::string rest;
        for (int q = 1; q <= d.ports; ++q) {
            bool used = false;
            for (int t : *throughPorts) used = used || t == q;
            if (!used) rest += (rest.empty() ? "" : ", ") + std::to_string(q);
        }
        // crosstalk needs aggressor columns in the models' impulse matrix: not yet simulated
        warnings.push_back("ports " + rest + " of " + path +
                           " are left terminated: amisim simulates the through pair " +
                           throughPortsText(*throughPorts) +
                           " only, without the crosstalk of aggressors");
    }
    return four;
}

}  // namespace amisim
