#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// Text that came from the network, kept as the bytes themselves, and read back as them.
using LedgerBytes = std::vector<std::uint8_t>;
inline LedgerBytes BytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}
inline std::string TextOf(const LedgerBytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Who recorded a row: the user, the host, and the program with its version.
struct RecordedBy {
    std::string user;
    std::string host;
    std::string program;
    std::string programVersion;

    // This process's user and host, for the program named.
    static RecordedBy ThisProcess(std::string program, std::string version);
};

// One update, verify or "unchanged" of one module. Texts that came from the network (names,
// versions) are kept as the bytes they came as.
struct UpdateRecord {
    std::string started;   // ISO 8601, UTC
    std::string ended;     // empty while it runs
    std::string operation; // "update" or "verify"
    std::string address;
    std::string mac; // empty when not known
    LedgerBytes nameBefore, versionBefore, nameAfter, versionAfter;
    std::string file; // the path as given, byte for byte
    std::string sha256;
    std::optional<std::uint32_t> start, length;
    std::optional<std::uint16_t> crc;
    std::string result; // "interrupted" until it ends
    std::optional<int> exitCode;
    unsigned tries = 0;
    std::optional<unsigned> resends;
    std::string leftIn;
    std::string error;
};

// One module that answered a discovery.
struct Sighting {
    std::string mac;
    std::string address;
    std::string mask;
    bool dhcp = false;
    LedgerBytes name, version, identification;
    std::string interfaceName;
};

struct SettingsWriteRecord {
    std::string at;
    std::string address;
    std::string mac;
    std::string before; // the settings as JSON text
    std::string after;
    std::string result; // "written", "read-back differs", "no answer", ...
};

struct IdentifyRecord {
    std::string at;
    std::string address;
    bool on = false;
};

// What history asks for; an empty or absent field asks nothing.
struct HistoryFilter {
    std::string mac;
    std::string address;
    std::string since; // ISO 8601 or a date, compared as text
    std::string result;
    std::optional<unsigned> limit;
};

struct HistoryRow {
    std::int64_t id = 0;
    UpdateRecord update;
    RecordedBy by;
};

// The last known state of one module, with what changed at the last scan.
struct InventoryRow {
    Sighting last;
    std::string firstSeen;
    std::string lastSeen;
    std::string lastUpdate; // when it was last updated, if ever
    std::string lastResult;
    // What the last scan saw change: new, not answering, address changed, version changed,
    // identification changed; empty when nothing did or no scan has run since it was seen.
    std::vector<std::string> changes;
};

} // namespace ostrel
