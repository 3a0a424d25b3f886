#pragma once

#include <QtGlobal>

#include <algorithm>
#include <deque>
#include <vector>

// One good status read.
struct ChartSample {
    qint64 clockMs = 0;         // clock time of the read, ms since the epoch
    double volts = 0;
    double amperes = 0;
    // The set-points the supply held then, as far as the window knew them.
    bool setpointsKnown = false;
    double voltsSet = 0;
    double amperesSet = 0;
    bool cv = false;
    bool cc = false;
    bool output = false;
    bool gapBefore = false;     // no line joins it to the sample before
};

// An acknowledged switch of the output.
struct SwitchMark {
    qint64 clockMs = 0;
    bool on = false;
};

// The chart's memory: the newest samples up to a fixed count, oldest first,
// in the order of their times, and the output switches within that time.
class SampleHistory
{
public:
    // A status read comes at most every 500 ms (the 250 ms poll alternates
    // status and measurement reads): 180,000 samples hold at least 25 hours.
    static constexpr int DefaultCapacity = 180000;

    explicit SampleHistory(int capacity = DefaultCapacity);

    // Times earlier than the newest held are raised to it, so the order holds
    // even when the clock is set back.
    void Append(ChartSample sample);
    // The next sample starts a new line.
    void BreakLine() { lineBroken = true; }
    void AddSwitch(SwitchMark mark);

    int Size() const { return int(samples.size()); }
    int Capacity() const { return capacity; }
    // i from 0 (oldest) to Size() - 1 (newest).
    const ChartSample &At(int i) const
    {
        const int k = head + i;
        return samples[size_t(k < capacity ? k : k - capacity)];
    }
    // Calls f(i, sample) for i from first to last, oldest first, walking the
    // ring's storage directly.
    template <typename F>
    void ForEach(int first, int last, F f) const
    {
        int i = first;
        while (i <= last) {
            const int k = head + i < capacity ? head + i : head + i - capacity;
            const int run = std::min(last - i + 1, capacity - k);
            const ChartSample *sample = samples.data() + k;
            for (const int end = i + run; i < end; ++i, ++sample)
                f(i, *sample);
        }
    }
    // Counts appends, so that a drawing can tell whether anything changed.
    quint64 Revision() const { return revision; }
    // Index of the first sample at or after clockMs; Size() when none.
    int FirstAtOrAfter(double clockMs) const;
    // Index of the sample nearest in time to clockMs; -1 when empty.
    int Nearest(double clockMs) const;
    const std::deque<SwitchMark> &Switches() const { return switches; }

private:
    int capacity;
    int head = 0;  // index of the oldest sample once the ring is full
    std::vector<ChartSample> samples;
    std::deque<SwitchMark> switches;
    bool lineBroken = true;
    quint64 revision = 0;
};
