// Helpers of the acquisition library that know nothing of sources:
// fixed-point conversion, path routines, system directories and the
// growable pointer list the source manager keeps its sources in.
#pragma once

#include "twain/Twain.h"

#include <QLoggingCategory>
#include <QString>

#include <cstdint>

// The root of the library's object classes: what an event's Sender is and
// what TTwainIdentity::Assign accepts.
class TObject {
public:
    virtual ~TObject() = default;
};

// Extended-precision float of the library's interfaces.
using Extended = long double;

// The platform's path delimiter (on Linux "/"; there are no drive letters,
// so ":" is an ordinary file-name character).
constexpr char16_t PathDelim = u'/';

enum TDirectoryKind : std::uint8_t { dkWindows, dkSystem, dkCurrent, dkApplication, dkTemp };

// Value × 65536 rounded to nearest (ties to even), low 32 bits split into
// Whole (high half) and Frac (low half).  Out-of-range values wrap.
TW_FIX32 FloatToFix32(Extended floater);
Extended Fix32ToFloat(TW_FIX32 Value);

// 1-based position of the last character of Text that is one of
// characters; the length of Text when none is (0 for empty text).
std::int32_t LastPosition(const QString &Text, const QString &characters);
// Leading part of FilePath up to and including the last path delimiter; a
// path without one comes back whole.
QString ExtractDirectory(const QString &FilePath);
// True when the platform finds an entry of that name (a directory counts).
bool FileExists(const QString &FilePath);
// Appends the path delimiter unless the text already ends in one.  An empty
// text (a directory query that gave nothing) stays empty.
void IncludeTrailingBackslash(QString &Directory);
// A system directory (see platform/Directories.h), ending in the path
// delimiter; for dkApplication the directory of the running program.  Empty
// when the platform cannot tell.
QString GetCustomDirectory(TDirectoryKind DirectoryKind);

// Growable list of untyped pointers; never frees what they point to.
class TPointerList : public TObject {
public:
    TPointerList();
    ~TPointerList() override;
    TPointerList(const TPointerList &) = delete;
    TPointerList &operator=(const TPointerList &) = delete;

    void Add(void *Value);
    void Clear();
    void *GetItem(std::int32_t Index) const;
    void PutItem(std::int32_t Index, void *Value);
    void SetCount(std::int32_t Value);
    void SetAllocated(std::int32_t Value);
    void SetAdditionalBlock(std::int32_t Value);

    // Properties.
    void *Item(std::int32_t Index) const { return GetItem(Index); }
    void *operator[](std::int32_t Index) const { return GetItem(Index); }
    std::int32_t Count() const { return fCount; }
    std::int32_t Allocated() const { return fAllocated; }
    std::int32_t AdditionalBlock() const { return fAdditionalBlock; }

protected:
    void **Data = nullptr;
    std::int32_t fAdditionalBlock = 10;
    std::int32_t fCount = 0;
    std::int32_t fAllocated = 0;
};

// The acquisition library's log ("quillora.twain", off by default): every
// call into the source manager and its result at debug level.
Q_DECLARE_LOGGING_CATEGORY(lcTwain)

// Calls |proc| (the manager's DSM_Entry) and logs the triplet, the
// destination and the result.
TW_UINT16 CallLogged(DSMENTRYPROC proc, pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 DG, TW_UINT16 DAT,
                     TW_UINT16 MSG, TW_MEMREF data);
