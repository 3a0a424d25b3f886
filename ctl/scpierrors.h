#pragma once

#include <QByteArray>
#include <QList>

// The error codes the SCPI server reports, with their standard texts.
namespace ScpiError {
constexpr int NoError = 0;
constexpr int Syntax = -102;
constexpr int ParameterNotAllowed = -108;
constexpr int MissingParameter = -109;
constexpr int InvalidSuffix = -131;
constexpr int SuffixNotAllowed = -138;
constexpr int UndefinedHeader = -113;
constexpr int DataOutOfRange = -222;
constexpr int IllegalParameterValue = -224;
constexpr int HardwareError = -240;
constexpr int HardwareMissing = -241;
constexpr int QueueOverflow = -350;
constexpr int InputBufferOverrun = -363;

// "No error", "Syntax error", ...; empty for a code not listed above.
QByteArray Text(int code);

// Bits of the standard event status register.
constexpr int OperationCompleteBit = 0x01;
constexpr int QueryErrorBit = 0x04;
constexpr int DeviceErrorBit = 0x08;
constexpr int ExecutionErrorBit = 0x10;
constexpr int CommandErrorBit = 0x20;
constexpr int PowerOnBit = 0x80;

// The event status bit an error sets by its class: -1xx command, -2xx
// execution, -3xx device-dependent, -4xx query; 0 for any other code.
int EventBit(int code);
}  // namespace ScpiError

// The instrument's one error queue, oldest first. When it is full the newest
// entry becomes -350 and later errors are lost until it is read, so that a
// client can tell that errors went missing.
class ScpiErrorQueue
{
public:
    static constexpr int Capacity = 16;

    void Push(int code);
    // The oldest error as SYSTem:ERRor? answers it: -113,"Undefined header",
    // or 0,"No error" when the queue is empty.
    QByteArray TakeNext();
    void Clear() { codes.clear(); }
    int Count() const { return codes.size(); }

private:
    QList<int> codes;
};
