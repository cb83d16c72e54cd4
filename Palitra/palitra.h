#pragma once

// The options window with the types of all of its controls, for its own code,
// its tests and the program's start-up. Other windows include
// Palitra/palitra_controls.h.

#include <QGroupBox>
#include <QLabel>

#include "Palitra/palitra_controls.h"
#include "saving/tsave_dialog.h"
#include "shell/speed_button.h"
