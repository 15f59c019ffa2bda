// Helpers of the document-workflow window tests.
#pragma once

#include "MainWindowFixture.h"

#include "app/Unit1.h"
#include "platform/Jpeg.h"

#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace document_test {

inline QStringList listEntries(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

inline int rowOf(const QListWidget *list, const QString &name)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == name)
            return i;
    return -1;
}

inline QImage gradient(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 255 / std::max(1, w - 1), y * 255 / std::max(1, h - 1), 90));
    return img;
}

inline std::vector<std::uint8_t> fileBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray b = f.readAll();
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

inline void writeBytes(const QString &path, const std::vector<std::uint8_t> &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size()));
}

// What a scan leaves behind: the typed name as the current document, the
// picture in the picture area, "Speichern" and the save glyph enabled.
inline void simulateScan(TForm1 &f, const QString &typedName, const QImage &picture)
{
    f.Edit1->setText(typedName);
    Unit1::datei_m = f.Edit1->text();
    f.Image1->SetPicture(picture);
    f.Image1->SetStretch(true);
    f.Image1->show();
    f.Button4->setEnabled(false);
    f.Button2->setEnabled(true);
    f.SpeedButton4->setEnabled(true);
}

// The main window over a stored document folder, with the help file in
// place; document() puts a small JPEG into that folder.
class DocumentFolderFixture : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        ProvideHelpFile();
        StoreFolder(DocumentDir());
    }
    void document(const QString &name, int w = 24, int h = 16) const
    {
        writeBytes(DocumentDir() + name, platform::encodeJpeg(gradient(w, h), 75));
    }
};

} // namespace document_test
