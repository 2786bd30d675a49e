#include "values/values.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

using namespace std::literals;

namespace {

// Printable form of a byte string for failure messages; nullptr reads "absent".
std::string Show(std::optional<std::string_view> bytes) {
    if (!bytes) return "absent";
    std::string shown = "\"";
    for (char byte : *bytes) {
        auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && byte != '"' && byte != '\\') {
            shown += byte;
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", value);
            shown += escape;
        }
    }
    return shown + "\"";
}

std::string Show(const char* text) { return text ? Show(std::string_view(text)) : Show(std::nullopt); }

// nullptr in `expected` stands for the absent text.
void ExpectText(const Text& actual, const char* expected, const std::string& call) {
    if (expected == nullptr) {
        EXPECT_TRUE(actual.IsAbsent()) << call << " gave " << Show(actual.Data()) << ", expected absent";
    } else {
        EXPECT_EQ(Show(actual.Data()), Show(expected)) << call;
    }
}

// A block in storage form, as the program's constant data holds them.
std::vector<uint8_t> Block(std::string_view bytes) {
    auto count = static_cast<uint32_t>(bytes.size());
    std::vector<uint8_t> block(8 + bytes.size());
    block[0] = 1;
    for (int i = 0; i < 4; ++i) block[4 + i] = static_cast<uint8_t>(count >> (8 * i));
    std::copy(bytes.begin(), bytes.end(), block.begin() + 8);
    return block;
}

std::optional<std::string_view> Contents(const ByteArray& bytes) {
    if (bytes.IsAbsent()) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Length()));
}

// nullopt in `expected` stands for the absent value; a stored value must carry its storage header.
void ExpectBytes(const ByteArray& actual, std::optional<std::string_view> expected, const std::string& call) {
    if (!expected) {
        EXPECT_TRUE(actual.IsAbsent()) << call << " gave " << Show(Contents(actual)) << ", expected absent";
        return;
    }
    ASSERT_FALSE(actual.IsAbsent()) << call << " gave absent, expected " << Show(expected);
    std::vector<uint8_t> header = Block(*expected);
    header.resize(8);
    EXPECT_EQ(std::vector<uint8_t>(actual.Block(), actual.Block() + 8), header) << call << ": storage header";
    EXPECT_EQ(Show(Contents(actual)), Show(expected)) << call;
}

// Measuring and cutting
TEST(TextCuts, LengthCountsBytes) {
    struct Row {
        const char* text;
        int32_t length;
    } const rows[] = {
        {nullptr, 0},
        {"", 0},
        {"abc", 3},
        {"\xB0\xA1" "a", 3},  // a two-byte character counts 2
    };
    for (const Row& row : rows) EXPECT_EQ(TextLength(row.text), row.length) << "TextLength(" << Show(row.text) << ")";
}

TEST(TextCuts, LeftAndRight) {
    struct Row {
        const char* text;
        int32_t count;
        const char* left;
        const char* right;
    } const rows[] = {
        // counts in range
        {"abcdef", 2, "ab", "ef"},
        {"abc", 3, "abc", "abc"},
        // counts beyond the length give the whole text
        {"abc", 5, "abc", "abc"},
        {"abc", std::numeric_limits<int32_t>::max(), "abc", "abc"},
        // counts of 0 or less, and absent or empty texts, give absent
        {"abc", 0, nullptr, nullptr},
        {"abc", -1, nullptr, nullptr},
        {"abc", std::numeric_limits<int32_t>::min(), nullptr, nullptr},
        {nullptr, 3, nullptr, nullptr},
        {"", 3, nullptr, nullptr},
        // cuts do not respect two-byte characters
        {"\xB0\xA1" "a", 1, "\xB0", "a"},
        {"a\xB0\xA1", 1, "a", "\xA1"},
    };
    for (const Row& row : rows) {
        std::string args = Show(row.text) + ", " + std::to_string(row.count) + ")";
        ExpectText(TextLeft(row.text, row.count), row.left, "TextLeft(" + args);
        ExpectText(TextRight(row.text, row.count), row.right, "TextRight(" + args);
    }
}

