// The prompt dialog from the program's own resources, driven through the real
// user32 under wine: what the user sees after each message.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "prompt/applyLanguage.h"
#include "prompt/dialogPromptWindow.h"
#include "prompt/postponementPolicy.h"
#include "prompt/promptDialog.h"
#include "resource.h"
#include "startup/processValues.h"

namespace {

struct LanguageRow {
    const wchar_t *message;
    const wchar_t *caption;
    const wchar_t *postponeLabel;
    const wchar_t *restartLabel;
};

const LanguageRow english = {
    L"The installation has finished. In order to complete the process, you must restart your "
    L"computer.\nPlease save changes to any open documents before continuing.",
    L"Quenlor Software", L"Restart Later", L"Restart Now"};
const LanguageRow french = {
    L"L'installation est termin\u00E9e. Pour compl\u00E9ter le processus, vous devez "
    L"red\u00E9marrer votre PC.\nMerci de sauvegarder tous les documents ouverts avant de continuer.",
    L"Quenlor Software", L"Diff\u00E9rer", L"Red\u00E9marrer Maintenant"};
const LanguageRow german = {
    L"Die Installation ist beendet. Zur Fertigstellung m\u00FCssen Sie Ihren Computer neu "
    L"starten.\nBitte speichern Sie Ihre offenen Dokumente.",
    L"Quenlor Software", L"Neuladen Sp\u00E4ter", L"Neuladen Jetzt"};

std::wstring windowText(HWND window)
{
    wchar_t text[2048] = {};
    GetWindowTextW(window, text, 2048);
    return text;
}

// Dispatches this thread's messages until `done` holds or the time is up.
template <typename Done> bool pumpUntil(Done done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam)); // leave it for the test to see
                return done();
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Creates the prompt as the entry does: instance stored first, the dialog
// handle stored for the policy, shown without activation, zero-value rules.
class PromptDialog : public testing::Test {
  protected:
    HWND dialog = nullptr;

    void create(int32_t delayMs, int32_t postponeLimit, bool shown = true)
    {
        launchSettings = {delayMs, postponeLimit, 1};
        moduleInstance = GetModuleHandleW(nullptr);
        dialog = CreateDialogParamW(moduleInstance, MAKEINTRESOURCEW(IDD_RESTART_PROMPT), nullptr,
                                    promptDialogProc, 0);
        ASSERT_NE(dialog, nullptr);
        promptDialogHandle = dialog;
        ShowWindow(dialog, shown ? SW_SHOWNA : SW_HIDE);
        UpdateWindow(dialog);
        applyZeroValueRules(launchSettings, dialogPromptWindow);
    }

    void TearDown() override
    {
        if (dialog != nullptr && IsWindow(dialog))
            DestroyWindow(dialog);
        // Destroying the prompt posts a quit message; keep it from the next test.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HWND item(int id) const { return GetDlgItem(dialog, id); }
    bool visible() const { return IsWindowVisible(dialog) != FALSE; }
    bool postponeEnabled() const { return IsWindowEnabled(item(IDC_RESTART_LATER)) != FALSE; }

    void command(WORD id, WORD notification = 0)
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, notification), 0);
    }

    void selectLanguage(int index)
    {
        SendMessageW(item(IDC_LANGUAGE), CB_SETCURSEL, index, 0);
        command(IDC_LANGUAGE, CBN_SELENDOK);
    }

    void expectTexts(const LanguageRow &row)
    {
        EXPECT_EQ(windowText(item(IDC_MESSAGE)), row.message);
        EXPECT_EQ(windowText(dialog), row.caption);
        EXPECT_EQ(windowText(item(IDC_RESTART_LATER)), row.postponeLabel);
        EXPECT_EQ(windowText(item(IDC_RESTART_NOW)), row.restartLabel);
    }

    // Waits for the postponement timer to bring the prompt back.
    bool waitForReturn() { return pumpUntil([this] { return visible(); }, 5000); }
};

