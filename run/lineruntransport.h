#pragma once

#include "rundriver.h"
#include "writepolicy.h"

#include <functional>
#include <memory>

class DeviceLink;
class SharedLine;

// The one way a run reaches its supply, for every front end: its readings
// are tried once (the driver keeps its own schedule of them), its writes go
// through the line's write policy (tried until acknowledged, then read back,
// the reading tried like any read), and a lost line is reopened by the
// line's own rules unless the front end reconnects itself.
class LineRunTransport : public RunTransport
{
public:
    LineRunTransport();
    ~LineRunTransport() override;

    // The line the run goes over, once it is open; until then the transport
    // counts as closed. link and line must outlive the transport.
    void Attach(DeviceLink &link, SharedLine &line);
    void SetAddress(quint8 address);

    // For a front end whose connection is more than the line: connected()
    // tells whether it holds one, reconnect() makes one again after a loss
    // (true once the line is open).
    void SetConnection(std::function<bool()> connected, std::function<bool()> reconnect);
    // Told of every status reading the run makes, and of every output
    // switch the supply confirmed, for a front end that shows them.
    void SetStatusShown(std::function<void(Result, const StatusRecord &)> shown);
    void SetOutputShown(std::function<void(bool on)> shown);

    bool isOpen() const override;
    bool reopen() override;
    bool handingOver() const override;
    Result readStatus(StatusRecord &status) override;
    Result readMeasurement(MeasurementRecord &measurement) override;
    Result writeSetpoints(const SetpointRecord &setpoints) override;
    Result writeOutput(bool on) override;

private:
    bool Connected() const { return !connected || connected(); }

    SharedLine *line = nullptr;
    std::unique_ptr<WritePolicy> policy;
    quint8 address = 0;
    std::function<bool()> connected;
    std::function<bool()> reconnect;
    std::function<void(Result, const StatusRecord &)> statusShown;
    std::function<void(bool)> outputShown;
};
