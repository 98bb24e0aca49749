// The kiosk comparison: byte-wise, ASCII letters folded, no locale.
#include "kioskGroup.h"

namespace {

unsigned char foldAsciiLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 0x20) : c;
}

} // namespace

bool isKioskGroup(const char *data)
{
    if (data == nullptr) {
        return false;
    }
    // Never reads past the 12th byte: the data need not hold a zero.
    for (unsigned i = 0; i < kioskGroupLength; ++i) {
        const auto a = static_cast<unsigned char>(data[i]);
        const auto b = static_cast<unsigned char>(kioskGroupValue[i]);
        if (a == 0 || b == 0) {
            return a == b;
        }
        if (foldAsciiLetter(a) != foldAsciiLetter(b)) {
            return false;
        }
    }
    return true;
}
