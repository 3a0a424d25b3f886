#pragma once

// velkaroctl's exit statuses; scripts rely on them.
namespace ExitStatus {
constexpr int Success = 0;
constexpr int SupplyFailed = 1;  // no answer, refused, or not confirmed
constexpr int Usage = 2;         // usage or input error
constexpr int PortFailed = 3;    // the port could not be opened
constexpr int LimitTripped = 4;  // run: a limit switched the output off
}  // namespace ExitStatus
