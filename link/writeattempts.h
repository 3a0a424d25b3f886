#pragma once

#include "linkresult.h"

// How often a set-point or output write is tried before it counts as failed.
// The window spreads the tries over consecutive ticks; velkaroctl makes them
// one after the other.
constexpr int WriteTries = 4;

// Makes a transaction up to tries times, until it gets a good reply; returns
// the last try's result. transaction is any callable returning LinkResult.
template <typename Transaction>
LinkResult WithTries(int tries, Transaction transaction)
{
    LinkResult result = LinkResult::NoReply;
    for (int attempt = 0; attempt < tries; ++attempt) {
        result = transaction();
        if (result == LinkResult::GoodReply)
            break;
    }
    return result;
}

template <typename Write>
LinkResult WriteWithTries(Write write)
{
    return WithTries(WriteTries, write);
}
