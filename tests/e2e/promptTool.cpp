// Works the restart prompt from outside its process, the way another program
// or the user's desktop would: one subcommand per call, results as one line of
// JSON on stdout. A test tool only; never shipped.
//
//   start [--show N | --no-show-flag] [--args-hex HEX] [--wait MS] EXE [ARGS...]
//   state PID
//   send PID close | command ID [NOTIFICATION] | timer ID | select INDEX | cursel INDEX
//            | focus ID | quit CODE
//   activate PID
//   keys PID VK...
//   wait PID TIMEOUT_MS
//   kill PID
//   holder
//   denyread 32|64
//   deletekey 32|64
//   serve
// serve answers the other commands but start and holder, one a line from
// stdin, each answer followed by a line "end STATUS".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "promptWindows.h"

namespace {

constexpr int postponeButtonId = 128;
constexpr int restartButtonId = 1002;
constexpr int languageId = 1000;
constexpr int messageId = 1001;
constexpr UINT sendTimeoutMs = 5000;

// Plain ASCII out, everything else as \u escapes: no code page can spoil it.
std::string jsonString(const std::wstring &text)
{
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

std::string jsonBool(bool value) { return value ? "true" : "false"; }

std::string jsonRect(const RECT &r)
{
    char text[96];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

// Flushed at once: the runner reads the output of calls that go on running.
void printLine(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputs("\n", stdout);
    std::fflush(stdout);
}

int usage()
{
    std::fputs("usage: promptTool start [--show N | --no-show-flag] [--args-hex HEX] [--wait MS] EXE [ARGS...]\n"
               "       promptTool state PID\n"
               "       promptTool send PID close | command ID [NOTIFICATION] | timer ID | select INDEX\n"
               "                       | cursel INDEX | focus ID | quit CODE\n"
               "       promptTool activate PID\n"
               "       promptTool keys PID VK...\n"
               "       promptTool wait PID TIMEOUT_MS\n"
               "       promptTool kill PID\n"
               "       promptTool holder\n"
               "       promptTool denyread 32|64\n"
               "       promptTool deletekey 32|64\n"
               "       promptTool serve\n",
               stderr);
    return 2;
}

bool parseNumber(const wchar_t *text, long long &value)
{
    wchar_t *end = nullptr;
    value = std::wcstoll(text, &end, 0);
    return end != text && *end == L'\0';
}

// The hex of UTF-8 bytes, so that blanks, tabs, quotes and any character
// reach the prompt's command line exactly, whatever wine makes of argv.
bool decodeHexUtf8(const std::wstring &hex, std::wstring &text)
{
    if (hex.size() % 2 != 0)
        return false;
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        wchar_t *end = nullptr;
        unsigned long byte = std::wcstoul(pair, &end, 16);
        if (*end != L'\0')
            return false;
        bytes += static_cast<char>(byte);
    }
    text.clear();
    if (bytes.empty())
        return true;
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0)
        return false;
    text.resize(length);
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], length);
    return true;
}

std::string waitResult(HANDLE process, DWORD timeoutMs)
{
    DWORD waited = WaitForSingleObject(process, timeoutMs);
    if (waited == WAIT_TIMEOUT)
        return "{\"timeout\":true}";
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    return "{\"exitCode\":" + std::to_string(static_cast<long>(exitCode)) + "}";
}

// Every window a process creates in its life, top-level, child or
// message-only: told by the window events of its creation and showing, and
// looked for as well in case an event does not come.
struct WindowWatch {
    DWORD pid = 0;
    std::vector<HWND> seen;
    std::vector<std::wstring> classes;
};
WindowWatch windowWatch;

void noteWindow(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (window == nullptr || pid != windowWatch.pid)
        return;
    for (HWND known : windowWatch.seen) {
        if (known == window)
            return;
    }
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    windowWatch.seen.push_back(window);
    windowWatch.classes.push_back(className);
}

void CALLBACK onWindowEvent(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD, DWORD)
{
    if (object == OBJID_WINDOW)
        noteWindow(window);
}

BOOL CALLBACK noteWindowAndChildren(HWND window, LPARAM)
{
    noteWindow(window);
    EnumChildWindows(window, noteWindowAndChildren, 0);
    return TRUE;
}

