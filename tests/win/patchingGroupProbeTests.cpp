// The patching-group probe and the kiosk test against the real registry of
// the wine prefix, in both registry views.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "startup/kioskGroup.h"
#include "startup/patchingGroupProbe.h"

// gcc 12 warns falsely about std::string members of the aggregate case table.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

constexpr char keyPath[] = "SOFTWARE\\Quenlor";

enum class Place { None, KeyOnly, Value };

struct Stored {
    Place place;
    DWORD type;
    std::string data; // bytes as stored, terminating zeros included
};

void removeKey(REGSAM view) { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, keyPath, view, 0); }

void store(REGSAM view, const Stored &stored)
{
    if (stored.place == Place::None)
        return;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (stored.place == Place::Value) {
        EXPECT_EQ(RegSetValueExA(key, "PatchingGroup", 0, stored.type,
                                 reinterpret_cast<const BYTE *>(stored.data.data()),
                                 static_cast<DWORD>(stored.data.size())),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
}

std::string text(const std::string &s) { return s + std::string(1, '\0'); }
const Stored none = {Place::None, REG_NONE, ""};
const Stored keyOnly = {Place::KeyOnly, REG_NONE, ""};
Stored sz(const std::string &s) { return {Place::Value, REG_SZ, text(s)}; }

struct ProbeCase {
    const char *name;
    Stored view32;
    Stored view64;
    ProbeResult result;
    bool kiosk;
};

class PatchingGroupProbe : public testing::Test {
  protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        removeKey(KEY_WOW64_32KEY);
        removeKey(KEY_WOW64_64KEY);
    }
};

TEST_F(PatchingGroupProbe, ViewsTypesAndValues)
{
    SetEnvironmentVariableA("PATCHGROUP", "Tavrin_Kiosk");
    const std::string dword("\x54\x61\x76\x72", 4); // the bytes of "Tavr"
    const ProbeCase cases[] = {
        {"no key in either view", none, none, ProbeResult::NotFound, false},
        {"kiosk only in the 64-bit view", none, sz("Tavrin_Kiosk"), ProbeResult::Ok, true},
        {"32-bit key without the value hides the 64-bit view", keyOnly, sz("Tavrin_Kiosk"),
         ProbeResult::NotFound, false},
        {"kiosk in the 32-bit view", sz("Tavrin_Kiosk"), none, ProbeResult::Ok, true},
        {"the 32-bit view wins", sz("Office"), sz("Tavrin_Kiosk"), ProbeResult::Ok, false},
        {"mixed case", sz("tAVRIN_kIOSK"), none, ProbeResult::Ok, true},
        {"longer value", sz("Tavrin_Kiosk_Lobby-3"), none, ProbeResult::Ok, true},
        {"six characters", sz("Tavrin"), none, ProbeResult::Ok, false},
        {"empty", sz(""), none, ProbeResult::Ok, false},
        {"blank before the prefix", sz(" Tavrin_Kiosk"), none, ProbeResult::Ok, false},
        {"another group", sz("Tavrin_Office"), none, ProbeResult::Ok, false},
        {"over 256 bytes", sz("Tavrin_Kiosk" + std::string(300, 'x')), none, ProbeResult::QueryFailed,
         false},
        {"multi-string, first decides", {Place::Value, REG_MULTI_SZ, text(text("Tavrin_Kiosk") + "B")},
         none, ProbeResult::Ok, true},
        {"multi-string, second does not", {Place::Value, REG_MULTI_SZ, text(text("A") + "Tavrin_Kiosk")},
         none, ProbeResult::Ok, false},
        {"expand-string compared unexpanded", {Place::Value, REG_EXPAND_SZ, text("%PATCHGROUP%")}, none,
         ProbeResult::Ok, false},
        {"expand-string beginning with the prefix", {Place::Value, REG_EXPAND_SZ, text("Tavrin_Kiosk%TEMP%")},
         none, ProbeResult::Ok, true},
        {"binary, the prefix's twelve bytes", {Place::Value, REG_BINARY, "TAVRIN_KIOSK"}, none,
         ProbeResult::Ok, true},
        {"binary, short without a zero", {Place::Value, REG_BINARY, "Tavri"}, none, ProbeResult::Ok, false},
        {"dword of the first four bytes", {Place::Value, REG_DWORD, dword}, none, ProbeResult::Ok, false},
    };
    for (const ProbeCase &c : cases) {
        SCOPED_TRACE(c.name);
        clear();
        store(KEY_WOW64_32KEY, c.view32);
        store(KEY_WOW64_64KEY, c.view64);

        // As the entry does it: a cleared 260-byte buffer, 256 bytes offered.
        char buffer[260] = {};
        DWORD size = 256;
        ProbeResult result = probePatchingGroup(buffer, &size);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(result == ProbeResult::Ok && isKioskGroup(buffer), c.kiosk);
        EXPECT_EQ(std::string(buffer + 256, 4), std::string(4, '\0')) << "wrote beyond the offer";
    }
}

TEST_F(PatchingGroupProbe, KeyWithoutValueInTheOnlyViewIsNotFound)
{
    store(KEY_WOW64_64KEY, keyOnly);
    char buffer[260] = {};
    DWORD size = 256;
    EXPECT_EQ(probePatchingGroup(buffer, &size), ProbeResult::NotFound);
}

} // namespace