TEST(TextCuts, Mid) {
    struct Row {
        const char* text;
        int32_t start;
        int32_t count;
        const char* expected;
    } const rows[] = {
        // inside the text, and running past its end
        {"abcdef", 3, 2, "cd"},
        {"abcdef", 1, 6, "abcdef"},
        {"abcdef", 5, 9, "ef"},
        {"abcdef", 6, std::numeric_limits<int32_t>::max(), "f"},
        // start below 1 or beyond the length, count of 0 or less
        {"abcdef", 0, 2, nullptr},
        {"abcdef", -1, 2, nullptr},
        {"abcdef", 7, 1, nullptr},
        {"abcdef", std::numeric_limits<int32_t>::max(), 1, nullptr},
        {"abcdef", 2, 0, nullptr},
        {"abcdef", 2, -3, nullptr},
        {nullptr, 1, 1, nullptr},
        // a cut may start on a second byte
        {"\xB0\xA1" "a", 2, 2, "\xA1" "a"},
    };
    for (const Row& row : rows) {
        ExpectText(TextMid(row.text, row.start, row.count), row.expected,
                   "TextMid(" + Show(row.text) + ", " + std::to_string(row.start) + ", " + std::to_string(row.count) +
                       ")");
    }
}

// Searching
TEST(FindText, Table) {
    constexpr int32_t kOmitted = 0;
    struct Row {
        const char* text;
        const char* sought;
        int32_t start;
        Case letterCase;
        int32_t expected;
    } const rows[] = {
        // start omitted, given, below 1, beyond the length
        {"abcabc", "c", kOmitted, Case::Sensitive, 3},
        {"abcabc", "c", 4, Case::Sensitive, 6},
        {"abcabc", "c", 7, Case::Sensitive, -1},
        {"abcabc", "c", -5, Case::Sensitive, 3},
        {"abcabc", "c", std::numeric_limits<int32_t>::min(), Case::Sensitive, 3},
        {"abcabc", "c", std::numeric_limits<int32_t>::max(), Case::Sensitive, -1},
        {"abcabc", "abc", 2, Case::Sensitive, 4},
        {"abc", "abcd", kOmitted, Case::Sensitive, -1},
        {"abc", "bc", 2, Case::Sensitive, 2},
        {"abc", "bc", 3, Case::Sensitive, -1},
        // empty or absent sought text: 1 whenever the searched part is not empty
        {"abc", "", 2, Case::Sensitive, 1},
        {"abc", nullptr, 3, Case::Sensitive, 1},
        {"abc", "", 4, Case::Sensitive, -1},
        {"", "", kOmitted, Case::Sensitive, -1},
        {nullptr, nullptr, kOmitted, Case::Sensitive, -1},
        {nullptr, "a", kOmitted, Case::Ignore, -1},
        // letter case
        {"ABC", "b", 1, Case::Ignore, 2},
        {"ABC", "b", 1, Case::Sensitive, -1},
        {"abc", "BC", kOmitted, Case::Ignore, 2},
        {"a[c", "{", kOmitted, Case::Ignore, -1},  // only letters fold, not the bytes 0x20 apart
        {"a@", "`", kOmitted, Case::Ignore, -1},
        // a second byte is never where a match begins
        {"\xB0" "A", "A", kOmitted, Case::Sensitive, -1},
        {"A\xB0" "A", "A", kOmitted, Case::Sensitive, 1},
        {"\xB0" "AA", "A", kOmitted, Case::Sensitive, 3},
        {"\xB0\xB0\xB0", "\xB0\xB0", 2, Case::Sensitive, 2},  // a start on a second byte is not moved
        {"\xB0\xB0" "AB", "A", 2, Case::Sensitive, -1},  // ...and the steps go on from there
        {"x\xB0\xB0\xB0", "\xB0\xB0", kOmitted, Case::Sensitive, 2},
        {"\xB0\xB1\xB1\xB2", "\xB1\xB1", kOmitted, Case::Sensitive, -1},
        {"\x80" "a", "a", kOmitted, Case::Sensitive, -1},  // every high-bit byte starts a pair, 0x80 included
        {"\xFF" "a", "a", kOmitted, Case::Sensitive, -1},
        // a two-byte match is found on a character boundary
        {"a\xB0\xA1\xB0\xA2", "\xB0\xA2", kOmitted, Case::Sensitive, 4},
        // folding reaches second bytes
        {"\x81" "A", "\x81" "a", kOmitted, Case::Ignore, 1},
        {"\x81" "A", "\x81" "a", kOmitted, Case::Sensitive, -1},
        // a lone high-bit byte at the end
        {"ab\xB0", "x", kOmitted, Case::Sensitive, -1},
        {"ab\xB0", "\xB0", kOmitted, Case::Sensitive, 3},
        {"\xB0", "", kOmitted, Case::Sensitive, 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(FindText(row.text, row.sought, row.start, row.letterCase), row.expected)
            << "FindText(" << Show(row.text) << ", " << Show(row.sought) << ", " << row.start << ", "
            << (row.letterCase == Case::Ignore ? "ignore case" : "case-sensitive") << ")";
    }
}

// Replacing
TEST(ReplaceTextAt, Table) {
    struct Row {
        const char* text;
        int32_t start;
        int32_t count;
        const char* replacement;
        const char* expected;
    } const rows[] = {
        // removal only, and removal with a replacement
        {"abcdef", 3, 2, nullptr, "abef"},
        {"abcdef", 3, 2, "XY", "abXYef"},
        {"abcdef", 3, 2, "", "abef"},
        // start below 1 counts as 1, beyond the end as just behind the last byte
        {"abcdef", 0, 2, nullptr, "cdef"},
        {"abcdef", std::numeric_limits<int32_t>::min(), 2, "Z", "Zcdef"},
        {"abc", 9, 2, "XY", "abcXY"},
        {"abc", 4, 1, "XY", "abcXY"},
        {"abc", std::numeric_limits<int32_t>::max(), 1, "XY", "abcXY"},
        // counts of 0 or less remove nothing; counts past the end stop there
        {"abc", 2, 0, "XY", "aXYbc"},
        {"abc", 2, -4, "XY", "aXYbc"},
        {"abc", 2, 9, nullptr, "a"},
        {"abc", 2, std::numeric_limits<int32_t>::max(), "Q", "aQ"},
        // empty results are absent
        {"abc", 1, 3, nullptr, nullptr},
        {"abc", 1, 3, "", nullptr},
        {nullptr, 1, 1, nullptr, nullptr},
        {nullptr, 5, 1, "XY", "XY"},
    };
    for (const Row& row : rows) {
        ExpectText(ReplaceTextAt(row.text, row.start, row.count, row.replacement), row.expected,
                   "ReplaceTextAt(" + Show(row.text) + ", " + std::to_string(row.start) + ", " +
                       std::to_string(row.count) + ", " + Show(row.replacement) + ")");
    }
}

// Letter case
TEST(TextCase, UpperAndLower) {
    struct Row {
        const char* text;
        const char* upper;
        const char* lower;
    } const rows[] = {
        {"ABC", "ABC", "abc"},
        {"aZ09@[`{", "AZ09@[`{", "az09@[`{"},
        // the byte behind a high-bit byte is a second byte and stays
        {"a\xB0" "ab", "A\xB0" "aB", "a\xB0" "ab"},
        {"A\x80" "A", "A\x80" "A", "a\x80" "A"},
        {"\xA3\xE1", "\xA3\xE1", "\xA3\xE1"},  // full-width letters are left alone
        // a high-bit byte at the end
        {"a\xB0", "A\xB0", "a\xB0"},
        // empty and absent give absent
        {"", nullptr, nullptr},
        {nullptr, nullptr, nullptr},
    };
    for (const Row& row : rows) {
        ExpectText(ToUpperText(row.text), row.upper, "ToUpperText(" + Show(row.text) + ")");
        ExpectText(ToLowerText(row.text), row.lower, "ToLowerText(" + Show(row.text) + ")");
    }
}

TEST(TextCase, LeavesItsArgumentAlone) {
    Text original = Text::FromBytes("abC");
    Text upper = ToUpperText(original);
    EXPECT_EQ(original.View(), "abC");
    EXPECT_NE(upper.Data(), original.Data());
}

// Numbers from text
TEST(TextToNumber, Table) {
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    struct Row {
        const char* text;
        double expected;
    } const rows[] = {
        // leading white space, then the longest decimal prefix
        {"  12.5e1xyz", 125},
        {"\t\n\v\f\r 7", 7},
        {"-3", -3},
        {"+.5", 0.5},
        {"5.", 5},
        {"1.2.3", 1.2},
        {"12abc", 12},
        {"- 3", 0},
        {"+-3", 0},
        // exponents: e E d D, and only with digits behind the marker
        {"1d2", 100},
        {"2D-1", 0.2},
        {"1E+3", 1000},
        {"7e", 7},
        {"7e+", 7},
        {"7d-x", 7},
        {"7ee1", 7},
        {".e1", 0},
        // nothing that is a number
        {"abc", 0},
        {"", 0},
        {nullptr, 0},
        {".", 0},
        {"-", 0},
        {"0x1F", 0},
        {"inf", 0},
        {"nan", 0},
        {"\x85" "5", 0},  // bytes that a C library might count as white space
        // full-width forms and signs
        {"\xA3\xB1\xA3\xB2", 12},
        {"\xA3\xAD\xA3\xB1\xA3\xAE\xA3\xB5", -1.5},
        {"\xA1\xA1\xA3\xB3", 3},
        {"\xA3\xB4\xA3\xE5\xA3\xB2", 400},
        {"\xA3\xB1\xB0\xA1", 1},
        {"\xA1\xAB" "1", 0},
        {"\xA3", 0},
        {"9\xA3", 9},
        // nearest 64-bit real
        {"0.1", 0.1},
        {"9007199254740993", 9007199254740992.0},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
        {"000000000000000000000000000000000000000000000000001.5", 1.5},
        {"0.000000000000000000000000000000000000000000000000015e50", 1.5},
        // beyond the range of a 64-bit real
        {"1e400", kInfinity},
        {"-1d400", -kInfinity},
        {"1e99999999999999999999999", kInfinity},
        {"1e-400", 0},
        {"0e99999999999", 0},
        {"123456789e-99999999999999999999", 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TextToNumber(row.text), row.expected) << "TextToNumber(" << Show(row.text) << ")";
    }
    EXPECT_TRUE(std::signbit(TextToNumber("-0"))) << "TextToNumber(\"-0\")";
}

TEST(TextToNumber, LongDigitRuns) {
    std::string digits = "1" + std::string(400, '0');
    EXPECT_EQ(TextToNumber((digits + "e-390").c_str()), 1e10) << "1 followed by 400 zeros, e-390";
    EXPECT_EQ(TextToNumber(("0." + std::string(400, '0') + "15d402").c_str()), 15) << "0. then 400 zeros, 15d402";
    EXPECT_EQ(TextToNumber((digits + "e-400").c_str()), 1.0) << "1 followed by 400 zeros, e-400";
}

// Makes a locale whose decimal separator is a comma, the way a desktop session may set LC_NUMERIC.
class CommaDecimalLocale : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) return;
        localeDir_ = std::filesystem::temp_directory_path() / ("values_test_locale_" + std::to_string(getpid()));
        std::error_code ignored;
        std::filesystem::create_directories(localeDir_, ignored);
        std::string command = "localedef -i de_DE -f UTF-8 '" + (localeDir_ / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
        // localedef also fails on mere warnings, so the locale itself is the test.
        [[maybe_unused]] int status = std::system(command.c_str());
        setenv("LOCPATH", localeDir_.c_str(), 1);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr) return;
        GTEST_SKIP() << "no comma-decimal locale: neither de_DE.UTF-8 nor localedef with the locale sources";
    }
    void TearDown() override {
        std::setlocale(LC_ALL, saved_.c_str());
        if (!localeDir_.empty()) {
            unsetenv("LOCPATH");
            std::error_code ignored;
            std::filesystem::remove_all(localeDir_, ignored);
        }
    }

