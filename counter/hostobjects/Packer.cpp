#include "Packer.h"

namespace counter {

HRESULT Packer::create(const Guid& iid, void** object) {
    auto* packer = new Packer;
    const HRESULT status = packer->QueryInterface(iid, object);
    packer->Release();
    return status;
}

void* Packer::queryOther(const Guid& iid) {
    return iid == IPackerControl::iid ? static_cast<IPackerControl*>(this) : nullptr;
}

void Packer::Reset(std::int32_t functionNo) {
    functionNo_ = functionNo;
    used_ = 0;
    finished_ = false;
    packed_.clear();
}

HRESULT Packer::Finish() {
    writer_.reset(functionNo_, 0);
    for (std::size_t i = 0; i < used_; ++i) {
        const Variant& v = entries_[i].value;
        switch (v.kind()) {
        case Variant::Kind::Integer:
            writer_.addField(entries_[i].name, protocol::FieldType::Integer);
            break;
        case Variant::Kind::Real:
            writer_.addField(entries_[i].name, protocol::FieldType::Real);
            break;
        case Variant::Kind::Bytes:
            writer_.addField(entries_[i].name, protocol::FieldType::Bytes);
            break;
        case Variant::Kind::Empty: // an unset value travels as the empty text
        case Variant::Kind::Text:
            writer_.addField(entries_[i].name, protocol::FieldType::Text);
            break;
        }
    }
    if (used_ != 0)
        writer_.beginRecord();
    for (std::size_t i = 0; i < used_; ++i) {
        const Variant& v = entries_[i].value;
        switch (v.kind()) {
        case Variant::Kind::Integer:
            writer_.integer(v.integer());
            break;
        case Variant::Kind::Real:
            writer_.real(v.real());
            break;
        case Variant::Kind::Bytes:
            writer_.bytes(v.bytes());
            break;
        case Variant::Kind::Empty:
            writer_.text({});
            break;
        case Variant::Kind::Text:
            writer_.text(v.text());
            break;
        }
    }
    if (!writer_.finish(packed_))
        return hr::invalidArg;
    finished_ = true;
    return hr::ok;
}

HRESULT Packer::GetData(Variant* data) {
    if (data == nullptr)
        return hr::nullPointer;
    if (!finished_)
        return hr::notOpen; // a request is packed by Finish
    *data = Variant::fromBytes(packed_);
    return hr::ok;
}

HRESULT Packer::Field(const Variant& name, IFieldDisp** field) {
    if (field == nullptr)
        return hr::nullPointer;
    *field = nullptr;
    if (name.kind() != Variant::Kind::Text)
        return hr::typeMismatch;
    const std::string& key = name.text();
    if (key.empty() || key.size() > protocol::Limits::maxNameLength)
        return hr::invalidArg;
    const std::uint64_t tag = protocol::nameTag(key);
    std::size_t index = 0;
    while (index < used_ && (entries_[index].tag != tag || entries_[index].name != key))
        ++index;
    if (index == used_) {
        if (used_ == protocol::Limits::maxFields)
            return hr::invalidArg;
        if (used_ == entries_.size()) {
            entries_.emplace_back();
            fields_.push_back(std::make_unique<OwnedField<Packer>>(*this, used_));
        }
        entries_[used_].name = key;
        entries_[used_].tag = tag;
        entries_[used_].value = Variant();
        ++used_;
        finished_ = false;
    }
    *field = fields_[index].get();
    AddRef();
    return hr::ok;
}

HRESULT Packer::fieldName(std::size_t index, std::string* name) {
    if (name == nullptr)
        return hr::nullPointer;
    if (index >= used_)
        return hr::badIndex;
    *name = entries_[index].name;
    return hr::ok;
}

HRESULT Packer::fieldValue(std::size_t index, Variant* value) {
    if (value == nullptr)
        return hr::nullPointer;
    if (index >= used_)
        return hr::badIndex;
    *value = entries_[index].value;
    return hr::ok;
}

HRESULT Packer::setFieldValue(std::size_t index, const Variant& value) {
    if (index >= used_)
        return hr::badIndex;
    entries_[index].value = value;
    finished_ = false;
    return hr::ok;
}

} // namespace counter
