#pragma once
// The packet that carries a request or a reply between counter and back office: a header,
// the fields' names and types, then records of values in field order. The format is
// described in docs/packet-format.md.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace protocol {

enum class FieldType : std::uint8_t { Integer = 1, Real = 2, Text = 3, Bytes = 4 };

// A cheap first test for name equality: the length and the first seven bytes. Equal names
// have equal tags; most different names of a packet have different ones.
inline std::uint64_t nameTag(std::string_view name) {
    std::uint64_t head = 0;
    std::memcpy(&head, name.data(), name.size() < 7 ? name.size() : 7);
    return head | (static_cast<std::uint64_t>(name.size() & 0xFF) << 56);
}

struct Limits {
    static constexpr std::size_t headerSize = 20;
    static constexpr std::size_t maxPacketSize = 16u << 20;
    static constexpr std::size_t maxFields = 1024;
    static constexpr std::size_t maxRecords = 1'000'000;
    static constexpr std::size_t maxValueLength = 4u << 20;
    static constexpr std::size_t maxNameLength = 255;
};

inline constexpr char magic[4] = {'M', 'R', 'L', 'P'};
inline constexpr std::uint8_t version = 1;

enum class DecodeStatus {
    Ok,
    TooShort, // fewer bytes than the header, or than a count promises
    TooLarge, // over maxPacketSize
    BadMagic,
    BadVersion,
    TooManyFields,
    TooManyRecords,
    BadFieldType,
    BadName, // empty name, or a name that occurs twice
    ValueTooLong,
    TrailingBytes, // bytes left after the last record
};

const char* describe(DecodeStatus status);

// A decoded packet. It points into the bytes it was decoded from, which must outlive it.
class PacketView {
public:
    struct Field {
        std::string_view name;
        FieldType type;
        std::uint64_t tag;
    };

    DecodeStatus decode(std::string_view bytes);
    void clear();

    std::int32_t functionNo() const { return functionNo_; }
    std::int32_t returnCode() const { return returnCode_; }
    std::size_t fieldCount() const { return fields_.size(); }
    std::size_t recordCount() const { return recordCount_; }
    const Field& field(std::size_t index) const { return fields_[index]; }
    // The index of the field of that name, or -1. The search starts at `hint`: a reader
    // that asks for the fields in packet order passes the index after the last one found.
    std::ptrdiff_t indexOf(std::string_view name, std::size_t hint = 0) const;

    // Values by record and field; the type must be the field's.
    std::int64_t integer(std::size_t record, std::size_t field) const;
    double real(std::size_t record, std::size_t field) const;
    // Text and bytes.
    std::string_view text(std::size_t record, std::size_t field) const;

private:
    const char* at(std::size_t record, std::size_t field) const {
        return data_ + offsets_[record * fields_.size() + field];
    }

    const char* data_ = nullptr;
    std::int32_t functionNo_ = 0;
    std::int32_t returnCode_ = 0;
    std::size_t recordCount_ = 0;
    std::vector<Field> fields_;
    std::vector<std::uint32_t> offsets_;
};

// Builds a packet: the fields first, then each record's values in field order. finish()
// ends the packet; reset() starts the next one.
class PacketWriter {
public:
    PacketWriter() { reset(0, 0); }
    PacketWriter(std::int32_t functionNo, std::int32_t returnCode) {
        reset(functionNo, returnCode);
    }

    void reset(std::int32_t functionNo, std::int32_t returnCode);
    void addField(std::string_view name, FieldType type);
    void beginRecord() { ++recordCount_; }
    void integer(std::int64_t value);
    void real(double value);
    void text(std::string_view value);
    void bytes(std::string_view value) { text(value); }

    // The finished packet; false when it breaks a limit (too many fields or records, a
    // name or value too long, too large), and then `out` is left empty.
    bool finish(std::string& out);

private:
    // Bytes written so far; grows by doubling and keeps its capacity between packets.
    class Buffer {
    public:
        void clear() { size_ = 0; }
        std::size_t size() const { return size_; }
        char* data() { return data_.get(); }
        // The next n bytes, for the caller to fill.
        char* claim(std::size_t n) {
            if (capacity_ - size_ < n)
                grow(n);
            char* at = data_.get() + size_;
            size_ += n;
            return at;
        }
        void append(const void* bytes, std::size_t n) { std::memcpy(claim(n), bytes, n); }

    private:
        void grow(std::size_t n);
        std::unique_ptr<char[]> data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };

    template <class T> void store(T value) { buffer_.append(&value, sizeof value); }

    Buffer buffer_;
    std::size_t fieldCount_ = 0;
    std::size_t recordCount_ = 0;
    bool withinLimits_ = true;
};

} // namespace protocol
