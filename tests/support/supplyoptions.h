#pragma once

#include "virtualsupply.h"

// The options of a supply that answers nothing, others as given.
inline VirtualSupply::Options Silent(VirtualSupply::Options options = {})
{
    options.silent = true;
    return options;
}
