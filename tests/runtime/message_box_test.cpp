// Message boxes, answered from the toolkit's loop the way a user would answer them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/runtime.h"
#include "tests/runtime/dialog_inspector.h"

namespace {

std::string U8(const char8_t* text)
{
    return reinterpret_cast<const char*>(text);
}

enum class Action { Click, Escape, CloseRequest };

struct Step {
    Action action;
    std::string button;  // the word its label begins with, for Click
};

// Works through the steps on the boxes that open while it lives. A box still open after the
// last step, or a button that is not there, is noted and the box is answered anyway, so that
// a wrong box fails the test instead of hanging it.
class BoxAnswerer {
public:
    explicit BoxAnswerer(std::vector<Step> steps) : steps_(std::move(steps))
    {
        source_ = g_timeout_add(20, Tick, this);
    }
    ~BoxAnswerer() { g_source_remove(source_); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // What the box looked like when it first showed; its widgets are gone by now.
    const std::optional<MessageBoxView>& Seen() const { return seen_; }
    size_t StepsTaken() const { return taken_; }
    bool LeftOpen() const { return leftOpen_; }
    const std::string& MissingButton() const { return missingButton_; }

private:
    static gboolean Tick(gpointer self) { return static_cast<BoxAnswerer*>(self)->Answer(); }

    gboolean Answer()
    {
        auto box = FindMessageBox();
        if (!box)
            return G_SOURCE_CONTINUE;
        if (!seen_)
            seen_ = box;
        if (taken_ == steps_.size()) {
            leftOpen_ = true;
            gtk_button_clicked(GTK_BUTTON(box->buttons.at(0)));
            return G_SOURCE_CONTINUE;
        }
        const Step& step = steps_[taken_++];
        switch (step.action) {
        case Action::Click:
            if (GtkWidget* button = ButtonLabelled(*box, step.button)) {
                gtk_button_clicked(GTK_BUTTON(button));
            } else {
                missingButton_ = step.button;
                gtk_button_clicked(GTK_BUTTON(box->buttons.at(0)));
            }
            break;
        case Action::Escape: PressEscape(box->dialog); break;
        case Action::CloseRequest: SendCloseRequest(box->dialog); break;
        }
        return G_SOURCE_CONTINUE;
    }

    std::vector<Step> steps_;
    size_t taken_ = 0;
    guint source_ = 0;
    std::optional<MessageBoxView> seen_;
    bool leftOpen_ = false;
    std::string missingButton_;
};

class MessageBoxTest : public testing::Test {
protected:
    void SetUp() override
    {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display)
            GTEST_SKIP() << "needs a display: run under xvfb-run";
        if (!platform::InitToolkit())
            GTEST_SKIP() << "cannot open the display " << display;
    }
};

struct Button {
    const char8_t* word;
    int32_t code;
};

TEST_F(MessageBoxTest, EachButtonOfEachSetGivesItsCode)
{
    struct Case {
        int32_t style;
        std::vector<Button> buttons;
    };
    const Case cases[] = {
        {0, {{u8"确定", kAnswerOk}}},
        {1, {{u8"确定", kAnswerOk}, {u8"取消", kAnswerCancel}}},
        {2, {{u8"中止", kAnswerAbort}, {u8"重试", kAnswerRetry}, {u8"忽略", kAnswerIgnore}}},
        {3, {{u8"是", kAnswerYes}, {u8"否", kAnswerNo}, {u8"取消", kAnswerCancel}}},
        {4, {{u8"是", kAnswerYes}, {u8"否", kAnswerNo}}},
        {5, {{u8"重试", kAnswerRetry}, {u8"取消", kAnswerCancel}}},
    };
    for (const Case& c : cases) {
        for (const Button& button : c.buttons) {
            BoxAnswerer answerer({{Action::Click, U8(button.word)}});
            int32_t answer = ShowMessage("请选择", c.style);
            ASSERT_TRUE(answerer.Seen()) << "style " << c.style;
            EXPECT_EQ(answerer.MissingButton(), "") << "style " << c.style << " has no such button";
            EXPECT_EQ(answer, button.code) << "style " << c.style << ", button " << U8(button.word);
            EXPECT_EQ(answerer.Seen()->labels.size(), c.buttons.size()) << "style " << c.style;
        }
    }
}

// The kind of box goes with the image, so that a screen reader announces an error as one.
TEST_F(MessageBoxTest, IconBitsChooseTheImageAndTheKindAndLeaveTheButtons)
{
    struct Case {
        int32_t icon;
        const char* iconName;
        GtkMessageType type;
    };
    const Case cases[] = {
        {0x00, "", GTK_MESSAGE_OTHER},
        {0x10, "dialog-error", GTK_MESSAGE_ERROR},
        {0x20, "dialog-question", GTK_MESSAGE_QUESTION},
        {0x30, "dialog-warning", GTK_MESSAGE_WARNING},
        {0x40, "dialog-information", GTK_MESSAGE_INFO},
    };
    for (const Case& c : cases) {
        BoxAnswerer answerer({{Action::Click, U8(u8"取消")}});
        EXPECT_EQ(ShowMessage("请选择", c.icon | 1), kAnswerCancel) << std::hex << c.icon;
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->iconName, c.iconName) << std::hex << c.icon;
        EXPECT_EQ(answerer.Seen()->type, c.type) << std::hex << c.icon;
        EXPECT_EQ(answerer.Seen()->labels.size(), 2u) << std::hex << c.icon;
    }
}

