// Taking a URL of the plain form [http://]host[:port][/path] apart.
#pragma once

#include <cstdint>

#include "values/values.h"

// The host-and-port text: behind an "http://" prefix, up to the first "/".
Text UrlAuthority(TextRef Url);
// Lower-cased, without the port; may be empty.
Text UrlHost(TextRef Url);
// The leading number behind the first colon, unchecked; 80 when there is no colon.
int32_t UrlPort(TextRef Url);
// From the first "/" at or after the host's first occurrence; "/" when there is none.
Text UrlPath(TextRef Url);