void lookForWindows()
{
    EnumWindows(noteWindowAndChildren, 0);
    for (HWND window = nullptr; (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;)
        noteWindow(window);
}

// Waits for the process like waitResult and adds the windows it had.
std::string watchResult(HANDLE process, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        lookForWindows();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs)
            return "{\"timeout\":true}";
        const DWORD slice = timeoutMs - elapsed < 20 ? timeoutMs - elapsed : 20;
        const DWORD waited = MsgWaitForMultipleObjects(1, &process, FALSE, slice, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        if (waited == WAIT_OBJECT_0)
            break;
    }
    // Events of the last moments may still be on their way.
    const DWORD settle = GetTickCount();
    while (GetTickCount() - settle < 200) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(10);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process, &exitCode);
    std::string classes = "[";
    for (size_t i = 0; i < windowWatch.classes.size(); ++i)
        classes += (i > 0 ? "," : "") + jsonString(windowWatch.classes[i]);
    return "{\"exitCode\":" + std::to_string(static_cast<long>(exitCode)) +
           ",\"windows\":" + classes + "]}";
}

int startPrompt(int argc, wchar_t **argv)
{
    bool useShowFlag = false;
    long long show = 0;
    long long waitMs = -1;
    bool haveArgsText = false;
    std::wstring argsText;
    int i = 2;
    for (; i < argc && argv[i][0] == L'-' && argv[i][1] == L'-'; ++i) {
        std::wstring option = argv[i];
        if (option == L"--no-show-flag") {
            useShowFlag = false;
        } else if (option == L"--show" && i + 1 < argc && parseNumber(argv[i + 1], show)) {
            useShowFlag = true;
            ++i;
        } else if (option == L"--args-hex" && i + 1 < argc && decodeHexUtf8(argv[i + 1], argsText)) {
            haveArgsText = true;
            ++i;
        } else if (option == L"--wait" && i + 1 < argc && parseNumber(argv[i + 1], waitMs)) {
            ++i;
        } else {
            return usage();
        }
    }
    if (i >= argc)
        return usage();

    std::wstring commandLine = L"\"" + std::wstring(argv[i]) + L"\"";
    if (!haveArgsText) {
        for (int j = i + 1; j < argc; ++j)
            argsText += (j > i + 1 ? L" " : L"") + std::wstring(argv[j]);
    }
    if (!argsText.empty())
        commandLine += L" " + argsText;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (useShowFlag) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(show);
    }
    // Suspended until the window watch knows its pid.
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(argv[i], &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &startup, &info)) {
        printLine("{\"error\":\"CreateProcessW\",\"code\":" + std::to_string(GetLastError()) + "}");
        return 1;
    }
    windowWatch.pid = info.dwProcessId;
    HWINEVENTHOOK hook = nullptr;
    if (waitMs >= 0)
        hook = SetWinEventHook(EVENT_OBJECT_CREATE, EVENT_OBJECT_SHOW, nullptr, onWindowEvent, info.dwProcessId,
                               0, WINEVENT_OUTOFCONTEXT);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    printLine("{\"pid\":" + std::to_string(info.dwProcessId) +
              ",\"tid\":" + std::to_string(info.dwThreadId) + "}");
    // A process that has ended can no longer be opened by pid; holding its
    // handle from the start is the one sure way to learn its exit code.
    if (waitMs >= 0)
        printLine(watchResult(info.hProcess, static_cast<DWORD>(waitMs)));
    if (hook != nullptr)
        UnhookWinEvent(hook);
    CloseHandle(info.hProcess);
    return 0;
}

// WM_GETTEXT is carried across processes, so this reads what the control
// itself holds.
std::wstring windowText(HWND window)
{
    std::vector<wchar_t> text(4096, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, sendTimeoutMs, &copied))
        return L"";
    return std::wstring(text.data(), copied);
}

