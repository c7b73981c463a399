#include "mkdb/tx_device_description.hpp"

#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "mkdb/json_file.hpp"

namespace mkdb {

namespace {

using nlohmann::json;

const json& Need(const json& object, const char* key, const std::string& where) {
    if (!object.is_object() || !object.contains(key))
        throw std::runtime_error(where + ": missing \"" + key + "\"");
    return object.at(key);
}

template <typename T>
T Get(const json& object, const char* key, const std::string& where) {
    try {
        return Need(object, key, where).get<T>();
    } catch (const json::exception& e) {
        throw std::runtime_error(where + ": \"" + key + "\" has the wrong type: " + e.what());
    }
}

}  // namespace

TxDescription loadTxDescription(const std::filesystem::path& file) {
    const json root = readJsonFile(file, "transmitter description");
    const std::string name = file.string();
    TxDescription d;
    d.device = Get<std::string>(root, "device", name);

    const json& vod = Need(root, "vod", name);
    const std::string vodWhere = name + ": vod";
    d.firstSetting = Get<int>(vod, "first_setting", vodWhere);
    d.lastSetting = Get<int>(vod, "last_setting", vodWhere);
    d.linearNumerator = Get<double>(vod, "linear_numerator", vodWhere);
    d.linearDenominator = Get<double>(vod, "linear_denominator", vodWhere);
    d.polynomial = Get<std::vector<double>>(vod, "polynomial", vodWhere);
    d.scale = Get<double>(vod, "scale", vodWhere);
    d.cornerFactors = Get<std::map<std::string, double>>(vod, "corner_factors", vodWhere);
    d.supplyFactors = Get<std::map<std::string, double>>(vod, "supply_factors", vodWhere);
    if (d.polynomial.empty()) throw std::runtime_error(vodWhere + ": empty \"polynomial\"");
    if (d.linearDenominator == 0)
        throw std::runtime_error(vodWhere + ": \"linear_denominator\" must not be zero");
    if (d.firstSetting > d.lastSetting)
        throw std::runtime_error(vodWhere + ": \"first_setting\" is above \"last_setting\"");

    const json& fir = Need(root, "fir_map", name);
    const std::string firWhere = name + ": fir_map";
    d.records = Get<unsigned>(fir, "records", firWhere);
    d.keyCorner = Get<std::string>(fir, "key_corner", firWhere);
    d.keySupply = Get<std::string>(fir, "key_supply", firWhere);
    d.coefficientColumns = Get<unsigned>(fir, "coefficient_columns", firWhere);
    d.dacShare = Get<double>(fir, "dac_share", firWhere);
    d.limitFloor = Get<double>(fir, "limit_floor", firWhere);
    d.limitLowVod = Get<int>(fir, "limit_low_vod", firWhere);
    d.limitFullVod = Get<int>(fir, "limit_full_vod", firWhere);
    if (d.records == 0 || d.records > 32)
        throw std::runtime_error(firWhere + ": \"records\" must be 1 to 32");
    if (d.limitFullVod <= d.limitLowVod)
        throw std::runtime_error(firWhere + ": \"limit_full_vod\" must be above \"limit_low_vod\"");
    if (!d.cornerFactors.count(d.keyCorner) || !d.supplyFactors.count(d.keySupply))
        throw std::runtime_error(firWhere + ": the key corner or supply has no factor");

    for (const json& tap : Need(fir, "taps", firWhere)) {
        TxTapDescription t;
        const std::string tapWhere = firWhere + ": taps";
        t.name = Get<std::string>(tap, "name", tapWhere);
        t.position = Get<unsigned>(tap, "position", tapWhere + " " + t.name);
        t.maxSetting = Get<unsigned>(tap, "max_setting", tapWhere + " " + t.name);
        t.fullScaleWeight = Get<double>(tap, "full_scale_weight", tapWhere + " " + t.name);
        if (t.position > 4 || t.position == 2)
            throw std::runtime_error(tapWhere + " " + t.name + ": position must be 0, 1, 3 or 4");
        if (t.maxSetting == 0 || t.maxSetting >= d.coefficientColumns)
            throw std::runtime_error(tapWhere + " " + t.name +
                                     ": max_setting must be 1 to coefficient_columns - 1");
        d.taps.push_back(t);
    }
    if (d.taps.size() != 4) throw std::runtime_error(firWhere + ": exactly four taps are needed");
    // Four taps on the four positions 0, 1, 3 and 4: a repeated one would leave another empty.
    for (std::size_t i = 0; i < d.taps.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (d.taps[i].position == d.taps[j].position)
                throw std::runtime_error(firWhere + ": taps " + d.taps[j].name + " and " +
                                         d.taps[i].name + " share position " +
                                         std::to_string(d.taps[i].position));
    return d;
}

}  // namespace mkdb
