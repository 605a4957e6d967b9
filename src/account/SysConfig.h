#pragma once
// TSysConfigList: one numeric setting of the back office, asked for anew on every lookup
// (no cache) through the owner form's packer, communication object and reply reader.

#include <cstdint>

class TQZFormBase;

class TSysConfigList {
public:
    // Configuration 1129: the width of an account number.
    static constexpr std::int32_t AccountLengthConfigNo = 1129;

    explicit TSysConfigList(TQZFormBase& owner) : owner_(owner) {}
    TSysConfigList(const TSysConfigList&) = delete;
    TSysConfigList& operator=(const TSysConfigList&) = delete;

    // One request 105006. True with `value` set when the server returned a row; false,
    // `value` untouched, on a server error (shown) or no row (silent). branch_no 0 stands
    // for the operator's own branch. Host and conversion failures are raised.
    bool QueryConfig(std::int32_t config_no, std::int32_t& value, std::int32_t branch_no = 0);
    // The account number width; 0 when the row is missing or the request failed.
    std::int32_t GetAccountLength();

private:
    TQZFormBase& owner_;
};
