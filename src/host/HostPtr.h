#pragma once
// The module's side of the host boundary: a reference-holding pointer, the one error type
// for host failures, check(), and object creation through the class registry.

#include "ClassRegistry.h"
#include "ErrorInfo.h"
#include "HostTypes.h"

#include <stdexcept>
#include <string>
#include <utility>

// A failing status of a host operation, raised to the caller. Its message is the host's
// own description of the failure when the host left one, with the operation and the
// status on a second line; else the operation and the status alone.
class EHostError : public std::runtime_error {
public:
    EHostError(std::string operation, HRESULT status, const std::string& description = {});

    const std::string& operation() const { return operation_; }
    HRESULT status() const { return status_; }
    const std::string& description() const { return description_; }
    // What the operator reads: the host's description, else a plain statement in words.
    std::string operatorText() const;
    // The technical line for the dialog's details: the operation and the status.
    std::string technicalText() const;

private:
    std::string operation_;
    HRESULT status_;
    std::string description_;
};

// The description the host left beside the failing status it just returned on this thread,
// taken so that it cannot be read for a later failure; empty when it left none.
std::string TakeErrorDescription();

// Raises EHostError for a failing status, with the host's description of it.
inline void check(HRESULT status, const char* operation) {
    if (hr::failed(status))
        throw EHostError(operation, status, TakeErrorDescription());
}

// Holds one reference to a host object and releases it on every path.
template <class T> class HostPtr {
public:
    HostPtr() = default;
    HostPtr(std::nullptr_t) {}
    // Shares the reference: adds one of its own.
    explicit HostPtr(T* object) : p_(object) {
        if (p_)
            p_->AddRef();
    }
    HostPtr(const HostPtr& other) : HostPtr(other.p_) {}
    HostPtr(HostPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    HostPtr& operator=(HostPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~HostPtr() { reset(); }

    // Takes over a reference the caller already owns (an out-parameter's).
    static HostPtr adopt(T* object) {
        HostPtr ptr;
        ptr.p_ = object;
        return ptr;
    }

    void reset() {
        if (T* old = std::exchange(p_, nullptr))
            old->Release();
    }

    // For out-parameters: releases what is held and gives the slot to fill.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // The object as interface U; raises EHostError when it does not have it.
    template <class U> HostPtr<U> as(const char* operation) const {
        HostPtr<U> result;
        if (!p_)
            throw EHostError(operation, hr::nullPointer);
        check(p_->QueryInterface(U::iid, result.putVoid()), operation);
        return result;
    }

private:
    T* p_ = nullptr;
};

// "A new host object" of the class, as interface T.
template <class T> HostPtr<T> createHostObject(const Guid& clsid, const char* operation) {
    HostPtr<T> result;
    check(MarloCreateInstance(&clsid, &T::iid, result.putVoid()), operation);
    return result;
}
