// The forced update check made at every start.
#pragma once

#include "values/values.h"

extern Text UpdateFlag;
extern Text DownloadAddress;

void FetchUpdateInfo();
// Returns only when the flag is exactly "1"; otherwise tells the user, opens the address, ends.
void CheckForUpdate();
