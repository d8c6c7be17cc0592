#include "shell/desktop/Icons.h"

#include <QFile>
#include <QString>

namespace MAIL {

QIcon pelorusIcon(int id)
{
    const QString path = QStringLiteral(":/icons/%1.svg").arg(id);
    if (!QFile::exists(path))
        return QIcon();
    return QIcon(path);
}

} // namespace MAIL
