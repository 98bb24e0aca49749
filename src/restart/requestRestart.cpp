#include "requestRestart.h"

#include <windows.h>

namespace {

// Planned, operating system, upgrade.
constexpr DWORD restartReason = SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM |
                                SHTDN_REASON_MINOR_UPGRADE;
static_assert(restartReason == 0x80020003);

wchar_t restartMessage[] = L"The system is restarting to apply upates.";

} // namespace

void requestRestart()
{
    // The system grants a restart only to a token with this privilege enabled.
    HANDLE token = nullptr;
    BOOL opened = OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    BOOL found = LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    if (opened && found) {
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    if (opened)
        CloseHandle(token);

    // Asked for whatever the steps above achieved: the system has the last word.
    InitiateSystemShutdownExW(nullptr, restartMessage, 0, TRUE, TRUE, restartReason);
}
