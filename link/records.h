#pragma once

#include <cstdint>

// Device records. Every field is a 32-bit signed integer in memory, whatever
// its width on the wire; a read fills its record only on a good reply.

struct StatusRecord {
    int32_t Voltage = 0;      // 10 mV units
    int32_t Current = 0;      // mA, or 0.1 mA when CurrentFine is set
    int32_t CcFlag = 0;
    int32_t CvFlag = 0;
    int32_t CurrentFine = 0;
    int32_t OutputOn = 0;
};

struct MeasurementRecord {
    int32_t Vsdadc = 0;  // mV
    int32_t Csdadc = 0;  // mA
    int32_t Temp = 0;    // 0.1 degC
    int32_t Vin = 0;     // mV
    int32_t Vpwm = 0;    // mV
    int32_t Vref = 0;    // mV
};

struct SetpointRecord {
    int32_t VoltageSet = 0;  // mV
    int32_t CurrentSet = 0;  // mA
};

struct CalibrationRecord {
    int32_t KuDacVolt = 0;
    int32_t KuAdcVolt = 0;
    int32_t KuDacCurr = 0;
    int32_t KuAdcCurr = 0;
    int32_t KuAdcCurrFine = 0;
    int32_t OffDacVolt = 0;
    int32_t OffAdcVolt = 0;
    int32_t OffDacCurr = 0;
    int32_t OffAdcCurr = 0;
    int32_t OffAdcCurrFine = 0;
    int32_t Rout = 0;
};

struct UserParamRecord {
    int32_t NVPstatus = 0;
    int32_t LifeCounter = 0;
    int32_t CurrTrigStat = 0;
    int32_t CurrTrigTime = 0;
    int32_t VoltmetrStatus = 0;
    int32_t VoltmetrTime = 0;
    int32_t AdjStatus = 0;
    int32_t CurrAdgStatus = 0;
    int32_t CurrentTrigger = 0;
};

struct UserParamShortRecord {
    int32_t Word0 = 0;
    int32_t Byte2 = 0;
    int32_t Word3 = 0;
};
