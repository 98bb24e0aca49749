// Start-up clock: starts two programs in alternating pairs (A B, B A, ...) so
// that the machine's drift falls on both alike, and for each run measures
//   - the time from just before CreateProcessW to the moment a visible
//     top-level window of the new process exists,
//   - the time until the process first waits for input (WaitForInputIdle),
//   - its peak working set and peak pagefile usage at that point,
//   - the CPU time its process has used by then, from the kernel's
//     /proc/<pid>/task/*/schedstat (Wine's GetProcessTimes answers with the
//     caller's own times for another process),
// then posts WM_QUIT to its thread so that it ends normally.
//
//   startupClock.exe [--poll] [--warmup N] PAIRS FLOOR.exe PROGRAM.exe [ARGS...]
//   startupClock.exe [--poll] --once PROGRAM.exe [ARGS...]
//
// Prints one line per pair and the medians of the per-pair ratios
// PROGRAM / FLOOR. Exit code 0 when every run showed a window and ended by itself.
//
// Wine raises EVENT_OBJECT_CREATE across processes but no EVENT_OBJECT_SHOW,
// so the clock learns the new process's top-level windows from the creation
// event and then asks only those, every 1 ms, whether they are visible: no
// load on the wineserver before the window exists, one call a millisecond
// after. Until then a full EnumWindows every 20 ms is the safety net (a pair
// with a window found that way is left out of the figures, and counted). --poll instead walks EnumWindows every 1 ms
// from the start, to compare.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct RunResult {
    bool ok;
    bool seenByEvent; // false: found by the safety poll, up to 20 ms late
    double shownMs;
    double idleMs;
    double peakWorkingSetKb;
    double peakPagefileKb;
    double cpuMs; // negative when the kernel's figure could not be found
    DWORD exitCode;
};

LARGE_INTEGER frequency;
DWORD watchedPid;
std::vector<HWND> watchedWindows;
bool usePolling;

LONGLONG now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

double msBetween(LONGLONG from, LONGLONG to)
{
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool isShownTopLevelOfWatched(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid == watchedPid && GetAncestor(window, GA_PARENT) == GetDesktopWindow() &&
           IsWindowVisible(window);
}

void CALLBACK onCreateEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD)
{
    if (window == nullptr || object != OBJID_WINDOW || child != CHILDID_SELF)
        return;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == watchedPid && GetAncestor(window, GA_PARENT) == GetDesktopWindow())
        watchedWindows.push_back(window);
}

bool anyWatchedWindowShown()
{
    for (HWND window : watchedWindows) {
        if (IsWindowVisible(window))
            return true;
    }
    return false;
}

BOOL CALLBACK pollWindow(HWND window, LPARAM found)
{
    if (!isShownTopLevelOfWatched(window))
        return TRUE;
    *reinterpret_cast<bool *>(found) = true;
    return FALSE;
}

