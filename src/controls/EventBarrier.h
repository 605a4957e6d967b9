#pragma once
// Every event the module handles enters through here. An error raised out of a handler
// is caught and shown to the operator, and the form carries on, as the application object
// of the platform does; an exception never reaches Qt's event loop. The operator reads
// words; the technical line (the failing operation and its status) goes to the details.
// Whose words a message is, is said where it is raised: an EDetailedError's text and the
// host's description are the operator's; every other message is a technical line.

#include <exception>
#include <functional>
#include <string>

namespace EventBarrier {

// A caught error as the operator meets it.
struct ErrorReport {
    std::string text;   // in words: the host's description, or a plain statement
    std::string detail; // the technical line; empty for an unknown error
};

// How a caught error reaches the operator; the framework installs its error dialog.
using ErrorSink = std::function<void(const ErrorReport& report)>;
void setErrorSink(ErrorSink sink);

ErrorReport reportOf(const std::exception_ptr& error);

// Runs the handler; true when it returned without raising.
bool run(const std::function<void()>& handler);

// Runs a validation handler: `valid` comes in true; an error leaves it false.
bool validate(const std::function<void(bool& valid)>& handler);

} // namespace EventBarrier
