// One HTTP/1.1 request through the system's internet library; its body as text.
#pragma once

#include <optional>

#include "values/values.h"

// Never fails: whatever cannot be opened or sent gives the empty text. The status is not
// looked at, so an error page's body comes back like any other. A supplied Proxy, even an
// empty one, routes the request through that HTTP proxy; a supplied ResponseHeaders
// receives the raw response header block.
Text HttpRequestText(TextRef Url, TextRef Method = {}, std::optional<TextRef> Proxy = std::nullopt,
                     TextRef Headers = {}, TextRef PostData = {}, Text* ResponseHeaders = nullptr);
