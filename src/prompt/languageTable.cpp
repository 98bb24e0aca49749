// The string-table rows of each language; the drop-down position is the index.
#include "languageTable.h"

#include "resource.h"

namespace {

const LanguageTexts englishTexts = {IDS_MESSAGE_EN, IDS_CAPTION_EN, IDS_RESTART_LATER_EN,
                                    IDS_RESTART_NOW_EN};
const LanguageTexts frenchTexts = {IDS_MESSAGE_FR, IDS_CAPTION_FR, IDS_RESTART_LATER_FR,
                                   IDS_RESTART_NOW_FR};
const LanguageTexts germanTexts = {IDS_MESSAGE_DE, IDS_CAPTION_DE, IDS_RESTART_LATER_DE,
                                   IDS_RESTART_NOW_DE};

} // namespace

const LanguageTexts &languageTexts(int32_t index)
{
    // English also for CB_ERR (-1), when nothing is selected.
    switch (index) {
    case 1:
        return frenchTexts;
    case 2:
        return germanTexts;
    default:
        return englishTexts;
    }
}
