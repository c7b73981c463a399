#pragma once
// The receiver's CTLE and VGA characterisation database: the records of the binary container,
// the file-name rules (process corner, supply version), the process-wide cache of loaded files
// and the selection of one response record and one amplitude curve for a request.
//
// Usage by the receiver constructor:
//   ResponseDatabaseFiles files{dataDir + kHighGainCtleFile, ..., corner, supply, supply};
//   ResponseSelection ctle;  LookupResponse(ctle, ctleRequest, files);
//   ResponseSelection vga;   LookupResponse(vga, vgaRequest, files);
//   ReleaseResponseCache();
#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/adaptation/ctle_keys.hpp"  // request paths (ResponseRequest::path)
#include "rx/response_fit.hpp"

// Base names of the four characterisation files (the caller prefixes the database directory).
inline constexpr const char* kHighGainCtleFile = "V10KX_CTLE.kvreledata";
inline constexpr const char* kHighDataRateCtleFile = "V10KX_CTLE2.kvreledata";
inline constexpr const char* kQpiCtleFile = "V10KX_CTLE3.kvreledata";
inline constexpr const char* kVgaResponseFile = "V10KX_VGA_Response.kvreledata";

// Path labels handed to LoadCtleDatabase; they decide whether the curve table follows and
// which bandwidth keys the curve rows stand for.
inline constexpr const char* kHighGainPathLabel = "Vanta 10 High Gain";
inline constexpr const char* kHighDataRatePathLabel = "Vanta 10 Low Gain";
inline constexpr const char* kQpiPathLabel = "Vanta 10 QPI";
inline constexpr const char* kVgaPathLabel = "Vanta 10 VGA";

// Device-family label the receiver and its adaptation pass in every request.
inline constexpr const char* kReceiverFamily = "Vanta 10 KT";

// One stored table: `rows` vectors of `columns` doubles. A frequency response holds the
// frequencies (Hz) in row 0, then per stage one row of magnitudes (dB) and one of phases
// (degrees). An amplitude curve holds input amplitudes in row 0 and output amplitudes in row 1
// (QPI curves carry a second pair in rows 2 and 3).
struct ResponseRecord {
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
    std::vector<std::vector<double>> data;

    bool empty() const { return data.empty(); }
};

// One loaded characterisation file.
struct CtleDatabase {
    std::vector<double> stageValues;  // bandwidth key per curve row; not stored in the file
    std::vector<std::vector<ResponseRecord>> curves;  // curveRows x curveCols
    std::vector<double> axisA;                        // AC gain keys
    std::vector<double> axisB;                        // DC gain keys
    std::vector<double> axisC;                        // bandwidth keys
    std::vector<std::string> variants;                // fourth key
    // responses[a][b][c][d], dimensions dimA x dimB x dimC x dimD.
    std::vector<std::vector<std::vector<std::vector<ResponseRecord>>>> responses;
    std::string formatName;

    bool empty() const { return responses.empty(); }
};

struct ResponseRequest {
    double acGain = 0;     // key A
    double dcGain = 0;     // key B
    double bandwidth = 0;  // key C
    std::string variant;   // key D
    std::string family = kReceiverFamily;
    std::string path;    // "VGA", "Low-Gain", "QPI", anything else: high gain
    double bitRate = 0;  // bit/s
};

// The key grids of a database, returned instead of a record when only information is asked.
struct ResponseInfo {
    std::vector<double> axisA;
    std::vector<double> axisB;
    std::vector<double> axisC;
    std::vector<std::string> variants;
    int pointCount = 0;  // number of cascaded stages in a response record
};

// Outputs of one lookup. Fields stay as they were when no record matches the request.
struct ResponseSelection {
    ResponseRecord response;
    ResponseRecord curve;
    std::vector<double> gainsA;  // two values
    std::vector<double> gainsB;  // two values: linear DC gain of the first and second stage
    std::vector<double> fitA;    // amplitude-curve polynomial, ascending powers
    std::vector<double> fitB;
    ResponseInfo info;
};

