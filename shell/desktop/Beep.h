// The one way the desktop shell beeps (a refused duplicate, a dialog that
// is already open), so every beep can be found and silenced in one place.
#pragma once

namespace MAIL {

void beep();

} // namespace MAIL
