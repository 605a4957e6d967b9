#include "Request.h"

#include <algorithm>
#include <limits>

namespace backoffice {

namespace {
const char* typeName(protocol::FieldType type) {
    switch (type) {
    case protocol::FieldType::Integer:
        return "整数";
    case protocol::FieldType::Real:
        return "浮点数";
    case protocol::FieldType::Text:
        return "字符串";
    case protocol::FieldType::Bytes:
        return "二进制";
    }
    return "未知";
}
} // namespace

Request::Request(const protocol::PacketView& packet) : packet_(packet) {
    if (packet_.recordCount() != 1)
        throw ServiceError(errors::badRequest, "请求包应当只有一条记录");
}

void Request::checkListed(std::string_view name) const {
    if (listed_ && std::find(listed_->begin(), listed_->end(), name) == listed_->end())
        throw UnlistedField("function " + std::to_string(functionNo()) + " read the field " +
                            std::string(name.substr(0, 64)) +
                            ", which its table entry does not list");
}

std::size_t Request::require(std::string_view name, protocol::FieldType type) const {
    checkListed(name);
    const std::ptrdiff_t index = packet_.indexOf(name);
    if (index < 0)
        throw ServiceError(errors::badRequest, "缺少请求字段[" + std::string(name) + "]");
    const auto i = static_cast<std::size_t>(index);
    if (packet_.field(i).type != type)
        throw ServiceError(errors::badRequest,
                           "请求字段[" + std::string(name) + "]应为" + typeName(type));
    return i;
}

std::int64_t Request::integer(std::string_view name) const {
    return packet_.integer(0, require(name, protocol::FieldType::Integer));
}

std::int32_t Request::int32(std::string_view name) const {
    const std::int64_t value = integer(name);
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max())
        throw ServiceError(errors::badRequest, "请求字段[" + std::string(name) + "]超出范围");
    return static_cast<std::int32_t>(value);
}

std::string Request::text(std::string_view name) const {
    return std::string(packet_.text(0, require(name, protocol::FieldType::Text)));
}

std::optional<std::string> Request::optionalText(std::string_view name) const {
    if (!has(name))
        return std::nullopt;
    return text(name);
}

namespace {

// Error texts are short; one that echoes a huge value is cut at a character boundary.
constexpr std::size_t maxErrorInfo = 1024;

std::string cutErrorInfo(const std::string& info) {
    if (info.size() <= maxErrorInfo)
        return info;
    std::size_t end = maxErrorInfo;
    while (end > 0 && (static_cast<unsigned char>(info[end]) & 0xC0) == 0x80)
        --end; // not inside a UTF-8 sequence
    return info.substr(0, end) + "...";
}

} // namespace

std::string errorReply(std::int32_t functionNo, std::int32_t errorNo, const std::string& info,
                       std::int32_t returnCode) {
    protocol::PacketWriter writer(functionNo, returnCode != 0 ? returnCode : errorNo);
    writer.addField("error_no", protocol::FieldType::Integer);
    writer.addField("error_svrno", protocol::FieldType::Integer);
    writer.addField("error_info", protocol::FieldType::Text);
    writer.beginRecord();
    writer.integer(errorNo);
    writer.integer(serverNo);
    writer.text(cutErrorInfo(info));
    std::string packet;
    if (!writer.finish(packet))
        throw std::logic_error("an error reply of a few fields does not fit in a packet");
    return packet;
}

std::string finishReply(protocol::PacketWriter& writer) {
    std::string packet;
    if (!writer.finish(packet))
        throw ServiceError(errors::serverFault, "应答超出包大小限制");
    return packet;
}

} // namespace backoffice
