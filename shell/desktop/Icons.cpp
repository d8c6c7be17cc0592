#include "shell/desktop/Icons.h"

#include <QFile>
#include <QString>

// The resource file is linked into a static library, whose registration
// code a program would drop unless something refers to it.
static void registerIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace MAIL {

QIcon pelorusIcon(int id)
{
    static const bool registered = (registerIconResources(), true);
    (void)registered;
    const QString path = QStringLiteral(":/icons/%1.svg").arg(id);
    if (!QFile::exists(path))
        return QIcon();
    return QIcon(path);
}

} // namespace MAIL
