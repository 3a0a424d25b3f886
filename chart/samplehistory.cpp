#include "samplehistory.h"

#include <algorithm>

SampleHistory::SampleHistory(int capacity)
    : capacity(std::max(1, capacity))
{
}

void SampleHistory::Append(ChartSample sample)
{
    if (!samples.empty())
        sample.clockMs = std::max(sample.clockMs, At(Size() - 1).clockMs);
    ++revision;
    sample.gapBefore = lineBroken;
    lineBroken = false;
    if (Size() < capacity) {
        if (samples.empty())
            samples.reserve(size_t(capacity));  // one block, never moved
        samples.push_back(sample);
    } else {
        samples[size_t(head)] = sample;
        head = (head + 1) % capacity;
    }
    // Marks before the oldest sample show nothing any more.
    const qint64 oldest = At(0).clockMs;
    while (!switches.empty() && switches.front().clockMs < oldest)
        switches.pop_front();
}

void SampleHistory::AddSwitch(SwitchMark mark)
{
    if (!switches.empty())
        mark.clockMs = std::max(mark.clockMs, switches.back().clockMs);
    switches.push_back(mark);
    // Each switch takes a poll tick of its own, so this bound is only reached
    // when no status read succeeds between them.
    if (int(switches.size()) > capacity)
        switches.pop_front();
}

int SampleHistory::FirstAtOrAfter(double clockMs) const
{
    int low = 0;
    int high = Size();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (double(At(middle).clockMs) < clockMs)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int SampleHistory::Nearest(double clockMs) const
{
    if (samples.empty())
        return -1;
    const int after = FirstAtOrAfter(clockMs);
    if (after == 0)
        return 0;
    if (after == Size())
        return after - 1;
    const double before = clockMs - double(At(after - 1).clockMs);
    return before <= double(At(after).clockMs) - clockMs ? after - 1 : after;
}
