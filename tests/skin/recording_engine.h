// What the recording stand-in for the skin engine saw in its last SkinH_AttachRes call.
#pragma once

#include <stdint.h>

struct RecordedAttach {
    int calls;
    int skinWasNull;
    int32_t length;
    uint8_t* skin; /* a copy of the bytes handed over, NULL when none */
    int optionsWereNull;
    char options[16];
    int32_t reserved[3];
};

/* Exported by the stand-in next to SkinH_AttachRes. */
typedef struct RecordedAttach* (*RecordedAttachFunction)(void);
