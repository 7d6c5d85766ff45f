#include "fleet/TargetMatch.h"

#include "common/TrimmedText.h"
#include "devices/MacText.h"

#include <cctype>
#include <fnmatch.h>

namespace ostrel {

namespace {

std::string Normalized(std::string_view mac) {
    std::string text;
    for (const char c : mac) {
        text += c == ':' ? '-' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace

std::optional<TargetMatch> ParseTargetMatch(std::string_view text, std::string& error) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos || equals + 1 == text.size()) {
        error = "--match takes FIELD=TEXT, not " + std::string(text);
        return std::nullopt;
    }
    const std::string_view field = text.substr(0, equals);
    const std::string value(text.substr(equals + 1));
    if (field == "name") {
        return TargetMatch{TargetMatch::Field::Name, value};
    }
    if (field == "identification" || field == "ident") {
        return TargetMatch{TargetMatch::Field::Identification, value};
    }
    if (field == "version") {
        return TargetMatch{TargetMatch::Field::Version, value};
    }
    if (field == "mac") {
        return TargetMatch{TargetMatch::Field::MacPrefix, Normalized(value)};
    }
    error = "--match knows name, identification, version and mac, not " + std::string(field);
    return std::nullopt;
}

bool Matches(const TargetMatch& match, const ManagementReply& reply) {
    const auto pattern = [&](const std::string& value) {
        return ::fnmatch(match.text.c_str(), value.c_str(), 0) == 0;
    };
    switch (match.field) {
    case TargetMatch::Field::Name:
        return pattern(reply.moduleName);
    case TargetMatch::Field::Identification:
        return pattern(Trimmed(reply.DiscoveryIdentification()));
    case TargetMatch::Field::Version:
        return pattern(reply.versionText);
    case TargetMatch::Field::MacPrefix:
        return MacText(reply.macAddress).starts_with(match.text);
    }
    return false;
}

} // namespace ostrel
