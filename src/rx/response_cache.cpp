// The process-wide cache of loaded characterisation files and the cached lookup.
#include "rx/response_cache_internal.hpp"
#include "rx/response_database.hpp"

namespace {

void freeAll(ResponseCache& cache) {
    for (auto& slot : cache.slots) slot = CtleDatabase{};
    cache.slotLoaded.fill(false);
    cache.allLoaded = false;
    cache.fits.clear();
}

std::array<std::string, 4> configuredNames(const ResponseDatabaseFiles& f) {
    std::array<std::string, 4> names;
    names[ResponseCache::HighGain] = f.highGain;
    names[ResponseCache::HighDataRate] = f.highDataRate;
    names[ResponseCache::Qpi] = f.qpi;
    names[ResponseCache::Vga] = f.vga;
    return names;
}

// The version suffix the supply setting and bit rate give, without looking at any file.
std::string versionSuffix(const ResponseDatabaseFiles& f, double bitRate) {
    std::string suffix;
    std::string label;
    response_detail::SupplyVersion(f.supplySetting, bitRate, suffix, label);
    return suffix;
}

// The loaded slots serve `request` only when they were read from the files it would read.
bool sameSource(const ResponseCache& cache, const ResponseRequest& request) {
    return request.family == cache.keyFamily && cache.files.corner == cache.keyCorner &&
           cache.files.supplyLabel == cache.keySupply &&
           configuredNames(cache.files) == cache.keyFiles &&
           versionSuffix(cache.files, request.bitRate) == cache.keyVersion;
}

void loadAll(ResponseCache& cache, const ResponseRequest& request) {
    const ResponseDatabaseFiles& f = cache.files;
    std::string label;
    const std::string highGain = response_detail::VersionedName(f.highGain, request.bitRate,
                                                                f.corner, f.supplySetting, label);
    const std::string highDataRate = response_detail::VersionedName(
        f.highDataRate, request.bitRate, f.corner, f.supplySetting, label);
    const std::string qpi = response_detail::CornerName(f.qpi, f.corner);
    const std::string vga =
        response_detail::VersionedName(f.vga, request.bitRate, f.corner, f.supplySetting, label);
    cache.resolvedSupplyLabel = label;

    using S = ResponseCache::Slot;
    cache.slotLoaded[S::HighGain] =
        LoadCtleDatabase(cache.slots[S::HighGain], highGain, kHighGainPathLabel);
    cache.slotLoaded[S::HighDataRate] =
        LoadCtleDatabase(cache.slots[S::HighDataRate], highDataRate, kHighDataRatePathLabel);
    cache.slotLoaded[S::Qpi] = LoadCtleDatabase(cache.slots[S::Qpi], qpi, kQpiPathLabel);
    cache.slotLoaded[S::Vga] = LoadCtleDatabase(cache.slots[S::Vga], vga, kVgaPathLabel);
    // Marked loaded even when a file is absent: it is reported once, not on every lookup.
    cache.allLoaded = true;
    cache.keyFamily = request.family;
    cache.keyPath = request.path;
    cache.keyCorner = f.corner;
    cache.keySupply = f.supplyLabel;
    cache.keyFiles = configuredNames(f);
    cache.keyVersion = versionSuffix(f, request.bitRate);
    cache.fits.clear();
}

ResponseCache::Slot slotFor(const std::string& path) {
    if (path == kVgaPath) return ResponseCache::Vga;
    if (path == kLowGainPath) return ResponseCache::HighDataRate;
    if (path == kQpiPath) return ResponseCache::Qpi;
    return ResponseCache::HighGain;
}

}  // namespace

ResponseCache& TheResponseCache() {
    static ResponseCache cache;
    return cache;
}

void SetResponseDatabaseFiles(const ResponseDatabaseFiles& files) {
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.files = files;
}

std::string ResolvedSupplyLabel() {
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    return cache.resolvedSupplyLabel;
}

namespace {

bool lookupLocked(ResponseCache& cache, ResponseSelection& out, const ResponseRequest& request,
                  bool infoOnly) {
    if (!cache.allLoaded) {
        loadAll(cache, request);
    } else if (!sameSource(cache, request)) {
        freeAll(cache);
        loadAll(cache, request);
    } else if (request.path != cache.keyPath) {
        cache.fits.clear();
        cache.keyPath = request.path;
    }
    return SelectResponse(cache.slots[slotFor(request.path)], request, infoOnly, cache.fits, out);
}

}  // namespace

bool LookupResponse(ResponseSelection& out, ResponseRequest request, bool infoOnly, bool release) {
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);

    if (release) {
        if (cache.allLoaded) {
            freeAll(cache);
            cache.keyFamily.clear();
            cache.keyPath.clear();
            cache.keyCorner = "Typical";
            cache.keySupply = "0.9 V";
            cache.keyFiles = {};
            cache.keyVersion.clear();
        }
        return false;
    }
    return lookupLocked(cache, out, request, infoOnly);
}

bool LookupResponse(ResponseSelection& out, const ResponseRequest& request,
                    const ResponseDatabaseFiles& files, bool infoOnly) {
    ResponseCache& cache = TheResponseCache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.files = files;
    return lookupLocked(cache, out, request, infoOnly);
}

void ReleaseResponseCache() {
    ResponseSelection unused;
    LookupResponse(unused, ResponseRequest{}, false, true);
}
