#pragma once

#include "records.h"

#include <QtGlobal>

#include <optional>

class LineTransport;

// What one address of a line said when asked once: its status, and its
// set-points when they came too.
struct ProbedSupply {
    quint8 address = 0;
    StatusRecord status;
    std::optional<SetpointRecord> setpoints;  // none: the status came, the set-points did not
};

// Asks address for its status, one try, then for its set-points; none when
// the status does not come. Each reply must name the address and the command
// asked: a late reply from one supply must not make another address look
// alive.
std::optional<ProbedSupply> ProbeAddress(LineTransport &line, quint8 address);
