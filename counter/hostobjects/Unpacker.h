#pragma once
// The host's reply unpacker: opens a reply or a packed request and reads its records.
//
// Reading a field name the packet does not have gives a field whose value is empty (the
// empty text, 0 as a number); so does reading any field once the records are used up
// (Eof). A field index outside 0 .. FieldCount-1 fails with hr::badIndex.

#include "BIZ1PACKETLib_TLB.h"
#include "HostObject.h"

#include "protocol/Packet.h"

#include <memory>
#include <string>
#include <vector>

namespace counter {

class Unpacker final : public HostObject<IUnpackerDisp> {
public:
    static HRESULT create(const Guid& iid, void** object);

    HRESULT MARLO_STDCALL Open(const Variant& data) override;
    HRESULT MARLO_STDCALL FieldCount(std::int32_t* count) override;
    HRESULT MARLO_STDCALL RecordCount(std::int32_t* count) override;
    HRESULT MARLO_STDCALL ReturnCode(std::int32_t* code) override;
    HRESULT MARLO_STDCALL Field(const Variant& nameOrIndex, IFieldDisp** field) override;
    HRESULT MARLO_STDCALL First() override;
    HRESULT MARLO_STDCALL Next() override;
    HRESULT MARLO_STDCALL Eof(bool* eof) override;

    HRESULT fieldName(std::size_t index, std::string* name);
    HRESULT fieldValue(std::size_t index, Variant* value);
    HRESULT setFieldValue(std::size_t index, const Variant& value);

private:
    ~Unpacker() override = default;

    std::string bytes_;
    protocol::PacketView packet_;
    std::size_t record_ = 0;
    std::size_t nextByName_ = 0; // where the next lookup by name starts
    std::vector<std::unique_ptr<OwnedField<Unpacker>>> fields_;
};

} // namespace counter
