// The restart request against the real token and shutdown calls. Wine's
// InitiateSystemShutdownExW restarts nothing; checkRestartTrace.sh reads the
// request it prints on the advapi channel.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "restart/requestRestart.h"

namespace {

bool shutdownPrivilegeEnabled()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<BYTE> bytes(size);
    bool enabled = false;
    LUID shutdown;
    if (GetTokenInformation(token, TokenPrivileges, bytes.data(), size, &size) &&
        LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &shutdown)) {
        const auto *privileges = reinterpret_cast<const TOKEN_PRIVILEGES *>(bytes.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID &luid = privileges->Privileges[i].Luid;
            if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart)
                enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    CloseHandle(token);
    return enabled;
}

// Disabled first, whatever ran before in this process, so that the check
// after the request shows the request's own doing.
void disableShutdownPrivilege()
{
    HANDLE token = nullptr;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = 0;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token));
    EXPECT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) &&
                AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    CloseHandle(token);
}

TEST(RequestRestart, EnablesTheShutdownPrivilegeAndReturns)
{
    disableShutdownPrivilege();
    ASSERT_FALSE(shutdownPrivilegeEnabled());
    requestRestart();
    EXPECT_TRUE(shutdownPrivilegeEnabled());
}

} // namespace
