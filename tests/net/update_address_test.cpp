#include <gtest/gtest.h>

#include <string>

#include "net/update_check.h"

namespace {

struct AddressRow {
    std::string received;
    const char* opened;  // nullptr: nothing may be opened
};

TEST(DownloadAddressToOpen, OpensOnlyWebAddressesWithoutControlCharacters)
{
    const AddressRow rows[] = {
        // web addresses, in any letter case, pass unchanged
        {"http://127.0.0.1:8713/download.html", "http://127.0.0.1:8713/download.html"},
        {"HTTPS://example.com/a b", "HTTPS://example.com/a b"},
        {"http://下载.example/新版", "http://下载.example/新版"},
        // trailing blanks and line ends are dropped
        {"http://x/\r\n", "http://x/"},
        {"http://x/ \t\r\n\n", "http://x/"},
        // anything else could open a file or start a program
        {"", nullptr},
        {"\r\n", nullptr},
        {"file:///etc/passwd", nullptr},
        {"/usr/bin/xterm", nullptr},
        {"ftp://x/", nullptr},
        {"http:/x", nullptr},
        {"httpx://x", nullptr},
        {" http://x/", nullptr},
        {"javascript:alert(1)//http://", nullptr},
        // control characters inside the address
        {"http://x/\r\nfile:///etc/passwd", nullptr},
        {"http://x/\ty", nullptr},
        {"http://x/\x1b[0m", nullptr},
        {"http://x/\x7f", nullptr},
    };
    for (const AddressRow& row : rows) {
        SCOPED_TRACE("address \"" + row.received + "\"");
        const Text opened = DownloadAddressToOpen(row.received.c_str());
        if (row.opened)
            EXPECT_EQ(opened.View(), row.opened);
        else
            EXPECT_TRUE(opened.IsAbsent()) << "would open \"" << opened.View() << "\"";
    }
}

}  // namespace