LRESULT sendQuery(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, sendTimeoutMs, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

int printState(DWORD pid)
{
    DialogSearch search = findDialog(pid);
    HWND dialog = search.dialog;
    HWND foreground = GetForegroundWindow();
    DWORD foregroundPid = 0;
    wchar_t foregroundClass[64] = {};
    if (foreground != nullptr) {
        GetWindowThreadProcessId(foreground, &foregroundPid);
        GetClassNameW(foreground, foregroundClass, 64);
    }
    const std::string foregroundInfo = ",\"foregroundPid\":" + std::to_string(foregroundPid) +
                                       ",\"foregroundClass\":" + jsonString(foregroundClass);
    if (dialog == nullptr) {
        printLine("{\"found\":false" + foregroundInfo + "}");
        return 0;
    }
    HWND language = GetDlgItem(dialog, languageId);
    std::string entries = "[";
    LRESULT count = sendQuery(language, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t entry[256] = {};
        if (sendQuery(language, CB_GETLBTEXTLEN, i) < 256)
            sendQuery(language, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        entries += (i > 0 ? "," : "") + jsonString(entry);
    }
    entries += "]";

    RECT window = {};
    GetWindowRect(dialog, &window);

    std::string controls;
    for (int id : {postponeButtonId, restartButtonId, languageId}) {
        RECT r = {};
        GetWindowRect(GetDlgItem(dialog, id), &r);
        controls += (controls.empty() ? "\"" : ",\"") + std::to_string(id) + "\":" + jsonRect(r);
    }

    std::string dropList = "{\"visible\":false}";
    if (search.dropList != nullptr && IsWindowVisible(search.dropList)) {
        RECT r = {};
        GetWindowRect(search.dropList, &r);
        dropList = "{\"visible\":true,\"rect\":" + jsonRect(r) +
                   ",\"itemHeight\":" + std::to_string(sendQuery(language, CB_GETITEMHEIGHT, 0)) + "}";
    }

    // The keyboard focus and activation within the prompt's own thread: the
    // control id, 0 for the dialog itself, -1 for another window, null for none.
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    std::string focus = "null";
    bool active = false;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread)) {
        active = thread.hwndActive == dialog;
        if (thread.hwndFocus == dialog)
            focus = "0";
        else if (thread.hwndFocus != nullptr && IsChild(dialog, thread.hwndFocus))
            focus = std::to_string(GetDlgCtrlID(thread.hwndFocus));
        else if (thread.hwndFocus != nullptr)
            focus = "-1";
    }

    const LONG exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
    printLine(std::string("{\"found\":true") +
              ",\"visible\":" + jsonBool(IsWindowVisible(dialog)) +
              ",\"postponeEnabled\":" + jsonBool(IsWindowEnabled(GetDlgItem(dialog, postponeButtonId))) +
              ",\"message\":" + jsonString(windowText(GetDlgItem(dialog, messageId))) +
              ",\"caption\":" + jsonString(windowText(dialog)) +
              ",\"postponeLabel\":" + jsonString(windowText(GetDlgItem(dialog, postponeButtonId))) +
              ",\"restartLabel\":" + jsonString(windowText(GetDlgItem(dialog, restartButtonId))) +
              ",\"languages\":" + entries +
              ",\"selection\":" + std::to_string(sendQuery(language, CB_GETCURSEL)) +
              ",\"topmost\":" + jsonBool((exStyle & WS_EX_TOPMOST) != 0) +
              ",\"foreground\":" + jsonBool(foreground == dialog) +
              ",\"active\":" + jsonBool(active) + ",\"focus\":" + focus +
              foregroundInfo +
              ",\"iconic\":" + jsonBool(IsIconic(dialog)) +
              ",\"zoomed\":" + jsonBool(IsZoomed(dialog)) +
              ",\"rect\":" + jsonRect(window) +
              ",\"size\":[" + std::to_string(window.right - window.left) + "," +
              std::to_string(window.bottom - window.top) + "]" +
              ",\"controls\":{" + controls + "}" +
              ",\"dropList\":" + dropList +
              ",\"screen\":[" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
              std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "]}");
    return 0;
}

