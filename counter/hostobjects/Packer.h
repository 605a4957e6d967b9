#pragma once
// The host's request packer: named fields in the order they were first set, one record.
//
// Setting a field name a second time replaces its value in place: the request carries
// the name once, at its first position, with the last value set.

#include "BIZ1PACKETLib_TLB.h"
#include "HostObject.h"

#include "protocol/Packet.h"

#include <memory>
#include <string>
#include <vector>

namespace counter {

// The host's own hold on a packer: the communication object starts requests with it.
struct IPackerControl : IUnknown {
    static constexpr Guid iid{0x4D524C03, 0x0601, 0x4B50, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    // Empties the packer and starts a request of that function. Field objects handed out
    // before stay valid and refer to the fields at their positions from now on.
    virtual void MARLO_STDCALL Reset(std::int32_t functionNo) = 0;

protected:
    ~IPackerControl() = default;
};

class Packer final : public HostObject<IPackerDisp>, public IPackerControl {
public:
    static HRESULT create(const Guid& iid, void** object);

    HRESULT MARLO_STDCALL QueryInterface(const Guid& iid, void** object) override {
        return HostObject<IPackerDisp>::QueryInterface(iid, object);
    }
    std::uint32_t MARLO_STDCALL AddRef() override { return HostObject<IPackerDisp>::AddRef(); }
    std::uint32_t MARLO_STDCALL Release() override { return HostObject<IPackerDisp>::Release(); }

    HRESULT MARLO_STDCALL Finish() override;
    HRESULT MARLO_STDCALL GetData(Variant* data) override;
    HRESULT MARLO_STDCALL Field(const Variant& name, IFieldDisp** field) override;
    void MARLO_STDCALL Reset(std::int32_t functionNo) override;

    HRESULT fieldName(std::size_t index, std::string* name);
    HRESULT fieldValue(std::size_t index, Variant* value);
    HRESULT setFieldValue(std::size_t index, const Variant& value);

private:
    ~Packer() override = default;
    void* queryOther(const Guid& iid) override;

    struct Entry {
        std::string name;
        std::uint64_t tag;
        Variant value;
    };

    std::int32_t functionNo_ = 0;
    std::vector<Entry> entries_;
    std::size_t used_ = 0; // entries_ beyond used_ are kept for reuse
    std::vector<std::unique_ptr<OwnedField<Packer>>> fields_;
    protocol::PacketWriter writer_;
    std::string packed_;
    bool finished_ = false;
};

} // namespace counter
