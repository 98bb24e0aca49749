#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "startup/kioskGroup.h"

namespace {

TEST(KioskGroup, Comparison)
{
    struct KioskCase {
        std::string data; // may hold zero bytes; c_str() adds one more
        bool kiosk;
    };
    const KioskCase cases[] = {
        {"Tavrin_Kiosk", true},
        {"TAVRIN_KIOSK", true},
        {"tAvRiN_kIoSk", true},
        {"Tavrin_Kiosk_Lab", true},
        {"Tavrin_Kiosk Lab", true},
        // A zero within the first 12 bytes: the data is shorter than the prefix.
        {"Tavrin", false},
        {"Tavrin_Kios", false},
        {std::string("Tavrin_Kios\0k", 13), false},
        {"", false},
        {" Tavrin_Kiosk", false},
        {"Tavrin-Kiosk", false},
        // No folding beyond A-Z: not the Latin-1 letters with the high bit,
        // nor '_' (0x5F) into DEL (0x7F).
        {"\xD4" "avrin_Kiosk", false},
        {"\xF4" "avrin_Kiosk", false},
        {"Tavrin\x7F" "Kiosk", false},
        {"Tavrin\xDF" "Kiosk", false},
        {"Tavrin_\xCBiosk", false},
        {"Tavrin_\xEBiosk", false},
        // REG_MULTI_SZ: the first string decides.
        {std::string("Tavrin_Kiosk\0Office\0", 20), true},
        {std::string("Office\0Tavrin_Kiosk\0", 20), false},
        // REG_DWORD: four raw bytes, then the zeroed rest of the buffer.
        {std::string("\x01\x00\x00\x00", 4), false},
        {std::string("Tavr\0\0\0\0", 8), false},
    };
    for (const KioskCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        EXPECT_EQ(isKioskGroup(c.data.c_str()), c.kiosk);
    }
    EXPECT_FALSE(isKioskGroup(nullptr));
}

TEST(KioskGroup, ReadsNoMoreThanTwelveBytes)
{
    // Exactly 12 bytes with no zero after them: AddressSanitizer reports any
    // read of a 13th.
    const std::string value = "tavrin_kiosk";
    std::unique_ptr<char[]> data(new char[kioskGroupLength]);
    value.copy(data.get(), kioskGroupLength);
    EXPECT_TRUE(isKioskGroup(data.get()));
}

} // namespace
