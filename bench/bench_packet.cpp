// The packet codec against msgpack on the same content, in the same run: packing a
// 13-field request, and decoding then reading every field by name, for the request and for
// a 30-record reply page. Prints each operation's time as a ratio to msgpack's, and the
// wire sizes.

#include "BIZ1PACKETLib_TLB.h"
#include "HostClasses.h"
#include "HostPtr.h"
#include "Packer.h"

#include "BenchReport.h"

#include <benchmark/benchmark.h>
#include <msgpack.hpp>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Column {
    const char* name;
    bool isText;
};

// 8 texts and 5 integers, as a request header with its business fields.
const std::vector<Column> columns = {
    {"op_branch_no", false}, {"operator_no", true},    {"user_type", true},
    {"op_station", true},    {"op_entrust_way", true}, {"menu_id", false},
    {"function_id", false},  {"branch_no", false},     {"client_id", true},
    {"fund_account", false}, {"client_name", true},    {"discount_rate", true},
    {"remark", true},
};

Variant valueOf(std::size_t column, std::size_t record) {
    if (!columns[column].isText)
        return Variant(static_cast<std::int64_t>(100000 + column * 31 + record));
    static const char* texts[] = {"1001",   "1",    "00-1A-2B-3C-4D-5E", "4", "C0000123",
                                  "张三丰", "0.35", "VIP快速交易客户"};
    return Variant(std::string(texts[column % 8]) + std::to_string(record % 10));
}

const Variant& requestValue(std::size_t column) {
    static const std::vector<Variant> values = [] {
        std::vector<Variant> v;
        for (std::size_t c = 0; c < columns.size(); ++c)
            v.push_back(valueOf(c, 0));
        return v;
    }();
    return values[column];
}

// --- ours: the host's packer and unpacker, through their interfaces --------------------

struct Ours {
    Ours() {
        counter::registerHostClasses();
        packer = createHostObject<IPackerDisp>(CLSID_Packer, "packer");
        reader = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "unpacker");
        void* raw = nullptr;
        check(packer->QueryInterface(counter::IPackerControl::iid, &raw), "control");
        control = static_cast<counter::IPackerControl*>(raw);
    }
    ~Ours() { control->Release(); }

    Variant packRequest() {
        control->Reset(730001);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            IFieldDisp* field = nullptr;
            packer->Field(Variant(columns[c].name), &field);
            field->SetValue(requestValue(c));
            field->Release();
        }
        packer->Finish();
        Variant data;
        packer->GetData(&data);
        return data;
    }

    std::size_t readAll(const Variant& data) {
        std::size_t touched = 0;
        reader->Open(data);
        bool eof = false;
        for (reader->Eof(&eof); !eof; reader->Next(), reader->Eof(&eof)) {
            for (const Column& c : columns) {
                IFieldDisp* field = nullptr;
                reader->Field(Variant(c.name), &field);
                Variant value;
                field->Value(&value);
                field->Release();
                touched += value.kind() == Variant::Kind::Text ? value.text().size() : 1;
            }
        }
        return touched;
    }

    HostPtr<IPackerDisp> packer;
    HostPtr<IUnpackerDisp> reader;
    counter::IPackerControl* control = nullptr;
};

Ours& ours() {
    static Ours instance;
    return instance;
}

std::string ourReply(std::size_t records) {
    protocol::PacketWriter w(730004, 0);
    for (const Column& c : columns)
        w.addField(c.name, c.isText ? protocol::FieldType::Text : protocol::FieldType::Integer);
    for (std::size_t r = 0; r < records; ++r) {
        w.beginRecord();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Variant v = valueOf(c, r);
            if (columns[c].isText)
                w.text(v.text());
            else
                w.integer(v.integer());
        }
    }
    std::string out;
    w.finish(out);
    return out;
}

// --- ours, the codec alone: PacketWriter and PacketView ----------------------------------

