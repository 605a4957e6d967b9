#include "HostObjectsFixture.h"

#include "Packer.h"
#include "protocol/Packet.h"

using PackerTest = HostObjectsTest;

TEST_F(PackerTest, PackedRequestOpensWithFieldsInOrderAndTypes) {
    auto packer = newPacker();
    set(packer, "op_branch_no", Variant(std::int64_t{8}));
    set(packer, "op_station", Variant("00-1A-2B"));
    set(packer, "discount_rate", Variant(0.35));
    set(packer, "empty", Variant(""));
    set(packer, "blob", Variant::fromBytes(std::string("\0\1", 2)));
    set(packer, "unset", Variant());

    auto reader = newUnpacker();
    check(reader->Open(packed(packer)), "Open");
    EXPECT_EQ(count(&IUnpackerDisp::FieldCount, reader), 6);
    EXPECT_EQ(count(&IUnpackerDisp::RecordCount, reader), 1);
    EXPECT_EQ(count(&IUnpackerDisp::ReturnCode, reader), 0);
    EXPECT_EQ(nameOf(reader, 0), "op_branch_no");
    EXPECT_EQ(nameOf(reader, 5), "unset");
    EXPECT_EQ(get(reader, Variant(std::int64_t{0})), Variant(std::int64_t{8}));
    EXPECT_EQ(get(reader, Variant("op_station")), Variant("00-1A-2B"));
    EXPECT_EQ(get(reader, Variant("discount_rate")), Variant(0.35));
    EXPECT_EQ(get(reader, Variant("empty")), Variant(""));
    EXPECT_EQ(get(reader, Variant("blob")), Variant::fromBytes(std::string("\0\1", 2)));
    EXPECT_EQ(get(reader, Variant("unset")), Variant("")); // an unset value travels as ""
}

TEST_F(PackerTest, SecondValueOfANameReplacesTheFirstInPlace) {
    auto packer = newPacker();
    set(packer, "fund_account", Variant("123"));
    set(packer, "bank_no", Variant("0"));
    set(packer, "password", Variant("x"));
    set(packer, "bank_no", Variant("ICBC01"));
    auto reader = newUnpacker();
    check(reader->Open(packed(packer)), "Open");
    ASSERT_EQ(count(&IUnpackerDisp::FieldCount, reader), 3);
    EXPECT_EQ(nameOf(reader, 1), "bank_no");
    EXPECT_EQ(get(reader, Variant("bank_no")), Variant("ICBC01"));
}

TEST_F(PackerTest, InitRequestEmptiesAndStartsTheFunction) {
    auto packer = newPacker();
    set(packer, "old", Variant("1"));
    HostPtr<IFieldDisp> held;
    check(packer->Field(Variant("old"), held.put()), "Field");

    void* raw = nullptr;
    ASSERT_EQ(packer->QueryInterface(counter::IPackerControl::iid, &raw), hr::ok);
    auto* c = static_cast<counter::IPackerControl*>(raw);
    c->Reset(730001);
    c->Release();

    // Not finished since the reset: there is no packed request yet.
    Variant data;
    EXPECT_EQ(packer->GetData(&data), hr::notOpen);
    set(packer, "new", Variant("2"));
    protocol::PacketView view;
    const Variant bytes = packed(packer);
    ASSERT_EQ(view.decode(bytes.bytes()), protocol::DecodeStatus::Ok);
    EXPECT_EQ(view.functionNo(), 730001);
    ASSERT_EQ(view.fieldCount(), 1u);
    EXPECT_EQ(view.field(0).name, "new");
    // The field object held across the reset refers to position 0, now "new".
    std::string name;
    check(held->Name(&name), "Name");
    EXPECT_EQ(name, "new");
}

TEST_F(PackerTest, ChangingAFieldAfterFinishNeedsAnotherFinish) {
    auto packer = newPacker();
    set(packer, "a", Variant("1"));
    packed(packer);
    set(packer, "a", Variant("2"));
    Variant data;
    EXPECT_EQ(packer->GetData(&data), hr::notOpen);
    auto reader = newUnpacker();
    check(reader->Open(packed(packer)), "Open");
    EXPECT_EQ(get(reader, Variant("a")), Variant("2"));
}

