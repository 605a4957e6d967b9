#include "ClientCsv.h"

#include "Admin.h"
#include "CommandLine.h"
#include "Journal.h"

#include <iconv.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <optional>
#include <set>

namespace backoffice {

namespace {

const std::vector<std::string> columns{
    "client_id", "client_name", "branch_no",    "id_kind",       "id_no",           "client_status",
    "open_date", "risk_level",  "fund_account", "main_flag",     "fundacct_status", "client_group",
    "room_code", "fund_cards",  "bank_cards",   "stock_accounts"};
const std::set<std::string> requiredColumns{"client_id", "client_name", "branch_no",
                                            "id_kind",   "id_no",       "client_status"};
// The columns of the client itself: equal on every row of one client.
const std::vector<std::string> clientColumns{"client_name",   "branch_no", "id_kind",   "id_no",
                                             "client_status", "open_date", "risk_level"};
const std::set<std::string> exchanges{"1", "2", "D", "H", "F1", "F2", "F3", "F4"};

bool validUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t more = 0;
        char32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + more >= text.size())
            return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (t & 0x3F);
        }
        if ((more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (more == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += more + 1;
    }
    return true;
}

// GB18030 bytes as UTF-8; nothing, with the offset of the first bad byte, when they are not.
std::optional<std::string> fromGb18030(const std::string& in, std::size_t& badAt) {
    const iconv_t cd = ::iconv_open("UTF-8", "GB18030");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("GB18030 is not available for conversion");
    std::string out(in.size() * 2 + 16, '\0');
    char* from = const_cast<char*>(in.data());
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const std::size_t result = ::iconv(cd, &from, &fromLeft, &to, &toLeft);
    ::iconv_close(cd);
    if (result == static_cast<std::size_t>(-1)) {
        badAt = static_cast<std::size_t>(from - in.data());
        return std::nullopt;
    }
    out.resize(out.size() - toLeft);
    return out;
}

struct Record {
    int line = 0;
    std::vector<std::string> fields;
};

// RFC 4180: fields separated by commas, quoted with "" when they hold a comma, a quote
// or a line break; lines end in LF or CR LF. A record that breaks the rules is reported
// and skipped to the end of its line.
std::vector<Record> parseCsv(const std::string& text, std::vector<std::string>& problems) {
    std::vector<Record> records;
    std::size_t i = 0;
    int line = 1;
    while (i < text.size()) {
        Record record{line, {}};
        std::string field;
        std::optional<std::string> problem;
        bool done = false;
        while (!done) {
            field.clear();
            if (i < text.size() && text[i] == '"') {
                ++i;
                bool closed = false;
                while (i < text.size()) {
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field.push_back('"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        closed = true;
                        break;
                    }
                    if (text[i] == '\n')
                        ++line;
                    field.push_back(text[i++]);
                }
                if (!closed) {
                    problem = "a quoted field is not closed";
                    break;
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\n' &&
                    !(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
                    problem = "text after a closing quote";
                    break;
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\n') {
                    if (text[i] == '"') {
                        problem = "a quote inside a field that does not start with one";
                        break;
                    }
                    field.push_back(text[i++]);
                }
                if (problem)
                    break;
                if (!field.empty() && field.back() == '\r')
                    field.pop_back();
            }
            record.fields.push_back(field);
            if (i >= text.size()) {
                done = true;
            } else if (text[i] == ',') {
                ++i;
            } else {
                if (text[i] == '\r')
                    ++i;
                ++i; // the LF
                ++line;
                done = true;
            }
        }
        if (problem) {
            problems.push_back("line " + std::to_string(record.line) + ": " + *problem);
            while (i < text.size() && text[i] != '\n')
                ++i;
            if (i < text.size()) {
                ++i;
                ++line;
            }
            continue;
        }
        const bool blank = record.fields.size() == 1 && record.fields[0].empty();
        if (!blank)
            records.push_back(std::move(record));
    }
    return records;
}

bool plainCode(const std::string& text, std::size_t maxBytes) {
    return !text.empty() && text.size() <= maxBytes &&
           std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
           });
}

bool printable(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

bool validDate(std::int64_t date) {
    const std::int64_t year = date / 10000;
    const std::int64_t month = date / 100 % 100;
    const std::int64_t day = date % 100;
    if (year < 1900 || year > 2999 || month < 1 || month > 12 || day < 1)
        return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= days[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::int64_t today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return (tm.tm_year + 1900) * 10000 + (tm.tm_mon + 1) * 100 + tm.tm_mday;
}

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> items;
    if (text.empty())
        return items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        items.push_back(text.substr(start, at - start));
        if (at == std::string::npos)
            return items;
        start = at + 1;
    }
}

