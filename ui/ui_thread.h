#pragma once
// Widgets may only be touched on the thread that runs the Qt event loop;
// every way in from the core checks it, in every build.
#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

namespace talvor {

inline void require_ui_thread(const char* where)
{
    if (QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread())
        qFatal("%s called off the UI thread", where);
}

} // namespace talvor
