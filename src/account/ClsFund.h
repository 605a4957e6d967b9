#pragma once
// TFund: the account service of a business form. It resolves what the operator typed into
// the identifier edit to one fund account (request 200086), loads that account's record
// (200076) and offers a client's fund accounts in the identifier edit (200105).

#include "SysConfig.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

class TQZFormBase;
class TQZIDEdit;

// The fund account's record, each field named after the reply field that fills it.
// One-character fields hold NUL for an empty value; dates are yyyymmdd.
struct TFundAccountInfo {
    std::int32_t branch_no = 0;
    std::string client_id;
    std::string fund_card;
    char main_flag = '\0';
    std::int32_t client_group = 0;
    std::int32_t room_code = 0;
    char asset_prop = '\0';
    std::string fare_kind_str;
    std::string en_entrust_way;
    std::string client_rights;
    std::string restriction;
    std::string open_trades;
    char profit_flag = '\0';
    std::string bank_no;
    std::int32_t open_date = 0;
    std::int32_t cancel_date = 0;
    char fundacct_status = '\0';
    double discount_rate = 0.0;
    char organ_flag = '\0';
    // 29991231 when the reply's text is not an integer.
    std::int32_t organ_audit_date = 0;
    char square_flag = '\0';
    char product_flag = '\0';
    std::string remark;
};

// The sub-account list: owns raw memory blocks. Deleting, clearing or destroying frees each
// block once; extracting hands the block to the caller.
class TDeputyList {
public:
    struct FreeBlock {
        void operator()(void* block) const { std::free(block); }
    };
    using Block = std::unique_ptr<void, FreeBlock>;

    TDeputyList() = default;
    TDeputyList(const TDeputyList&) = delete;
    TDeputyList& operator=(const TDeputyList&) = delete;

    // Takes a block allocated with std::malloc (or none).
    void Add(Block block);
    std::size_t Count() const { return items_.size(); }
    void* Items(std::size_t index) const { return items_.at(index).get(); }
    void Delete(std::size_t index);
    void Clear() { items_.clear(); }
    // Takes the entry out without freeing it; none when the list does not hold it.
    Block Extract(void* item);

private:
    std::vector<Block> items_;
};

class TFund {
public:
    // The capacity of account_content in bytes.
    static constexpr std::size_t AccountContentCapacity = 18;

    explicit TFund(TQZFormBase& owner);
    ~TFund();
    TFund(const TFund&) = delete;
    TFund& operator=(const TFund&) = delete;

    // Resolves the entry of input way `way` (exchange as the edit reports it, may be empty;
    // bankNo sent for way '4' only). errorMode '0' shows a server error, any other value
    // suppresses it. True when resolved: fund_account, account_type, account_content and the
    // client branch (session and owner form) then hold the reply's; false leaves them.
    bool ResolveAccount(char way, const std::string& exchange, const std::string& bankNo,
                        const std::string& entry, char errorMode);
    // Loads the record of the fund account into FundAccountInfo; false on a server error
    // (shown) or no record ("客户不存在").
    bool LoadAccountInfo(std::int32_t fundAccount);
    // Offers the client's fund accounts in the edit; false on a server error (shown) or
    // none ("该客户号无对应资产账户！"), the edit's list then unchanged.
    bool LoadSubAccounts(TQZIDEdit& edit, const std::string& clientId);

    TSysConfigList& SysConfig() { return *sysConfig_; }
    TDeputyList& DeputyList() { return *deputyList_; }

    // The last successful resolution; 0, NUL and empty until then.
    std::int32_t fund_account = 0;
    char account_type = '\0';
    std::string account_content;
    TFundAccountInfo FundAccountInfo;

private:
    TQZFormBase& owner_;
    // Declared in this order so that the sub-account list goes first.
    std::unique_ptr<TSysConfigList> sysConfig_;
    std::unique_ptr<TDeputyList> deputyList_;
};