private:
    std::string saved_;
    std::filesystem::path localeDir_;
};

TEST_F(CommaDecimalLocale, NumbersStillUseThePoint) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(TextToNumber("12.5"), 12.5);
    EXPECT_EQ(TextToNumber("12,5"), 12);
    EXPECT_EQ(TextToNumber("1.5d1"), 15);
}

// Numbers and bytes to text
TEST(NumberToText, Table) {
    struct Row {
        int32_t number;
        const char* expected;
    } const rows[] = {
        {0, "0"},
        {7, "7"},
        {-1, "-1"},
        {1000000, "1000000"},
        {std::numeric_limits<int32_t>::max(), "2147483647"},
        {std::numeric_limits<int32_t>::min(), "-2147483648"},
    };
    for (const Row& row : rows) ExpectText(NumberToText(row.number), row.expected, "NumberToText(" + std::to_string(row.number) + ")");
}

TEST(BytesToText, Table) {
    struct Row {
        std::string_view bytes;
        const char* expected;
    } const rows[] = {
        {"A\0B"sv, "A"},
        {"\0A"sv, nullptr},
        {"AB"sv, "AB"},
        {"\xB0\xA1"sv, "\xB0\xA1"},
        {""sv, nullptr},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> block = Block(row.bytes);
        ExpectText(BytesToText(BytesRef(block.data())), row.expected, "BytesToText(" + Show(row.bytes) + ")");
    }
    ExpectText(BytesToText(nullptr), nullptr, "BytesToText(absent)");
}

