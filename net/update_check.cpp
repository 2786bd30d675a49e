#include "net/update_check.h"

#include <string_view>

#include "build_config.h"
#include "net/http_request.h"
#include "runtime/runtime.h"

Text UpdateFlag;
Text DownloadAddress;

void FetchUpdateInfo()
{
    UpdateFlag = HttpRequestText("http://" UPDATE_SERVER_HOST "/kestu/713.txt");
    DownloadAddress = HttpRequestText("http://" UPDATE_SERVER_HOST "/kestu/dizhi.txt");
}

Text DownloadAddressToOpen(TextRef address)
{
    std::string_view bytes = address.View();
    while (!bytes.empty() && (bytes.back() == ' ' || bytes.back() == '\t' || bytes.back() == '\r' ||
                              bytes.back() == '\n'))
        bytes.remove_suffix(1);
    Text trimmed = Text::FromBytes(bytes);

    // The address comes over plain HTTP: anything but a web address could open a file or start a program.
    if (CompareText(TextLeft(trimmed, 7), "http://", Case::Ignore) != 0 &&
        CompareText(TextLeft(trimmed, 8), "https://", Case::Ignore) != 0)
        return {};
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20 || value == 0x7F)
            return {};
    }
    return trimmed;
}

void CheckForUpdate()
{
    if (CompareTextExact(UpdateFlag, "1") == 0)
        return;
    ShowMessage("发现最新版本！请点击确定后下载最新版。", 0);
    const Text address = DownloadAddressToOpen(DownloadAddress);
    if (!address.IsAbsent())
        OpenAddress(address);
    EndProgram(0);
}
