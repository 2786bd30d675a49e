// The forced update check made at every start.
#pragma once

#include "values/values.h"

extern Text UpdateFlag;
extern Text DownloadAddress;

void FetchUpdateInfo();
// Returns only when the flag is exactly "1"; otherwise tells the user, opens the address, ends.
void CheckForUpdate();

// The address as it may be handed to the desktop: trailing blanks and line ends dropped, and
// only a web address without control characters; the absent text when it may not be opened.
Text DownloadAddressToOpen(TextRef address);