TEST(CopyText, EmptyGivesAbsent) {
    ExpectText(CopyText("ab"), "ab", "CopyText(\"ab\")");
    ExpectText(CopyText(""), nullptr, "CopyText(\"\")");
    ExpectText(CopyText(nullptr), nullptr, "CopyText(absent)");
    Text original = Text::FromBytes("x");
    Text copy = CopyText(original);
    EXPECT_NE(copy.Data(), original.Data()) << "a copy has its own bytes";
}

TEST(TextFromBytes, StopsAtTheFirstNul) {
    ExpectText(Text::FromBytes("ab\0cd"sv), "ab", "Text::FromBytes(\"ab\\0cd\")");
    ExpectText(Text::FromBytes(""), nullptr, "Text::FromBytes(\"\")");
    ExpectText(Text::FromBytes("\0a"sv), nullptr, "Text::FromBytes(\"\\0a\")");
    ExpectText(Text::StoredFromBytes(""), "", "Text::StoredFromBytes(\"\")");
    ExpectText(Text::StoredFromBytes("a\0b"sv), "a", "Text::StoredFromBytes(\"a\\0b\")");
}

// A gathered block becomes the text without a copy; an empty one is freed (the leak check
// of the sanitizer run sees it) and gives the absent text.
TEST(TextTakeOver, EndsAtTheLengthAndEmptyIsAbsent) {
    auto* block = static_cast<char*>(std::malloc(64));
    std::memcpy(block, "gathered and more", 17);
    Text text = Text::TakeOver(block, 8);
    ExpectText(text, "gathered", "Text::TakeOver(8 of 17 bytes)");
    ExpectText(Text::TakeOver(static_cast<char*>(std::malloc(16)), 0), nullptr, "Text::TakeOver(0 bytes)");
}