TEST_F(PackerTest, BadFieldNamesAreRefused) {
    auto packer = newPacker();
    HostPtr<IFieldDisp> field;
    EXPECT_EQ(packer->Field(Variant(""), field.put()), hr::invalidArg);
    EXPECT_EQ(packer->Field(Variant(std::string(256, 'x')), field.put()), hr::invalidArg);
    EXPECT_EQ(packer->Field(Variant(std::int64_t{1}), field.put()), hr::typeMismatch);
}

TEST_F(PackerTest, UnpackerNavigatesRecordsAndReadsPastTheEndAsEmpty) {
    protocol::PacketWriter w(200105, 0);
    w.addField("fund_account", protocol::FieldType::Integer);
    w.addField("main_flag", protocol::FieldType::Text);
    for (int r = 0; r < 3; ++r) {
        w.beginRecord();
        w.integer(100 + r);
        w.text(r == 0 ? "1" : "0");
    }
    std::string bytes;
    ASSERT_TRUE(w.finish(bytes));
    auto reader = newUnpacker();
    check(reader->Open(Variant::fromBytes(bytes)), "Open");

    std::vector<std::int64_t> seen;
    for (check(reader->First(), "First"); !eof(reader); check(reader->Next(), "Next"))
        seen.push_back(get(reader, Variant("fund_account")).toInteger());
    EXPECT_EQ(seen, (std::vector<std::int64_t>{100, 101, 102}));
    // Past the end: every field reads empty; Next stays at the end.
    check(reader->Next(), "Next");
    EXPECT_TRUE(eof(reader));
    EXPECT_TRUE(get(reader, Variant("main_flag")).isEmpty());
    check(reader->First(), "First");
    EXPECT_EQ(get(reader, Variant("main_flag")), Variant("1"));
}

TEST_F(PackerTest, MissingFieldReadsEmptyAndBadIndexFails) {
    auto reader = newUnpacker();
    auto packer = newPacker();
    set(packer, "error_no", Variant(std::int64_t{0}));
    check(reader->Open(packed(packer)), "Open");

    HostPtr<IFieldDisp> field;
    ASSERT_EQ(reader->Field(Variant("error_info"), field.put()), hr::ok);
    std::string name;
    check(field->Name(&name), "Name");
    EXPECT_EQ(name, "error_info");
    Variant value(std::int64_t{7});
    check(field->Value(&value), "Value");
    EXPECT_TRUE(value.isEmpty());
    EXPECT_EQ(value.toText(), "");
    EXPECT_EQ(value.toInteger(), 0);

    EXPECT_EQ(reader->Field(Variant(std::int64_t{1}), field.put()), hr::badIndex);
    EXPECT_EQ(reader->Field(Variant(std::int64_t{-1}), field.put()), hr::badIndex);
    EXPECT_EQ(reader->Field(Variant(1.0), field.put()), hr::typeMismatch);
}

TEST_F(PackerTest, MalformedOpenFailsAndLeavesTheReaderEmpty) {
    auto reader = newUnpacker();
    auto packer = newPacker();
    set(packer, "a", Variant("1"));
    const Variant good = packed(packer);
    check(reader->Open(good), "Open");

    std::string cut = good.bytes();
    cut.pop_back();
    EXPECT_EQ(reader->Open(Variant::fromBytes(cut)), hr::malformedPacket);
    EXPECT_EQ(count(&IUnpackerDisp::FieldCount, reader), 0);
    EXPECT_EQ(count(&IUnpackerDisp::RecordCount, reader), 0);
    EXPECT_TRUE(eof(reader));
    EXPECT_EQ(reader->Open(Variant(std::int64_t{5})), hr::typeMismatch);
}

TEST_F(PackerTest, HeldFieldKeepsItsOwnerAlive) {
    HostPtr<IFieldDisp> field;
    {
        auto reader = newUnpacker();
        auto packer = newPacker();
        set(packer, "client_name", Variant("李四"));
        check(reader->Open(packed(packer)), "Open");
        check(reader->Field(Variant("client_name"), field.put()), "Field");
    }
    Variant value;
    check(field->Value(&value), "Value");
    EXPECT_EQ(value, Variant("李四"));
}
