#pragma once
// TClientInfo: the basic information of the client behind a fund account (request 150010).

#include <cstdint>
#include <string>

class TQZFormBase;

class TClientInfo {
public:
    explicit TClientInfo(TQZFormBase& owner) : owner_(owner) {}
    TClientInfo(const TClientInfo&) = delete;
    TClientInfo& operator=(const TClientInfo&) = delete;

    // True when the reply carried a record: the fields then hold the last record's values.
    // False on a server error (shown when errorMode is '0') or no record (silent), the fields
    // unchanged. Host and conversion failures are raised.
    bool LoadClientInfo(std::int32_t fundAccount, const std::string& clientId, char errorMode);

    // Texts are cut at their first NUL; one-character fields hold NUL for an empty value.
    std::string client_id;
    std::int32_t branch_no = 0;
    std::int32_t dev_branch_no = 0;
    std::string client_card;
    std::string client_name;
    std::int32_t corp_client_group = 0;
    char asset_prop = '\0';
    char client_sex = '\0';
    char nationality = '\0';
    char foreign_flag = '\0';
    char id_kind = '\0';
    std::string id_no;
    std::int32_t id_begindate = 0;
    std::int32_t id_term = 0;
    std::int32_t risk_level = 0;
    std::int32_t open_date = 0;
    std::int32_t cancel_date = 0;
    // '0' is the normal state.
    char client_status = '\0';

private:
    TQZFormBase& owner_;
};
