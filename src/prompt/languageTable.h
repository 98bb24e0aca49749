// Which string-table rows make up each language of the prompt.
#pragma once

#include <cstdint>

struct LanguageTexts {
    uint16_t messageId;
    uint16_t captionId;
    uint16_t postponeLabelId;
    uint16_t restartLabelId;
};

// 1 French, 2 German, every other index (-1 included) English.
const LanguageTexts &languageTexts(int32_t index);
