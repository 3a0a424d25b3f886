#include "writepolicy.h"

#include "commandset.h"
#include "parameterfields.h"
#include "units.h"

namespace {

SupplyOutcome FromLink(LinkResult result)
{
    switch (result) {
    case LinkResult::GoodReply:
        return SupplyOutcome::Done;
    case LinkResult::NoReply:
        return SupplyOutcome::NoReply;
    case LinkResult::BadReply:
        break;
    }
    return SupplyOutcome::Refused;
}

template <typename Record, int Count>
bool WritableFieldsMatch(const ParameterField<Record> (&fields)[Count], const Record &written,
                         const Record &read)
{
    for (const ParameterField<Record> &f : fields) {
        if (f.writable && written.*f.field != read.*f.field)
            return false;
    }
    return true;
}

}  // namespace

WritePolicy::WritePolicy(DeviceLink &link, quint8 address)
    : link(link)
    , address(address)
{
}

template <typename Transaction>
auto WritePolicy::Reported(Transaction transaction)
{
    return [this, transaction, ended = false, last = LinkResult::NoReply]() mutable {
        if (ended)
            return last;
        last = transaction();
        if (silenceBounded)
            silentTries = last == LinkResult::NoReply ? silentTries + 1 : 0;
        if (last != LinkResult::GoodReply && afterFailedTry && !afterFailedTry(last))
            ended = true;
        if (silenceBounded && silentTries >= WriteTries)
            ended = true;
        return last;
    };
}

int WritePolicy::StepTries(int tries) const
{
    if (tryOnce)
        return 1;
    return silenceBounded ? qMax(1, WriteTries - silentTries) : tries;
}

// A lost or damaged reply costs one more request, not the whole command: a
// read has no effect on the supply, so trying it again is always safe.
template <typename Read>
LinkResult WritePolicy::ReadWithTries(int tries, Read read)
{
    return WithTries(tries, Reported(read));
}

SupplyOutcome WritePolicy::WriteWithTries(std::function<LinkResult()> write)
{
    lastStep = SupplyStep::Write;
    return FromLink(WithTries(StepTries(writeTries), Reported(std::move(write))));
}

// The reading back after an acknowledged write: done only when it shows what
// was written.
template <typename Record, typename Read, typename Same>
SupplyOutcome WritePolicy::ReadBack(Read read, Record &readBack, Same same)
{
    lastStep = SupplyStep::ReadBack;
    const SupplyOutcome reading = FromLink(ReadWithTries(WriteTries, [&] { return read(readBack); }));
    if (reading != SupplyOutcome::Done)
        return reading;
    return same(readBack) ? SupplyOutcome::Done : SupplyOutcome::NotConfirmed;
}

SupplyOutcome WritePolicy::ReadStatus(StatusRecord &status)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(StepTries(readTries), [&] { return link.GetStatus(address, status); }));
}

SupplyOutcome WritePolicy::ReadMeasurements(MeasurementRecord &measurement)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(StepTries(readTries), [&] { return link.GetMeasurements(address, measurement); }));
}

SupplyOutcome WritePolicy::ReadSetpoints(SetpointRecord &setpoints)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(StepTries(readTries), [&] { return link.GetSetpoints(address, setpoints); }));
}

SupplyOutcome WritePolicy::ReadCalibration(CalibrationRecord &calibration)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(
        StepTries(readTries), [&] { return link.GetCalibration(address, calibration, CommandSet::AccessRead); }));
}

SupplyOutcome WritePolicy::ReadUserParams(UserParamRecord &params)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(
        StepTries(readTries), [&] { return link.GetUserParams(address, params, CommandSet::AccessRead); }));
}

SupplyOutcome WritePolicy::SetSetpoints(std::optional<double> volts, std::optional<double> amperes)
{
    SetpointRecord wanted;
    const SupplyOutcome written = WriteSetpoints(volts, amperes, wanted);
    return written == SupplyOutcome::Done ? ConfirmSetpoints(wanted) : written;
}

SupplyOutcome WritePolicy::SetSetpoints(const SetpointRecord &setpoints)
{
    const SupplyOutcome written = WriteWithTries(
        [&] { return link.SetSetpoints(address, setpoints.VoltageSet, setpoints.CurrentSet); });
    return written == SupplyOutcome::Done ? ConfirmSetpoints(setpoints) : written;
}

SupplyOutcome WritePolicy::SetOutput(bool on)
{
    const SupplyOutcome written = WriteOutput(on);
    return written == SupplyOutcome::Done ? ConfirmOutput(on) : written;
}

SupplyOutcome WritePolicy::WriteSetpoints(std::optional<double> volts, std::optional<double> amperes,
                                          SetpointRecord &wanted)
{
    if (!volts || !amperes) {
        const SupplyOutcome present = ReadSetpoints(wanted);
        if (present != SupplyOutcome::Done)
            return present;
    }
    if (volts)
        wanted.VoltageSet = ToThousandths(*volts);
    if (amperes)
        wanted.CurrentSet = ToThousandths(*amperes);
    return WriteWithTries([&] { return link.SetSetpoints(address, wanted.VoltageSet, wanted.CurrentSet); });
}

SupplyOutcome WritePolicy::ConfirmSetpoints(const SetpointRecord &wanted)
{
    return ReadBack([&](SetpointRecord &r) { return link.GetSetpoints(address, r); }, readBackSetpoints,
                    [&](const SetpointRecord &r) {
                        return r.VoltageSet == wanted.VoltageSet && r.CurrentSet == wanted.CurrentSet;
                    });
}

SupplyOutcome WritePolicy::WriteOutput(bool on)
{
    const int value = on ? CommandSet::OutputOnValue : CommandSet::OutputOffValue;
    return WriteWithTries([&] { return link.SetOutput(address, value); });
}

SupplyOutcome WritePolicy::ConfirmOutput(bool on)
{
    return ReadBack([&](StatusRecord &r) { return link.GetStatus(address, r); }, readBackStatus,
                    [&](const StatusRecord &r) { return (r.OutputOn != 0) == on; });
}

SupplyOutcome WritePolicy::WriteCalibration(const CalibrationRecord &calibration)
{
    const SupplyOutcome written = WriteWithTries(
        [&] { return link.SetCalibration(address, calibration, CommandSet::AccessWrite); });
    if (written != SupplyOutcome::Done)
        return written;
    CalibrationRecord readBack;
    return ReadBack(
        [&](CalibrationRecord &r) { return link.GetCalibration(address, r, CommandSet::AccessRead); },
        readBack,
        [&](const CalibrationRecord &r) { return WritableFieldsMatch(CalibrationFields, calibration, r); });
}

SupplyOutcome WritePolicy::WriteUserParams(const UserParamRecord &params)
{
    const SupplyOutcome written =
        WriteWithTries([&] { return link.SetUserParams(address, params, CommandSet::AccessWrite); });
    if (written != SupplyOutcome::Done)
        return written;
    UserParamRecord readBack;
    return ReadBack(
        [&](UserParamRecord &r) { return link.GetUserParams(address, r, CommandSet::AccessRead); }, readBack,
        [&](const UserParamRecord &r) { return WritableFieldsMatch(UserParamFields, params, r); });
}
