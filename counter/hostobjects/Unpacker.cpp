#include "Unpacker.h"

namespace counter {

namespace {

// The field a packet does not have: its name as asked, an empty value.
class MissingField final : public HostObject<IFieldDisp> {
public:
    explicit MissingField(std::string name) : name_(std::move(name)) {}

    HRESULT MARLO_STDCALL Name(std::string* name) override {
        if (name == nullptr)
            return hr::nullPointer;
        *name = name_;
        return hr::ok;
    }
    HRESULT MARLO_STDCALL Value(Variant* value) override {
        if (value == nullptr)
            return hr::nullPointer;
        *value = Variant();
        return hr::ok;
    }
    HRESULT MARLO_STDCALL SetValue(const Variant&) override { return hr::notImplemented; }

private:
    std::string name_;
};

} // namespace

HRESULT Unpacker::create(const Guid& iid, void** object) {
    auto* unpacker = new Unpacker;
    const HRESULT status = unpacker->QueryInterface(iid, object);
    unpacker->Release();
    return status;
}

HRESULT Unpacker::Open(const Variant& data) {
    record_ = 0;
    packet_.clear();
    if (data.kind() == Variant::Kind::Bytes)
        bytes_ = data.bytes();
    else if (data.kind() == Variant::Kind::Text)
        bytes_ = data.text();
    else {
        bytes_.clear();
        return hr::typeMismatch;
    }
    if (packet_.decode(bytes_) != protocol::DecodeStatus::Ok) {
        bytes_.clear();
        return hr::malformedPacket;
    }
    while (fields_.size() < packet_.fieldCount())
        fields_.push_back(std::make_unique<OwnedField<Unpacker>>(*this, fields_.size()));
    return hr::ok;
}

HRESULT Unpacker::FieldCount(std::int32_t* count) {
    if (count == nullptr)
        return hr::nullPointer;
    *count = static_cast<std::int32_t>(packet_.fieldCount());
    return hr::ok;
}

HRESULT Unpacker::RecordCount(std::int32_t* count) {
    if (count == nullptr)
        return hr::nullPointer;
    *count = static_cast<std::int32_t>(packet_.recordCount());
    return hr::ok;
}

HRESULT Unpacker::ReturnCode(std::int32_t* code) {
    if (code == nullptr)
        return hr::nullPointer;
    *code = packet_.returnCode();
    return hr::ok;
}

HRESULT Unpacker::Field(const Variant& nameOrIndex, IFieldDisp** field) {
    if (field == nullptr)
        return hr::nullPointer;
    *field = nullptr;
    std::ptrdiff_t index = -1;
    switch (nameOrIndex.kind()) {
    case Variant::Kind::Integer:
        if (nameOrIndex.integer() < 0 ||
            nameOrIndex.integer() >= static_cast<std::int64_t>(packet_.fieldCount()))
            return hr::badIndex;
        index = static_cast<std::ptrdiff_t>(nameOrIndex.integer());
        break;
    case Variant::Kind::Text:
        index = packet_.indexOf(nameOrIndex.text(), nextByName_);
        if (index < 0) {
            *field = new MissingField(nameOrIndex.text());
            return hr::ok;
        }
        nextByName_ = static_cast<std::size_t>(index) + 1;
        break;
    default:
        return hr::typeMismatch;
    }
    *field = fields_[static_cast<std::size_t>(index)].get();
    AddRef();
    return hr::ok;
}

HRESULT Unpacker::First() {
    record_ = 0;
    return hr::ok;
}

HRESULT Unpacker::Next() {
    if (record_ < packet_.recordCount())
        ++record_;
    return hr::ok;
}

HRESULT Unpacker::Eof(bool* eof) {
    if (eof == nullptr)
        return hr::nullPointer;
    *eof = record_ >= packet_.recordCount();
    return hr::ok;
}

HRESULT Unpacker::fieldName(std::size_t index, std::string* name) {
    if (name == nullptr)
        return hr::nullPointer;
    if (index >= packet_.fieldCount())
        return hr::badIndex;
    *name = packet_.field(index).name;
    return hr::ok;
}

HRESULT Unpacker::fieldValue(std::size_t index, Variant* value) {
    if (value == nullptr)
        return hr::nullPointer;
    if (index >= packet_.fieldCount())
        return hr::badIndex;
    if (record_ >= packet_.recordCount()) {
        *value = Variant();
        return hr::ok;
    }
    switch (packet_.field(index).type) {
    case protocol::FieldType::Integer:
        *value = Variant(packet_.integer(record_, index));
        break;
    case protocol::FieldType::Real:
        *value = Variant(packet_.real(record_, index));
        break;
    case protocol::FieldType::Text:
        *value = Variant(packet_.text(record_, index));
        break;
    case protocol::FieldType::Bytes:
        *value = Variant::fromBytes(std::string(packet_.text(record_, index)));
        break;
    }
    return hr::ok;
}

HRESULT Unpacker::setFieldValue(std::size_t, const Variant&) {
    return hr::notImplemented; // a reply is read, not written
}

} // namespace counter
