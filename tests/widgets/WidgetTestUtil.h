// Event helpers for the widget tests: keys sent as the event loop would deliver them,
// and waits that keep the loop (and its timers) running.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>

#include <string>

namespace kvtest {

inline void KeyClick(QWidget* W, int Key, const QString& Text = QString(), Qt::KeyboardModifiers Mods = Qt::NoModifier)
{
    QKeyEvent Press(QEvent::KeyPress, Key, Mods, Text);
    QApplication::sendEvent(W, &Press);
    QKeyEvent Release(QEvent::KeyRelease, Key, Mods, Text);
    QApplication::sendEvent(W, &Release);
}

inline void KeyClicks(QWidget* W, const std::string& Text)
{
    for (char C : Text) {
        const int Key = (C >= 'a' && C <= 'z') ? Qt::Key_A + (C - 'a') : int(C);
        KeyClick(W, Key, QString(QChar(C)));
    }
}

inline void Wait(int Ms)
{
    QEventLoop Loop;
    QTimer::singleShot(Ms, &Loop, &QEventLoop::quit);
    Loop.exec();
}

} // namespace kvtest
