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

bool isFixed(FieldType type) {
    return type == FieldType::Integer || type == FieldType::Real;
}

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
            const std::uint64_t tag = nameTag(name);
            for (const Field& f : fields_) {
                if (f.tag == tag && f.name == name)
                    return DecodeStatus::BadName;
            }
            fields_.push_back({name, type, tag});
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

std::ptrdiff_t PacketView::indexOf(std::string_view name, std::size_t hint) const {
    const std::size_t n = fields_.size();
    if (n == 0)
        return -1;
    const std::uint64_t tag = nameTag(name);
    std::size_t i = hint < n ? hint : 0;
    for (std::size_t seen = 0; seen < n; ++seen) {
        if (fields_[i].tag == tag && fields_[i].name == name)
            return static_cast<std::ptrdiff_t>(i);
        if (++i == n)
            i = 0;
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

void PacketWriter::Buffer::grow(std::size_t n) {
    std::size_t capacity = capacity_ == 0 ? 512 : capacity_;
    while (capacity - size_ < n)
        capacity *= 2;
    auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_ != 0)
        std::memcpy(bigger.get(), data_.get(), size_);
    data_ = std::move(bigger);
    capacity_ = capacity;
}

void PacketWriter::reset(std::int32_t functionNo, std::int32_t returnCode) {
    buffer_.clear();
    buffer_.append(magic, sizeof magic);
    const std::uint8_t versionAndReserved[2] = {version, 0};
    buffer_.append(versionAndReserved, 2);
    store<std::uint16_t>(0);
    store(functionNo);
    store(returnCode);
    store<std::uint32_t>(0);
    fieldCount_ = recordCount_ = 0;
    withinLimits_ = true;
}

void PacketWriter::addField(std::string_view name, FieldType type) {
    // Fields come before the first record's values.
    if (name.empty() || name.size() > Limits::maxNameLength || recordCount_ != 0 ||
        ++fieldCount_ > Limits::maxFields) {
        withinLimits_ = false;
        return;
    }
    char* at = buffer_.claim(2 + name.size());
    at[0] = static_cast<char>(type);
    at[1] = static_cast<char>(name.size());
    std::memcpy(at + 2, name.data(), name.size());
}

void PacketWriter::integer(std::int64_t value) {
    store(value);
}

void PacketWriter::real(double value) {
    store(value);
}

void PacketWriter::text(std::string_view value) {
    if (value.size() > Limits::maxValueLength) {
        withinLimits_ = false;
        return;
    }
    const auto length = static_cast<std::uint32_t>(value.size());
    char* at = buffer_.claim(4 + value.size());
    std::memcpy(at, &length, 4);
    if (!value.empty()) // an empty view may have no data pointer at all
        std::memcpy(at + 4, value.data(), value.size());
}

bool PacketWriter::finish(std::string& out) {
    out.clear();
    if (!withinLimits_ || recordCount_ > Limits::maxRecords ||
        (fieldCount_ == 0 && recordCount_ != 0) || buffer_.size() > Limits::maxPacketSize)
        return false;
    const auto fields = static_cast<std::uint16_t>(fieldCount_);
    const auto records = static_cast<std::uint32_t>(recordCount_);
    std::memcpy(buffer_.data() + 6, &fields, sizeof fields);
    std::memcpy(buffer_.data() + 16, &records, sizeof records);
    out.assign(buffer_.data(), buffer_.size());
    return true;
}

} // namespace protocol