// Amplitude-curve fits remembered between selections, keyed by the curve cell (row, column).
struct AmplitudeFitCache {
    std::vector<double> fitA;
    std::vector<double> fitB;
    int fitRow = -1;
    int fitCol = -1;

    void clear() {
        fitA.clear();
        fitB.clear();
        fitRow = -1;
        fitCol = -1;
    }
};

// File names and labels the receiver constructor hands to the lookups.
struct ResponseDatabaseFiles {
    std::string highGain;  // full names: database directory + base name
    std::string highDataRate;
    std::string qpi;
    std::string vga;
    std::string corner = "Typical";         // "Typical", "Fast", "Slow"
    std::string supplyLabel = "0.9 V";      // part of the cache key
    std::string supplySetting = "Default";  // chooses the version suffix
};

// The process-wide response cache: loaded files, their key, the amplitude-fit cache and the
// file names and labels set by the receiver constructor. Every access holds `mutex`.
struct ResponseCache {
    enum Slot { HighGain = 0, HighDataRate = 1, Qpi = 2, Vga = 3 };

    std::mutex mutex;
    std::array<CtleDatabase, 4> slots;
    std::array<bool, 4> slotLoaded{};
    bool allLoaded = false;
    std::string keyFamily;
    std::string keyPath;
    std::string keyCorner = "Typical";
    std::string keySupply = "0.9 V";
    // What the loaded slots were read from: the four names as configured (database directory
    // included) and the supply version suffix. Another receiver's database is another key.
    std::array<std::string, 4> keyFiles;
    std::string keyVersion;
    AmplitudeFitCache fits;
    ResponseDatabaseFiles files;
    std::string resolvedSupplyLabel = "0.9 V";  // last label derived by MakeVersionedFileName
};

ResponseCache& TheResponseCache();

// Stores the file names, corner and supply labels for the following lookups.
void SetResponseDatabaseFiles(const ResponseDatabaseFiles& files);
// Supply label derived by the last MakeVersionedFileName ("0.9 V", "1.0 V" or "1.1 V").
std::string ResolvedSupplyLabel();

// fileName with the supply version suffix ("_V1p0", "_V1p1" or none) and the corner suffix
// ("_F", "_S" or none) before the extension, when that file exists; otherwise a line on the
// standard output and fileName unchanged. `family` is accepted for the call shape; the rules
// are those of the receiver family.
std::string MakeVersionedFileName(const std::string& fileName, const std::string& family,
                                  double bitRate, const std::string& corner,
                                  const std::string& supplySetting);
// As above without the version suffix (the QPI file).
std::string MakeCornerFileName(const std::string& fileName, const std::string& family,
                               const std::string& corner, const std::string& supplySetting);

// Reads one container into `database` (replacing its contents). A missing, short or corrupt
// file leaves `database` empty, prints one line naming the file and the reason on the standard
// output and returns false.
bool LoadCtleDatabase(CtleDatabase& database, const std::string& fileName,
                      const std::string& pathLabel);

// Selects the response and curve records of `request` from one database and computes the
// gains and amplitude-curve fits (reusing `fitCache` for the same curve cell). With `infoOnly`
// only `out.info` is filled. Returns false, with `out` untouched, when a key is not found.
bool SelectResponse(const CtleDatabase& database, const ResponseRequest& request, bool infoOnly,
                    AmplitudeFitCache& fitCache, ResponseSelection& out);

// Cached lookup: loads the four files on first use or when the family, corner or supply
// label changed, then selects from the database chosen by request.path. With `release` the
// cache is freed and nothing else happens. Returns true when `out` was written.
bool LookupResponse(ResponseSelection& out, ResponseRequest request, bool infoOnly = false,
                    bool release = false);
// Stores `files` and looks up in one step, so that instances built on several threads at once
// each read the files of their own corner and supply.
bool LookupResponse(ResponseSelection& out, const ResponseRequest& request,
                    const ResponseDatabaseFiles& files, bool infoOnly = false);
// LookupResponse with `release`.
void ReleaseResponseCache();
