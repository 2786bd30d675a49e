// Runs beside the recording stand-in named SkinH_EL.dll, which ApplySkin binds as the program would.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <string>

#include "runtime/runtime.h"
#include "skin/skin_data.h"
#include "skin/skin_deploy.h"
#include "tests/skin/recording_engine.h"

namespace {

class SkinApply : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartRuntime(); }

    // The stand-in that ApplySkin bound: dlopen hands back the module already loaded.
    static RecordedAttach* Recorded()
    {
        std::string path = std::string(RunDirectory().View()) + "/SkinH_EL.dll";
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!module) return nullptr;
        auto function = reinterpret_cast<RecordedAttachFunction>(dlsym(module, "RecordedAttachCall"));
        dlclose(module);
        return function ? function() : nullptr;
    }
};

void ExpectEmptyOptionsAndZeros(const RecordedAttach& call, int32_t number)
{
    EXPECT_FALSE(call.optionsWereNull) << "skin " << number << ": the empty text, never a null pointer";
    EXPECT_STREQ(call.options, "") << number;
    EXPECT_EQ(call.reserved[0], 0) << number;
    EXPECT_EQ(call.reserved[1], 0) << number;
    EXPECT_EQ(call.reserved[2], 0) << number;
}

}  // namespace

TEST_F(SkinApply, ASkinOfTheTableIsHandedOverWhole)
{
    for (int32_t number : {43, 1, 58}) {
        ApplySkin(number);
        RecordedAttach* call = Recorded();
        ASSERT_NE(call, nullptr) << "the stand-in was not bound";
        auto expected = SkinTableEntry(number).Bytes();
        EXPECT_FALSE(call->skinWasNull) << number;
        ASSERT_EQ(call->length, static_cast<int32_t>(expected.size())) << number;
        ASSERT_NE(call->skin, nullptr) << number;
        EXPECT_EQ(std::memcmp(call->skin, ".SHE", 4), 0) << number;
        EXPECT_EQ(std::memcmp(call->skin, expected.data(), expected.size()), 0) << number;
        ExpectEmptyOptionsAndZeros(*call, number);
    }
}

TEST_F(SkinApply, ANumberOutsideTheTableHandsOverNoSkin)
{
    for (int32_t number : {0, 59, -1, -2147483647 - 1, 2147483647}) {
        ApplySkin(number);
        RecordedAttach* call = Recorded();
        ASSERT_NE(call, nullptr) << "the stand-in was not bound";
        EXPECT_TRUE(call->skinWasNull) << number;
        EXPECT_EQ(call->length, 0) << number;
        ExpectEmptyOptionsAndZeros(*call, number);
    }
}

TEST_F(SkinApply, EachApplyIsExactlyOneCall)
{
    RecordedAttach* before = Recorded();
    int calls = before ? before->calls : 0;
    ApplySkin(43);
    ApplySkin(0);
    RecordedAttach* call = Recorded();
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->calls, calls + 2);
}
