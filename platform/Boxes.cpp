#include "platform/Boxes.h"

#include "platform/Application.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace platform {
namespace {

QWidget *owner()
{
    return QApplication::activeWindow();
}

// Texts may use a carriage return as line break; Qt's boxes want a line feed.
QString displayText(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

void QtBoxes::ShowMessage(const QString &caption, const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, caption, displayText(text), QMessageBox::Ok, owner());
    box.exec();
}

void QtBoxes::Information(const QString &text)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("Informationen"), displayText(text), QMessageBox::NoButton, owner());
    box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.exec();
}

bool QtBoxes::Confirm(const QString &text)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Bestätigen"), displayText(text), QMessageBox::NoButton, owner());
    QPushButton *yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void QtBoxes::ShowError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, Application::instance().Title(), displayText(text), QMessageBox::Ok, owner());
    box.exec();
}

void ShowMessage(const QString &text)
{
    Boxes::instance().ShowMessage(Application::instance().Title(), text);
}

} // namespace platform

QUILLORA_DEFINE_SERVICE(platform::Boxes, platform::QtBoxes)
