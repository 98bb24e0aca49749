// Finds the prompt's windows among the top-level windows of its process, for
// the test tools that work it from outside.
#pragma once

#include <windows.h>

#include <string>

struct DialogSearch {
    DWORD pid;
    HWND dialog;   // the prompt, class #32770
    HWND dropList; // the drop-down's list, class ComboLBox
};

inline BOOL CALLBACK findProcessWindows(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<DialogSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid)
        return TRUE;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (search->dialog == nullptr && std::wstring(className) == L"#32770")
        search->dialog = window;
    else if (search->dropList == nullptr && std::wstring(className) == L"ComboLBox")
        search->dropList = window;
    return TRUE;
}

inline DialogSearch findDialog(DWORD pid)
{
    DialogSearch search = {pid, nullptr, nullptr};
    EnumWindows(findProcessWindows, reinterpret_cast<LPARAM>(&search));
    return search;
}
