#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace ostrel::platform {

// File names are bytes; Qt's text is UTF-16. Valid UTF-8 becomes its characters, and each byte
// that is not part of valid UTF-8 stands in the text as the lone surrogate U+DC00 + byte, so
// that any name survives the way through an edit and back unchanged.
QString PathToText(std::string_view path);
std::string TextToPath(const QString& text);
bool IsValidUtf8(std::string_view bytes);

// The file a file dialog chose. Qt decodes names that are not valid UTF-8 lossily, so each part
// of the path that does not exist as given is looked up among its folder's entries by the text
// Qt would show for it. A part that matches no single entry stays as given.
std::string ResolveChosenPath(const QString& chosen);

} // namespace ostrel::platform
