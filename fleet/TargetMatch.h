#pragma once

#include "devices/ManagementDatagrams.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// A choice of discovered modules by one of their fields: FIELD=TEXT with a field of name,
// identification, version or mac.
struct TargetMatch {
    enum class Field { Name, Identification, Version, MacPrefix };
    Field field;
    std::string text;
};

// Nothing, with the reason, for anything but FIELD=TEXT with a known field.
std::optional<TargetMatch> ParseTargetMatch(std::string_view text, std::string& error);
// Whether a module's reply meets a match: name, identification and version as shell patterns
// (trailing blanks of the identification ignored), the MAC by its first bytes.
bool Matches(const TargetMatch& match, const ManagementReply& reply);

} // namespace ostrel
