#pragma once

#include "rundriver.h"

class CommandContext;

// velkaroctl's way to the supply for a run: each write is a confirmed write
// (acknowledged, then read back), each read one try, all blocking; a lost
// port is reopened by the path it was opened by.
class SessionTransport : public RunTransport
{
public:
    explicit SessionTransport(CommandContext &context);

    bool isOpen() const override;
    bool reopen() override;
    bool handingOver() const override;
    Result readStatus(StatusRecord &status) override;
    Result readMeasurement(MeasurementRecord &measurement) override;
    Result writeSetpoints(const SetpointRecord &setpoints) override;
    Result writeOutput(bool on) override;

private:
    CommandContext &context;
};
