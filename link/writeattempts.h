#pragma once

#include "linkresult.h"

// How often a set-point or output write is tried before it counts as failed.
// The window spreads the tries over consecutive ticks; velkaroctl makes them
// one after the other.
constexpr int WriteTries = 4;

// Makes a write up to WriteTries times, until it is acknowledged; returns the
// last try's result. write is any callable returning LinkResult.
template <typename Write>
LinkResult WriteWithTries(Write write)
{
    LinkResult result = LinkResult::NoReply;
    for (int attempt = 0; attempt < WriteTries; ++attempt) {
        result = write();
        if (result == LinkResult::GoodReply)
            break;
    }
    return result;
}