using Pair = std::pair<std::string, std::string>;

struct Account {
    int line = 0;
    std::int64_t fundAccount = 0;
    std::string mainFlag; // empty: decided by the client's rows
    std::string status;
    std::int64_t group = 0;
    std::int64_t room = 0;
    std::vector<std::string> fundCards;
    std::vector<Pair> bankCards;
    std::vector<Pair> stockAccounts;
};

struct Client {
    int line = 0;
    std::string clientId;
    std::string name;
    std::int64_t branchNo = 0;
    std::string idKind;
    std::string idNo;
    std::string status;
    std::int64_t openDate = 0;
    std::int64_t riskLevel = 0;
    std::vector<std::string> given; // the client columns as the row gave them
    std::vector<Account> accounts;
};

// What the database holds already, asked key by key.
class Existing {
public:
    explicit Existing(Database& db) : db_(db) {}
    bool has(const char* sql, const std::string& a, const std::string& b = {}) {
        CachedStatement s = db_.cached(sql);
        s->bind(1, a);
        if (!b.empty())
            s->bind(2, b);
        return s->step();
    }
    bool dictionary(const char* name, const std::string& key) {
        return has("SELECT 1 FROM dictionary WHERE dict_name = ? AND item_key = ?", name, key);
    }

private:
    Database& db_;
};

class Importer {
public:
    Importer(Database& db, std::vector<std::string>& problems)
        : db_(db), existing_(db), problems_(problems) {}

    bool header(const Record& record) {
        for (std::size_t i = 0; i < record.fields.size(); ++i) {
            const std::string& name = record.fields[i];
            if (std::find(columns.begin(), columns.end(), name) == columns.end())
                return fail(record.line, "unknown column '" + name + "'");
            if (!index_.emplace(name, i).second)
                return fail(record.line, "column '" + name + "' given twice");
        }
        for (const std::string& name : requiredColumns) {
            if (!index_.contains(name))
                return fail(record.line, "the header has no column '" + name + "'");
        }
        return true;
    }

    void row(const Record& record) {
        reasons_.clear();
        line_ = record.line;
        fields_ = &record.fields;
        if (record.fields.size() != index_.size()) {
            fail(record.line, std::to_string(record.fields.size()) + " fields, the header has " +
                                  std::to_string(index_.size()));
            return;
        }
        Client c;
        c.line = record.line;
        c.clientId = get("client_id");
        if (!plainCode(c.clientId, 18))
            reason("client_id '" + c.clientId + "': 1 to 18 letters and digits expected");
        c.name = get("client_name");
        if (c.name.empty() || c.name.size() > 64 || !printable(c.name))
            reason("client_name: 1 to 64 bytes of printable text expected");
        c.branchNo = number("branch_no", 1, 999999, std::nullopt);
        if (c.branchNo != 0 &&
            !existing_.has("SELECT 1 FROM branch WHERE branch_no = ?", get("branch_no")))
            reason("branch_no: no branch " + get("branch_no"));
        c.idKind = get("id_kind");
        if (!existing_.dictionary("id_kind", c.idKind))
            reason("id_kind: '" + c.idKind + "' is no identity document kind");
        c.idNo = get("id_no");
        if (c.idNo.empty() || c.idNo.size() > 40 || !printable(c.idNo))
            reason("id_no: 1 to 40 bytes of printable text expected");
        c.status = get("client_status");
        if (c.status.size() != 1 || c.status[0] < '0' || c.status[0] > '9')
            reason("client_status: one digit expected, not '" + c.status + "'");
        c.openDate = number("open_date", 19000101, 29991231, today());
        if (c.openDate != 0 && !validDate(c.openDate))
            reason("open_date: '" + get("open_date") + "' is no date (YYYYMMDD)");
        c.riskLevel = number("risk_level", 0, 9, 0);
        for (const std::string& column : clientColumns)
            c.given.push_back(get(column));

        const auto known = clients_.find(c.clientId);
        if (known != clients_.end()) {
            const Client& first = list_[known->second];
            if (first.given != c.given)
                reason("client " + c.clientId + "'s columns differ from line " +
                       std::to_string(first.line));
        } else if (!c.clientId.empty() &&
                   existing_.has("SELECT 1 FROM client WHERE client_id = ?", c.clientId)) {
            reason("client " + c.clientId + " exists already");
        }
        const std::optional<Account> account = accountOf();
        if (!reasons_.empty()) {
            std::string all;
            for (const std::string& r : reasons_)
                all += (all.empty() ? "" : "; ") + r;
            problems_.push_back("line " + std::to_string(line_) + ": " + all);
            return;
        }
        if (known == clients_.end()) {
            clients_.emplace(c.clientId, list_.size());
            list_.push_back(std::move(c));
        } else if (!account) {
            fail(record.line, "client " + c.clientId + " is on line " +
                                  std::to_string(list_[known->second].line) +
                                  " already, and this row has no fund account");
            return;
        }
        if (account)
            list_[clients_.at(record.fields[index_.at("client_id")])].accounts.push_back(*account);
    }

