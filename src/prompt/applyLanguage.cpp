#include "applyLanguage.h"

#include "../startup/processValues.h"
#include "languageTable.h"
#include "resource.h"

void applyLanguage(HWND dialog, int32_t index)
{
    const LanguageTexts &texts = languageTexts(index);
    HWND message = GetDlgItem(dialog, IDC_MESSAGE);
    HWND postponeButton = GetDlgItem(dialog, IDC_RESTART_LATER);
    HWND restartButton = GetDlgItem(dialog, IDC_RESTART_NOW);

    const struct {
        UINT id;
        HWND target;
    } rows[] = {
        {texts.messageId, message},
        {texts.captionId, dialog},
        {texts.postponeLabelId, postponeButton},
        {texts.restartLabelId, restartButton},
    };

    wchar_t text[1024];
    for (const auto &row : rows) {
        // A row that fails to load must not carry the previous row's text.
        text[0] = L'\0';
        LoadStringW(moduleInstance, row.id, text, 1024);
        SendMessageW(row.target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
}
