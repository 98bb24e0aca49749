#include <gtest/gtest.h>

#include <cstdint>

#include "prompt/languageTable.h"

namespace {

TEST(LanguageTable, IndexToRows)
{
    struct LanguageCase {
        int32_t index;
        uint16_t messageId, captionId, postponeLabelId, restartLabelId;
    };
    const LanguageCase cases[] = {
        {0, 104, 113, 120, 127},
        {1, 105, 114, 121, 128},
        {2, 108, 112, 119, 126},
        // CB_ERR when nothing is selected, and anything else: English.
        {-1, 104, 113, 120, 127},
        {3, 104, 113, 120, 127},
        {257, 104, 113, 120, 127},
        {INT32_MIN, 104, 113, 120, 127},
        {INT32_MAX, 104, 113, 120, 127},
    };
    for (const LanguageCase &c : cases) {
        SCOPED_TRACE(c.index);
        const LanguageTexts &texts = languageTexts(c.index);
        EXPECT_EQ(texts.messageId, c.messageId);
        EXPECT_EQ(texts.captionId, c.captionId);
        EXPECT_EQ(texts.postponeLabelId, c.postponeLabelId);
        EXPECT_EQ(texts.restartLabelId, c.restartLabelId);
    }
}

} // namespace
