#pragma once

// Outcome of one transaction with the supply.
enum class LinkResult : int {
    NoReply = 1,   // no complete line before the time-out
    GoodReply = 2,
    BadReply = 3,  // a line arrived but was rejected
};
