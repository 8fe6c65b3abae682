#pragma once
// The buttons' images and the window icon, drawn for the Linux program (the
// Windows one carries them as .ico resources).

#include <QIcon>

#include "desktop/form.h"

namespace loopmon::qt {

// Null for ButtonIcon::None.
QIcon iconFor(ButtonIcon icon);

}  // namespace loopmon::qt
