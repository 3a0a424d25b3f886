#include "scpierrors.h"

QByteArray ScpiError::Text(int code)
{
    switch (code) {
    case NoError: return "No error";
    case Syntax: return "Syntax error";
    case ParameterNotAllowed: return "Parameter not allowed";
    case MissingParameter: return "Missing parameter";
    case InvalidSuffix: return "Invalid suffix";
    case SuffixNotAllowed: return "Suffix not allowed";
    case UndefinedHeader: return "Undefined header";
    case DataOutOfRange: return "Data out of range";
    case IllegalParameterValue: return "Illegal parameter value";
    case HardwareError: return "Hardware error";
    case HardwareMissing: return "Hardware missing";
    case QueueOverflow: return "Queue overflow";
    case InputBufferOverrun: return "Input buffer overrun";
    default: return {};
    }
}

int ScpiError::EventBit(int code)
{
    switch (-code / 100) {
    case 1: return CommandErrorBit;
    case 2: return ExecutionErrorBit;
    case 3: return DeviceErrorBit;
    case 4: return QueryErrorBit;
    default: return 0;
    }
}

void ScpiErrorQueue::Push(int code)
{
    if (codes.size() < Capacity)
        codes.append(code);
    else
        codes.last() = ScpiError::QueueOverflow;
}

QByteArray ScpiErrorQueue::TakeNext()
{
    const int code = codes.isEmpty() ? ScpiError::NoError : codes.takeFirst();
    return QByteArray::number(code) + ",\"" + ScpiError::Text(code) + '"';
}
