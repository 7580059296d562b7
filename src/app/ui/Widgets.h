#pragma once
// The form widgets (TPanel, TMemo, ...) live with the other generic widgets.
#include "widgets/Widgets.h"