struct Codec {
    std::string packRequest() {
        writer.reset(730001, 0);
        for (const Column& c : columns)
            writer.addField(c.name,
                            c.isText ? protocol::FieldType::Text : protocol::FieldType::Integer);
        writer.beginRecord();
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Variant& v = requestValue(c);
            if (columns[c].isText)
                writer.text(v.text());
            else
                writer.integer(v.integer());
        }
        writer.finish(packed);
        return packed;
    }

    std::size_t readAll(const std::string& data) {
        view.decode(data);
        std::size_t touched = 0;
        std::size_t next = 0;
        for (std::size_t r = 0; r < view.recordCount(); ++r) {
            for (const Column& c : columns) {
                const auto i = static_cast<std::size_t>(view.indexOf(c.name, next));
                next = i + 1;
                const Variant v = view.field(i).type == protocol::FieldType::Text
                                      ? Variant(view.text(r, i))
                                      : Variant(view.integer(r, i));
                touched += v.kind() == Variant::Kind::Text ? v.text().size() : 1;
            }
        }
        return touched;
    }

    protocol::PacketWriter writer;
    protocol::PacketView view;
    std::string packed;
};

// --- msgpack: the same content, columns named once, records as arrays -----------------

void packMsgpackRequest(msgpack::sbuffer& buffer) {
    buffer.clear();
    msgpack::packer<msgpack::sbuffer> pk(buffer);
    pk.pack_array(2);
    pk.pack(730001);
    pk.pack_map(static_cast<std::uint32_t>(columns.size()));
    for (std::size_t c = 0; c < columns.size(); ++c) {
        pk.pack(columns[c].name);
        const Variant& v = requestValue(c);
        if (columns[c].isText)
            pk.pack(v.text());
        else
            pk.pack(v.integer());
    }
}

std::string msgpackReply(std::size_t records) {
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> pk(buffer);
    pk.pack_array(4);
    pk.pack(730004);
    pk.pack(0);
    pk.pack_array(static_cast<std::uint32_t>(columns.size()));
    for (const Column& c : columns)
        pk.pack(c.name);
    pk.pack_array(static_cast<std::uint32_t>(records));
    for (std::size_t r = 0; r < records; ++r) {
        pk.pack_array(static_cast<std::uint32_t>(columns.size()));
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Variant v = valueOf(c, r);
            if (columns[c].isText)
                pk.pack(v.text());
            else
                pk.pack(v.integer());
        }
    }
    return {buffer.data(), buffer.size()};
}

Variant fromMsgpack(const msgpack::object& o) {
    if (o.type == msgpack::type::STR)
        return Variant(std::string_view(o.via.str.ptr, o.via.str.size));
    return Variant(o.as<std::int64_t>());
}

bool nameIs(const msgpack::object& o, const char* name) {
    const std::size_t n = std::strlen(name);
    return o.type == msgpack::type::STR && o.via.str.size == n &&
           std::memcmp(o.via.str.ptr, name, n) == 0;
}

std::size_t readMsgpackRequest(const std::string& data) {
    const msgpack::object_handle oh = msgpack::unpack(data.data(), data.size());
    const msgpack::object_map& map = oh.get().via.array.ptr[1].via.map;
    std::size_t touched = 0;
    for (const Column& c : columns) {
        for (std::uint32_t i = 0; i < map.size; ++i) {
            if (nameIs(map.ptr[i].key, c.name)) {
                const Variant v = fromMsgpack(map.ptr[i].val);
                touched += v.kind() == Variant::Kind::Text ? v.text().size() : 1;
                break;
            }
        }
    }
    return touched;
}

std::size_t readMsgpackReply(const std::string& data) {
    const msgpack::object_handle oh = msgpack::unpack(data.data(), data.size());
    const msgpack::object_array& top = oh.get().via.array;
    const msgpack::object_array& names = top.ptr[2].via.array;
    const msgpack::object_array& records = top.ptr[3].via.array;
    std::size_t touched = 0;
    for (std::uint32_t r = 0; r < records.size; ++r) {
        const msgpack::object_array& record = records.ptr[r].via.array;
        for (const Column& c : columns) {
            for (std::uint32_t i = 0; i < names.size; ++i) {
                if (nameIs(names.ptr[i], c.name)) {
                    const Variant v = fromMsgpack(record.ptr[i]);
                    touched += v.kind() == Variant::Kind::Text ? v.text().size() : 1;
                    break;
                }
            }
        }
    }
    return touched;
}

