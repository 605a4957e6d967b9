#pragma once
// The reference counting, interface query and dispatch slots every host object shares.

#include "BIZ1PACKETLib_TLB.h"
#include "HostTypes.h"

namespace counter {

// Host objects are apartment-threaded: each belongs to the thread that uses it (the
// counter's user-interface thread), so reference counts need no atomic operations. The
// communication object's reply delivery crosses threads but never touches a count.

template <class Interface> class HostObject : public NoDispatch<Interface> {
public:
    HostObject() = default;
    HostObject(const HostObject&) = delete;
    HostObject& operator=(const HostObject&) = delete;

    HRESULT MARLO_STDCALL QueryInterface(const Guid& iid, void** object) override {
        if (object == nullptr)
            return hr::nullPointer;
        *object = nullptr;
        if (iid == IUnknown::iid || iid == IDispatch::iid || iid == Interface::iid)
            *object = static_cast<Interface*>(this);
        else
            *object = queryOther(iid);
        if (*object == nullptr)
            return hr::noInterface;
        this->AddRef();
        return hr::ok;
    }

    std::uint32_t MARLO_STDCALL AddRef() override { return ++refs_; }

    std::uint32_t MARLO_STDCALL Release() override {
        const std::uint32_t left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual ~HostObject() = default;
    // Further interfaces of the object (host-private ones); no reference added here.
    virtual void* queryOther(const Guid&) { return nullptr; }

private:
    std::uint32_t refs_ = 1;
};

// A field object that lives inside its packer or unpacker: its references are its
// owner's, so a held field keeps the owner alive.
template <class Owner> class OwnedField : public HostObject<IFieldDisp> {
public:
    OwnedField(Owner& owner, std::size_t index) : owner_(owner), index_(index) {}
    ~OwnedField() override = default;

    std::uint32_t MARLO_STDCALL AddRef() override { return owner_.AddRef(); }
    std::uint32_t MARLO_STDCALL Release() override { return owner_.Release(); }

    HRESULT MARLO_STDCALL Name(std::string* name) override {
        return owner_.fieldName(index_, name);
    }
    HRESULT MARLO_STDCALL Value(Variant* value) override {
        return owner_.fieldValue(index_, value);
    }
    HRESULT MARLO_STDCALL SetValue(const Variant& value) override {
        return owner_.setFieldValue(index_, value);
    }

private:
    Owner& owner_;
    std::size_t index_;
};

} // namespace counter
