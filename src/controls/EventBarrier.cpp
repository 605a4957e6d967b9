#include "EventBarrier.h"

#include "HostPtr.h"
#include "Tools.h"

#include <QtGlobal>

namespace EventBarrier {

namespace {
ErrorSink& sink() {
    static ErrorSink installed;
    return installed;
}

void report(const std::exception_ptr& error) {
    const ErrorReport r = reportOf(error);
    try {
        if (sink())
            sink()(r);
        else
            qWarning("%s (%s)", r.text.c_str(), r.detail.c_str());
    } catch (...) {
        qWarning("%s (%s)", r.text.c_str(), r.detail.c_str()); // must not raise another
    }
}
} // namespace

void setErrorSink(ErrorSink s) {
    sink() = std::move(s);
}

ErrorReport reportOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const EHostError& e) {
        return {e.operatorText(), e.technicalText()};
    } catch (const EDetailedError& e) {
        return {e.what(), e.detail()};
    } catch (const std::exception& e) {
        // The operator's words travel as EDetailedError (or the host's description), said
        // so where they are made; any other message is technical (a conversion, an index,
        // a system error with a path in it), whatever its characters: words for the
        // operator, the message behind the details.
        return {"程序内部错误，本次操作未完成。", e.what()};
    } catch (...) {
        return {"未知错误", {}};
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
