#include "supplysession.h"

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

SupplySession::SupplySession(QSerialPort *port, quint8 address)
    : ownLink(std::make_unique<DeviceLink>())
    , link(*ownLink)
    , address(address)
{
    link.SetPort(port);
    link.SetTraceStream(nullptr);
}

SupplySession::SupplySession(DeviceLink &sharedLink, quint8 address)
    : link(sharedLink)
    , address(address)
{
}

SupplySession::~SupplySession()
{
    link.DrainLateReply();
}

void SupplySession::SetFrameTrace(FILE *stream)
{
    link.SetFrameTrace(stream);
}

template <typename Transaction>
auto SupplySession::Reported(Transaction transaction)
{
    return [this, transaction, ended = false, last = LinkResult::NoReply]() mutable {
        if (ended)
            return last;
        last = transaction();
        if (last != LinkResult::GoodReply && afterFailedTry && !afterFailedTry(last))
            ended = true;
        return last;
    };
}

// A lost or damaged reply costs one more request, not the whole command: a
// read has no effect on the supply, so trying it again is always safe.
template <typename Read>
LinkResult SupplySession::ReadWithTries(Read read)
{
    return WithTries(readTries, Reported(read));
}

SupplyOutcome SupplySession::ReadStatus(StatusRecord &status)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries([&] { return link.GetStatus(address, status); }));
}

SupplyOutcome SupplySession::ReadMeasurements(MeasurementRecord &measurement)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries([&] { return link.GetMeasurements(address, measurement); }));
}

SupplyOutcome SupplySession::ReadSetpoints(SetpointRecord &setpoints)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries([&] { return link.GetSetpoints(address, setpoints); }));
}

SupplyOutcome SupplySession::ReadCalibration(CalibrationRecord &calibration)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(
        [&] { return link.GetCalibration(address, calibration, CommandSet::AccessRead); }));
}

SupplyOutcome SupplySession::ReadUserParams(UserParamRecord &params)
{
    lastStep = SupplyStep::Read;
    return FromLink(ReadWithTries(
        [&] { return link.GetUserParams(address, params, CommandSet::AccessRead); }));
}

// The write is repeated until acknowledged; only then is the supply read back,
// and the call is done only when the read shows what was written.
template <typename Record, typename Read, typename Write, typename Same>
SupplyOutcome SupplySession::WriteConfirmed(Write write, Read read, Record &readBack, Same same)
{
    lastStep = SupplyStep::Write;
    const SupplyOutcome written = FromLink(WithTries(writeTries, Reported(write)));
    if (written != SupplyOutcome::Done)
        return written;
    lastStep = SupplyStep::ReadBack;
    const SupplyOutcome reading = FromLink(ReadWithTries([&] { return read(readBack); }));
    if (reading != SupplyOutcome::Done)
        return reading;
    return same(readBack) ? SupplyOutcome::Done : SupplyOutcome::NotConfirmed;
}

SupplyOutcome SupplySession::SetSetpoints(std::optional<double> volts,
                                          std::optional<double> amperes)
{
    SetpointRecord wanted;
    const SupplyOutcome written = WriteSetpoints(volts, amperes, wanted);
    return written == SupplyOutcome::Done ? ConfirmSetpoints(wanted) : written;
}

SupplyOutcome SupplySession::SetOutput(bool on)
{
    const SupplyOutcome written = WriteOutput(on);
    return written == SupplyOutcome::Done ? ConfirmOutput(on) : written;
}

SupplyOutcome SupplySession::WriteSetpoints(std::optional<double> volts,
                                            std::optional<double> amperes, SetpointRecord &wanted)
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
    lastStep = SupplyStep::Write;
    return FromLink(WithTries(writeTries, Reported(
        [&] { return link.SetSetpoints(address, wanted.VoltageSet, wanted.CurrentSet); })));
}

SupplyOutcome SupplySession::ConfirmSetpoints(const SetpointRecord &wanted)
{
    lastStep = SupplyStep::ReadBack;
    const SupplyOutcome reading =
        FromLink(ReadWithTries([&] { return link.GetSetpoints(address, readBackSetpoints); }));
    if (reading != SupplyOutcome::Done)
        return reading;
    return readBackSetpoints.VoltageSet == wanted.VoltageSet
                   && readBackSetpoints.CurrentSet == wanted.CurrentSet
               ? SupplyOutcome::Done
               : SupplyOutcome::NotConfirmed;
}

SupplyOutcome SupplySession::WriteOutput(bool on)
{
    const int value = on ? CommandSet::OutputOnValue : CommandSet::OutputOffValue;
    lastStep = SupplyStep::Write;
    return FromLink(WithTries(writeTries, Reported([&] { return link.SetOutput(address, value); })));
}

SupplyOutcome SupplySession::ConfirmOutput(bool on)
{
    lastStep = SupplyStep::ReadBack;
    const SupplyOutcome reading =
        FromLink(ReadWithTries([&] { return link.GetStatus(address, readBackStatus); }));
    if (reading != SupplyOutcome::Done)
        return reading;
    return (readBackStatus.OutputOn != 0) == on ? SupplyOutcome::Done : SupplyOutcome::NotConfirmed;
}

SupplyOutcome SupplySession::WriteCalibration(const CalibrationRecord &calibration)
{
    CalibrationRecord readBack;
    return WriteConfirmed(
        [&] { return link.SetCalibration(address, calibration, CommandSet::AccessWrite); },
        [&](CalibrationRecord &r) {
            return link.GetCalibration(address, r, CommandSet::AccessRead);
        },
        readBack,
        [&](const CalibrationRecord &r) {
            return WritableFieldsMatch(CalibrationFields, calibration, r);
        });
}

SupplyOutcome SupplySession::WriteUserParams(const UserParamRecord &params)
{
    UserParamRecord readBack;
    return WriteConfirmed(
        [&] { return link.SetUserParams(address, params, CommandSet::AccessWrite); },
        [&](UserParamRecord &r) { return link.GetUserParams(address, r, CommandSet::AccessRead); },
        readBack,
        [&](const UserParamRecord &r) { return WritableFieldsMatch(UserParamFields, params, r); });
}
