#include "scpistatusregister.h"

void ScpiStatusRegister::SetCondition(int bits)
{
    bits &= Bits;
    const int rose = bits & ~condition;
    const int fell = condition & ~bits;
    events |= (rose & positive) | (fell & negative);
    condition = bits;
}

int ScpiStatusRegister::TakeEvents()
{
    const int taken = events;
    events = 0;
    return taken;
}

void ScpiStatusRegister::Preset()
{
    enable = 0;
    positive = Bits;
    negative = 0;
}