TEST_F(MessageBoxTest, ShowsTheTextInUtf8UnderTheDefaultOrTheGivenCaption)
{
    {
        BoxAnswerer answerer({{Action::Click, U8(u8"确定")}});
        EXPECT_EQ(ShowMessage("清理成功", 0), kAnswerOk);
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->caption, U8(u8"信息："));
        EXPECT_EQ(answerer.Seen()->text, U8(u8"清理成功"));
        EXPECT_EQ(answerer.Seen()->iconName, "");
        EXPECT_TRUE(answerer.Seen()->modal);
    }
    {
        BoxAnswerer answerer({{Action::Click, U8(u8"确定")}});
        EXPECT_EQ(ShowMessage("发现最新版本！请点击确定后下载最新版。", 0, "提示"), kAnswerOk);
        ASSERT_TRUE(answerer.Seen());
        EXPECT_EQ(answerer.Seen()->caption, U8(u8"提示"));
        EXPECT_EQ(answerer.Seen()->text, U8(u8"发现最新版本！请点击确定后下载最新版。"));
    }
}

TEST_F(MessageBoxTest, EscAndTheCloseButtonGiveTheCancellingAnswer)
{
    struct Case {
        int32_t style;
        Action dismissal;
        const char8_t* thenClick;  // nullptr: the dismissal itself closes the box
        int32_t expected;
    };
    const Case cases[] = {
        {0, Action::Escape, nullptr, kAnswerOk},
        {0, Action::CloseRequest, nullptr, kAnswerOk},
        {1, Action::Escape, nullptr, kAnswerCancel},
        {1, Action::CloseRequest, nullptr, kAnswerCancel},
        {3, Action::Escape, nullptr, kAnswerCancel},
        {5, Action::CloseRequest, nullptr, kAnswerCancel},
        // no cancelling button: the box stays until a button is chosen
        {2, Action::Escape, u8"重试", kAnswerRetry},
        {4, Action::CloseRequest, u8"否", kAnswerNo},
    };
    for (const Case& c : cases) {
        std::vector<Step> steps{{c.dismissal, ""}};
        if (c.thenClick)
            steps.push_back({Action::Click, U8(c.thenClick)});
        BoxAnswerer answerer(steps);
        EXPECT_EQ(ShowMessage("请选择", c.style), c.expected) << "style " << c.style;
        EXPECT_EQ(answerer.StepsTaken(), steps.size()) << "style " << c.style;
        EXPECT_FALSE(answerer.LeftOpen()) << "style " << c.style << ": the dismissal did not close the box";
    }
}

TEST_F(MessageBoxTest, AStyleWithoutAButtonSetShowsNothing)
{
    for (int32_t style : {6, 0x0F, 0x16}) {
        BoxAnswerer answerer({{Action::Click, U8(u8"确定")}});
        EXPECT_EQ(ShowMessage("请选择", style), 0) << style;
        EXPECT_FALSE(answerer.Seen()) << style;
    }
}

}  // namespace
