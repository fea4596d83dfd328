// The printer's status decoded, the answer byte's frame, and the result texts.
#include "LabelStatus.h"

#include <gtest/gtest.h>

namespace {

TEST(LabelStatus, FramesAndAnswers)
{
    struct Row { BYTE answer; bool cover, empty, nearEnd; int ext, paper, coverValue; } rows[] = {
        {0x00, false, false, false, 0, 26, 12},
        {0x80, false, true, false, 0, 24, 12},
        {0x40, true, false, false, 0, 26, 11},
        {0x20, false, false, false, 402, 26, 12},
        {0x10, false, false, false, 403, 26, 12},
        {0x28, false, false, false, 402, 26, 12},  // cutter wins over mechanical
        {0x03, false, false, false, 0, 26, 12},    // bits 1 and 0 change nothing
        {0xC0, true, true, false, 0, 24, 11},
    };
    for (const Row& r : rows) {
        BYTE f[4];
        StatusAnswerToFrame(r.answer, f);
        DecodedStatus s = DecodeStatusFrame(f);
        EXPECT_EQ(r.cover, s.coverOpen) << int(r.answer);
        EXPECT_EQ(r.empty, s.recEmpty) << int(r.answer);
        EXPECT_EQ(r.nearEnd, s.recNearEnd) << int(r.answer);
        EXPECT_EQ(r.ext, s.extendedError) << int(r.answer);
        EXPECT_EQ(r.paper, s.paperValue) << int(r.answer);
        EXPECT_EQ(r.coverValue, s.coverValue) << int(r.answer);
        EXPECT_EQ(r.cover || r.empty, s.serious) << int(r.answer);
    }
    // Automatic frames: near end only without empty; the unrecoverable error first.
    const BYTE nearEnd[4] = {0x20, 0x24, 0x01, 0x00};
    DecodedStatus s = DecodeStatusFrame(nearEnd);
    EXPECT_TRUE(s.coverOpen);
    EXPECT_TRUE(s.recNearEnd);
    EXPECT_EQ(401, s.extendedError);
    EXPECT_EQ(25, s.paperValue);
    const BYTE both[4] = {0x00, 0x00, 0x0F, 0x00};
    EXPECT_FALSE(DecodeStatusFrame(both).recNearEnd);
}

TEST(LabelStatus, ResultTexts)
{
    struct Row { long rc, rce; const char* text; } rows[] = {
        {0, 5, "Success (0/5)"},          {107, 0, "Nohardware (107/0)"},
        {111, 402, "Knife cut failure (111/402)"}, {111, 1, "Failure (111/1)"},
        {114, 201, "Cover Open (114/201)"}, {114, 202, "Extended Error (114/202)"},
        {114, 213, "Head Cleaning (114/213)"}, {115, 0, "Unknown error value (115/0)"},
        {113, 0, "Busy (113/0)"},
    };
    for (const Row& r : rows)
        EXPECT_STREQ(r.text, GetResultCodeText(r.rc, r.rce));
}

}  // namespace
