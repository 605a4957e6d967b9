#pragma once
// The counter while a request waits for the back office: its windows paint and its timers
// run, the cursor is the hourglass once the wait lasts more than a moment, and every key,
// click, wheel turn and close-box click that reaches it is thrown away, never delivered
// once the reply is in: nothing the operator typed blind acts on what the reply shows.

#include "WaitCursor.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <optional>

class OperatorWait : public QObject {
public:
    // A request waits; waits may nest (a timer's request inside a wait).
    void begins();
    // Paints, runs timers and discards input; the hourglass shows from the first pump on.
    void pump();
    // The wait is over: the input still queued is discarded, the cursor comes back.
    void ends();

    // Operator input discarded so far.
    std::uint64_t discarded() const { return discarded_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static bool onGuiThread();

    int depth_ = 0;
    std::optional<WaitCursor> hourglass_;
    std::uint64_t discarded_ = 0;
};
