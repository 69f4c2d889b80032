// A figure and its baseline measured in alternation, for the targets.
//
// The speed of this shared machine drifts by a third over seconds, so a
// figure and a baseline measured one after the other, each for a whole
// repetition, can see two different machines. Here every round runs one
// batch of each, in turns (the side that goes first changes every round),
// and times each batch alone with the steady clock: both see the same
// stretch of time, and their ratio is taken per repetition. Work that only
// prepares a batch (closing the book an open is about to load, emptying the
// book an add will fill) runs outside both timings.
//
// A paired benchmark reports per repetition, as counters: "figure_ns" and
// "baseline_ns" (one step of each, averaged over the repetition) and
// "ratio" (figure over baseline). Register it with UseManualTime().
#ifndef KVI_BENCH_PAIRED_H
#define KVI_BENCH_PAIRED_H

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

namespace kvi::bench {

// One side of a pair: prepare() before each batch (not timed), then
// `batch` calls of step(), timed together. A step of a few hundred
// nanoseconds runs in batches, so that the clock's own cost (about 25 ns a
// reading) stays out of the figure.
template <class Prepare, class Step>
struct Side {
    int batch;
    Prepare prepare;
    Step step;
};

template <class Prepare, class Step>
Side<Prepare, Step> MakeSide(int batch, Prepare prepare, Step step) {
    return Side<Prepare, Step>{batch, prepare, step};
}

inline void Unprepared() {}

template <class Step>
auto MakeSide(int batch, Step step) {
    return MakeSide(batch, &Unprepared, step);
}

// Nanoseconds taken by one batch of a side.
template <class S>
double TimeBatch(S& side) {
    side.prepare();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < side.batch; ++i) side.step();
    const auto stop = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count();
}

enum class Order { kAlternate, kBaselineFirst };

// kBaselineFirst is for a figure that works on what its baseline leaves
// (updates of the entries the adds made).
template <class F, class B>
void MeasurePair(benchmark::State& state, F figure, B baseline, Order order = Order::kAlternate) {
    double figureNs = 0, baselineNs = 0;
    uint64_t rounds = 0;
    for (auto _ : state) {
        double f, b;
        if (order == Order::kBaselineFirst || rounds % 2 == 0) {
            b = TimeBatch(baseline);
            f = TimeBatch(figure);
        } else {
            f = TimeBatch(figure);
            b = TimeBatch(baseline);
        }
        figureNs += f;
        baselineNs += b;
        ++rounds;
        state.SetIterationTime((f + b) * 1e-9);
    }
    if (rounds == 0 || baselineNs <= 0) return;
    const double perFigure = figureNs / (static_cast<double>(rounds) * figure.batch);
    const double perBaseline = baselineNs / (static_cast<double>(rounds) * baseline.batch);
    state.counters["figure_ns"] = perFigure;
    state.counters["baseline_ns"] = perBaseline;
    state.counters["ratio"] = perFigure / perBaseline;
}

}  // namespace kvi::bench

#endif
