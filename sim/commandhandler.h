#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

class SupplyModel;

// What the supply does with one request that passed its frame checks (CRC and
// address): a read is answered with the record's full wire layout, a write
// changes the model and is acknowledged with access code 0x1F and no data.
// Unknown commands, unknown access codes and writes of the wrong length get no
// answer at all.
namespace CommandHandler {

struct Answer {
    quint8 command = 0;
    quint8 access = 0;  // the request's access code for a read, 0x1F for a write
    QByteArray data;    // empty for a write
    bool isRead = false;
};

// request: the decoded frame, header through CRC.
std::optional<Answer> answer(SupplyModel &model, const QByteArray &request);

// Output switch values; anything else leaves the output as it is.
constexpr quint16 OutputOnValue = 7066;
constexpr quint16 OutputOffValue = 0;

}  // namespace CommandHandler
