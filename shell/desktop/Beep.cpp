#include "shell/desktop/Beep.h"

#include <QApplication>

namespace MAIL {

void beep()
{
    QApplication::beep();
}

} // namespace MAIL
