#include "sources/sane/Texts.h"

namespace sane_source::texts {

QString unreachable()
{
    return QStringLiteral("Der Scanner ist nicht erreichbar. Bitte prüfen Sie, ob er eingeschaltet und angeschlossen ist.");
}

QString deviceLost()
{
    return QStringLiteral("Die Verbindung zum Scanner ist während des Scannens abgebrochen. Bitte prüfen Sie, ob er "
                          "eingeschaltet und angeschlossen ist, und scannen Sie dann erneut.");
}

QString noImage() { return QStringLiteral("Der Scanner hat kein Bild geliefert. Bitte scannen Sie erneut."); }

QString valueRefused(const QString &title)
{
    return QStringLiteral("Der Scanner hat den Wert für „%1“ nicht angenommen. Es gilt weiter der bisherige Wert.")
        .arg(title);
}

QString forStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_GOOD:
        return {};
    case SANE_STATUS_UNSUPPORTED:
        return QStringLiteral("Der Scanner unterstützt diesen Vorgang nicht.");
    case SANE_STATUS_CANCELLED:
        return QStringLiteral("Der Scanner hat den Scan abgebrochen. Bitte scannen Sie erneut.");
    case SANE_STATUS_DEVICE_BUSY:
        return QStringLiteral("Der Scanner ist gerade belegt. Bitte warten Sie einen Moment und scannen Sie dann "
                              "erneut.");
    case SANE_STATUS_INVAL:
        return QStringLiteral("Der Scanner hat eine Einstellung nicht angenommen. Bitte prüfen Sie die "
                              "Einstellungen.");
    case SANE_STATUS_EOF:
        return noImage();
    case SANE_STATUS_JAMMED:
        return QStringLiteral("Im Scanner ist ein Papierstau. Bitte entfernen Sie das Papier und scannen Sie dann "
                              "erneut.");
    case SANE_STATUS_NO_DOCS:
        return QStringLiteral("Im Einzug liegt kein Papier. Bitte legen Sie das Dokument ein und scannen Sie dann "
                              "erneut.");
    case SANE_STATUS_COVER_OPEN:
        return QStringLiteral("Die Abdeckung des Scanners ist offen. Bitte schließen Sie sie und scannen Sie dann "
                              "erneut.");
    case SANE_STATUS_IO_ERROR:
        return QStringLiteral("Bei der Übertragung vom Scanner ist ein Fehler aufgetreten. Bitte prüfen Sie das "
                              "Kabel und scannen Sie dann erneut.");
    case SANE_STATUS_NO_MEM:
        return QStringLiteral("Für diesen Scan reicht der Speicher nicht. Bitte wählen Sie eine kleinere Auflösung "
                              "oder Fläche.");
    case SANE_STATUS_ACCESS_DENIED:
        return QStringLiteral("Der Zugriff auf den Scanner wurde verweigert. Bitte prüfen Sie die Berechtigungen.");
    }
    return QStringLiteral("Der Scanner meldet einen Fehler (Code %1). Bitte scannen Sie erneut.").arg(int(status));
}

} // namespace sane_source::texts
