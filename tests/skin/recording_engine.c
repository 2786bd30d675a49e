/* Stands in for the skin engine: records each SkinH_AttachRes call for the test to read back. */
#include <stdlib.h>
#include <string.h>

#include "recording_engine.h"

static struct RecordedAttach recorded;

struct RecordedAttach* RecordedAttachCall(void) { return &recorded; }

// The program unloads the engine at its end; the last copy goes with it.
__attribute__((destructor)) static void ReleaseRecording(void) { free(recorded.skin); }

int32_t SkinH_AttachRes(const uint8_t* skin, int32_t length, const char* options, int32_t reserved1,
                        int32_t reserved2, int32_t reserved3)
{
    ++recorded.calls;
    free(recorded.skin);
    recorded.skin = NULL;
    recorded.skinWasNull = skin == NULL;
    recorded.length = length;
    /* The caller releases its bytes when the call returns, so they are copied now. */
    if (skin != NULL && length > 0) {
        recorded.skin = malloc((size_t)length);
        memcpy(recorded.skin, skin, (size_t)length);
    }
    recorded.optionsWereNull = options == NULL;
    memset(recorded.options, 0, sizeof recorded.options);
    if (options != NULL) strncpy(recorded.options, options, sizeof recorded.options - 1);
    recorded.reserved[0] = reserved1;
    recorded.reserved[1] = reserved2;
    recorded.reserved[2] = reserved3;
    return 0;
}
