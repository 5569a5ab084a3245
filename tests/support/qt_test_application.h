#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdlib>
#include <functional>

#if defined(__SANITIZE_ADDRESS__)
// NOTE: fontconfig keeps a cache for the life of the process that it never frees; that is the
// system library's business, not a leak of ours. Each widget test executable includes this
// header from its one source file, so the definition is unique.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
#endif

// The one QApplication of a widget test executable, made on first use with the offscreen
// platform unless the environment chose another.
inline QApplication& qtTestApplication()
{
    static int argc = 1;
    static char name[] = "tarnwick_ui_test";
    static char* argv[] = { name, nullptr };
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: Qt's own globals are gone by the time static destructors run.
    static QApplication* application = new QApplication(argc, argv);
    return *application;
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
