#include "app/ShellMessages.h"

#include <array>
#include <utility>

namespace Unit1 {

QString ShellFehlertext(int result)
{
    static const std::array<std::pair<int, const char *>, 16> kTexts{{
        {0, "Zuwenig Speicher, ausführbare Datei war zerstört, Relokationswerte waren ungültig"},
        {2, "Datei wurde nicht gefunden."},
        {3, "Verzeichnis wurde nicht gefunden."},
        {5, "Fehler beim gemeinsamen Zugriff auf eine Datei im Netz oder Fehler beim Zugriff auf eine gesperrte "
            "Datei im Netz."},
        {6, "Bibliothek forderte separate Datensegmente für jede Task an."},
        {8, "Zuwenig Speicher, um die Anwendung zu starten."},
        {10, "Falsche Windows-Version."},
        {11, "Ungültige ausführbare Datei. Entweder keine Windows-Anwendung oder Fehler in der EXE-Datei."},
        {12, "Anwendung für ein anderes Betriebssystem."},
        {13, "Anwendung für MS-DOS 4.0."},
        {14, "Typ der ausführbaren Datei unbekannt."},
        {15, "Versuch, eine Real-Mode-Anwendung (für eine frühere Windows-Version) zu laden."},
        {16, "Versuch, eine zweite Instanz einer ausführbaren Datei mit mehreren Datensegmenten, die nicht als nur "
             "lesbar gekennzeichnet waren, zu laden."},
        {19, "Versuch, eine komprimierte ausführbare Datei zu laden. Die Datei muß dekomprimiert werden, bevor sie "
             "geladen werden kann."},
        {20, "Ungültige dynamische Linkbibliothek (DLL). Eine der DLLs, die benötigt wurde, um die Anwendung "
             "auszuführen, war beschädigt."},
        {21, "Anwendung benötigt Windows-32-Bit-Erweiterungen."},
    }};
    for (const auto &[code, text] : kTexts)
        if (code == result)
            return QString::fromUtf8(text);
    return {};
}

} // namespace Unit1