bool pollForShownWindow()
{
    bool found = false;
    EnumWindows(pollWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Wine maps the root of the Unix file system to Z:.
std::string windowsPathOf(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool readUnixFile(const std::string &unixPath, std::string &text)
{
    HANDLE file = CreateFileA(windowsPathOf(unixPath).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    text.clear();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return true;
}

std::vector<std::string> unixDirectoryEntries(const std::string &unixPath)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA(windowsPathOf(unixPath + "/*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.push_back(entry.cFileName);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

bool allDigits(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The Unix process of a program that this clock started: Wine forks it off
// twice, so it is no child of ours; it is the newest live process of this
// Wine prefix whose kernel name is the exe's file name (cut to 15 bytes).
long unixPidOf(const std::wstring &exePath)
{
    std::wstring wideName = exePath.substr(exePath.find_last_of(L"\\/") + 1);
    std::string name(wideName.begin(), wideName.end());
    name = name.substr(0, 15);
    char prefix[MAX_PATH] = {};
    GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH);
    std::string prefixEntry = std::string("WINEPREFIX=") + prefix;

    long found = -1;
    unsigned long long newest = 0;
    std::string text;
    for (const std::string &entry : unixDirectoryEntries("/proc")) {
        if (!allDigits(entry) || !readUnixFile("/proc/" + entry + "/stat", text))
            continue;
        size_t open = text.find('(');
        size_t close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos || text.compare(open + 1, close - open - 1, name) != 0)
            continue;
        // After the name: state, then field 22 of the line, the start time.
        const char *field = text.c_str() + close + 2;
        if (*field == 'Z')
            continue;
        for (int skip = 3; skip < 22 && field != nullptr; ++skip) {
            field = std::strchr(field, ' ');
            if (field != nullptr)
                ++field;
        }
        if (field == nullptr)
            continue;
        unsigned long long started = std::strtoull(field, nullptr, 10);
        std::string environment;
        if (prefix[0] != '\0' && (!readUnixFile("/proc/" + entry + "/environ", environment) ||
                                  environment.find(prefixEntry + '\0') == std::string::npos))
            continue;
        if (found < 0 || started >= newest) {
            found = std::atol(entry.c_str());
            newest = started;
        }
    }
    return found;
}

// Time on the CPU of every thread of the process, in nanoseconds.
double cpuMsOf(long unixPid)
{
    std::string base = "/proc/" + std::to_string(unixPid) + "/task";
    double totalNs = 0;
    bool any = false;
    std::string text;
    for (const std::string &task : unixDirectoryEntries(base)) {
        if (!allDigits(task) || !readUnixFile(base + "/" + task + "/schedstat", text))
            continue;
        totalNs += std::strtod(text.c_str(), nullptr);
        any = true;
    }
    return any ? totalNs / 1e6 : -1.0;
}

// Quoted as CreateProcessW's parser reads it back.
std::wstring commandLineOf(const std::vector<std::wstring> &command)
{
    std::wstring line;
    for (size_t i = 0; i < command.size(); ++i) {
        if (i != 0)
            line += L' ';
        line += L'"' + command[i] + L'"';
    }
    return line;
}

RunResult runOnce(const std::vector<std::wstring> &command)
{
    RunResult result = {};
    std::wstring line = commandLineOf(command);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};

    watchedPid = 0;
    watchedWindows.clear();
    LONGLONG start = now();
    if (!CreateProcessW(command[0].c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fwprintf(stderr, L"CreateProcessW %ls failed: %lu\n", command[0].c_str(), GetLastError());
        return result;
    }
    // Events of the new process queue up until this thread pumps them, so
    // none is lost between CreateProcessW and here.
    watchedPid = process.dwProcessId;

    bool shown = false;
    LONGLONG shownAt = 0;
    bool ended = false;
    bool timedOut = false;
    while (!shown) {
        DWORD timeoutMs = usePolling || !watchedWindows.empty() ? 1 : 20;
        DWORD wait = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, timeoutMs, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        if (usePolling) {
            shown = pollForShownWindow();
        } else if (!watchedWindows.empty()) {
            shown = anyWatchedWindowShown();
            result.seenByEvent = shown;
        } else if (wait == WAIT_TIMEOUT) {
            shown = pollForShownWindow();
        }
        if (shown) {
            shownAt = now();
            break;
        }
        if (wait == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (msBetween(start, now()) > 20000.0) {
            timedOut = true;
            break;
        }
    }

    if (shown) {
        result.shownMs = msBetween(start, shownAt);
        if (WaitForInputIdle(process.hProcess, 10000) == 0)
            result.idleMs = msBetween(start, now());
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
            result.peakWorkingSetKb = static_cast<double>(counters.PeakWorkingSetSize) / 1024.0;
            result.peakPagefileKb = static_cast<double>(counters.PeakPagefileUsage) / 1024.0;
        } else {
            std::fwprintf(stderr, L"GetProcessMemoryInfo failed: %lu\n", GetLastError());
        }
        long unixPid = unixPidOf(command[0]);
        result.cpuMs = unixPid > 0 ? cpuMsOf(unixPid) : -1.0;
    } else {
        std::fwprintf(stderr, L"%ls: %ls\n", command[0].c_str(),
                      ended ? L"ended without showing a window" : timedOut ? L"no window within 20 s" : L"?");
    }

    // Ends the run the way the program's own quit would.
    if (!ended) {
        PostThreadMessageW(process.dwThreadId, WM_QUIT, 0, 0);
        if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
            std::fwprintf(stderr, L"%ls: did not end on WM_QUIT; terminated\n", command[0].c_str());
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, 10000);
        }
    }
    GetExitCodeProcess(process.hProcess, &result.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.ok = shown && result.exitCode == 0 && result.peakWorkingSetKb > 0;
    return result;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

const wchar_t *fileNameOf(const std::wstring &path)
{
    size_t slash = path.find_last_of(L"\\/");
    return path.c_str() + (slash == std::wstring::npos ? 0 : slash + 1);
}

// What each run yields, in the order of the output's columns.
const struct {
    const wchar_t *name;
    double RunResult::*value;
} measures[] = {
    {L"shown_ms", &RunResult::shownMs},
    {L"idle_ms", &RunResult::idleMs},
    {L"cpu_ms", &RunResult::cpuMs},
    {L"peak_working_set_kB", &RunResult::peakWorkingSetKb},
    {L"peak_pagefile_kB", &RunResult::peakPagefileKb},
};
constexpr size_t measureCount = sizeof measures / sizeof measures[0];

int usage()
{
    std::fwprintf(stderr, L"usage: startupClock.exe [--poll] [--warmup N] PAIRS FLOOR.exe PROGRAM.exe [ARGS...]\n"
                          L"       startupClock.exe [--poll] --once PROGRAM.exe [ARGS...]\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    QueryPerformanceFrequency(&frequency);
    int warmupPairs = 2;
    bool once = false;
    int next = 1;
    for (; next < argc && argv[next][0] == L'-'; ++next) {
        if (std::wcscmp(argv[next], L"--poll") == 0)
            usePolling = true;
        else if (std::wcscmp(argv[next], L"--once") == 0)
            once = true;
        else if (std::wcscmp(argv[next], L"--warmup") == 0 && next + 1 < argc)
            warmupPairs = _wtoi(argv[++next]);
        else
            return usage();
    }

    // Brings up Wine's desktop process now if it is not running: left to the
    // first child, its start-up would be measured, and the child and this
    // clock may both start one and wait for each other.
    GetDesktopWindow();

    HWINEVENTHOOK hook = nullptr;
    if (!usePolling) {
        hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_CREATE, nullptr, onCreateEvent, 0, 0,
                               WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
        if (hook == nullptr) {
            std::fwprintf(stderr, L"SetWinEventHook failed: %lu\n", GetLastError());
            return 1;
        }
    }

    if (once) {
        if (next >= argc)
            return usage();
        RunResult run = runOnce(std::vector<std::wstring>(argv + next, argv + argc));
        std::wprintf(L"%ls:", fileNameOf(argv[next]));
        for (const auto &measure : measures)
            std::wprintf(L" %ls %.1f", measure.name, run.*measure.value);
        std::wprintf(L" exit %lu\n", run.exitCode);
        return run.ok ? 0 : 1;
    }

    if (argc - next < 3)
        return usage();
    int pairs = _wtoi(argv[next]);
    if (pairs < 1)
        return usage();
    std::vector<std::wstring> floorCommand = {argv[next + 1]};
    std::vector<std::wstring> programCommand(argv + next + 2, argv + argc);

    std::vector<double> floorValues[measureCount], programValues[measureCount], ratios[measureCount],
        differences[measureCount];
    int failures = 0;
    int foundBySafetyPoll = 0;

    std::wprintf(L"# floor %ls, program %ls; %d pairs after %d warm-up pairs; window found by %ls\n",
                 fileNameOf(floorCommand[0]), fileNameOf(programCommand[0]), pairs, warmupPairs,
                 usePolling ? L"EnumWindows every 1 ms" : L"EVENT_OBJECT_CREATE, then IsWindowVisible every 1 ms");
    std::wprintf(L"# pair order");
    for (const auto &measure : measures)
        std::wprintf(L" | %ls floor program ratio", measure.name);
    std::wprintf(L"\n");
    for (int pair = -warmupPairs; pair < pairs; ++pair) {
        // Even pairs start with the floor, odd ones with the program.
        bool floorFirst = (pair + warmupPairs) % 2 == 0;
        RunResult first = runOnce(floorFirst ? floorCommand : programCommand);
        RunResult second = runOnce(floorFirst ? programCommand : floorCommand);
        const RunResult &floor = floorFirst ? first : second;
        const RunResult &program = floorFirst ? second : first;
        if (pair < 0)
            continue;
        if (!floor.ok || !program.ok) {
            std::wprintf(L"%6d failed (floor ok %d exit %lu, program ok %d exit %lu)\n", pair + 1, floor.ok,
                         floor.exitCode, program.ok, program.exitCode);
            ++failures;
            continue;
        }
        // Found by the safety poll, a time may be up to 20 ms late: left out.
        if (!usePolling && (!floor.seenByEvent || !program.seenByEvent)) {
            std::wprintf(L"%6d left out: a window was found only by the 20 ms safety poll\n", pair + 1);
            ++foundBySafetyPoll;
            continue;
        }
        std::wprintf(L"%6d %-5ls", pair + 1, floorFirst ? L"FP" : L"PF");
        for (size_t i = 0; i < measureCount; ++i) {
            double floorValue = floor.*measures[i].value;
            double programValue = program.*measures[i].value;
            if (floorValue <= 0 || programValue < 0) {
                std::wprintf(L" | %9ls %9ls %6ls", L"-", L"-", L"-");
                continue;
            }
            floorValues[i].push_back(floorValue);
            programValues[i].push_back(programValue);
            ratios[i].push_back(programValue / floorValue);
            differences[i].push_back(programValue - floorValue);
            std::wprintf(L" | %9.1f %9.1f %6.3f", floorValue, programValue, ratios[i].back());
        }
        std::wprintf(L"\n");
        std::fflush(stdout);
    }
    if (hook != nullptr)
        UnhookWinEvent(hook);

    std::wprintf(L"pairs measured: %zu, failed: %d, left out (window found only by the 20 ms safety poll): %d\n",
                 ratios[0].size(), failures, foundBySafetyPoll);
    for (size_t i = 0; i < measureCount; ++i) {
        std::vector<double> sorted = ratios[i];
        std::sort(sorted.begin(), sorted.end());
        size_t n = sorted.size();
        // Distribution-free 95% interval of the median: the order statistics
        // n/2 -+ 1.96 sqrt(n)/2 (normal approximation of the binomial).
        double spread = 0.98 * std::sqrt(static_cast<double>(n));
        size_t low = static_cast<size_t>(std::max(0.0, std::floor(n / 2.0 - spread)));
        size_t high = std::min(n == 0 ? 0 : n - 1, static_cast<size_t>(std::ceil(n / 2.0 + spread)));
        std::wprintf(L"median %ls: floor %.1f program %.1f; per pair: median ratio %.3f (95%% interval %.3f to %.3f;"
                     L" min %.3f, max %.3f), median difference %.1f (%zu pairs)\n",
                     measures[i].name, median(floorValues[i]), median(programValues[i]), median(ratios[i]),
                     n == 0 ? 0.0 : sorted[low], n == 0 ? 0.0 : sorted[high], n == 0 ? 0.0 : sorted.front(),
                     n == 0 ? 0.0 : sorted.back(), median(differences[i]), n);
    }
    return failures == 0 && !ratios[0].empty() ? 0 : 1;
}
