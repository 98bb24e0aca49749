#include "patchingGroupProbe.h"

namespace {

// Deployment tools are 32-bit and write to the 32-bit view, so that view is
// asked first, the 64-bit one only when the key is missing there. The 32-bit
// exe gets the 32-bit view by default; the 64-bit build asks for it.
#ifdef _WIN64
constexpr REGSAM firstView = KEY_WOW64_32KEY;
#else
constexpr REGSAM firstView = 0;
#endif
constexpr REGSAM secondView = KEY_WOW64_64KEY;

constexpr char keyPath[] = "SOFTWARE\\Quenlor";
constexpr char valueName[] = "PatchingGroup";

} // namespace

ProbeResult probePatchingGroup(char *buffer, DWORD *size)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | firstView, &key);
    if (result == ERROR_FILE_NOT_FOUND)
        result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | secondView, &key);
    if (result != ERROR_SUCCESS)
        return result == ERROR_FILE_NOT_FOUND ? ProbeResult::NotFound : ProbeResult::OpenFailed;

    result = RegQueryValueExA(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE *>(buffer), size);
    RegCloseKey(key);

    if (result == ERROR_SUCCESS)
        return ProbeResult::Ok;
    return result == ERROR_FILE_NOT_FOUND ? ProbeResult::NotFound : ProbeResult::QueryFailed;
}
