#pragma once
// The key a form is previewing right now. A form moves the focus on Enter before the key
// reaches the edit, so the edit's validation on leaving already answered that Enter; the
// edit must not validate a second time when the same key arrives.

class QEvent;

namespace KeyPreview {
// Set by the form while it handles a key it previews.
const QEvent*& current();

struct Scope {
    explicit Scope(const QEvent* event) : previous(current()) { current() = event; }
    ~Scope() { current() = previous; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    const QEvent* previous;
};
} // namespace KeyPreview