    // Each client's main fund account: at most one given, else the first.
    void decideMainAccounts() {
        for (Client& c : list_) {
            const Account* main = nullptr;
            for (const Account& a : c.accounts) {
                if (a.mainFlag != "1")
                    continue;
                if (main)
                    fail(a.line, "a second main fund account of client " + c.clientId +
                                     " (the first is on line " + std::to_string(main->line) + ")");
                else
                    main = &a;
            }
            bool first = main == nullptr;
            for (Account& a : c.accounts) {
                if (a.mainFlag.empty()) {
                    a.mainFlag = first ? "1" : "0";
                    first = false;
                }
            }
        }
    }

    ImportCount insert(const std::string& admin, const std::string& fileName) {
        ImportCount count;
        Statement client = db_.prepare(
            "INSERT INTO client (client_id, branch_no, dev_branch_no, client_name, id_kind, id_no, "
            "open_date, client_status, risk_level) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Statement account = db_.prepare(
            "INSERT INTO fund_account (fund_account, client_id, branch_no, fund_card, main_flag, "
            "client_group, room_code, bank_no, open_date, fundacct_status) "
            "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        Statement card = db_.prepare("INSERT INTO fund_card VALUES (?, ?)");
        Statement bank = db_.prepare("INSERT INTO bank_card VALUES (?, ?, ?)");
        Statement holder = db_.prepare("INSERT INTO stock_holder VALUES (?, ?, ?)");
        for (const Client& c : list_) {
            client.bind(1, c.clientId)
                .bind(2, c.branchNo)
                .bind(3, c.branchNo)
                .bind(4, c.name)
                .bind(5, c.idKind)
                .bind(6, c.idNo)
                .bind(7, c.openDate)
                .bind(8, c.status)
                .bind(9, c.riskLevel);
            client.run();
            client.reset();
            std::string accounts;
            std::int64_t mainAccount = 0;
            for (const Account& a : c.accounts) {
                account.bind(1, a.fundAccount)
                    .bind(2, c.clientId)
                    .bind(3, c.branchNo)
                    .bind(4, a.fundCards.empty() ? std::string() : a.fundCards.front())
                    .bind(5, a.mainFlag)
                    .bind(6, a.group)
                    .bind(7, a.room)
                    .bind(8, a.bankCards.empty() ? std::string() : a.bankCards.front().first)
                    .bind(9, c.openDate)
                    .bind(10, a.status);
                account.run();
                account.reset();
                for (const std::string& f : a.fundCards) {
                    card.bind(1, f).bind(2, a.fundAccount);
                    card.run();
                    card.reset();
                }
                for (const auto& [bankNo, bankAccount] : a.bankCards) {
                    bank.bind(1, bankNo).bind(2, bankAccount).bind(3, a.fundAccount);
                    bank.run();
                    bank.reset();
                }
                for (const auto& [exchange, stockAccount] : a.stockAccounts) {
                    holder.bind(1, exchange).bind(2, stockAccount).bind(3, a.fundAccount);
                    holder.run();
                    holder.reset();
                }
                accounts += (accounts.empty() ? "" : ",") + std::to_string(a.fundAccount);
                if (a.mainFlag == "1")
                    mainAccount = a.fundAccount;
                ++count.fundAccounts;
            }
            JournalEntry e = adminEntry(journal::clientImported, admin);
            e.clientId = c.clientId;
            e.fundAccount = mainAccount;
            e.detail = "管理员[" + admin + "]从文件" + fileName + "导入客户[" + c.clientId + "]" +
                       c.name + "，资金账户：" + (accounts.empty() ? "无" : accounts);
            appendJournal(db_, e);
            ++count.clients;
        }
        return count;
    }

private:
    bool fail(int line, const std::string& why) {
        problems_.push_back("line " + std::to_string(line) + ": " + why);
        return false;
    }
    void reason(const std::string& why) { reasons_.push_back(why); }

    std::string get(const std::string& column) const {
        const auto found = index_.find(column);
        return found == index_.end() ? std::string() : (*fields_)[found->second];
    }

    // The column's number; `fallback` when it is empty (a reason when there is none).
    std::int64_t number(const std::string& column, std::int64_t min, std::int64_t max,
                        std::optional<std::int64_t> fallback) {
        const std::string text = get(column);
        if (text.empty() && fallback)
            return *fallback;
        const OptionRule rule{column.c_str(), OptionRule::Kind::Number, min, max};
        if (const auto bad = checkValue(rule, text)) {
            reason(column + ": " + (text.empty() ? std::string("no value") : *bad));
            return 0;
        }
        return *parseNumber(text);
    }

    // Takes a key for this row, unless the database or an earlier row has it.
    void claim(std::map<std::string, int>& seen, const std::string& key, const std::string& what,
               const char* existsSql, const std::string& a, const std::string& b = {}) {
        const auto [at, fresh] = seen.emplace(key, line_);
        if (!fresh)
            reason(what + " is on line " + std::to_string(at->second) + " already");
        else if (existing_.has(existsSql, a, b))
            reason(what + " exists already");
    }

    std::optional<Account> accountOf() {
        const bool none = get("fund_account").empty();
        if (none) {
            for (const char* column : {"main_flag", "fundacct_status", "client_group", "room_code",
                                       "fund_cards", "bank_cards", "stock_accounts"}) {
                if (!get(column).empty())
                    reason(std::string(column) + " given without a fund_account");
            }
            return std::nullopt;
        }
        Account a;
        a.line = line_;
        a.fundAccount = number("fund_account", 1, 999'999'999'999'999, std::nullopt);
        if (a.fundAccount != 0)
            claim(fundAccounts_, std::to_string(a.fundAccount),
                  "fund account " + std::to_string(a.fundAccount),
                  "SELECT 1 FROM fund_account WHERE fund_account = ?", get("fund_account"));
        a.mainFlag = get("main_flag");
        if (!a.mainFlag.empty() && a.mainFlag != "0" && a.mainFlag != "1")
            reason("main_flag: 0 or 1 expected, not '" + a.mainFlag + "'");
        a.status = get("fundacct_status").empty() ? "0" : get("fundacct_status");
        if (!existing_.dictionary("fundacct_status", a.status))
            reason("fundacct_status: '" + a.status + "' is no fund account status");
        a.group = number("client_group", 0, 999, 0);
        if (!existing_.dictionary("client_group", std::to_string(a.group)))
            reason("client_group: " + std::to_string(a.group) + " is no client group");
        a.room = number("room_code", 0, 999, 0);
        if (!existing_.dictionary("room_code", std::to_string(a.room)))
            reason("room_code: " + std::to_string(a.room) + " is no room");
        for (const std::string& f : splitOn(get("fund_cards"), ';')) {
            if (!plainCode(f, 20)) {
                reason("fund_cards: '" + f + "': 1 to 20 letters and digits expected");
                continue;
            }
            a.fundCards.push_back(f);
            claim(fundCards_, f, "fund card " + f, "SELECT 1 FROM fund_card WHERE fund_card = ?",
                  f);
        }
        for (const std::string& item : splitOn(get("bank_cards"), ';')) {
            const std::size_t colon = item.find(':');
            const std::string bankNo = item.substr(0, colon);
            const std::string number =
                colon == std::string::npos ? std::string() : item.substr(colon + 1);
            if (!plainCode(bankNo, 4) || !plainCode(number, 32)) {
                reason("bank_cards: '" + item + "': BANK:ACCOUNT expected");
                continue;
            }
            a.bankCards.emplace_back(bankNo, number);
            claim(bankCards_, bankNo + ":" + number, "bank card " + item,
                  "SELECT 1 FROM bank_card WHERE bank_no = ? AND bank_account = ?", bankNo, number);
        }
        for (const std::string& item : splitOn(get("stock_accounts"), ';')) {
            const std::size_t colon = item.find(':');
            const std::string exchange = item.substr(0, colon);
            const std::string number =
                colon == std::string::npos ? std::string() : item.substr(colon + 1);
            if (!exchanges.contains(exchange) || !plainCode(number, 20)) {
                reason("stock_accounts: '" + item +
                       "': EXCHANGE:ACCOUNT expected, the exchange one of 1 2 D H F1 F2 F3 F4");
                continue;
            }
            a.stockAccounts.emplace_back(exchange, number);
            claim(stockAccounts_, exchange + ":" + number, "shareholder account " + item,
                  "SELECT 1 FROM stock_holder WHERE exchange_type = ? AND stock_account = ?",
                  exchange, number);
        }
        return a;
    }

    Database& db_;
    Existing existing_;
    std::vector<std::string>& problems_;
    std::map<std::string, std::size_t> index_;
    std::map<std::string, std::size_t> clients_;
    std::vector<Client> list_;
    std::map<std::string, int> fundAccounts_, fundCards_, bankCards_, stockAccounts_;
    std::vector<std::string> reasons_;
    int line_ = 0;
    const std::vector<std::string>* fields_ = nullptr;
};

std::string decode(const std::string& bytes, std::vector<std::string>& problems) {
    std::string text = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
    if (validUtf8(text))
        return text;
    std::size_t badAt = 0;
    if (auto converted = fromGb18030(bytes, badAt))
        return *converted;
    const auto line = 1 + std::count(bytes.begin(), bytes.begin() + badAt, '\n');
    problems.push_back("line " + std::to_string(line) + ": the file is neither UTF-8 nor GB18030");
    return {};
}

std::string csvField(const std::string& value) {
    if (value.find_first_of(",\"\r\n") == std::string::npos)
        return value;
    std::string quoted = "\"";
    for (const char c : value) {
        if (c == '"')
            quoted.push_back('"');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

} // namespace

const std::vector<std::string>& clientCsvColumns() {
    return columns;
}

CsvImportError::CsvImportError(std::vector<std::string> problems)
    : std::runtime_error(std::to_string(problems.size()) +
                         (problems.size() == 1 ? " bad row" : " bad rows") + "; nothing imported"),
      problems_(std::move(problems)) {}

ImportCount importClients(Database& db, const std::string& bytes, const std::string& admin,
                          const std::string& fileName) {
    std::vector<std::string> problems;
    const std::string text = decode(bytes, problems);
    if (!problems.empty())
        throw CsvImportError(problems);
    const std::vector<Record> records = parseCsv(text, problems);
    // Checked and written in one transaction, so no row another writer adds meanwhile can
    // make a row that was checked collide.
    Transaction t(db);
    Importer importer(db, problems);
    if (records.empty()) {
        problems.push_back("line 1: no header row");
        throw CsvImportError(problems);
    }
    if (!importer.header(records.front()))
        throw CsvImportError(problems);
    for (std::size_t i = 1; i < records.size(); ++i)
        importer.row(records[i]);
    importer.decideMainAccounts();
    if (!problems.empty()) {
        std::stable_sort(problems.begin(), problems.end(), [](const auto& a, const auto& b) {
            return std::stoi(a.substr(5)) < std::stoi(b.substr(5));
        });
        throw CsvImportError(problems);
    }
    const ImportCount count = importer.insert(admin, fileName);
    t.commit();
    return count;
}

void exportClients(Database& db, std::ostream& out) {
    for (std::size_t i = 0; i < columns.size(); ++i)
        out << (i ? "," : "") << columns[i];
    out << "\r\n";
    Statement s = db.prepare(
        "SELECT c.client_id, c.client_name, c.branch_no, c.id_kind, c.id_no, c.client_status, "
        "c.open_date, c.risk_level, f.fund_account, f.main_flag, f.fundacct_status, "
        "f.client_group, f.room_code, "
        "(SELECT group_concat(fund_card, ';') FROM (SELECT fund_card FROM fund_card "
        " WHERE fund_account = f.fund_account ORDER BY fund_card)), "
        "(SELECT group_concat(bank_no || ':' || bank_account, ';') FROM (SELECT bank_no, "
        " bank_account FROM bank_card WHERE fund_account = f.fund_account "
        " ORDER BY bank_no, bank_account)), "
        "(SELECT group_concat(exchange_type || ':' || stock_account, ';') FROM (SELECT "
        " exchange_type, stock_account FROM stock_holder WHERE fund_account = f.fund_account "
        " ORDER BY exchange_type, stock_account)) "
        "FROM client c LEFT JOIN fund_account f ON f.client_id = c.client_id "
        "ORDER BY c.client_id, f.fund_account");
    while (s.step()) {
        const bool account = !s.isNull(8);
        for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
            const std::string value = column >= 8 && !account ? std::string() : s.text(column);
            out << (column ? "," : "") << csvField(value);
        }
        out << "\r\n";
    }
}

} // namespace backoffice
