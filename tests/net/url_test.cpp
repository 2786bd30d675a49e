#include <gtest/gtest.h>

#include "net/url.h"

namespace {

struct UrlRow {
    const char* url;
    const char* host;
    int32_t port;
    const char* path;
};

const UrlRow kRows[] = {
    // the plain form, in any letter case
    {"http://AbC:8080/x/Y?q=1", "abc", 8080, "/x/Y?q=1"},
    {"HTTP://AbC/x", "abc", 80, "/x"},
    {"AbC:81/x", "abc", 81, "/x"},
    {"AbC", "abc", 80, "/"},
    {"http://AbC", "abc", 80, "/"},
    {"http://AbC:81", "abc", 81, "/"},
    // port: the leading number behind the first colon, unchecked
    {"http://AbC:/x", "abc", 0, "/x"},
    {"http://AbC:xy/x", "abc", 0, "/x"},
    {"http://AbC:80.9/x", "abc", 80, "/x"},
    {"http://AbC:81:82/x", "abc", 81, "/x"},
    {"http://AbC:99999/x", "abc", 99999, "/x"},
    // no slash after the host: the query stays in the host
    {"http://AbC?q=1", "abc?q=1", 80, "/"},
    // the path begins behind the host's first occurrence and keeps its letter case
    {"http://AbC/x/AbC/y", "abc", 80, "/x/AbC/y"},
    // another scheme is read as a host
    {"https://AbC/x", "https", 0, "//AbC/x"},
    // a host found inside the prefix moves the path to the prefix's first slash
    {"http://t/x", "t", 80, "//t/x"},
    {"http:///x", "", 80, "///x"},
    {"/x", "", 80, "/x"},
    {"", "", 80, "/"},
};

TEST(Url, SplitsIntoHostPortAndPath)
{
    for (const UrlRow& row : kRows) {
        SCOPED_TRACE(std::string("url \"") + row.url + "\"");
        EXPECT_EQ(UrlHost(row.url).View(), row.host);
        EXPECT_EQ(UrlPort(row.url), row.port);
        EXPECT_EQ(UrlPath(row.url).View(), row.path);
    }
}

TEST(Url, AbsentUrlActsAsEmpty)
{
    EXPECT_TRUE(UrlHost(TextRef()).IsAbsent());
    EXPECT_EQ(UrlPort(TextRef()), 80);
    EXPECT_EQ(UrlPath(TextRef()).View(), "/");
}

}  // namespace