// --- the benchmarks ---------------------------------------------------------------------

void PackRequest_Ours(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ours().packRequest());
}
void PackRequest_Codec(benchmark::State& state) {
    Codec codec;
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.packRequest());
}
void ReadRequest_Codec(benchmark::State& state) {
    Codec codec;
    const std::string data = codec.packRequest();
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.readAll(data));
}
void ReadReply_Codec(benchmark::State& state) {
    Codec codec;
    const std::string data = ourReply(30);
    for (auto _ : state)
        benchmark::DoNotOptimize(codec.readAll(data));
}

void PackRequest_Msgpack(benchmark::State& state) {
    msgpack::sbuffer buffer;
    for (auto _ : state) {
        packMsgpackRequest(buffer);
        benchmark::DoNotOptimize(std::string(buffer.data(), buffer.size()));
    }
}
void ReadRequest_Ours(benchmark::State& state) {
    const Variant data = ours().packRequest();
    for (auto _ : state)
        benchmark::DoNotOptimize(ours().readAll(data));
}
void ReadRequest_Msgpack(benchmark::State& state) {
    msgpack::sbuffer buffer;
    packMsgpackRequest(buffer);
    const std::string data(buffer.data(), buffer.size());
    for (auto _ : state)
        benchmark::DoNotOptimize(readMsgpackRequest(data));
}
void PackReply_Codec(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ourReply(30));
}
void PackReply_Msgpack(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(msgpackReply(30));
}
void ReadReply_Ours(benchmark::State& state) {
    const Variant data = Variant::fromBytes(ourReply(30));
    for (auto _ : state)
        benchmark::DoNotOptimize(ours().readAll(data));
}
void ReadReply_Msgpack(benchmark::State& state) {
    const std::string data = msgpackReply(30);
    for (auto _ : state)
        benchmark::DoNotOptimize(readMsgpackReply(data));
}

BENCHMARK(PackRequest_Msgpack);
BENCHMARK(PackRequest_Codec);
BENCHMARK(PackRequest_Ours);
BENCHMARK(ReadRequest_Msgpack);
BENCHMARK(ReadRequest_Codec);
BENCHMARK(ReadRequest_Ours);
BENCHMARK(PackReply_Msgpack);
BENCHMARK(PackReply_Codec);
BENCHMARK(ReadReply_Msgpack);
BENCHMARK(ReadReply_Codec);
BENCHMARK(ReadReply_Ours);

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> args;
    InitializeWithRepetitions(argc, argv, args);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // Codec: the packet format itself. Host objects: the same through the packer and
    // unpacker interfaces the module calls (field objects, variants, references).
    std::printf("\n%-14s %11s %11s %8s %11s %8s\n", "operation", "msgpack ns", "codec ns", "ratio",
                "host obj ns", "ratio");
    for (const char* op : {"PackRequest", "ReadRequest", "PackReply", "ReadReply"}) {
        const double base = reporter.nanoseconds[std::string(op) + "_Msgpack"];
        const double codec = reporter.nanoseconds[std::string(op) + "_Codec"];
        const double host = reporter.nanoseconds[std::string(op) + "_Ours"];
        if (base <= 0)
            continue;
        std::printf("%-14s %11.0f %11.0f %7.2fx", op, base, codec, codec / base);
        if (host > 0)
            std::printf(" %11.0f %7.2fx", host, host / base);
        std::printf("\n");
    }
    msgpack::sbuffer buffer;
    packMsgpackRequest(buffer);
    std::printf("\nwire size  request: ours %zu B, msgpack %zu B;  reply 30x13: ours %zu B, "
                "msgpack %zu B\n",
                ours().packRequest().bytes().size(), buffer.size(), ourReply(30).size(),
                msgpackReply(30).size());
    benchmark::Shutdown();
    return 0;
}
