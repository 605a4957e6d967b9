#include "EventBarrier.h"

#include "HostPtr.h"
#include "Tools.h"

#include <QtGlobal>

#include <algorithm>

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
        // A message in Chinese is already the operator's (the printer's "没有可用的打印机");
        // one in plain ASCII is technical (a conversion, an index): words for the operator,
        // the message behind the details.
        const std::string message = e.what();
        const bool words = std::any_of(message.begin(), message.end(), [](char c) {
            return static_cast<unsigned char>(c) >= 0x80;
        });
        if (words)
            return {message, {}};
        return {"程序内部错误，本次操作未完成。", message};
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
