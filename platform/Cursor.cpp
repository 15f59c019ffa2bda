#include "platform/Cursor.h"

#include "platform/Desktop.h"

BOOL GetCursorPos(POINT *lpPoint)
{
    if (!lpPoint)
        return FALSE;
    *lpPoint = platform::Desktop().CursorPos();
    return TRUE;
}
