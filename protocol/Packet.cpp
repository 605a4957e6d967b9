#include "protocol/Packet.h"

#include <bit>
#include <cstring>

namespace protocol {

static_assert(std::endian::native == std::endian::little,
              "the packet is little-endian and read in place");

namespace {

template <class T> T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T> void store(std::string& out, T value) {
    char raw[sizeof value];
    std::memcpy(raw, &value, sizeof value);
    out.append(raw, sizeof value);
}

template <class T> void storeAt(std::string& out, std::size_t pos, T value) {
    std::memcpy(out.data() + pos, &value, sizeof value);
}

bool isFixed(FieldType type) { return type == FieldType::Integer || type == FieldType::Real; }

} // namespace

const char* describe(DecodeStatus status) {
    switch (status) {
    case DecodeStatus::Ok:
        return "ok";
    case DecodeStatus::TooShort:
        return "packet truncated";
    case DecodeStatus::TooLarge:
        return "packet too large";
    case DecodeStatus::BadMagic:
        return "not a packet";
    case DecodeStatus::BadVersion:
        return "unknown packet version";
    case DecodeStatus::TooManyFields:
        return "too many fields";
    case DecodeStatus::TooManyRecords:
        return "too many records";
    case DecodeStatus::BadFieldType:
        return "unknown field type";
    case DecodeStatus::BadName:
        return "empty or repeated field name";
    case DecodeStatus::ValueTooLong:
        return "value too long";
    case DecodeStatus::TrailingBytes:
        return "bytes after the last record";
    }
    return "unknown";
}

void PacketView::clear() {
    data_ = nullptr;
    functionNo_ = returnCode_ = 0;
    recordCount_ = 0;
    fields_.clear();
    offsets_.clear();
}

DecodeStatus PacketView::decode(std::string_view bytes) {
    clear();
    const DecodeStatus status = [&] {
        if (bytes.size() > Limits::maxPacketSize)
            return DecodeStatus::TooLarge;
        if (bytes.size() < Limits::headerSize)
            return DecodeStatus::TooShort;
        const char* p = bytes.data();
        const char* const end = p + bytes.size();
        if (std::memcmp(p, magic, sizeof magic) != 0)
            return DecodeStatus::BadMagic;
        if (static_cast<std::uint8_t>(p[4]) != version || p[5] != 0)
            return DecodeStatus::BadVersion;
        const std::size_t fieldCount = load<std::uint16_t>(p + 6);
        functionNo_ = load<std::int32_t>(p + 8);
        returnCode_ = load<std::int32_t>(p + 12);
        const std::size_t recordCount = load<std::uint32_t>(p + 16);
        if (fieldCount > Limits::maxFields)
            return DecodeStatus::TooManyFields;
        if (recordCount > Limits::maxRecords || (fieldCount == 0 && recordCount != 0))
            return DecodeStatus::TooManyRecords;
        p += Limits::headerSize;

        std::size_t minRecordSize = 0;
        fields_.reserve(fieldCount);
        for (std::size_t i = 0; i < fieldCount; ++i) {
            if (end - p < 2)
                return DecodeStatus::TooShort;
            const auto type = static_cast<FieldType>(static_cast<std::uint8_t>(p[0]));
            const std::size_t nameLength = static_cast<std::uint8_t>(p[1]);
            p += 2;
            if (type < FieldType::Integer || type > FieldType::Bytes)
                return DecodeStatus::BadFieldType;
            if (nameLength == 0)
                return DecodeStatus::BadName;
            if (static_cast<std::size_t>(end - p) < nameLength)
                return DecodeStatus::TooShort;
            const std::string_view name(p, nameLength);
            p += nameLength;
            for (const Field& f : fields_) {
                if (f.name == name)
                    return DecodeStatus::BadName;
            }
            fields_.push_back({name, type});
            minRecordSize += isFixed(type) ? 8 : 4;
        }
        // Every record takes at least minRecordSize bytes: a count the bytes cannot hold
        // is refused before anything is allocated for it.
        if (recordCount != 0 && recordCount > static_cast<std::size_t>(end - p) / minRecordSize)
            return DecodeStatus::TooShort;

        offsets_.resize(recordCount * fieldCount);
        std::uint32_t* offset = offsets_.data();
        for (std::size_t r = 0; r < recordCount; ++r) {
            for (const Field& f : fields_) {
                *offset++ = static_cast<std::uint32_t>(p - bytes.data());
                if (isFixed(f.type)) {
                    if (end - p < 8)
                        return DecodeStatus::TooShort;
                    p += 8;
                    continue;
                }
                if (end - p < 4)
                    return DecodeStatus::TooShort;
                const std::size_t length = load<std::uint32_t>(p);
                if (length > Limits::maxValueLength)
                    return DecodeStatus::ValueTooLong;
                p += 4;
                if (static_cast<std::size_t>(end - p) < length)
                    return DecodeStatus::TooShort;
                p += length;
            }
        }
        if (p != end)
            return DecodeStatus::TrailingBytes;
        recordCount_ = recordCount;
        data_ = bytes.data();
        return DecodeStatus::Ok;
    }();
    if (status != DecodeStatus::Ok)
        clear();
    return status;
}

std::ptrdiff_t PacketView::indexOf(std::string_view name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].name == name)
            return static_cast<std::ptrdiff_t>(i);
    }
    return -1;
}

std::int64_t PacketView::integer(std::size_t record, std::size_t field) const {
    return load<std::int64_t>(at(record, field));
}

double PacketView::real(std::size_t record, std::size_t field) const {
    return load<double>(at(record, field));
}

std::string_view PacketView::text(std::size_t record, std::size_t field) const {
    const char* p = at(record, field);
    return {p + 4, load<std::uint32_t>(p)};
}

void PacketWriter::reset(std::int32_t functionNo, std::int32_t returnCode) {
    head_.clear();
    body_.clear();
    head_.append(magic, sizeof magic);
    head_.push_back(static_cast<char>(version));
    head_.push_back('\0');
    store<std::uint16_t>(head_, 0);
    store(head_, functionNo);
    store(head_, returnCode);
    store<std::uint32_t>(head_, 0);
    fieldCount_ = recordCount_ = 0;
    withinLimits_ = true;
}

void PacketWriter::addField(std::string_view name, FieldType type) {
    if (name.empty() || name.size() > Limits::maxNameLength ||
        ++fieldCount_ > Limits::maxFields) {
        withinLimits_ = false;
        return;
    }
    head_.push_back(static_cast<char>(type));
    head_.push_back(static_cast<char>(name.size()));
    head_.append(name);
}

void PacketWriter::integer(std::int64_t value) { store(body_, value); }

void PacketWriter::real(double value) { store(body_, value); }

void PacketWriter::text(std::string_view value) {
    if (value.size() > Limits::maxValueLength) {
        withinLimits_ = false;
        return;
    }
    store(body_, static_cast<std::uint32_t>(value.size()));
    body_.append(value);
}

bool PacketWriter::finish(std::string& out) {
    out.clear();
    if (!withinLimits_ || recordCount_ > Limits::maxRecords ||
        (fieldCount_ == 0 && recordCount_ != 0) ||
        head_.size() + body_.size() > Limits::maxPacketSize)
        return false;
    storeAt<std::uint16_t>(head_, 6, static_cast<std::uint16_t>(fieldCount_));
    storeAt<std::uint32_t>(head_, 16, static_cast<std::uint32_t>(recordCount_));
    out.reserve(head_.size() + body_.size());
    out.append(head_);
    out.append(body_);
    return true;
}

} // namespace protocol
