// The shared object the Data Source Manager loads: DS_Entry comes from the
// core library; this file keeps it in the object's exports.
#include "twain/Twain.h"

extern "C" TW_UINT16 DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

namespace {
// Referencing the entry point pulls its object file out of the static core.
[[maybe_unused]] volatile auto g_entry = &DS_Entry;
} // namespace
