#include "protocol/Packet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using protocol::DecodeStatus;
using protocol::FieldType;
using protocol::PacketView;
using protocol::PacketWriter;

namespace {

std::string finished(PacketWriter& writer) {
    std::string out;
    EXPECT_TRUE(writer.finish(out));
    return out;
}

// A reply with every type, an empty text and a text and a buffer holding NUL bytes.
std::string sampleReply(std::size_t records) {
    PacketWriter w(730004, 0);
    w.addField("fund_account", FieldType::Integer);
    w.addField("discount_rate", FieldType::Real);
    w.addField("client_name", FieldType::Text);
    w.addField("remark", FieldType::Text);
    w.addField("photo", FieldType::Bytes);
    for (std::size_t r = 0; r < records; ++r) {
        w.beginRecord();
        w.integer(static_cast<std::int64_t>(r) - 3);
        w.real(0.25 * static_cast<double>(r));
        w.text("张三" + std::to_string(r));
        w.text("");
        w.bytes(std::string("a\0b\0", 4));
    }
    return finished(w);
}

// Where the length-bearing fields of a packet are: offset and width in bytes.
std::vector<std::pair<std::size_t, std::size_t>> lengthFields(const std::string& p) {
    std::vector<std::pair<std::size_t, std::size_t>> at{{6, 2}, {16, 4}};
    std::uint16_t fields;
    std::uint32_t records;
    std::memcpy(&fields, p.data() + 6, 2);
    std::memcpy(&records, p.data() + 16, 4);
    std::size_t pos = protocol::Limits::headerSize;
    std::vector<std::uint8_t> types;
    for (unsigned f = 0; f < fields; ++f) {
        types.push_back(static_cast<std::uint8_t>(p[pos]));
        at.emplace_back(pos + 1, 1);
        pos += 2 + static_cast<std::uint8_t>(p[pos + 1]);
    }
    for (std::uint32_t r = 0; r < records; ++r) {
        for (std::uint8_t t : types) {
            if (t <= 2) {
                pos += 8;
                continue;
            }
            std::uint32_t length;
            std::memcpy(&length, p.data() + pos, 4);
            at.emplace_back(pos, 4);
            pos += 4 + length;
        }
    }
    return at;
}

// Reads every value of a decoded packet, so a sanitizer sees any read out of bounds.
void readAll(const PacketView& v) {
    std::size_t sum = 0;
    for (std::size_t r = 0; r < v.recordCount(); ++r) {
        for (std::size_t f = 0; f < v.fieldCount(); ++f) {
            switch (v.field(f).type) {
            case FieldType::Integer:
                sum += static_cast<std::size_t>(v.integer(r, f));
                break;
            case FieldType::Real:
                sum += static_cast<std::size_t>(v.real(r, f) != 0);
                break;
            default:
                for (char c : v.text(r, f))
                    sum += static_cast<unsigned char>(c);
            }
        }
    }
    EXPECT_GE(sum, 0u);
}

} // namespace

TEST(Packet, RoundTripKeepsEveryTypeAndValue) {
    const std::string bytes = sampleReply(3);
    PacketView v;
    ASSERT_EQ(v.decode(bytes), DecodeStatus::Ok);
    EXPECT_EQ(v.functionNo(), 730004);
    EXPECT_EQ(v.returnCode(), 0);
    ASSERT_EQ(v.fieldCount(), 5u);
    ASSERT_EQ(v.recordCount(), 3u);
    EXPECT_EQ(v.field(2).name, "client_name");
    EXPECT_EQ(v.field(4).type, FieldType::Bytes);
    EXPECT_EQ(v.indexOf("remark"), 3);
    EXPECT_EQ(v.indexOf("nope"), -1);
    EXPECT_EQ(v.integer(0, 0), -3);
    EXPECT_DOUBLE_EQ(v.real(2, 1), 0.5);
    EXPECT_EQ(v.text(1, 2), "张三1");
    EXPECT_EQ(v.text(1, 3), "");
    EXPECT_EQ(v.text(2, 4), std::string_view("a\0b\0", 4));
}

TEST(Packet, ExtremeValuesAndManyRecords) {
    PacketWriter w(1, -360415);
    w.addField("i", FieldType::Integer);
    w.addField("r", FieldType::Real);
    const std::size_t n = 100000;
    for (std::size_t r = 0; r < n; ++r) {
        w.beginRecord();
        w.integer(r % 2 ? std::numeric_limits<std::int64_t>::min()
                        : std::numeric_limits<std::int64_t>::max());
        w.real(-0.0);
    }
    const std::string bytes = finished(w);
    PacketView v;
    ASSERT_EQ(v.decode(bytes), DecodeStatus::Ok);
    EXPECT_EQ(v.returnCode(), -360415);
    EXPECT_EQ(v.recordCount(), n);
    EXPECT_EQ(v.integer(n - 1, 0), std::numeric_limits<std::int64_t>::min());
    EXPECT_TRUE(std::signbit(v.real(n - 1, 1)));
}