// Sent, not posted: when the call returns the prompt has handled the message,
// so the next look at its state sees the outcome.
int sendToPrompt(DWORD pid, int argc, wchar_t **argv)
{
    if (argc < 4)
        return usage();
    std::wstring what = argv[3];
    long long first = 0;
    long long second = 0;
    if (what != L"close" && (argc < 5 || !parseNumber(argv[4], first)))
        return usage();
    if (what == L"command" && argc >= 6 && !parseNumber(argv[5], second))
        return usage();

    HWND dialog = findDialog(pid).dialog;
    if (dialog == nullptr) {
        printLine("{\"sent\":false,\"error\":\"no dialog\"}");
        return 1;
    }
    if (what == L"quit") {
        BOOL posted = PostThreadMessageW(GetWindowThreadProcessId(dialog, nullptr), WM_QUIT,
                                         static_cast<WPARAM>(first), 0);
        printLine("{\"sent\":" + jsonBool(posted) + "}");
        return posted ? 0 : 1;
    }
    UINT message;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    HWND target = dialog;
    if (what == L"close") {
        message = WM_CLOSE;
    } else if (what == L"command") {
        message = WM_COMMAND;
        wParam = MAKEWPARAM(static_cast<WORD>(first), static_cast<WORD>(second));
    } else if (what == L"timer") {
        message = WM_TIMER;
        wParam = static_cast<WPARAM>(first);
    } else if (what == L"cursel") {
        // Moves the drop-down's selection alone; the dialog hears nothing.
        message = CB_SETCURSEL;
        target = GetDlgItem(dialog, languageId);
        wParam = static_cast<WPARAM>(first);
    } else if (what == L"focus") {
        // The dialog manager's own way to give a control the focus.
        message = WM_NEXTDLGCTL;
        wParam = reinterpret_cast<WPARAM>(GetDlgItem(dialog, static_cast<int>(first)));
        lParam = TRUE;
    } else if (what == L"select") {
        // What the drop-down does when the user picks an entry: the selection
        // moves, then the dialog hears CBN_SELENDOK.
        HWND language = GetDlgItem(dialog, languageId);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(language, CB_SETCURSEL, static_cast<WPARAM>(first), 0, SMTO_NORMAL, sendTimeoutMs,
                            &ignored);
        message = WM_COMMAND;
        wParam = MAKEWPARAM(languageId, CBN_SELENDOK);
    } else {
        return usage();
    }
    DWORD_PTR result = 0;
    BOOL sent = SendMessageTimeoutW(target, message, wParam, lParam, SMTO_NORMAL, sendTimeoutMs, &result) != 0;
    printLine("{\"sent\":" + jsonBool(sent) + ",\"result\":" +
              std::to_string(static_cast<long long>(result)) + "}");
    return sent ? 0 : 1;
}

// As another program may: makes the prompt the foreground window and waits
// until its thread has it active.
int activatePrompt(DWORD pid)
{
    HWND dialog = findDialog(pid).dialog;
    if (dialog == nullptr) {
        printLine("{\"activated\":false,\"error\":\"no dialog\"}");
        return 1;
    }
    SetForegroundWindow(dialog);
    GUITHREADINFO thread = {};
    thread.cbSize = sizeof thread;
    const DWORD tid = GetWindowThreadProcessId(dialog, nullptr);
    bool activated = false;
    for (DWORD start = GetTickCount(); !activated && GetTickCount() - start < sendTimeoutMs; Sleep(10))
        activated = GetForegroundWindow() == dialog && GetGUIThreadInfo(tid, &thread) && thread.hwndActive == dialog;
    printLine("{\"activated\":" + jsonBool(activated) + "}");
    return activated ? 0 : 1;
}

// Types the keys, each pressed and released, as the keyboard would; only
// while the prompt is the foreground window, so they are meant for it.
int typeKeys(DWORD pid, int argc, wchar_t **argv)
{
    HWND dialog = findDialog(pid).dialog;
    if (dialog == nullptr || GetForegroundWindow() != dialog) {
        printLine("{\"sent\":false,\"error\":\"the prompt is not the foreground window\"}");
        return 1;
    }
    std::vector<INPUT> inputs;
    for (int i = 3; i < argc; ++i) {
        long long key = 0;
        if (!parseNumber(argv[i], key))
            return usage();
        for (DWORD flags : {DWORD(0), DWORD(KEYEVENTF_KEYUP)}) {
            INPUT input = {};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = static_cast<WORD>(key);
            input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC));
            input.ki.dwFlags = flags;
            inputs.push_back(input);
        }
    }
    UINT sent = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    printLine("{\"sent\":" + jsonBool(sent == inputs.size()) + "}");
    return sent == inputs.size() ? 0 : 1;
}

// Creates the prompt's registry key in one view with security that refuses
// reading its values to everyone; everything else, deleting included, stays
// allowed.
int denyReading(const std::wstring &view)
{
    if (view != L"32" && view != L"64")
        return usage();
    const REGSAM viewFlag = view == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = nullptr;
    LONG created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quenlor", 0, nullptr, 0,
                                   KEY_ALL_ACCESS | viewFlag, nullptr, &key, nullptr);
    if (created != ERROR_SUCCESS) {
        printLine("{\"denied\":false,\"error\":\"RegCreateKeyExW\",\"code\":" + std::to_string(created) + "}");
        return 1;
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    alignas(DWORD) BYTE aclBytes[256];
    ACL *acl = reinterpret_cast<ACL *>(aclBytes);
    SECURITY_DESCRIPTOR descriptor;
    LONG set = ERROR_INVALID_PARAMETER;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        if (InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
            AddAccessDeniedAce(acl, ACL_REVISION, KEY_QUERY_VALUE, everyone) &&
            AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone) &&
            InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE))
            set = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
        FreeSid(everyone);
    }
    RegCloseKey(key);
    // The proof that it holds: a reader is refused.
    HKEY reader = nullptr;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quenlor", 0, KEY_READ | viewFlag, &reader);
    if (opened == ERROR_SUCCESS)
        RegCloseKey(reader);
    const bool denied = set == ERROR_SUCCESS && opened == ERROR_ACCESS_DENIED;
    printLine("{\"denied\":" + jsonBool(denied) + ",\"set\":" + std::to_string(set) +
              ",\"open\":" + std::to_string(opened) + "}");
    return denied ? 0 : 1;
}

