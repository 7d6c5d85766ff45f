#include "platform/PathText.h"

#include <cstdint>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>

#include <QFile>

namespace ostrel::platform {

namespace {

constexpr char16_t escapeBase = 0xDC00;  // + the byte: a byte that is not UTF-8
constexpr char32_t replacement = 0xFFFD; // a lone surrogate no byte stands behind

struct Decoded {
    char32_t codePoint;
    std::size_t length;
};

// One well-formed UTF-8 sequence at the start of bytes: no overlong form, no surrogate, nothing
// above U+10FFFF.
std::optional<Decoded> DecodeOne(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(0);
    if (lead < 0x80) {
        return Decoded{lead, 1};
    }
    std::size_t length = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return std::nullopt;
    }
    if (bytes.size() < length) {
        return std::nullopt;
    }
    char32_t codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const std::uint8_t next = byte(i);
        const bool inRange = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
        if (!inRange) {
            return std::nullopt;
        }
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    return Decoded{codePoint, length};
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | codePoint >> 6);
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | codePoint >> 12);
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | codePoint >> 18);
        out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The one entry of the folder whose name Qt shows as the given text, if there is exactly one.
std::optional<std::string> EntryShownAs(const std::string& folder, const QString& shown) {
    DIR* entries = ::opendir(folder.empty() ? "." : folder.c_str());
    if (entries == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> found;
    int matches = 0;
    while (const dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (QFile::decodeName(name.c_str()) == shown || PathToText(name) == shown) {
            found = name;
            ++matches;
        }
    }
    ::closedir(entries);
    return matches == 1 ? found : std::nullopt;
}

} // namespace

QString PathToText(std::string_view path) {
    QString text;
    text.reserve(static_cast<qsizetype>(path.size()));
    while (!path.empty()) {
        if (const auto decoded = DecodeOne(path)) {
            const char32_t codePoint = decoded->codePoint;
            text += QString::fromUcs4(&codePoint, 1);
            path.remove_prefix(decoded->length);
        } else {
            text += QChar(static_cast<char16_t>(escapeBase + static_cast<std::uint8_t>(path[0])));
            path.remove_prefix(1);
        }
    }
    return text;
}

std::string TextToPath(const QString& text) {
    std::string path;
    path.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            AppendUtf8(path, QChar::surrogateToUcs4(unit, text[i + 1]));
            ++i;
        } else if (unit.unicode() >= escapeBase + 0x80 && unit.unicode() <= escapeBase + 0xFF) {
            path += static_cast<char>(unit.unicode() - escapeBase);
        } else if (unit.isSurrogate()) {
            AppendUtf8(path, replacement);
        } else {
            AppendUtf8(path, unit.unicode());
        }
    }
    return path;
}

bool IsValidUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        const auto decoded = DecodeOne(bytes);
        if (!decoded) {
            return false;
        }
        bytes.remove_prefix(decoded->length);
    }
    return true;
}

std::string ResolveChosenPath(const QString& chosen) {
    const std::string given = TextToPath(chosen);
    if (Exists(given)) {
        return given;
    }
    std::string resolved;
    const QStringList parts = chosen.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            resolved += '/';
        }
        const std::string part = TextToPath(parts[i]);
        if (part.empty() || Exists(resolved + part)) {
            resolved += part;
        } else if (const auto entry = EntryShownAs(resolved, parts[i])) {
            resolved += *entry;
        } else {
            resolved += part;
        }
    }
    return resolved;
}

} // namespace ostrel::platform
