#include "net/url.h"

Text UrlAuthority(TextRef Url)
{
    if (CompareText(TextLeft(Url, 7), "http://", Case::Ignore) == 0) {
        const int32_t slash = FindText(Url, "/", 8, Case::Ignore);
        if (slash > 0)
            return TextMid(Url, 8, slash - 8);
        return ReplaceTextAt(Url, 1, 7);
    }
    const int32_t slash = FindText(Url, "/", 0, Case::Ignore);
    if (slash > 0)
        return TextLeft(Url, slash - 1);
    return CopyText(Url);
}

Text UrlHost(TextRef Url)
{
    Text authority = UrlAuthority(Url);
    const int32_t colon = FindText(authority, ":", 1, Case::Ignore);
    if (colon > 0)
        authority = TextLeft(authority, colon - 1);
    return ToLowerText(authority);
}

int32_t UrlPort(TextRef Url)
{
    const Text authority = UrlAuthority(Url);
    const int32_t colon = FindText(authority, ":", 1, Case::Ignore);
    if (colon > 0)
        return RealToInt32(TextToNumber(TextRight(authority, TextLength(authority) - colon)));
    return RealToInt32(TextToNumber("80"));
}

Text UrlPath(TextRef Url)
{
    const Text host = UrlHost(Url);
    // The search starts at the URL's first byte, so a host such as "t" is found inside "http://".
    const int32_t hostAt = FindText(Url, host, 1, Case::Ignore);
    const int32_t slash = FindText(Url, "/", hostAt, Case::Ignore);
    if (slash > 0)
        return TextRight(Url, TextLength(Url) - slash + 1);
    return Text::FromBytes("/");
}
