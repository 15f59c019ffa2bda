#include "twain/OstraTwainUtils.h"

#include "platform/Directories.h"

#include <QFileInfo>

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>

TW_FIX32 FloatToFix32(Extended floater)
{
    TW_FIX32 result{0, 0};
    const Extended scaled = floater * 65536.0L;
    if (!std::isfinite(scaled))
        return result;
    // Round to nearest, ties to even (the default rounding mode), then keep
    // the low 32 bits of the integer; fmod is exact on integral values.
    Extended rounded = std::nearbyint(scaled);
    constexpr Extended two32 = 4294967296.0L;
    rounded = std::fmod(rounded, two32);
    if (rounded < 0)
        rounded += two32;
    const auto bits = static_cast<std::uint32_t>(rounded);
    result.Whole = static_cast<TW_INT16>(static_cast<std::uint16_t>(bits >> 16));
    result.Frac = static_cast<TW_UINT16>(bits & 0xFFFFu);
    return result;
}

Extended Fix32ToFloat(TW_FIX32 Value)
{
    return static_cast<Extended>(Value.Whole) + static_cast<Extended>(Value.Frac) / 65536.0L;
}

std::int32_t LastPosition(const QString &Text, const QString &characters)
{
    std::int32_t result = static_cast<std::int32_t>(Text.size());
    for (qsizetype i = 0; i < Text.size(); ++i)
        if (characters.contains(Text.at(i)))
            result = static_cast<std::int32_t>(i + 1);
    return result;
}

QString ExtractDirectory(const QString &FilePath)
{
    return FilePath.left(LastPosition(FilePath, QString(QChar(PathDelim))));
}

bool FileExists(const QString &FilePath)
{
    if (FilePath.isEmpty())
        return false;
    return QFileInfo::exists(FilePath);
}

void IncludeTrailingBackslash(QString &Directory)
{
    if (Directory.isEmpty())
        return;
    if (Directory.back() != QChar(PathDelim))
        Directory += QChar(PathDelim);
}

QString GetCustomDirectory(TDirectoryKind DirectoryKind)
{
    platform::DirectoryKind kind = platform::DirectoryKind::Windows;
    switch (DirectoryKind) {
    case dkWindows:
        kind = platform::DirectoryKind::Windows;
        break;
    case dkSystem:
        kind = platform::DirectoryKind::System;
        break;
    case dkCurrent:
        kind = platform::DirectoryKind::Current;
        break;
    case dkApplication:
        kind = platform::DirectoryKind::Application;
        break;
    case dkTemp:
        kind = platform::DirectoryKind::Temp;
        break;
    }
    QString result = platform::GetDirectory(kind);
    if (DirectoryKind == dkApplication)
        result = ExtractDirectory(result);
    IncludeTrailingBackslash(result);
    return result;
}

// ---------------------------------------------------------------------------
// TPointerList
// ---------------------------------------------------------------------------
TPointerList::TPointerList()
{
    fAdditionalBlock = 10;
    fCount = 0;
    fAllocated = 0;
    SetAllocated(10);
}

TPointerList::~TPointerList()
{
    std::free(Data);
}

void TPointerList::Add(void *Value)
{
    const std::int32_t before = fCount;
    if (before == std::numeric_limits<std::int32_t>::max())
        return;
    SetCount(before + 1);
    if (fCount == before + 1)
        PutItem(before, Value);
}

void TPointerList::Clear()
{
    SetCount(0);
    SetAllocated(fAdditionalBlock);
}

void *TPointerList::GetItem(std::int32_t Index) const
{
    if (Index < 0 || Index >= fCount)
        return nullptr;
    return Data[Index];
}

void TPointerList::PutItem(std::int32_t Index, void *Value)
{
    if (Index < 0 || Index >= fCount)
        return;
    Data[Index] = Value;
}

void TPointerList::SetCount(std::int32_t Value)
{
    if (Value < 0)
        return;
    while (fAllocated < Value) {
        const std::int64_t next = std::int64_t(fAllocated) + fAdditionalBlock;
        const std::int32_t before = fAllocated;
        SetAllocated(next > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                                       : static_cast<std::int32_t>(next));
        if (fAllocated == before)
            return; // could not grow: the count stays as it was
    }
    fCount = Value;
}

void TPointerList::SetAllocated(std::int32_t Value)
{
    if (Value <= 0 || Value < fCount)
        return;
    void *grown = std::realloc(Data, sizeof(void *) * static_cast<std::size_t>(Value));
    if (!grown)
        return;
    Data = static_cast<void **>(grown);
    for (std::int32_t i = fAllocated; i < Value; ++i)
        Data[i] = nullptr;
    fAllocated = Value;
}

void TPointerList::SetAdditionalBlock(std::int32_t Value)
{
    if (Value > 0)
        fAdditionalBlock = Value;
}

Q_LOGGING_CATEGORY(lcTwain, "quillora.twain", QtWarningMsg)

TW_UINT16 CallLogged(DSMENTRYPROC proc, pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT,
                     TW_UINT16 MSG, TW_MEMREF data)
{
    const TW_UINT16 rc = proc(origin, dest, DG, DAT, MSG, data);
    if (lcTwain().isDebugEnabled()) {
        const QString to = dest ? QString::fromLocal8Bit(dest->ProductName, int(qstrnlen(dest->ProductName, sizeof dest->ProductName)))
                                : QStringLiteral("manager");
        qCDebug(lcTwain, "DSM_Entry(DG %#x, DAT %#06x, MSG %#06x) to %s -> TWRC %u", unsigned(DG), unsigned(DAT),
                unsigned(MSG), qUtf8Printable(to), unsigned(rc));
    }
    return rc;
}