// Comparing
TEST(CompareText, Table) {
    struct Row {
        const char* first;
        const char* second;
        Case letterCase;
        int32_t expected;
    } const rows[] = {
        // letter case of single bytes
        {"ABC", "abc", Case::Ignore, 0},
        {"ABC", "abc", Case::Sensitive, -1},
        {"abc", "ABD", Case::Ignore, -1},
        {"_", "A", Case::Ignore, -1},  // single bytes compare in lower case: 0x5F < 0x61
        {"_", "A", Case::Sensitive, 1},
        // lengths, absent and empty
        {"ab", "abc", Case::Sensitive, -1},
        {"abc", "ab", Case::Ignore, 1},
        {nullptr, "", Case::Sensitive, 0},
        {"", nullptr, Case::Ignore, 0},
        {nullptr, "a", Case::Ignore, -1},
        // bytes and characters compare unsigned
        {"\xFF", "a", Case::Sensitive, 1},
        {"\x80", "\x7F", Case::Sensitive, 1},
        {"\xB0\xA1", "z", Case::Ignore, 1},
        {"\xB0\xA1", "\xB0\xA2", Case::Sensitive, -1},
        // a lead byte followed by the end ends the text
        {"ab\xB0", "ab", Case::Sensitive, 0},
        {"\xB0", "", Case::Ignore, 0},
        // two-byte letters with a case mapping in the code page
        {"\xA3\xE1", "\xA3\xC1", Case::Ignore, 0},   // full-width a and A
        {"\xA3\xE1", "\xA3\xC1", Case::Sensitive, 1},
        {"\xA3\xFA", "\xA3\xDA", Case::Ignore, 0},   // full-width z and Z
        {"\xA3\xE1", "A", Case::Ignore, 1},          // full-width letters stay apart from single bytes
        {"\xA6\xC1", "\xA6\xA1", Case::Ignore, 0},   // Greek alpha
        {"\xA6\xD8", "\xA6\xB8", Case::Ignore, 0},   // Greek omega
        {"\xA7\xD1", "\xA7\xA1", Case::Ignore, 0},   // Cyrillic a
        {"\xA7\xF1", "\xA7\xC1", Case::Ignore, 0},   // Cyrillic ya
        {"\xA7\xD7", "\xA7\xA7", Case::Ignore, 0},   // Cyrillic yo
        {"\xA2\xA1", "\xA2\xF1", Case::Ignore, 0},   // Roman numeral one
        {"\xA2\xAA", "\xA2\xFA", Case::Ignore, 0},   // Roman numeral ten
        {"\xA6\xD9", "\xA6\xB9", Case::Ignore, 1},   // just past the Greek letters
        {"\xA3\xE0", "\xA3\xC0", Case::Ignore, 1},   // just before the full-width letters
        {"\xA3\xC1", "\xA3\xE1", Case::Ignore, 0},
        // second bytes are not folded as letters
        {"\x81" "A", "\x81" "a", Case::Ignore, -1},
        // mixed texts
        {"Ab\xA3\xE3", "aB\xA3\xC3", Case::Ignore, 0},
        {"Ab\xA3\xE3" "d", "aB\xA3\xC3" "E", Case::Ignore, -1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CompareText(row.first, row.second, row.letterCase), row.expected)
            << "CompareText(" << Show(row.first) << ", " << Show(row.second) << ", "
            << (row.letterCase == Case::Ignore ? "ignore case" : "case-sensitive") << ")";
    }
}

