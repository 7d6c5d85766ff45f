#include "platform/PathText.h"

#include "tests/support/TempDir.h"

#include <fstream>
#include <string>
#include <vector>

#include <QFile>

#include <gtest/gtest.h>

namespace ostrel {
namespace {

struct PathCase {
    const char* name;
    std::string bytes;
    bool utf8;
};

void PrintTo(const PathCase& path, std::ostream* out) {
    *out << path.name;
}

class PathTextTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(PathTextTest, EveryPathComesBackByteForByte) {
    const std::string& bytes = GetParam().bytes;
    const QString text = platform::PathToText(bytes);
    EXPECT_EQ(platform::TextToPath(text), bytes);
    EXPECT_EQ(platform::IsValidUtf8(bytes), GetParam().utf8);
    if (GetParam().utf8) {
        EXPECT_EQ(text, QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())))
            << "valid UTF-8 reads as its characters";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathTextTest,
    ::testing::Values(PathCase{"Ascii", "/fw/app-1.hex", true},
                      PathCase{"TwoByte", "/fw/\xC3\xA9t\xC3\xA9.hex", true},
                      PathCase{"FourByte", "/fw/\xF0\x9F\x94\xA5.hex", true},
                      PathCase{"Latin1Byte", "/fw/\xE9t\xE9.hex", false},
                      PathCase{"LoneContinuation", "/fw/\x80.hex", false},
                      PathCase{"Overlong", "/fw/\xC0\xAF.hex", false},
                      PathCase{"EncodedSurrogate", "/fw/\xED\xA0\x80.hex", false},
                      PathCase{"BeyondUnicode", "/fw/\xF4\x90\x80\x80.hex", false},
                      PathCase{"CutShort", "/fw/\xE2\x82", false},
                      PathCase{"EscapeLookalike", "/fw/\xED\xB2\x80", false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(PathTextTest, TextThatNoByteStandsBehindBecomesTheReplacementCharacter) {
    QString text = QStringLiteral("a");
    text += QChar(0xD800); // a lone high surrogate
    text += QLatin1Char('b');
    text += QChar(0xDC41); // a lone low one below the escapes
    EXPECT_EQ(platform::TextToPath(text), "a\xEF\xBF\xBD"
                                          "b\xEF\xBF\xBD");
}

TEST(ResolveChosenPathTest, FindsTheFileBehindANameQtCouldNotDecode) {
    test::TempDir dir;
    const std::string folder = dir.Path().string() + "/fw-\xFF";
    std::filesystem::create_directory(folder);
    const std::string file = folder + "/app-\xE9\x80.hex";
    std::ofstream(file) << ":00000001FF\n";
    const QString shown = QFile::decodeName(QByteArray::fromStdString(file));
    ASSERT_NE(QFile::encodeName(shown).toStdString(), file) << "Qt's own way loses the bytes";
    EXPECT_EQ(platform::ResolveChosenPath(shown), file);
    EXPECT_EQ(platform::ResolveChosenPath(platform::PathToText(file)), file);
    const QString typed = QFile::decodeName(QByteArray::fromStdString(folder)) + "/new.hex";
    EXPECT_EQ(platform::ResolveChosenPath(typed), folder + "/new.hex") << "a new name as typed";
}

} // namespace
} // namespace ostrel
