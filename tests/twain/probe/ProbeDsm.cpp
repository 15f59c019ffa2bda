// A minimal manager: opens and closes, lists no source, and reports the
// condition code 0x4242 so a test can tell it was this object that answered.
#include "twain/Twain.h"

extern "C" __attribute__((visibility("default"))) TW_UINT16 DSM_Entry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 DG,
                                                                       TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    if (DG != DG_CONTROL)
        return TWRC_FAILURE;
    switch (DAT) {
    case DAT_PARENT:
        return (MSG == MSG_OPENDSM || MSG == MSG_CLOSEDSM) ? TWRC_SUCCESS : TWRC_FAILURE;
    case DAT_IDENTITY:
        return TWRC_ENDOFLIST;
    case DAT_STATUS:
        if (pData)
            static_cast<TW_STATUS *>(pData)->ConditionCode = 0x4242;
        return TWRC_SUCCESS;
    default:
        return TWRC_FAILURE;
    }
}
