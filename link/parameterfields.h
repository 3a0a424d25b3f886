#pragma once

#include "records.h"

#include <cstdint>

// The named fields of the two parameter blocks, the range each can take on
// the wire, and which are sent back. The window's pages and velkaroctl both
// take the fields and their writability from here; velkaroctl's parameter
// files also check the ranges (the window's boxes keep the form's own).
template <typename Record>
struct ParameterField {
    const char *name;  // the record's field name
    int32_t Record::*field;
    int32_t wireMin;
    int32_t wireMax;
    // False for a value the supply keeps itself: shown, never sent.
    bool writable;
};

using CalibrationField = ParameterField<CalibrationRecord>;
using UserParamField = ParameterField<UserParamRecord>;

constexpr int CalibrationFieldCount = 11;
constexpr int UserParamFieldCount = 9;

// In the record's declaration order.
extern const CalibrationField CalibrationFields[CalibrationFieldCount];
extern const UserParamField UserParamFields[UserParamFieldCount];
