#pragma once
// The host's packet library: the request packer, the reply unpacker and their fields.

#include "HostTypes.h"
#include "Variant.h"

#include <string>

struct IFieldDisp : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    virtual HRESULT MARLO_STDCALL Name(std::string* name) = 0;
    virtual HRESULT MARLO_STDCALL Value(Variant* value) = 0;
    virtual HRESULT MARLO_STDCALL SetValue(const Variant& value) = 0;

protected:
    ~IFieldDisp() = default;
};

struct IPackerDisp : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x02}};

    // Closes the request after its last field.
    virtual HRESULT MARLO_STDCALL Finish() = 0;
    // The packed request, a buffer variant.
    virtual HRESULT MARLO_STDCALL GetData(Variant* data) = 0;
    // The field of that name; a name not set before is added at the end.
    virtual HRESULT MARLO_STDCALL Field(const Variant& name, IFieldDisp** field) = 0;

protected:
    ~IPackerDisp() = default;
};

struct IUnpackerDisp : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x03}};

    // Loads a reply or a packed request and moves to its first record.
    virtual HRESULT MARLO_STDCALL Open(const Variant& data) = 0;
    virtual HRESULT MARLO_STDCALL FieldCount(std::int32_t* count) = 0;
    virtual HRESULT MARLO_STDCALL RecordCount(std::int32_t* count) = 0;
    virtual HRESULT MARLO_STDCALL ReturnCode(std::int32_t* code) = 0;
    // By name (text) or by 0-based index (integer).
    virtual HRESULT MARLO_STDCALL Field(const Variant& nameOrIndex, IFieldDisp** field) = 0;
    virtual HRESULT MARLO_STDCALL First() = 0;
    virtual HRESULT MARLO_STDCALL Next() = 0;
    virtual HRESULT MARLO_STDCALL Eof(bool* eof) = 0;

protected:
    ~IUnpackerDisp() = default;
};

// Class ids of "a new host packer / unpacker object".
constexpr Guid CLSID_Packer{0x4D524C02, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};
constexpr Guid CLSID_Unpacker{0x4D524C02, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x02}};
