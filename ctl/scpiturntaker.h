#pragma once

// What ScpiTurns asks of each front end that carries out messages on an
// instrument of the line (the raw-socket server, the VXI-11 devices): whether
// a message waits, to carry out the next one, and to give each of its
// clients one turn while another message waits between two tries.
class ScpiTurnTaker
{
public:
    virtual ~ScpiTurnTaker() = default;

    virtual bool HasWaiting() const = 0;
    virtual void RunNextTurn() = 0;
    // forAnotherInstrument: the message waiting between tries is not one of
    // this taker's, so each step is tried once.
    virtual void ServeEachWaiting(bool forAnotherInstrument) = 0;
};
