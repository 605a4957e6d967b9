#include "EventBarrier.h"

#include <QtGlobal>

namespace EventBarrier {

namespace {
ErrorSink& sink() {
    static ErrorSink installed;
    return installed;
}

void report(const std::exception_ptr& error) {
    const std::string message = messageOf(error);
    try {
        if (sink())
            sink()(message);
        else
            qWarning("%s", message.c_str());
    } catch (...) {
        qWarning("%s", message.c_str()); // showing the error must not raise another
    }
}
} // namespace

void setErrorSink(ErrorSink s) {
    sink() = std::move(s);
}

std::string messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "未知错误";
    }
}

bool run(const std::function<void()>& handler) {
    if (!handler)
        return true;
    try {
        handler();
        return true;
    } catch (...) {
        report(std::current_exception());
        return false;
    }
}

bool validate(const std::function<void(bool& valid)>& handler) {
    bool valid = true;
    if (!handler)
        return valid;
    try {
        handler(valid);
    } catch (...) {
        report(std::current_exception());
        valid = false;
    }
    return valid;
}

} // namespace EventBarrier

#include "KeyPreview.h"

const QEvent*& KeyPreview::current() {
    static const QEvent* key = nullptr;
    return key;
}
