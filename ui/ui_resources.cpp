#include "ui/ui_resources.h"

#include <QtCore/qglobal.h>
#include <QDir>

static void init_talvor_resources()
{
    Q_INIT_RESOURCE(talvor); // the registration must be named outside any namespace
}

namespace talvor {

void ensure_resources()
{
    static const bool done = (init_talvor_resources(), true);
    (void)done;
}

} // namespace talvor
