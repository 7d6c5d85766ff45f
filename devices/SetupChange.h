#pragma once

#include "devices/ManagementDatagrams.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The settings as a module reported them, kept to tell whether the user changed any.
struct ReportedSettings {
    std::array<std::uint8_t, identificationLength> identification{}; // as received, zeros kept
    Octets ipAddress{};
    Octets subnetMask{};
    std::uint16_t dhcpFlags = 0;
    std::uint16_t usbPid = 0;
    std::uint16_t receptionPort = 0;

    static ReportedSettings From(const ManagementReply& reply);
};

// What the user entered, as the setup dialog reads its controls.
struct EnteredSettings {
    Octets ipAddress{};
    Octets subnetMask{};
    bool dhcpEnabled = false;
    std::optional<std::uint16_t> usbPid;       // none when no entry is selected
    std::optional<std::int32_t> receptionPort; // none when the text holds no number
    std::string identification;                // up to 13 characters
};

// The dialog as it opens on a report, nothing touched: the identification up to its first zero
// byte, DHCP checked when the reported flags have 0x01 or 0x10, the reported PID and port.
EnteredSettings AsReported(const ReportedSettings& reported);

// The settings of a reply that differ from those written, by name ("address", "mask", "DHCP",
// "port", "USB PID", "identification"): what a read-back shows.
std::vector<std::string> DifferencesFromWritten(const ModuleConfig& written,
                                                const ManagementReply& readBack);

// The port edit as Apply reads it: its first five characters as a decimal number.
std::optional<std::int32_t> ReadPortText(std::string_view text);

// The record Apply writes: what was entered, the identification padded with blanks to 13
// characters, only the port's low 16 bits, and the module's own PID or port where none was
// entered.
ModuleConfig ConfigToWrite(const ReportedSettings& reported, const EnteredSettings& entered);

// Whether Apply writes at all: any field differs from the report. DHCP compares as the whole
// 16-bit value a write would carry (17 or 0), so a module reporting 1 or 16 always differs; the
// identification compares all 13 bytes, so blanks and zero bytes differ.
bool SettingsChanged(const ReportedSettings& reported, const ModuleConfig& toWrite);

} // namespace ostrel
