// Load from outside: starts the real prompt, sends it thousands of messages in
// random order (postpones, close requests, language selections, unknown
// commands, foreign timers and timer 111 itself) and after each one compares
// what can be seen of the prompt with a model of the postponement rules.
//   loadTool.exe PROMPT_EXE MESSAGES SEED LIMIT
// Exit code 0 when the prompt followed the model throughout, kept its memory,
// and "Restart Now" still ended it with 0.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdint>
#include <string>

#include "../e2e/promptWindows.h"
#include "resource.h"

namespace {

struct Model {
    bool visible = true;
    bool enabled = true;
    int64_t count = 1;
    int64_t limit = 3;
    int language = 0;
};

const wchar_t *const postponeLabels[] = {L"Restart Later", L"Diff\u00E9rer", L"Neuladen Sp\u00E4ter"};

uint64_t rngState;
uint32_t nextRandom()
{
    // xorshift64*: the same sequence for the same seed on every run.
    rngState ^= rngState >> 12;
    rngState ^= rngState << 25;
    rngState ^= rngState >> 27;
    return static_cast<uint32_t>((rngState * 2685821657736338717ull) >> 32);
}

std::wstring textOf(HWND window)
{
    wchar_t text[256] = {};
    SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

// 0 when the figure cannot be read.
SIZE_T privateBytes(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof counters))
        return 0;
    // Some Wine versions fill only the basic counters; the commit charge
    // there is the same figure.
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc != 5) {
        fwprintf(stderr, L"usage: loadTool PROMPT_EXE MESSAGES SEED LIMIT\n");
        return 2;
    }
    const long messages = wcstol(argv[2], nullptr, 10);
    rngState = static_cast<uint64_t>(wcstoll(argv[3], nullptr, 10)) | 1;
    Model model;
    model.limit = wcstol(argv[4], nullptr, 10);

    // A long delay: no real expiry during the run, so every expiry is ours.
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\" /d 60 /r " + argv[4];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        fwprintf(stderr, L"cannot start %ls: %lu\n", argv[1], GetLastError());
        return 1;
    }
    WaitForInputIdle(process.hProcess, 10000);
    HWND dialog = nullptr;
    for (int i = 0; i < 200 && dialog == nullptr; ++i) {
        dialog = findDialog(process.dwProcessId).dialog;
        if (dialog == nullptr)
            Sleep(50);
    }
    if (dialog == nullptr) {
        fwprintf(stderr, L"no prompt found\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    HWND postponeButton = GetDlgItem(dialog, IDC_RESTART_LATER);
    HWND language = GetDlgItem(dialog, IDC_LANGUAGE);
    if (model.limit == 0) {
        model.count = 999;
        model.enabled = false;
    }

    // The prompt's first postponements and its text buffers warm up here.
    const SIZE_T memoryBefore = privateBytes(process.hProcess);
    int failures = 0;
    for (long i = 0; i < messages && failures < 5; ++i) {
        const uint32_t pick = nextRandom() % 100;
        const char *what;
        if (pick < 15) {
            what = "postpone";
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_RESTART_LATER, nextRandom() % 2 ? BN_CLICKED : 7), 0);
            model.visible = false;
        } else if (pick < 35) {
            what = "close";
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            if (model.count <= model.limit)
                model.visible = false;
        } else if (pick < 55) {
            what = "timer 111";
            SendMessageW(dialog, WM_TIMER, IDT_POSTPONE, 0);
            if (model.count >= model.limit)
                model.enabled = false;
            model.count += 1;
            model.visible = true;
        } else if (pick < 70) {
            what = "language";
            const int index = static_cast<int>(nextRandom() % 3);
            SendMessageW(language, CB_SETCURSEL, index, 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELENDOK), reinterpret_cast<LPARAM>(language));
            model.language = index;
        } else if (pick < 75) {
            what = "other drop-down notification";
            SendMessageW(language, CB_SETCURSEL, nextRandom() % 3, 0);
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELCHANGE), reinterpret_cast<LPARAM>(language));
            // The selection moved but the texts stay; put it back as it was.
            SendMessageW(language, CB_SETCURSEL, model.language, 0);
        } else if (pick < 90) {
            static const WORD unknown[] = {IDOK, IDCANCEL, 3, 999, IDC_MESSAGE, 106, 127, 129, 1003, 40000};
            what = "unknown command";
            SendMessageW(dialog, WM_COMMAND, unknown[nextRandom() % 10], 0);
        } else {
            static const WPARAM foreign[] = {0, 1, 110, 112, 0x10000 + IDT_POSTPONE, 9999};
            what = "foreign timer";
            SendMessageW(dialog, WM_TIMER, foreign[nextRandom() % 6], 0);
        }

        const bool visible = IsWindowVisible(dialog) != FALSE;
        const bool enabled = IsWindowEnabled(postponeButton) != FALSE;
        const std::wstring postponeLabel = textOf(postponeButton);
        const bool textsRight = postponeLabel == postponeLabels[model.language];
        if (!IsWindow(dialog) || visible != model.visible || enabled != model.enabled || !textsRight) {
            ++failures;
            fwprintf(stderr,
                     L"message %ld (%hs): visible %d expected %d, button %d expected %d, texts %ls "
                     L"for language %d, count %lld limit %lld, button label \"%ls\"\n",
                     i, what, visible, model.visible, enabled, model.enabled,
                     textsRight ? L"right" : L"wrong", model.language, static_cast<long long>(model.count),
                     static_cast<long long>(model.limit), postponeLabel.c_str());
        }
    }

    const SIZE_T memoryAfter = privateBytes(process.hProcess);
    wprintf(L"%ld messages, seed %ls, limit %lld: final count %lld, private bytes %zu -> %zu\n", messages,
            argv[3], static_cast<long long>(model.limit), static_cast<long long>(model.count), memoryBefore,
            memoryAfter);
    // Growth of a few pages is the allocator; a leak per message would be far more.
    if (memoryBefore == 0 || memoryAfter == 0) {
        fwprintf(stderr, L"the prompt's memory could not be read\n");
        ++failures;
    } else if (memoryAfter > memoryBefore + 256 * 1024) {
        fwprintf(stderr, L"memory grew by %zu bytes\n", memoryAfter - memoryBefore);
        ++failures;
    }

    // "Restart Now" must still end the run with 0.
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_RESTART_NOW, BN_CLICKED), 0);
    DWORD exitCode = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        fwprintf(stderr, L"the prompt did not end after Restart Now\n");
        TerminateProcess(process.hProcess, 1);
        ++failures;
    } else {
        GetExitCodeProcess(process.hProcess, &exitCode);
        wprintf(L"exit code after Restart Now: %lu\n", exitCode);
        if (exitCode != 0)
            ++failures;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(failures == 0 ? L"PASS\n" : L"FAIL\n");
    return failures == 0 ? 0 : 1;
}