TEST(Packet, NoFieldsNoRecordsIsAValidPacket) {
    PacketWriter w(105006, 0);
    const std::string bytes = finished(w);
    EXPECT_EQ(bytes.size(), protocol::Limits::headerSize);
    PacketView v;
    EXPECT_EQ(v.decode(bytes), DecodeStatus::Ok);
    EXPECT_EQ(v.recordCount(), 0u);
}

TEST(Packet, WriterRefusesWhatBreaksALimit) {
    std::string out = "old";
    PacketWriter longName;
    longName.addField(std::string(256, 'n'), FieldType::Text);
    EXPECT_FALSE(longName.finish(out));
    EXPECT_TRUE(out.empty());

    PacketWriter empty;
    empty.addField("", FieldType::Text);
    EXPECT_FALSE(empty.finish(out));

    PacketWriter recordsWithoutFields;
    recordsWithoutFields.beginRecord();
    EXPECT_FALSE(recordsWithoutFields.finish(out));

    PacketWriter huge;
    huge.addField("v", FieldType::Text);
    huge.beginRecord();
    huge.text(std::string(protocol::Limits::maxValueLength + 1, 'x'));
    EXPECT_FALSE(huge.finish(out));
}

TEST(Packet, EveryTruncationFailsCleanly) {
    const std::string bytes = sampleReply(4);
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        const std::string part = bytes.substr(0, cut); // its own buffer, so ASan sees overreads
        PacketView v;
        EXPECT_NE(v.decode(part), DecodeStatus::Ok) << "cut at " << cut;
        EXPECT_EQ(v.fieldCount(), 0u);
        EXPECT_EQ(v.recordCount(), 0u);
    }
}

TEST(Packet, EveryLengthFieldCorruptedFailsOrStaysInBounds) {
    const std::string bytes = sampleReply(3);
    const auto fields = lengthFields(bytes);
    ASSERT_EQ(fields.size(), 2u + 5u + 3u * 3u);
    for (const auto& [offset, width] : fields) {
        for (int change : {0, +1, -1}) {
            std::string bad = bytes;
            if (change == 0) {
                for (std::size_t i = 0; i < width; ++i)
                    bad[offset + i] = static_cast<char>(~bad[offset + i]);
            } else {
                std::uint32_t value = 0;
                std::memcpy(&value, bad.data() + offset, width);
                value += static_cast<std::uint32_t>(change);
                std::memcpy(bad.data() + offset, &value, width);
            }
            PacketView v;
            const DecodeStatus status = v.decode(bad);
            if (change == 0) {
                EXPECT_NE(status, DecodeStatus::Ok) << "flipped at " << offset;
            }
            if (status == DecodeStatus::Ok)
                readAll(v);
        }
    }
}

TEST(Packet, HeaderChecks) {
    const std::string good = sampleReply(1);
    PacketView v;
    std::string bad = good;
    bad[0] = 'X';
    EXPECT_EQ(v.decode(bad), DecodeStatus::BadMagic);
    bad = good;
    bad[4] = 2;
    EXPECT_EQ(v.decode(bad), DecodeStatus::BadVersion);
    bad = good;
    bad[protocol::Limits::headerSize] = 9; // first field's type
    EXPECT_EQ(v.decode(bad), DecodeStatus::BadFieldType);
    bad = good + "x";
    EXPECT_EQ(v.decode(bad), DecodeStatus::TrailingBytes);
    EXPECT_EQ(v.decode(std::string(protocol::Limits::maxPacketSize + 1, 'M')),
              DecodeStatus::TooLarge);
}

TEST(Packet, RepeatedOrEmptyNamesAreRefused) {
    PacketWriter w;
    w.addField("bank_no", FieldType::Text);
    w.addField("bank_no", FieldType::Text);
    w.beginRecord();
    w.text("0");
    w.text("1");
    const std::string bytes = finished(w);
    PacketView v;
    EXPECT_EQ(v.decode(bytes), DecodeStatus::BadName);
}

TEST(Packet, HugeCountsAreRefusedBeforeAllocating) {
    PacketWriter w;
    w.addField("a", FieldType::Text);
    w.beginRecord();
    w.text("x");
    std::string bytes = finished(w);
    const std::uint32_t records = 999'999;
    std::memcpy(bytes.data() + 16, &records, 4);
    PacketView v;
    EXPECT_EQ(v.decode(bytes), DecodeStatus::TooShort);
    const std::uint32_t tooMany = 2'000'000;
    std::memcpy(bytes.data() + 16, &tooMany, 4);
    EXPECT_EQ(v.decode(bytes), DecodeStatus::TooManyRecords);
}
