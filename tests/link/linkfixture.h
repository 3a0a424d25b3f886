#pragma once

// The link fixture is shared by every suite; it lives in support/.
#include "../support/linkfixture.h"