TEST_F(PromptDialog, InitialisationShowsEnglishAndTheThreeLanguages)
{
    launchSettings = {defaultDelayMs, defaultPostponeLimit, 1};
    moduleInstance = GetModuleHandleW(nullptr);
    dialog = CreateDialogParamW(moduleInstance, MAKEINTRESOURCEW(IDD_RESTART_PROMPT), nullptr,
                                promptDialogProc, 0);
    ASSERT_NE(dialog, nullptr);

    EXPECT_FALSE(visible()) << "hidden until the entry shows it";
    EXPECT_EQ(GetFocus(), item(IDC_RESTART_LATER)) << "the dialog manager's first choice of the focus";
    expectTexts(english);
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(postponeEnabled());

    HWND language = item(IDC_LANGUAGE);
    const wchar_t *const entries[] = {L"English", L"Fran\u00E7ais", L"Deutsch"};
    ASSERT_EQ(SendMessageW(language, CB_GETCOUNT, 0, 0), 3);
    for (int i = 0; i < 3; ++i) {
        wchar_t text[64] = {};
        SendMessageW(language, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
        EXPECT_STREQ(text, entries[i]) << "entry " << i;
    }
    EXPECT_EQ(SendMessageW(language, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(PromptDialog, EachSelectionShowsItsLanguage)
{
    create(defaultDelayMs, defaultPostponeLimit);
    const struct {
        int selection;
        const LanguageRow &row;
    } cases[] = {
        {1, french}, {2, german}, {0, english}, {2, german}, {2, german}, {-1, english},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.selection);
        selectLanguage(c.selection);
        expectTexts(c.row);
    }
}

TEST_F(PromptDialog, OtherDropDownNotificationsChangeNothing)
{
    create(defaultDelayMs, defaultPostponeLimit);
    SendMessageW(item(IDC_LANGUAGE), CB_SETCURSEL, 1, 0);
    for (WORD notification : {WORD(CBN_SELCHANGE), WORD(CBN_CLOSEUP), WORD(CBN_DROPDOWN), WORD(CBN_SELENDCANCEL)})
        command(IDC_LANGUAGE, notification);
    expectTexts(english);
}

TEST_F(PromptDialog, LanguageChangeLeavesButtonVisibilityAndTimerAlone)
{
    create(200, 1);
    command(IDC_RESTART_LATER);
    ASSERT_FALSE(visible());
    selectLanguage(2); // while postponed: texts change, nothing else
    EXPECT_FALSE(visible());
    expectTexts(german);

    ASSERT_TRUE(waitForReturn()) << "the running timer still brings the prompt back";
    EXPECT_FALSE(postponeEnabled()) << "limit 1: the first return disables the button";
    selectLanguage(0);
    EXPECT_TRUE(visible());
    EXPECT_FALSE(postponeEnabled());
    EXPECT_EQ(launchSettings.postponeCount, 2);
}

// The default run with a short delay, step by step, on the real timer.
TEST_F(PromptDialog, WorkedRunOnTheRealTimer)
{
    create(150, 3);
    enum Event { Postpone, Close, Expiry };
    const struct {
        Event event;
        int countAfter;
        bool enabled;
        bool visible;
    } steps[] = {
        {Postpone, 1, true, false}, {Expiry, 2, true, true},  {Postpone, 2, true, false},
        {Expiry, 3, true, true},    {Close, 3, true, false},  {Expiry, 4, false, true},
        {Close, 4, false, true},
    };
    int step = 0;
    for (const auto &s : steps) {
        SCOPED_TRACE(++step);
        switch (s.event) {
        case Postpone:
            command(IDC_RESTART_LATER);
            break;
        case Close:
            SendMessageW(dialog, WM_CLOSE, 0, 0);
            break;
        case Expiry:
            ASSERT_TRUE(waitForReturn());
            break;
        }
        EXPECT_EQ(launchSettings.postponeCount, s.countAfter);
        EXPECT_EQ(postponeEnabled(), s.enabled);
        EXPECT_EQ(visible(), s.visible);
    }
    EXPECT_TRUE(IsWindow(dialog)) << "close requests never destroy the prompt";
    EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

TEST_F(PromptDialog, RepeatedPostponementsGiveOneExpiry)
{
    create(300, 3);
    command(IDC_RESTART_LATER);
    Sleep(150);
    command(IDC_RESTART_LATER); // replaces the timer: the countdown restarts
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitForReturn());
    pumpUntil([] { return false; }, 1000); // a second timer would show up here
    EXPECT_EQ(launchSettings.postponeCount, 2);
    EXPECT_FALSE(KillTimer(dialog, IDT_POSTPONE)) << "the expiry kills the timer";
}

TEST_F(PromptDialog, LimitZeroDisablesBeforeAnyInputAndIgnoresCloseRequests)
{
    create(150, 0);
    EXPECT_EQ(launchSettings.postponeCount, 999);
    EXPECT_FALSE(postponeEnabled());
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(visible());
    EXPECT_FALSE(KillTimer(dialog, IDT_POSTPONE)) << "no timer was armed";
}

TEST_F(PromptDialog, HiddenStartWaitsForARequestFromOutside)
{
    create(150, 3, false);
    EXPECT_FALSE(pumpUntil([this] { return visible(); }, 500)) << "nothing shows it by itself";
    SendMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitForReturn());
    EXPECT_EQ(launchSettings.postponeCount, 2);
}

TEST_F(PromptDialog, UnknownCommandsAndTimersDoNothing)
{
    create(150, 3);
    for (WORD id : {WORD(IDOK), WORD(IDCANCEL), WORD(999), WORD(IDC_MESSAGE)})
        command(id);
    SendMessageW(dialog, WM_TIMER, 112, 0);
    EXPECT_TRUE(visible());
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(launchSettings.postponeCount, 1);
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

// What the procedure itself returns, called directly: SendMessageW to a dialog
// gives what the dialog manager keeps instead. Each case on a fresh prompt.
TEST_F(PromptDialog, ProcedureResults)
{
    enum Want { One, Zero, AsDefWindowProc };
    const struct {
        const char *name;
        int32_t postponeLimit;
        UINT message;
        WPARAM wParam;
        Want want;
        bool visibleAfter;
    } cases[] = {
        {"initialisation", 3, WM_INITDIALOG, 0, One, true},
        {"destroy", 3, WM_DESTROY, 0, Zero, true},
        {"close that postpones", 3, WM_CLOSE, 0, Zero, false},
        {"close that is ignored", 0, WM_CLOSE, 0, Zero, true},
        {"another timer", 3, WM_TIMER, 112, Zero, true},
        {"postponement timer", 3, WM_TIMER, IDT_POSTPONE, AsDefWindowProc, true},
        {"language chosen", 3, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELENDOK), Zero, true},
        {"other language notification", 3, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE, CBN_SELCHANGE), Zero, true},
        {"postpone", 3, WM_COMMAND, MAKEWPARAM(IDC_RESTART_LATER, BN_CLICKED), Zero, false},
        {"restart", 3, WM_COMMAND, MAKEWPARAM(IDC_RESTART_NOW, BN_CLICKED), Zero, true},
        {"exit", 3, WM_COMMAND, MAKEWPARAM(IDM_EXIT, 0), Zero, false},
        {"OK", 3, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), AsDefWindowProc, true},
        {"unknown command", 3, WM_COMMAND, MAKEWPARAM(999, 0), AsDefWindowProc, true},
        {"a message it leaves alone", 3, WM_USER + 1, 0, Zero, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        create(150, c.postponeLimit);
        const INT_PTR wanted = c.want == One    ? 1
                               : c.want == Zero ? 0
                                                : DefWindowProcW(dialog, c.message, c.wParam, 0);
        EXPECT_EQ(promptDialogProc(dialog, c.message, c.wParam, 0), wanted);
        EXPECT_EQ(visible(), c.visibleAfter);
        TearDown();
    }
}

TEST_F(PromptDialog, ExitCommandDestroysThePromptAndPostsQuitZero)
{
    create(150, 3);
    command(IDM_EXIT);
    EXPECT_FALSE(IsWindow(dialog));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

} // namespace
