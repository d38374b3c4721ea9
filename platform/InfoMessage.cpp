#include "platform/InfoMessage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace kv {

namespace {
TInfoMessageAnswerer& Answerer()
{
    static TInfoMessageAnswerer answerer;
    return answerer;
}
} // namespace

void SetInfoMessageAnswerer(TInfoMessageAnswerer A) { Answerer() = std::move(A); }

void ShowInfoMessage(const std::string& Text)
{
    if (Answerer()) {
        Answerer()(Text);
        return;
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) || QGuiApplication::platformName() == "offscreen")
        return;
    QMessageBox::information(nullptr, QApplication::applicationName(), QString::fromStdString(Text));
}

void RestoreDefaultCursor()
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

} // namespace kv
