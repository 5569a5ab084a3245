#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <functional>

// The one QApplication of a widget test executable, made on first use with the offscreen
// platform unless the environment chose another.
inline QApplication& qtTestApplication()
{
    static int argc = 1;
    static char name[] = "tarnwick_ui_test";
    static char* argv[] = { name, nullptr };
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication application(argc, argv);
    return application;
}

// Handles events until `done` holds, for at most `limitMs` of waiting; answers `done()`.
inline bool processEventsUntil(const std::function<bool()>& done, int limitMs = 20000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}
