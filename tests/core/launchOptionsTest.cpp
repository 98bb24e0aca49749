#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "startup/launchOptions.h"

namespace {

struct CommandLineCase {
    const char16_t *commandLine;
    int32_t delayMs;
    int32_t postponeLimit;
};

// Printable form of a command line for failure messages.
std::string describe(const std::u16string &text)
{
    std::string out = "\"";
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out + "\"";
}

void expectSettings(const std::u16string &commandLine, int32_t delayMs, int32_t postponeLimit)
{
    SCOPED_TRACE(describe(commandLine));
    LaunchSettings settings{-7, -7, -7};
    parseLaunchOptions(commandLine.c_str(), settings);
    EXPECT_EQ(settings.delayMs, delayMs);
    EXPECT_EQ(settings.postponeLimit, postponeLimit);
    EXPECT_EQ(settings.postponeCount, 1);
}

void expectCases(const std::vector<CommandLineCase> &cases)
{
    for (const CommandLineCase &c : cases) {
        expectSettings(c.commandLine, c.delayMs, c.postponeLimit);
    }
}

TEST(LaunchOptions, CommandLines)
{
    expectCases({
        {u"", 1800000, 3},
        {u"/d 45", 2700000, 3},
        {u"/d 45s", 45000, 3},
        {u"/D 10S", 600000, 3},
        {u"/d 30sec", 1800000, 3},
        {u"/d 5ms", 5000, 3},
        {u"/d 1.5s", 1000, 3},
        {u"/d s", 0, 3},
        {u"/d -5", -300000, 3},
        {u"/d +7s", 7000, 3},
        {u"/d 010", 600000, 3},
        {u"/d 0x10", 0, 3},
        {u"/r 5", 1800000, 5},
        {u"/r 5s", 1800000, 5},
        {u"/r x", 1800000, 0},
        {u"/r -1", 1800000, -1},
        {u"/d 10 /r 1", 600000, 1},
        {u"/r 1 /d 10", 600000, 1},
        {u"/d 10 /d 20s", 20000, 3},
        {u"/d /r 2", 0, 3},
        {u"/d", 1800000, 3},
        {u"/r 2 /d", 1800000, 2},
        {u"/d  5", 0, 3},
        {u"/r  5", 1800000, 0},
        {u"/d 5 ", 300000, 3},
        {u"/d ", 0, 3},
        {u"/r ", 1800000, 0},
        {u"/dx 5", 300000, 3},
        {u"-d 5", 1800000, 3},
        {u"/d\t5", 1800000, 3},
        {u"/d \t5s", 5000, 3},
        {u"/d 35792", -2147447296, 3},
        {u"/d 71583", 12704, 3},
        {u"/d 99999999999", -60000, 3},
        {u"/d 134217728", 0, 3},
    });
}

TEST(LaunchOptions, WrapAndClampAtTheLimits)
{
    expectCases({
        {u"/d 35791", 2147460000, 3},
        {u"/d 2147483s", 2147483000, 3},
        {u"/d 2147484s", -2147483296, 3},
        {u"/d -1s", -1000, 3},
        {u"/d 2147483647s", -1000, 3},
        {u"/d -99999999999s", 0, 3},
        {u"/r 99999999999", 1800000, INT32_MAX},
        {u"/r -99999999999", 1800000, INT32_MIN},
        {u"/r 2147483647", 1800000, INT32_MAX},
        {u"/r -2147483648", 1800000, INT32_MIN},
    });
}

TEST(LaunchOptions, QuotesAndLatin1)
{
    expectCases({
        // Double quotes are ordinary characters: no quoting.
        {u"\"/d 5\"", 1800000, 3},
        {u"\"/d\" 5", 1800000, 3},
        {u"/d \"5\"", 0, 3},
        {u"/d \"5s\"", 0, 3},
        {u"/r \"5\"", 1800000, 0},
        // A character above U+00FF ends the text, wherever it stands.
        {u"/r 2 \u0100 /d 5", 1800000, 2},
        {u"/r 2 \U0001F600 /d 5", 1800000, 2},
        {u"/r 2 \xD800 /d 5", 1800000, 2},
        {u"/d 5\u0100s", 300000, 3},
        {u"/r 2\u20AC", 1800000, 2},
        {u"\u0100/d 5", 1800000, 3},
        // U+0080 to U+00FF are single bytes: no blank, no digit, no option letter.
        {u"/d\u00A05", 1800000, 3},
        {u"/d \u00A05", 0, 3},
        {u"/d \u00855", 0, 3},
        {u"/d 5\u00E9", 300000, 3},
        {u"/r \u00E9", 1800000, 0},
        {u"/r \u00B2", 1800000, 0},
        {u"/d 5\u00F3", 300000, 3},
        {u"/\u00E4 5", 1800000, 3},
        {u"/\u00C4 5", 1800000, 3},
        {u"/\u00F2 5", 1800000, 3},
        {u"\u00AFd 5", 1800000, 3},
    });
}

TEST(LaunchOptions, CutAfter256Characters)
{
    const std::u16string filler250(250, u'x');
    expectCases({
        // Exactly 256 characters: nothing is lost.
        {(filler250 + u" /d 5s").c_str(), 5000, 3},
        // The option lies wholly beyond the cut.
        {(std::u16string(256, u'x') + u" /r 5").c_str(), 1800000, 3},
        // The cut divides the value: read as far as it goes, the s lost with it.
        {(filler250 + u" /d 1234s").c_str(), 720000, 3},
        // The cut leaves the option without its value...
        {(filler250 + u"xxx /d 5").c_str(), 1800000, 3},
        // ...or with the empty token after its blank.
        {(filler250 + u"xx /d 5").c_str(), 0, 3},
        // ...or leaves only its slash.
        {(filler250 + u"xxxx /d 5").c_str(), 1800000, 3},
    });

    NarrowCommandLine narrow;
    const std::u16string longLine(1000, u'\u00FF');
    narrowCommandLine(longLine.c_str(), narrow);
    EXPECT_EQ(narrow.length, 256u);
    EXPECT_EQ(narrow.text[256], '\0');
    EXPECT_EQ(std::string(narrow.text, narrow.length), std::string(256, '\xFF'));
}

TEST(LaunchOptions, NarrowKeepsLatin1Bytes)
{
    std::u16string all;
    for (char16_t c = 1; c <= 0xFF; ++c) {
        all += c;
    }
    NarrowCommandLine narrow;
    narrowCommandLine((all + u"\u0100tail").c_str(), narrow);
    ASSERT_EQ(narrow.length, 255u);
    for (uint32_t i = 0; i < narrow.length; ++i) {
        EXPECT_EQ(static_cast<unsigned char>(narrow.text[i]), i + 1);
    }
    EXPECT_EQ(narrow.text[255], '\0');

    narrowCommandLine(nullptr, narrow);
    EXPECT_EQ(narrow.length, 0u);
    EXPECT_EQ(narrow.text[0], '\0');
}

TEST(LaunchOptions, EveryCallStartsFromTheDefaults)
{
    LaunchSettings settings{0, 0, 999};
    parseLaunchOptions(u"/d 5s /r 7", settings);
    const LaunchSettings first = settings;
    parseLaunchOptions(u"/d 5s /r 7", settings);
    EXPECT_EQ(settings.delayMs, first.delayMs);
    EXPECT_EQ(settings.postponeLimit, first.postponeLimit);
    EXPECT_EQ(settings.postponeCount, 1);

    parseLaunchOptions(u"/r 2", settings);
    EXPECT_EQ(settings.delayMs, 1800000);
    EXPECT_EQ(settings.postponeLimit, 2);
}

// The entry hands over wchar_t text: it must read as the same units.
TEST(LaunchOptions, WideTextReadsAsUtf16)
{
    const struct {
        const wchar_t *wide;
        const char16_t *utf16;
    } cases[] = {
        {L"/d 45s /r 7", u"/d 45s /r 7"},
        {L"/r \u00FF5 /d 2", u"/r \u00FF5 /d 2"},
        {L"/d 5 /r 4\u0100 /d 9", u"/d 5 /r 4\u0100 /d 9"},
        {L"/d 5\U0001F600 /r 1", u"/d 5\U0001F600 /r 1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(describe(c.utf16));
        LaunchSettings wide{-7, -7, -7};
        LaunchSettings utf16{-7, -7, -7};
        parseLaunchOptions(c.wide, wide);
        parseLaunchOptions(c.utf16, utf16);
        EXPECT_EQ(wide.delayMs, utf16.delayMs);
        EXPECT_EQ(wide.postponeLimit, utf16.postponeLimit);
        EXPECT_EQ(wide.postponeCount, utf16.postponeCount);
    }
}

TEST(LaunchOptions, ReadLeadingNumber)
{
    struct NumberCase {
        std::string value;
        int32_t expected;
    };
    const NumberCase cases[] = {
        {"", 0},
        {"+", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {" \t\n\v\f\r42", 42},
        {"  -7x", -7},
        {"+12.9", 12},
        {"000000000000000000000042", 42},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"-99999999999999999999999999", INT32_MIN},
        {"-0", 0},
        // Outside 0x09-0x0D and 0x20 nothing is white space.
        {"\x08" "5", 0},
        {"\x0E" "5", 0},
        {"\x1C" "5", 0},
        {std::string("\0" "5", 2), 0},
        // Bytes 0x80-0xFF are neither white space nor digits.
        {"\x85" "5", 0},
        {"\xA0" "5", 0},
        {"\xB2", 0},
        {"\xB9" "5", 0},
        {"5\xB2", 5},
        {"\xFF" "5", 0},
        {"-\xB3", 0},
    };
    for (const NumberCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        EXPECT_EQ(readLeadingNumber(CommandToken{c.value.data(), static_cast<uint32_t>(c.value.size())}),
                  c.expected);
    }

    // A token is a view: the bytes after its end are not part of it, and
    // need not exist (AddressSanitizer reports a read past the end).
    const char text[] = "123 456";
    EXPECT_EQ(readLeadingNumber(CommandToken{text, 2}), 12);
    EXPECT_EQ(readLeadingNumber(CommandToken{text + 3, 0}), 0);
    for (const char *exact : {"   ", "  -", "+99"}) {
        std::unique_ptr<char[]> bytes(new char[3]);
        std::memcpy(bytes.get(), exact, 3);
        EXPECT_EQ(readLeadingNumber(CommandToken{bytes.get(), 3}), exact[0] == '+' ? 99 : 0);
    }
}

TEST(LaunchOptions, TokensRebuildTheText)
{
    const std::string texts[] = {
        "",
        "a",
        " ",
        "/d 5",
        " a",
        "a ",
        "a  b",
        "  ",
        "\t a\tb \"c d\" ",
        "\xA0" "a\xA0 b",
        std::string(256, ' '),
        std::string(256, 'y'),
        std::string(128, ' ') + std::string(128, 'z'),
    };
    // One list reused throughout: each split must empty it first.
    CommandTokens tokens;
    for (const std::string &text : texts) {
        SCOPED_TRACE(testing::PrintToString(text));
        NarrowCommandLine narrow;
        std::u16string wide;
        for (char c : text) {
            wide += static_cast<char16_t>(static_cast<unsigned char>(c));
        }
        narrowCommandLine(wide.c_str(), narrow);
        ASSERT_EQ(std::string(narrow.text, narrow.length), text);

        splitCommandLine(narrow.text, narrow.length, tokens);
        uint32_t blanks = 0;
        for (char c : text) {
            blanks += c == ' ';
        }
        ASSERT_EQ(tokens.count, blanks + 1);
        std::string joined;
        for (uint32_t i = 0; i < tokens.count; ++i) {
            const CommandToken &token = tokens.items[i];
            EXPECT_GE(token.text, narrow.text);
            EXPECT_LE(token.text + token.length, narrow.text + narrow.length);
            const std::string piece(token.text, token.length);
            EXPECT_EQ(piece.find(' '), std::string::npos);
            joined += (i == 0 ? "" : " ") + piece;
        }
        EXPECT_EQ(joined, text);
    }
}

TEST(LaunchOptions, SplitNeverOverfillsTheList)
{
    // Longer than any converted command line: only the first 256 bytes count.
    const std::string blanks(300, ' ');
    CommandTokens tokens;
    splitCommandLine(blanks.data(), static_cast<uint32_t>(blanks.size()), tokens);
    EXPECT_EQ(tokens.count, maxCommandTokens);
}

} // namespace
