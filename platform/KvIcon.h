// The icon picture class lives in platform/Icon.h; this name is kept for the units
// that include it.
#pragma once

#include "platform/Icon.h"