// Deletes the prompt's registry key in one view. reg.exe cannot once its
// values may not be read: it reads the key before it deletes it.
int deleteKey(const std::wstring &view)
{
    if (view != L"32" && view != L"64")
        return usage();
    const REGSAM viewFlag = view == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const LONG deleted = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quenlor", viewFlag, 0);
    const bool gone = deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    printLine("{\"gone\":" + jsonBool(gone) + ",\"code\":" + std::to_string(deleted) + "}");
    return gone ? 0 : 1;
}

int waitForPrompt(DWORD pid, DWORD timeoutMs)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        printLine("{\"gone\":true}");
        return 1;
    }
    printLine(waitResult(process, timeoutMs));
    CloseHandle(process);
    return 0;
}

int killProcess(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) {
        printLine("{\"gone\":true}");
        return 0;
    }
    BOOL killed = TerminateProcess(process, 255);
    WaitForSingleObject(process, sendTimeoutMs);
    CloseHandle(process);
    printLine("{\"killed\":" + jsonBool(killed) + "}");
    return killed ? 0 : 1;
}

LRESULT CALLBACK holderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Stands for the window the user is working in while the prompt comes and goes.
int runHolder()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = holderProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"PromptToolHolder";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"Holder", WS_OVERLAPPEDWINDOW, 20, 20,
                                  300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) {
        printLine("{\"error\":\"CreateWindowExW\"}");
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    SetFocus(window);
    printLine("{\"pid\":" + std::to_string(GetCurrentProcessId()) + ",\"foreground\":" +
              jsonBool(GetForegroundWindow() == window) + "}");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

int runCommand(int argc, wchar_t **argv);

// One process for many calls: where starting a process takes a second (the
// emulated test VM), a look at the prompt then still takes milliseconds, well
// within its shortest postponement.
int serve()
{
    wchar_t line[1024];
    while (std::fgetws(line, 1024, stdin) != nullptr) {
        std::vector<std::wstring> words = {L"promptTool"};
        std::wstring word;
        for (const wchar_t *c = line; *c != L'\0'; ++c) {
            if (!std::iswspace(*c)) {
                word += *c;
            } else if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        }
        if (!word.empty())
            words.push_back(word);
        std::vector<wchar_t *> args;
        for (std::wstring &each : words)
            args.push_back(&each[0]);
        int status = 2;
        if (args.size() < 2 || words[1] == L"start" || words[1] == L"holder" || words[1] == L"serve")
            usage();
        else
            status = runCommand(static_cast<int>(args.size()), args.data());
        printLine("end " + std::to_string(status));
    }
    return 0;
}

int runCommand(int argc, wchar_t **argv)
{
    if (argc < 2)
        return usage();
    std::wstring command = argv[1];
    if (command == L"start")
        return startPrompt(argc, argv);
    if (command == L"holder")
        return runHolder();
    if (command == L"serve")
        return serve();
    if (command == L"denyread" && argc == 3)
        return denyReading(argv[2]);
    if (command == L"deletekey" && argc == 3)
        return deleteKey(argv[2]);

    long long pid = 0;
    if (argc < 3 || !parseNumber(argv[2], pid))
        return usage();
    if (command == L"state")
        return printState(static_cast<DWORD>(pid));
    if (command == L"send")
        return sendToPrompt(static_cast<DWORD>(pid), argc, argv);
    if (command == L"kill")
        return killProcess(static_cast<DWORD>(pid));
    if (command == L"activate")
        return activatePrompt(static_cast<DWORD>(pid));
    if (command == L"keys" && argc >= 4)
        return typeKeys(static_cast<DWORD>(pid), argc, argv);
    long long timeoutMs = 0;
    if (command == L"wait" && argc >= 4 && parseNumber(argv[3], timeoutMs))
        return waitForPrompt(static_cast<DWORD>(pid), static_cast<DWORD>(timeoutMs));
    return usage();
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    return runCommand(argc, argv);
}
