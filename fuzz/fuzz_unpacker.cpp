// Opens any bytes as a reply and walks all of it as the module would: counts, every
// field by index and by name, every record, and past the end.

#include "BIZ1PACKETLib_TLB.h"
#include "HostClasses.h"
#include "Unpacker.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void readField(IUnpackerDisp* reader, const Variant& key) {
    IFieldDisp* field = nullptr;
    if (hr::failed(reader->Field(key, &field)))
        return;
    std::string name;
    Variant value;
    field->Name(&name);
    field->Value(&value);
    (void)value.toText();
    field->Release();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool registered = hr::succeeded(counter::registerHostClasses());
    if (!registered)
        return 0;
    IUnpackerDisp* reader = nullptr;
    if (hr::failed(
            counter::Unpacker::create(IUnpackerDisp::iid, reinterpret_cast<void**>(&reader))))
        return 0;
    const Variant packet =
        Variant::fromBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (hr::succeeded(reader->Open(packet))) {
        std::int32_t fields = 0;
        std::int32_t records = 0;
        std::int32_t code = 0;
        reader->FieldCount(&fields);
        reader->RecordCount(&records);
        reader->ReturnCode(&code);
        std::vector<std::string> names;
        for (std::int32_t i = 0; i < fields; ++i) {
            IFieldDisp* field = nullptr;
            if (hr::succeeded(reader->Field(Variant(std::int64_t{i}), &field))) {
                std::string name;
                field->Name(&name);
                names.push_back(name);
                field->Release();
            }
        }
        bool eof = false;
        for (reader->First(); hr::succeeded(reader->Eof(&eof)) && !eof; reader->Next()) {
            for (std::int32_t i = 0; i < fields; ++i)
                readField(reader, Variant(std::int64_t{i}));
            for (const std::string& name : names)
                readField(reader, Variant(name));
            readField(reader, Variant("error_info"));
        }
        reader->Next();
        readField(reader, Variant(std::int64_t{0}));
        readField(reader, Variant(std::int64_t{fields}));
    }
    reader->Release();
    return 0;
}
