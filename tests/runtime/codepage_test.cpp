// Conversions between the program's code page and the UTF-8 of the toolkit and other processes.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

std::string U8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

TEST(CodePage, ProgramTextsRoundTrip)
{
    struct Case {
        const char* ansi;  // code page 936, as the compiler stores narrow literals here
        const char8_t* utf8;
    };
    const Case cases[] = {
        {"", u8""},
        {"http://127.0.0.1/kestu/713.txt", u8"http://127.0.0.1/kestu/713.txt"},
        {"霜岭群英录青柚修改器v3.6最新版", u8"霜岭群英录青柚修改器v3.6最新版"},
        {"信息：", u8"信息："},
        {"无法找到指定DLL库文件“SkinH_EL.dll”中的输出命令“SkinH_AttachRes”",
         u8"无法找到指定DLL库文件“SkinH_EL.dll”中的输出命令“SkinH_AttachRes”"},
        {"运行时出错!\r\n\r\n", u8"运行时出错!\r\n\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::AnsiToUtf8(c.ansi), U8(c.utf8)) << U8(c.utf8);
        EXPECT_EQ(platform::Utf8ToAnsi(U8(c.utf8)), c.ansi) << U8(c.utf8);
    }
}

TEST(CodePage, WhatTheCodePageCannotHoldBecomesOneQuestionMark)
{
    struct Case {
        const char* what;
        std::string utf8;
        std::string ansi;
    };
    const Case cases[] = {
        {"an emoji (four bytes)", U8(u8"a😀b"), "a?b"},
        {"a Korean syllable (three bytes)", U8(u8"信한息"), "信?息"},
        {"two in a row", U8(u8"😀😀"), "??"},
        {"a cut-off sequence at the end", "a\xE4\xB8", "a?"},
        {"a stray continuation byte", "a\x80" "b", "a?b"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::Utf8ToAnsi(c.utf8), c.ansi) << c.what;
}

TEST(CodePage, BrokenCodePageTextStillConverts)
{
    // A lead byte with nothing after it, at the end and before an ASCII byte.
    EXPECT_EQ(platform::AnsiToUtf8("ab\x81"), "ab?");
    EXPECT_EQ(platform::AnsiToUtf8("\xFF" "x"), "?x");
    EXPECT_EQ(platform::AnsiToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
