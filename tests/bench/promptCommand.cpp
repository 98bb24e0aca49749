// Sends one command to the running prompt, as its button would:
//   promptCommand.exe ID
// Finds the prompt among the top-level windows by its four controls (for 128,
// the postpone button, it waits until the prompt is visible), sends it
// WM_COMMAND ID, and prints the prompt's peak memory as Windows reports it,
// so that the caller can hold it against the kernel's figure.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>

namespace {

const int promptControls[] = {128, 1000, 1001, 1002};

BOOL CALLBACK findPrompt(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wcscmp(className, L"#32770") != 0)
        return TRUE;
    for (int id : promptControls) {
        if (GetDlgItem(window, id) == nullptr)
            return TRUE;
    }
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

HWND waitForPrompt(bool visible)
{
    for (int tries = 0; tries < 2000; ++tries) {
        HWND prompt = nullptr;
        EnumWindows(findPrompt, reinterpret_cast<LPARAM>(&prompt));
        if (prompt != nullptr && (!visible || IsWindowVisible(prompt)))
            return prompt;
        Sleep(10);
    }
    return nullptr;
}

void printPeakMemory(HWND prompt)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(prompt, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (process != nullptr && GetProcessMemoryInfo(process, &counters, sizeof counters))
        std::wprintf(L"peak_working_set_kB %llu peak_pagefile_kB %llu\n",
                     static_cast<unsigned long long>(counters.PeakWorkingSetSize / 1024),
                     static_cast<unsigned long long>(counters.PeakPagefileUsage / 1024));
    else
        std::wprintf(L"peak memory unavailable: %lu\n", GetLastError());
    if (process != nullptr)
        CloseHandle(process);
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        std::fwprintf(stderr, L"usage: promptCommand.exe ID\n");
        return 2;
    }
    int id = _wtoi(argv[1]);
    bool postpone = id == 128;
    HWND prompt = waitForPrompt(postpone);
    if (prompt == nullptr) {
        std::fwprintf(stderr, L"no %lsprompt found\n", postpone ? L"visible " : L"");
        return 1;
    }
    printPeakMemory(prompt);
    SendMessageW(prompt, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, id)));
    if (postpone) {
        for (int tries = 0; tries < 1000 && IsWindowVisible(prompt); ++tries)
            Sleep(10);
        if (IsWindowVisible(prompt)) {
            std::fwprintf(stderr, L"the prompt is still visible after the postpone command\n");
            return 1;
        }
        std::wprintf(L"postponed: the prompt is hidden\n");
    }
    return 0;
}
