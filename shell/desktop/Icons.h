// The icons of the desktop shell, drawn as SVG and kept in the Qt resource
// file: 107 application, 108 authorized recipient, 110 tray and dialog
// decoration, 111 unauthorized recipient, 112 secure state, 113 insecure
// state, 114 protected attachment, 115 unprotected attachment, 118 domain.
#pragma once

#include <QIcon>

namespace MAIL {

// The icon with that resource number; a null icon for an unknown number.
QIcon pelorusIcon(int id);

} // namespace MAIL
