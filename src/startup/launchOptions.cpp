// The command line and its options: /d, the length of one postponement, and
// /r, the number of postponements allowed. Every command line yields settings;
// nothing is rejected. No heap memory: the tokens are views into the fixed
// buffer of the converted text.
#include "launchOptions.h"

#include <cstddef>

namespace {

// The signed 32-bit value with the same bits, without relying on how the
// compiler converts an out-of-range unsigned value.
int32_t wrapToInt32(uint32_t bits)
{
    if (bits <= 0x7FFFFFFFu) {
        return static_cast<int32_t>(bits);
    }
    return -static_cast<int32_t>(~bits) - 1;
}

// Bytes, not chars: 0x80-0xFF must never count as white space or digits,
// whatever the signedness of char or the locale.
bool isBlankByte(unsigned char c)
{
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
}

bool isDigitByte(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool selectsOption(const CommandToken &token, char lower, char upper)
{
    return token.length >= 2 && token.text[0] == '/' &&
           (token.text[1] == lower || token.text[1] == upper);
}

bool endsInSeconds(const CommandToken &value)
{
    return value.length > 0 && value.text[value.length - 1] == 's';
}

} // namespace

namespace {

// The value of one unit, whatever the unit type's signedness (wchar_t is
// signed on some hosts: a negative value is no Latin-1 character either).
uint32_t unitValue(char16_t unit) { return unit; }
uint32_t unitValue(wchar_t unit) { return static_cast<uint32_t>(unit); }

// Reads the units by value: wchar_t on Windows and char16_t in the tests
// serve alike, and nothing is read through a pointer of another type.
template <typename Unit>
void narrowUnits(const Unit *commandLine, NarrowCommandLine &out)
{
    uint32_t length = 0;
    if (commandLine != nullptr) {
        // A surrogate unit is above U+00FF too, so a pair ends the text.
        while (length < maxCommandBytes) {
            const uint32_t unit = unitValue(commandLine[length]);
            if (unit == 0 || unit > 0xFF) {
                break;
            }
            out.text[length] = static_cast<char>(static_cast<unsigned char>(unit));
            ++length;
        }
    }
    out.text[length] = '\0';
    out.length = length;
}

} // namespace

void narrowCommandLine(const char16_t *commandLine, NarrowCommandLine &out)
{
    narrowUnits(commandLine, out);
}

void splitCommandLine(const char *text, uint32_t length, CommandTokens &tokens)
{
    // A longer text could not fit the token list; a converted command line
    // never is longer.
    if (length > maxCommandBytes) {
        length = maxCommandBytes;
    }
    tokens.count = 0;
    uint32_t start = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (text[i] == ' ') {
            tokens.items[tokens.count++] = CommandToken{text + start, i - start};
            start = i + 1;
        }
    }
    tokens.items[tokens.count++] = CommandToken{text + start, length - start};
}

int32_t readLeadingNumber(const CommandToken &value)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(value.text);
    uint32_t i = 0;
    while (i < value.length && isBlankByte(bytes[i])) {
        ++i;
    }
    bool negative = false;
    if (i < value.length && (bytes[i] == '+' || bytes[i] == '-')) {
        negative = bytes[i] == '-';
        ++i;
    }
    // The magnitude stops growing once it is past the int32 range, so any
    // number of digits fits.
    const int64_t beyondRange = int64_t{1} << 31;
    int64_t magnitude = 0;
    while (i < value.length && isDigitByte(bytes[i])) {
        if (magnitude <= beyondRange) {
            magnitude = magnitude * 10 + (bytes[i] - '0');
        }
        ++i;
    }
    if (negative) {
        return magnitude >= beyondRange ? INT32_MIN : static_cast<int32_t>(-magnitude);
    }
    return magnitude >= beyondRange ? INT32_MAX : static_cast<int32_t>(magnitude);
}

namespace {

void parseNarrow(const NarrowCommandLine &narrow, LaunchSettings &settings)
{
    settings.delayMs = defaultDelayMs;
    settings.postponeLimit = defaultPostponeLimit;
    settings.postponeCount = 1;

    CommandTokens tokens;
    splitCommandLine(narrow.text, narrow.length, tokens);

    uint32_t i = 0;
    while (i < tokens.count) {
        const CommandToken &token = tokens.items[i];
        const bool isDelay = selectsOption(token, 'd', 'D');
        const bool isLimit = !isDelay && selectsOption(token, 'r', 'R');
        if ((isDelay || isLimit) && i + 1 < tokens.count) {
            const CommandToken &value = tokens.items[i + 1];
            const int32_t n = readLeadingNumber(value);
            if (isDelay) {
                // The product keeps its low 32 bits: large values wrap.
                const uint32_t unitMs = endsInSeconds(value) ? 1000u : 60000u;
                settings.delayMs = wrapToInt32(static_cast<uint32_t>(n) * unitMs);
            } else {
                settings.postponeLimit = n;
            }
            i += 2;
        } else {
            ++i;
        }
    }
}

} // namespace

void parseLaunchOptions(const char16_t *commandLine, LaunchSettings &settings)
{
    NarrowCommandLine narrow;
    narrowUnits(commandLine, narrow);
    parseNarrow(narrow, settings);
}

void parseLaunchOptions(const wchar_t *commandLine, LaunchSettings &settings)
{
    NarrowCommandLine narrow;
    narrowUnits(commandLine, narrow);
    parseNarrow(narrow, settings);
}