TEST(CompareTextExact, Table) {
    struct Row {
        const char* first;
        const char* second;
        int32_t expected;
    } const rows[] = {
        {nullptr, "", 0},
        {nullptr, nullptr, 0},
        {"a", nullptr, 1},
        {nullptr, "a", -1},
        {"abc", "abc", 0},
        {"abc", "abd", -1},
        {"ab", "abc", -1},
        {"a", "A", 1},
        // unsigned bytes
        {"\xB0", "a", 1},
        {"a", "\x80", -1},
        {"ab\xB0", "ab", 1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CompareTextExact(row.first, row.second), row.expected)
            << "CompareTextExact(" << Show(row.first) << ", " << Show(row.second) << ")";
    }
}

// Joining
TEST(JoinText, AlwaysStored) {
    ExpectText(JoinText({nullptr, nullptr}), "", "JoinText(absent, absent)");
    ExpectText(JoinText({""}), "", "JoinText(\"\")");
    ExpectText(JoinText({"a", nullptr, "b"}), "ab", "JoinText(\"a\", absent, \"b\")");
    ExpectText(JoinText({"\xB0", "\xA1", "c"}), "\xB0\xA1" "c", "JoinText of split character halves");
    Text first = Text::FromBytes("x");
    ExpectText(JoinText({first, first, "y"}), "xxy", "JoinText(x, x, \"y\") with one value twice");
}

TEST(JoinBytes, Table) {
    std::vector<uint8_t> one = Block("\x01"sv);
    std::vector<uint8_t> zeroTwo = Block("\x00\x02"sv);
    std::vector<uint8_t> empty = Block(""sv);
    ExpectBytes(JoinBytes({nullptr, nullptr}), std::nullopt, "JoinBytes(absent, absent)");
    ExpectBytes(JoinBytes({BytesRef(empty.data()), nullptr}), std::nullopt, "JoinBytes(empty block, absent)");
    ExpectBytes(JoinBytes({BytesRef(one.data()), BytesRef(zeroTwo.data())}), "\x01\x00\x02"sv, "JoinBytes(01, 00 02)");
    ExpectBytes(JoinBytes({nullptr, BytesRef(zeroTwo.data()), BytesRef(empty.data()), BytesRef(one.data())}),
                "\x00\x02\x01"sv, "JoinBytes(absent, 00 02, empty block, 01)");
}

// Blank values and byte arrays
TEST(BlankValues, Table) {
    struct Row {
        int32_t count;
        const char* text;
        std::optional<std::string_view> bytes;
    } const rows[] = {
        {3, "   ", "\0\0\0"sv},
        {4, "    ", "\0\0\0\0"sv},
        {1, " ", "\0"sv},
        {0, nullptr, std::nullopt},
        {-1, nullptr, std::nullopt},
        {std::numeric_limits<int32_t>::min(), nullptr, std::nullopt},
    };
    for (const Row& row : rows) {
        ExpectText(BlankText(row.count), row.text, "BlankText(" + std::to_string(row.count) + ")");
        ExpectBytes(BlankBytes(row.count), row.bytes, "BlankBytes(" + std::to_string(row.count) + ")");
    }
}

