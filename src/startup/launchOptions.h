// The command line and its options /d and /r. No Windows headers: the
// command line arrives as UTF-16 code units, read one by one by value.
#pragma once

#include <cstdint>

#include "launchSettings.h"

// The converted command line holds at most this many bytes.
constexpr uint32_t maxCommandBytes = 256;
// One token more than there can be blanks.
constexpr uint32_t maxCommandTokens = maxCommandBytes + 1;

// Latin-1 text of the command line, cut before the first character above
// U+00FF and after 256 bytes. `text` is zero-terminated.
struct NarrowCommandLine {
    char text[maxCommandBytes + 1];
    uint32_t length;
};

// A view into a NarrowCommandLine; never owns memory.
struct CommandToken {
    const char *text;
    uint32_t length;
};

// The pieces of the text between blanks. Fixed storage, so splitting cannot
// fail for want of memory.
struct CommandTokens {
    CommandToken items[maxCommandTokens];
    uint32_t count;
};

void narrowCommandLine(const char16_t *commandLine, NarrowCommandLine &out);
void splitCommandLine(const char *text, uint32_t length, CommandTokens &tokens);
int32_t readLeadingNumber(const CommandToken &value);
// The command line as the tests hold it, and as Windows hands it to the entry.
void parseLaunchOptions(const char16_t *commandLine, LaunchSettings &settings);
void parseLaunchOptions(const wchar_t *commandLine, LaunchSettings &settings);
