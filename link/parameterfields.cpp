#include "parameterfields.h"

namespace {
constexpr int32_t U8Max = 255;
constexpr int32_t U16Max = 65535;
constexpr int32_t S16Min = -32768;
constexpr int32_t S16Max = 32767;
}  // namespace

// Gains and Rout travel unsigned, offsets signed, all as 16 bits.
const CalibrationField CalibrationFields[CalibrationFieldCount] = {
    {"KuDacVolt", &CalibrationRecord::KuDacVolt, 0, U16Max, true},
    {"KuAdcVolt", &CalibrationRecord::KuAdcVolt, 0, U16Max, true},
    {"KuDacCurr", &CalibrationRecord::KuDacCurr, 0, U16Max, true},
    {"KuAdcCurr", &CalibrationRecord::KuAdcCurr, 0, U16Max, true},
    {"KuAdcCurrFine", &CalibrationRecord::KuAdcCurrFine, 0, U16Max, true},
    {"OffDacVolt", &CalibrationRecord::OffDacVolt, S16Min, S16Max, true},
    {"OffAdcVolt", &CalibrationRecord::OffAdcVolt, S16Min, S16Max, true},
    {"OffDacCurr", &CalibrationRecord::OffDacCurr, S16Min, S16Max, true},
    {"OffAdcCurr", &CalibrationRecord::OffAdcCurr, S16Min, S16Max, true},
    {"OffAdcCurrFine", &CalibrationRecord::OffAdcCurrFine, S16Min, S16Max, true},
    {"Rout", &CalibrationRecord::Rout, 0, U16Max, true},
};

// One byte each, but the life counter, which is 16 bits and the supply's own.
const UserParamField UserParamFields[UserParamFieldCount] = {
    {"NVPstatus", &UserParamRecord::NVPstatus, 0, U8Max, true},
    {"LifeCounter", &UserParamRecord::LifeCounter, 0, U16Max, false},
    {"CurrTrigStat", &UserParamRecord::CurrTrigStat, 0, U8Max, true},
    {"CurrTrigTime", &UserParamRecord::CurrTrigTime, 0, U8Max, true},
    {"VoltmetrStatus", &UserParamRecord::VoltmetrStatus, 0, U8Max, true},
    {"VoltmetrTime", &UserParamRecord::VoltmetrTime, 0, U8Max, true},
    {"AdjStatus", &UserParamRecord::AdjStatus, 0, U8Max, true},
    {"CurrAdgStatus", &UserParamRecord::CurrAdgStatus, 0, U8Max, true},
    {"CurrentTrigger", &UserParamRecord::CurrentTrigger, 0, U8Max, true},
};
