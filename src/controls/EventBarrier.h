#pragma once
// Every event the module handles enters through here. An error raised out of a handler
// is caught and shown to the operator with its message, and the form carries on, as the
// application object of the platform does; an exception never reaches Qt's event loop.

#include <exception>
#include <functional>
#include <string>

namespace EventBarrier {

// How a caught error reaches the operator; the framework installs its error dialog.
using ErrorSink = std::function<void(const std::string& message)>;
void setErrorSink(ErrorSink sink);

// The message shown for an error: its text, or a fixed one for an unknown error.
std::string messageOf(const std::exception_ptr& error);

// Runs the handler; true when it returned without raising.
bool run(const std::function<void()>& handler);

// Runs a validation handler: `valid` comes in true; an error leaves it false.
bool validate(const std::function<void(bool& valid)>& handler);

} // namespace EventBarrier
