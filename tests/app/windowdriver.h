#pragma once

// The window fixture is shared by every suite; it lives in support/.
#include "../support/windowdriver.h"
