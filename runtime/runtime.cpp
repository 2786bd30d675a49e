#include "runtime/runtime.h"

#include <string>

#include "platform/platform.h"
#include "runtime/library_functions.h"

namespace {

Text runDirectory;
void (*exitCallback)() = nullptr;
int endingCounter = 0;

std::string Path(TextRef path)
{
    return std::string(path.View());
}

constexpr platform::MessageButtons kButtonSets[] = {
    platform::MessageButtons::Ok,          platform::MessageButtons::OkCancel,
    platform::MessageButtons::AbortRetryIgnore, platform::MessageButtons::YesNoCancel,
    platform::MessageButtons::YesNo,       platform::MessageButtons::RetryCancel,
};

constexpr platform::MessageIcon kIcons[] = {
    platform::MessageIcon::None,    platform::MessageIcon::Error,       platform::MessageIcon::Question,
    platform::MessageIcon::Warning, platform::MessageIcon::Information,
};

int32_t AnswerCode(platform::MessageAnswer answer)
{
    switch (answer) {
    case platform::MessageAnswer::Cancel: return kAnswerCancel;
    case platform::MessageAnswer::Abort: return kAnswerAbort;
    case platform::MessageAnswer::Retry: return kAnswerRetry;
    case platform::MessageAnswer::Ignore: return kAnswerIgnore;
    case platform::MessageAnswer::Yes: return kAnswerYes;
    case platform::MessageAnswer::No: return kAnswerNo;
    default: return kAnswerOk;
    }
}

}  // namespace

int32_t ShowMessage(TextRef message, int32_t style, std::optional<TextRef> caption)
{
    uint32_t buttons = static_cast<uint32_t>(style) & 0x0F;
    uint32_t icon = (static_cast<uint32_t>(style) & 0xF0) >> 4;
    if (buttons >= std::size(kButtonSets))
        return 0;  // the platform refuses a box it has no buttons for
    auto answer = platform::ShowMessageBox(platform::AnsiToUtf8(message.View()),
                                           platform::AnsiToUtf8(caption ? caption->View() : "信息："),
                                           kButtonSets[buttons],
                                           icon < std::size(kIcons) ? kIcons[icon] : platform::MessageIcon::None);
    return AnswerCode(answer);
}

void OpenAddress(TextRef address)
{
    platform::OpenWithDefaultHandler(platform::AnsiToUtf8(address.View()));
}

void EndProgram(int32_t exitCode)
{
    ++endingCounter;
    if (auto callback = exitCallback) {
        exitCallback = nullptr;
        callback();
    }
    UnloadLibraryFunctions();
    platform::ExitProcess(exitCode);
}

void RegisterExitCallback(void (*callback)())
{
    exitCallback = callback;
}

void ProcessPendingEvents()
{
    platform::DispatchPendingEvents();
}

Text RunDirectory()
{
    return CopyText(runDirectory);
}

bool FileExists(TextRef path)
{
    return platform::EntryExists(Path(path));
}

bool WriteFileBytes(TextRef path, std::initializer_list<BytesRef> parts)
{
    if (TextLength(path) == 0)
        return false;
    auto file = platform::CreateFileAlways(Path(path));
    if (!file)
        return false;
    for (BytesRef part : parts) {
        if (BytesLength(part) > 0 && !file->Write(part.Bytes()))
            return false;
    }
    return static_cast<bool>(file->Close());
}

bool SetFileAttributesTo(TextRef path, int32_t attributes)
{
    return static_cast<bool>(platform::SetFileAttributes(Path(path), static_cast<uint32_t>(attributes) & 0x27));
}

void FatalRuntimeError(TextRef message, int32_t errorCode)
{
    ++endingCounter;
    Text codeLine = errorCode != 0 ? JoinText({"错误代码：", NumberToText(errorCode), "\r\n\r\n"}) : Text();
    Text messageLine = TextLength(message) > 0 ? JoinText({"错误信息：", message, "\r\n"}) : Text();
    Text boxText = JoinText({"运行时出错!\r\n\r\n", codeLine, messageLine});
    platform::ShowMessageBox(platform::AnsiToUtf8(boxText.View()), platform::AnsiToUtf8("错误"),
                             platform::MessageButtons::Ok, platform::MessageIcon::Error);
    exitCallback = nullptr;
    EndProgram(-1);
}

void StartRuntime()
{
    if (auto path = platform::ProgramPath()) {
        size_t slash = path->rfind('/');
        runDirectory = Text::FromBytes(slash == std::string::npos ? std::string_view() : std::string_view(*path).substr(0, slash));
    }
    if (!runDirectory.IsAbsent())
        platform::SetCurrentDirectory(Path(runDirectory));
    platform::InitToolkit();
}

void EndAfterMessageLoop()
{
    EndProgram(0);
}

bool ProgramIsEnding()
{
    return endingCounter > 0;
}

void RunEventHandler(void (*handler)())
{
    if (!ProgramIsEnding())
        handler();
}
