// The two binary records the program stores, exactly as they lie in the
// files: little-endian, read and written whole, one record per file.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Settings record, file "Einstellung.opt".
struct optionen {
    std::uint8_t pfad[256]; // length byte + up to 255 bytes: the document folder
    double doub1;
    double doub2;
    std::int32_t anzahl; // always written as 0
    std::int32_t sonst2;
    std::int32_t sonst3;
    std::uint8_t Str1[21];
    std::uint8_t str2[21];
    std::uint8_t str3[21];
    std::uint8_t padding[5]; // kept as held in memory
};

static_assert(sizeof(optionen) == 352);
static_assert(offsetof(optionen, pfad) == 0);
static_assert(offsetof(optionen, doub1) == 256);
static_assert(offsetof(optionen, doub2) == 264);
static_assert(offsetof(optionen, anzahl) == 272);
static_assert(offsetof(optionen, sonst2) == 276);
static_assert(offsetof(optionen, sonst3) == 280);
static_assert(offsetof(optionen, Str1) == 284);
static_assert(offsetof(optionen, str2) == 305);
static_assert(offsetof(optionen, str3) == 326);
static_assert(offsetof(optionen, padding) == 347);

// Version record, file "Version.ver".
struct welcheversion {
    double ver_1;
    double ver_2;
    std::int32_t version;
    std::int32_t int_1;
    std::int32_t int_2;
    std::int32_t int_3;
    std::int32_t int_4;
    std::int32_t int_5;
    std::uint8_t str_1[21];
    std::uint8_t str_2[21];
    std::uint8_t str_3str_4[21];
    std::uint8_t padding[1];
};

static_assert(sizeof(welcheversion) == 104);
static_assert(offsetof(welcheversion, version) == 16);
static_assert(offsetof(welcheversion, int_1) == 20);
static_assert(offsetof(welcheversion, int_5) == 36);
static_assert(offsetof(welcheversion, str_1) == 40);
static_assert(offsetof(welcheversion, str_2) == 61);
static_assert(offsetof(welcheversion, str_3str_4) == 82);
static_assert(offsetof(welcheversion, padding) == 103);

// Length-prefixed strings of capacity |capacity| (field size capacity + 1).
// Reading uses only as many bytes as the length byte says (at most the
// capacity); writing sets the length byte and the text bytes and leaves the
// bytes after them untouched.  Text is the locale's 8-bit encoding (UTF-8),
// cut at a character boundary to fit.
QString ShortStringValue(const std::uint8_t *field, int capacity);
// The text bytes of the field, as stored.
QByteArray ShortStringBytes(const std::uint8_t *field, int capacity);
void SetShortString(std::uint8_t *field, int capacity, const QString &value);

// Record files.
enum class RecordReadResult {
    Read,      // a whole record was read
    Short,     // the file held less than one record; its bytes are in front
    Missing,   // no file
    NotOpened, // exists but could not be opened for reading and writing
    Failed,    // a read error; the record is unchanged
};

// Reads the first |size| bytes of the file at |path| into |record|.  The
// file must be a plain file that can be opened for reading and writing.
RecordReadResult ReadRecordFile(const QString &path, void *record, std::size_t size);

// Replaces the file at |path| with exactly |size| bytes of |record|: the
// bytes go to a new file in the same folder which is renamed into place
// only when complete, so a failure leaves the earlier file as it was.  An
// existing file that may not be written is left alone.  False on failure.
bool WriteRecordFile(const QString &path, const void *record, std::size_t size);

// Writes |size| bytes of |record| over the start of an existing file,
// keeping what follows.  False on failure.
bool OverwriteRecordInPlace(const QString &path, const void *record, std::size_t size);
