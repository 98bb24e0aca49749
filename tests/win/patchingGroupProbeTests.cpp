// The patching-group probe and the kiosk test against the real registry of
// the wine prefix, in both registry views.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "startup/kioskGate.h"
#include "startup/kioskGroup.h"
#include "startup/patchingGroupProbe.h"

// gcc 12 warns falsely about std::string members of the aggregate case table.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

constexpr char keyPath[] = "SOFTWARE\\Quenlor";

// Denied: the key holds the value but refuses its reader.
enum class Place { None, KeyOnly, Value, Denied };

struct Stored {
    Place place;
    DWORD type;
    std::string data; // bytes as stored, terminating zeros included
};

void removeKey(REGSAM view) { RegDeleteKeyExA(HKEY_LOCAL_MACHINE, keyPath, view, 0); }

// Everyone may do anything with the key but read its values, so it can still
// be deleted afterwards.
void denyReading(HKEY key)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    alignas(DWORD) BYTE aclBytes[256];
    ACL *acl = reinterpret_cast<ACL *>(aclBytes);
    SECURITY_DESCRIPTOR descriptor;
    EXPECT_TRUE(InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
                AddAccessDeniedAce(acl, ACL_REVISION, KEY_QUERY_VALUE, everyone) &&
                AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
                InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor), ERROR_SUCCESS);
    FreeSid(everyone);
}

void store(REGSAM view, const Stored &stored)
{
    if (stored.place == Place::None)
        return;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, 0, KEY_ALL_ACCESS | view,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (stored.place != Place::KeyOnly) {
        EXPECT_EQ(RegSetValueExA(key, "PatchingGroup", 0, stored.type,
                                 reinterpret_cast<const BYTE *>(stored.data.data()),
                                 static_cast<DWORD>(stored.data.size())),
                  ERROR_SUCCESS);
    }
    if (stored.place == Place::Denied) {
        denyReading(key);
        HKEY reader = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | view, &reader), ERROR_ACCESS_DENIED)
            << "the registry does not enforce the key's security";
    }
    RegCloseKey(key);
}

std::string text(const std::string &s) { return s + std::string(1, '\0'); }
const Stored none = {Place::None, REG_NONE, ""};
const Stored keyOnly = {Place::KeyOnly, REG_NONE, ""};
Stored sz(const std::string &s) { return {Place::Value, REG_SZ, text(s)}; }
Stored denied(const std::string &s) { return {Place::Denied, REG_SZ, text(s)}; }
// A kiosk value whose text with its zero takes `bytes` bytes.
Stored kioskOfSize(size_t bytes) { return sz("Tavrin_Kiosk" + std::string(bytes - 13, 'x')); }
const std::string tavrBytes("\x54\x61\x76\x72", 4); // "Tavr", no zero

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
        {"256 bytes exactly", kioskOfSize(256), none, ProbeResult::Ok, true},
        {"257 bytes", kioskOfSize(257), none, ProbeResult::QueryFailed, false},
        {"32-bit key refuses reading: no second try", denied("Office"), sz("Tavrin_Kiosk"),
         ProbeResult::OpenFailed, false},
        {"only the 64-bit key, refusing reading", none, denied("Tavrin_Kiosk"), ProbeResult::OpenFailed,
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
        {"dword of the first four bytes", {Place::Value, REG_DWORD, tavrBytes}, none, ProbeResult::Ok, false},
    };
    for (const ProbeCase &c : cases) {
        SCOPED_TRACE(c.name);
        clear();
        store(KEY_WOW64_32KEY, c.view32);
        store(KEY_WOW64_64KEY, c.view64);

        // As the gate does it: a cleared 260-byte buffer, 256 bytes offered;
        // the last four marked to see a write beyond the offer.
        char buffer[260] = {};
        std::memset(buffer + 256, 'Z', 4);
        DWORD size = 256;
        ProbeResult result = probePatchingGroup(buffer, &size);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(result == ProbeResult::Ok && isKioskGroup(buffer), c.kiosk);
        EXPECT_EQ(std::string(buffer + 256, 4), "ZZZZ") << "wrote beyond the offer";
    }
}

// The gate as the entry runs it, on a work buffer that already holds the
// prefix: only what the read wrote may take part in the comparison.
TEST_F(PatchingGroupProbe, KioskGateComparesOnlyWhatWasRead)
{
    const struct {
        const char *name;
        Stored view32;
        bool kiosk;
    } cases[] = {
        {"binary \"Tavr\"", {Place::Value, REG_BINARY, tavrBytes}, false},
        {"dword \"Tavr\"", {Place::Value, REG_DWORD, tavrBytes}, false},
        {"no key", none, false},
        {"key refuses reading", denied("Tavrin_Kiosk"), false},
        {"other group", sz("Office"), false},
        {"kiosk", sz("tavrin_kiosk"), true},
        {"kiosk of 256 bytes", kioskOfSize(256), true},
        {"kiosk of 257 bytes: more than offered", kioskOfSize(257), false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        clear();
        store(KEY_WOW64_32KEY, c.view32);
        char workBuffer[workBufferSize];
        for (unsigned i = 0; i < workBufferSize; ++i)
            workBuffer[i] = kioskGroupValue[i % kioskGroupLength];
        EXPECT_EQ(isKioskMachine(workBuffer), c.kiosk);
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
