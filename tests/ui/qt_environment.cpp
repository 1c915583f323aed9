// Wine hands a Windows program no variable whose name starts with QT_, so
// the window tests' Qt settings also travel as TALVOR_QT_ENV
// ("QT_QPA_PLATFORM=offscreen|QT_SCALE_FACTOR=1.5") and are set here,
// before main makes the application.
#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace {

const bool qt_environment_taken = [] {
    const QByteArray all = qgetenv("TALVOR_QT_ENV");
    for (const QByteArray& pair : all.split('|')) {
        const int eq = pair.indexOf('=');
        if (eq > 0)
            qputenv(pair.left(eq).constData(), pair.mid(eq + 1));
    }
    return true;
}();

} // namespace
