// The file work behind saving a document, apart from the window.
#pragma once

#include "platform/BmpFile.h"
#include "platform/Picture.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

namespace quillora {

// Quality of a new document and of an overwritten one.
constexpr int kNewDocumentQuality = 20;
constexpr int kOverwriteQuality = 90;

// |name| as a JPEG file name: unchanged when it ends in ".jpg" (exactly that
// letter case), otherwise with ".jpg" appended.
QString withJpgEnding(const QString &name);

// |name| without a final ".jpg" or ".Jpg" (no other letter case).
QString withoutJpgEnding(const QString &name);

// The file-name part of |path| with its last three characters replaced by
// "jpg" (a name of fewer than three characters becomes "jpg").
QString jpgFileNameFor(const QString &path);

// Writes a file so that it is either complete or not there, through the
// platform's atomic writer (platform/FileAccess.h): on any failure whatever
// lay at |path| before is untouched and FileAccessError is thrown.  An
// existing file's permission bits are kept.
void replaceFile(const QString &path, const std::vector<std::uint8_t> &bytes);
void replaceFile(const QString &path, const std::function<void(const platform::ByteSink &)> &produce);

// Overwrites the document at |path| with |picture|: a name ending in ".bmp"
// (any letter case) gets a Windows bitmap file, any other the picture's JPEG
// bytes at kOverwriteQuality (an unchanged opened JPEG keeps its original
// bytes).  Written through replaceFile.
void overwriteDocument(const platform::Picture &picture, const QString &path);
void overwriteDocument(const platform::Picture &picture, const QByteArray &nativePath);

// Writes a new document named |name| (without ".jpg") into |folder| (ending
// in a path delimiter): the picture goes to |folder|name.bmp as a Windows
// bitmap file (nothing when |picture| is empty); if that file exists it is
// read back, encoded at kNewDocumentQuality and written to |folder|name.jpg
// through replaceFile, and the bitmap file is deleted.  When a file
// |folder|name.bmp already exists and a picture is given, the temporary
// bitmap goes to the first free |folder|name~N.bmp instead, so an existing
// bitmap document is never overwritten or deleted.  Returns the file name
// of the written document, or an empty string when none was written.  A
// failure throws; a bitmap file written before the failure stays.
QString writeNewDocument(const platform::Picture &picture, const QString &folder, const QString &name);
// The same with folder and name as the bytes the system knows them by;
// returns the written file name the same way.
QByteArray writeNewDocument(const platform::Picture &picture, const QByteArray &nativeFolder,
                            const QByteArray &nativeName);

// Whether something other than a folder lies at |path|.
bool fileExists(const QString &path);
bool fileExists(const QByteArray &nativePath);

// The first |folder|name~N.bmp (N = 1, 2, ...) that names nothing yet.
QString freeTemporaryBitmapName(const QString &folder, const QString &name);
QByteArray freeTemporaryBitmapName(const QByteArray &nativeFolder, const QByteArray &nativeName);

} // namespace quillora