TEST(ByteArrays, LeftLengthAndCopy) {
    std::vector<uint8_t> block = Block("\x01\x02\x03"sv);
    std::vector<uint8_t> empty = Block(""sv);
    BytesRef bytes(block.data());
    struct Row {
        int32_t count;
        std::optional<std::string_view> expected;
    } const rows[] = {
        {2, "\x01\x02"sv},
        {3, "\x01\x02\x03"sv},
        {9, "\x01\x02\x03"sv},
        {std::numeric_limits<int32_t>::max(), "\x01\x02\x03"sv},
        {0, std::nullopt},
        {-1, std::nullopt},
    };
    for (const Row& row : rows) ExpectBytes(BytesLeft(bytes, row.count), row.expected, "BytesLeft(01 02 03, " + std::to_string(row.count) + ")");
    ExpectBytes(BytesLeft(nullptr, 2), std::nullopt, "BytesLeft(absent, 2)");

    EXPECT_EQ(BytesLength(bytes), 3);
    EXPECT_EQ(BytesLength(nullptr), 0) << "BytesLength(absent)";
    EXPECT_EQ(BytesLength(BytesRef(empty.data())), 0) << "BytesLength(empty block)";

    ByteArray copy = CopyBytes(bytes);
    ExpectBytes(copy, "\x01\x02\x03"sv, "CopyBytes(constant 01 02 03)");
    EXPECT_NE(copy.Block(), block.data());
    ExpectBytes(CopyBytes(copy), "\x01\x02\x03"sv, "CopyBytes(array 01 02 03)");
    ExpectBytes(CopyBytes(BytesRef(empty.data())), std::nullopt, "CopyBytes(empty block)");
    ExpectBytes(CopyBytes(nullptr), std::nullopt, "CopyBytes(absent)");

    const uint8_t raw[] = {0, 0xFF, 0};
    ExpectBytes(ByteArray::FromBytes(raw), "\x00\xFF\x00"sv, "ByteArray::FromBytes(00 FF 00)");
    ExpectBytes(ByteArray::FromBytes({}), std::nullopt, "ByteArray::FromBytes(nothing)");
}

TEST(ByteArrays, CountIsLittleEndian) {
    std::vector<uint8_t> block = Block(std::string(0x0102, 'x'));
    EXPECT_EQ(BytesLength(BytesRef(block.data())), 0x0102);
    ByteArray blank = BlankBytes(0x010203);
    const uint8_t header[] = {1, 0, 0, 0, 0x03, 0x02, 0x01, 0};
    EXPECT_TRUE(std::equal(header, header + 8, blank.Block())) << "BlankBytes(0x010203) storage header";
}

// Values move without copying and release what they held
TEST(Ownership, MoveHandsOverTheBytes) {
    Text text = Text::FromBytes("abc");
    const char* bytes = text.Data();
    Text moved = std::move(text);
    EXPECT_EQ(moved.Data(), bytes);
    EXPECT_TRUE(text.IsAbsent());
    moved = Text::FromBytes("new");
    EXPECT_EQ(moved.View(), "new");
    moved = std::move(moved);
    EXPECT_EQ(moved.View(), "new") << "self-move keeps the value";

    ByteArray array = BlankBytes(2);
    const uint8_t* block = array.Block();
    ByteArray other = std::move(array);
    EXPECT_EQ(other.Block(), block);
    EXPECT_TRUE(array.IsAbsent());
    EXPECT_EQ(array.Length(), 0);
}

// Reals as 32-bit counts
TEST(RealToInt32, Table) {
    constexpr double kTwoTo63 = 9223372036854775808.0;
    struct Row {
        double value;
        int32_t expected;
    } const rows[] = {
        // truncation toward zero
        {3.9, 3},
        {-3.9, -3},
        {-0.5, 0},
        {0.0, 0},
        // the low 32 bits of the 64-bit integer
        {2147483648.0, std::numeric_limits<int32_t>::min()},
        {-2147483649.0, std::numeric_limits<int32_t>::max()},
        {4294967296.0 + 5, 5},
        {-4294967296.0 - 5, -5},
        {kTwoTo63 - 1024, -1024},
        {-kTwoTo63, 0},
        // outside the 64-bit range and not a number: the integer 0x8000000000000000
        {kTwoTo63, 0},
        {-kTwoTo63 - 2048, 0},
        {1e300, 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(RealToInt32(row.value), row.expected) << "RealToInt32(" << row.value << ")";
    }
}

}  // namespace
