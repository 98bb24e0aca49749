// Any UTF-16 command line: parsing completes, and the converted text, its
// tokens and the settings agree with a plain model of the command line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "startup/launchOptions.h"

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// Model of the leading number: digits compared as text against the limits.
int32_t modelNumber(const std::string &value)
{
    size_t i = 0;
    while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
        negative = value[i] == '-';
        ++i;
    }
    std::string digits;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9') {
        if (!digits.empty() || value[i] != '0') {
            digits += value[i];
        }
        ++i;
    }
    const std::string limit = negative ? "2147483648" : "2147483647";
    if (digits.size() > limit.size() || (digits.size() == limit.size() && digits > limit)) {
        return negative ? INT32_MIN : INT32_MAX;
    }
    const int64_t magnitude = digits.empty() ? 0 : std::stoll(digits);
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t modelProduct(int32_t n, int64_t unit)
{
    int64_t low = (static_cast<int64_t>(n) * unit) % (int64_t{1} << 32);
    if (low < 0) {
        low += int64_t{1} << 32;
    }
    return low >= (int64_t{1} << 31) ? static_cast<int32_t>(low - (int64_t{1} << 32))
                                      : static_cast<int32_t>(low);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<char16_t> line(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2) {
        line[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }

    // The converted text: the Latin-1 prefix of the line, at most 256 bytes.
    NarrowCommandLine narrow;
    narrowCommandLine(line.data(), narrow);
    check(narrow.length <= maxCommandBytes);
    check(narrow.text[narrow.length] == '\0');
    for (uint32_t i = 0; i < narrow.length; ++i) {
        check(line[i] != 0 && line[i] <= 0xFF);
        check(static_cast<unsigned char>(narrow.text[i]) == line[i]);
    }
    check(narrow.length == maxCommandBytes || line[narrow.length] == 0 ||
          line[narrow.length] > 0xFF);
    const std::string text(narrow.text, narrow.length);

    // The tokens: one more than the blanks, none with a blank, rejoined exactly.
    CommandTokens tokens;
    splitCommandLine(narrow.text, narrow.length, tokens);
    size_t blanks = 0;
    for (char c : text) {
        blanks += c == ' ';
    }
    check(tokens.count == blanks + 1);
    std::vector<std::string> pieces;
    std::string joined;
    for (uint32_t i = 0; i < tokens.count; ++i) {
        const CommandToken &token = tokens.items[i];
        check(token.text >= narrow.text && token.text + token.length <= narrow.text + narrow.length);
        pieces.emplace_back(token.text, token.length);
        check(pieces.back().find(' ') == std::string::npos);
        joined += (i == 0 ? "" : " ") + pieces.back();
        check(readLeadingNumber(token) == modelNumber(pieces.back()));
    }
    check(joined == text);

    // The settings, against a walk of the pieces.
    LaunchSettings expected{1800000, 3, 1};
    for (size_t i = 0; i < pieces.size();) {
        const std::string &piece = pieces[i];
        const bool option = piece.size() >= 2 && piece[0] == '/';
        const char letter = option ? piece[1] : 0;
        if (option && i + 1 < pieces.size() && (letter == 'd' || letter == 'D')) {
            const std::string &value = pieces[i + 1];
            const bool seconds = !value.empty() && value.back() == 's';
            expected.delayMs = modelProduct(modelNumber(value), seconds ? 1000 : 60000);
            i += 2;
        } else if (option && i + 1 < pieces.size() && (letter == 'r' || letter == 'R')) {
            expected.postponeLimit = modelNumber(pieces[i + 1]);
            i += 2;
        } else {
            ++i;
        }
    }

    LaunchSettings settings{-1, -1, -1};
    parseLaunchOptions(line.data(), settings);
    check(settings.delayMs == expected.delayMs);
    check(settings.postponeLimit == expected.postponeLimit);
    check(settings.postponeCount == 1);

    LaunchSettings again{0, 0, 999};
    parseLaunchOptions(line.data(), again);
    check(std::memcmp(&again, &settings, sizeof settings) == 0);
    return 0;
}
