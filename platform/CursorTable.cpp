#include "platform/CursorTable.h"

#include <map>

namespace platform {
namespace {

std::map<int, QCursor> &table()
{
    static std::map<int, QCursor> cursors;
    return cursors;
}

} // namespace

void SetScreenCursor(int number, const QCursor &cursor)
{
    table()[number] = cursor;
}

QCursor ScreenCursor(int number)
{
    const auto it = table().find(number);
    return it != table().end() ? it->second : QCursor(Qt::ArrowCursor);
}

bool HasScreenCursor(int number)
{
    return table().count(number) != 0;
}

} // namespace platform
