#include "Journal.h"

#include "JournalAgreement.h"
#include "JournalKey.h"

#include <sodium.h>

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <map>
#include <stdexcept>

namespace backoffice {

namespace {

// The "previous hash" of the first entry.
const std::string genesisHash(crypto_generichash_BYTES * 2, '0');

using Content = std::array<std::string, journalContentColumns>;

// The table's columns, "entry_no, occurred_at, ...".
std::string columnList() {
    std::string list;
    for (const JournalColumn& column : journalColumns)
        list += (list.empty() ? "" : ", ") + std::string(column.name);
    return list;
}
const std::string columns = columnList();

// The content in column order, each value as SQLite gives it back as text, so that the
// writer and the checker hash the same bytes.
Content contentOf(const JournalEntry& e) {
    Content content;
    for (std::size_t i = 0; i < journalContentColumns; ++i) {
        const JournalColumn& column = journalColumns[i];
        content[i] = column.number ? std::to_string(e.*column.number) : e.*column.text;
    }
    return content;
}

// Each value goes in with its length first (8 bytes, least significant first), so that no two
// contents hash alike by moving bytes from one field to the next. Entries from the key's
// first on are hashed with the key, so that nobody without it can make a hash that holds.
std::string hashOf(const std::string& prevHash, const Content& content, const JournalKey* key) {
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot start");
    crypto_generichash_state state;
    unsigned char out[crypto_generichash_BYTES];
    crypto_generichash_init(&state, key ? key->bytes.data() : nullptr, key ? key->bytes.size() : 0,
                            sizeof out);
    const auto add = [&](const std::string& value) {
        unsigned char length[8];
        std::uint64_t n = value.size();
        for (unsigned char& byte : length) {
            byte = static_cast<unsigned char>(n & 0xff);
            n >>= 8;
        }
        crypto_generichash_update(&state, length, sizeof length);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(value.data()),
                                  value.size());
    };
    add(prevHash);
    for (const std::string& value : content)
        add(value);
    crypto_generichash_final(&state, out, sizeof out);
    char hex[sizeof out * 2 + 1];
    sodium_bin2hex(hex, sizeof hex, out, sizeof out);
    return hex;
}

struct StoredRow {
    JournalEntry entry;
    Content content; // as stored, for the check
};

StoredRow readRow(const Statement& s) {
    StoredRow row;
    for (std::size_t i = 0; i < journalColumns.size(); ++i) {
        const JournalColumn& column = journalColumns[i];
        const int index = static_cast<int>(i);
        if (i < journalContentColumns)
            row.content[i] = s.text(index);
        if (column.number)
            row.entry.*column.number = s.integer(index);
        else
            row.entry.*column.text = s.text(index);
    }
    return row;
}

std::int64_t lastIssuedEntryNo(Database& db) {
    CachedStatement s = db.cached("SELECT seq FROM sqlite_sequence WHERE name = 'journal'");
    return s->step() ? s->integer(0) : 0;
}

} // namespace

std::string journalEventText(const std::string& event) {
    static const std::map<std::string, std::string> texts{
        {journal::sync, "信息同步请求"},
        {journal::vipOpen, "VIP开户"},
        {journal::vipClose, "VIP销户"},
        {journal::vipModify, "VIP修改"},
        {journal::reviewDemanded, "要求复核"},
        {journal::reviewApproved, "复核通过"},
        {journal::reviewRefused, "复核被拒"},
        {journal::approvalUsed, "复核批准已使用"},
        {journal::approvalExpired, "复核批准过期未用"},
        {journal::passwordWrong, "密码错误"},
        {journal::sourceSlowed, "来源限速"},
        {journal::operatorBounded, "操作员猜测达上限"},
        {journal::loginRefused, "登录被拒"},
        {journal::login, "登录"},
        {journal::logout, "退出登录"},
        {journal::operatorAdded, "新增操作员"},
        {journal::operatorChanged, "修改操作员"},
        {journal::operatorDisabled, "停用操作员"},
        {journal::operatorEnabled, "启用操作员"},
        {journal::passwordSet, "设置操作员密码"},
        {journal::clientImported, "导入客户"},
        {journal::databaseRestored, "从备份恢复"},
        {journal::operatorReleased, "解除密码错误限制"},
        {journal::reviewExpired, "复核流程过期未复核"},
    };
    const auto found = texts.find(event);
    return found == texts.end() ? event : found->second;
}

std::string journalRate(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", rate);
    return text;
}

void appendJournal(Database& db, JournalEntry entry) {
    // Outside a transaction the entry would be committed apart from its change.
    if (sqlite3_get_autocommit(db.handle()))
        throw DatabaseError("a journal entry is written only inside the transaction of its change");
    if (entry.occurredAt == 0)
        entry.occurredAt = static_cast<std::int64_t>(std::time(nullptr));
    {
        CachedStatement last =
            db.cached("SELECT entry_hash FROM journal ORDER BY entry_no DESC LIMIT 1");
        entry.prevHash = last->step() ? last->text(0) : genesisHash;
    }
    // Numbers go on from the last one ever issued, so that entries removed from the end
    // leave a gap the check finds.
    entry.entryNo = lastIssuedEntryNo(db) + 1;
    const JournalKey key = journalKeyOf(db);
    entry.hash = hashOf(entry.prevHash, contentOf(entry), &key);
    std::string placeholders;
    for (std::size_t i = 0; i < journalColumns.size(); ++i)
        placeholders += i == 0 ? "?" : ", ?";
    CachedStatement insert =
        db.cached("INSERT INTO journal (" + columns + ") VALUES (" + placeholders + ")");
    Statement& s = *insert;
    for (std::size_t i = 0; i < journalColumns.size(); ++i) {
        const JournalColumn& column = journalColumns[i];
        const int index = static_cast<int>(i) + 1;
        if (column.number)
            s.bind(index, entry.*column.number);
        else
            s.bind(index, entry.*column.text);
    }
    s.run();
}

bool hasJournal(Database& db) {
    Statement s =
        db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'journal'");
    return s.step();
}

namespace {

// One read transaction: the entries and the last number issued are read from the same
// state of the file, even while a server writes to it.
class ReadSnapshot {
public:
    explicit ReadSnapshot(Database& db) : db_(db) { db_.exec("BEGIN"); }
    ~ReadSnapshot() {
        try {
            db_.exec("COMMIT");
        } catch (const DatabaseError&) {
        }
    }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    Database& db_;
};

} // namespace

std::string formatJournalCheckpoint(const JournalCheckpoint& checkpoint) {
    return std::to_string(checkpoint.entryNo) + ":" + checkpoint.hash;
}

std::optional<JournalCheckpoint> parseJournalCheckpoint(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    JournalCheckpoint checkpoint;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + colon, checkpoint.entryNo);
    if (ec != std::errc() || end != text.data() + colon || checkpoint.entryNo < 1)
        return std::nullopt;
    checkpoint.hash = text.substr(colon + 1);
    const bool hex = checkpoint.hash.size() == crypto_generichash_BYTES * 2 &&
                     checkpoint.hash.find_first_not_of("0123456789abcdef") == std::string::npos;
    return hex ? std::optional(checkpoint) : std::nullopt;
}

JournalCheckpoint journalHead(Database& db) {
    CachedStatement s =
        db.cached("SELECT entry_no, entry_hash FROM journal ORDER BY entry_no DESC LIMIT 1");
    if (!s->step())
        return {};
    return {s->integer(0), s->text(1)};
}

JournalCheck verifyJournal(Database& db, const std::optional<JournalCheckpoint>& expect) {
    const ReadSnapshot snapshot(db);
    JournalCheck check;
    const std::optional<JournalKey> key = readJournalKey(db);
    if (!key) {
        Statement sealed = db.prepare("SELECT 1 FROM sqlite_master WHERE name = 'journal_key'");
        if (sealed.step() && db.prepare("SELECT 1 FROM journal_key").step())
            throw JournalKeyError("the journal key " + journalKeyPath(databaseFile(db)) +
                                  " is missing: the journal was sealed with it");
    }
    check.keyed = key.has_value();
    JournalAgreement agreement(key ? &*key : nullptr);
    Statement s = db.prepare("SELECT " + columns + " FROM journal ORDER BY entry_no");
    const auto next = [&]() -> std::optional<StoredRow> {
        if (!s.step())
            return std::nullopt;
        return readRow(s);
    };
    const auto sealedWith = [&](const StoredRow& row) {
        const bool keyed = key && row.entry.entryNo >= key->keyedFrom;
        return hashOf(row.entry.prevHash, row.content, keyed ? &*key : nullptr) == row.entry.hash;
    };
    std::string prevHash = genesisHash;
    std::int64_t prevNo = 0;
    const auto broken = [&](std::int64_t at, const char* how, std::string explanation) {
        check.brokenAt = at;
        check.how = how;
        check.explanation = std::move(explanation);
        return check;
    };
    for (std::optional<StoredRow> row = next(); row; row = next()) {
        const JournalEntry& e = row->entry;
        const bool sealed = sealedWith(*row);
        const bool linked = e.prevHash == prevHash;
        const bool inOrder = e.entryNo == prevNo + 1;
        if (sealed && linked && inOrder) {
            if (expect && e.entryNo == expect->entryNo && e.hash != expect->hash)
                return broken(e.entryNo, "edited",
                              "第" + std::to_string(e.entryNo) +
                                  "条记录的哈希与保存的检查点不符：日志在检查点之前被改写");
            ++check.checked;
            prevHash = e.hash;
            prevNo = e.entryNo;
            check.headHash = e.hash;
            check.headNo = e.entryNo;
            agreement.add(e);
            continue;
        }
        const std::string no = std::to_string(e.entryNo);
        // A whole entry whose successor still follows the one before it: the successor
        // was written after a removal.
        if (sealed && !inOrder)
            return broken(prevNo + 1, "removed",
                          "第" + std::to_string(prevNo + 1) +
                              (e.entryNo - 1 > prevNo + 1 ? "至" + std::to_string(e.entryNo - 1)
                                                          : std::string()) +
                              "条记录被删除");
        const std::optional<StoredRow> after = next();
        const bool skipped = after && after->entry.prevHash == prevHash;
        const std::string inserted = "第" + no + "条记录是插入的：不在哈希链上";
        // The chain goes on around this entry, which does not follow the one before it:
        // it was never part of the chain.
        if (!linked && skipped)
            return broken(e.entryNo, "inserted", inserted);
        // The chain goes on from this entry's hash, but its content no longer gives it.
        if (!sealed && after && after->entry.prevHash == e.hash)
            return broken(e.entryNo, "edited", "第" + no + "条记录被修改：内容与其哈希不符");
        if (skipped)
            return broken(e.entryNo, "inserted", inserted);
        if (!sealed && !after)
            return linked
                       ? broken(e.entryNo, "edited", "第" + no + "条记录被修改：内容与其哈希不符")
                       : broken(e.entryNo, "inserted", inserted);
        if (sealed && !linked && prevNo > 0)
            return broken(prevNo, "edited",
                          "第" + std::to_string(prevNo) + "条记录被修改：其哈希被改写，与第" + no +
                              "条不再相连");
        return broken(e.entryNo, "edited", "第" + no + "条记录被修改：与前一条不再相连");
    }
    const std::int64_t issued = lastIssuedEntryNo(db);
    if (issued > prevNo)
        return broken(prevNo + 1, "removed",
                      "第" + std::to_string(prevNo + 1) +
                          (issued > prevNo + 1 ? "至" + std::to_string(issued) : std::string()) +
                          "条记录被删除（日志末尾）");
    if (expect && expect->entryNo > prevNo)
        return broken(prevNo + 1, "removed",
                      "日志只到第" + std::to_string(prevNo) + "条，而保存的检查点在第" +
                          std::to_string(expect->entryNo) + "条：其后的记录被删除");
    if (key && prevNo + 1 < key->keyedFrom)
        return broken(prevNo + 1, "removed",
                      "日志只到第" + std::to_string(prevNo) + "条，而密钥自第" +
                          std::to_string(key->keyedFrom) + "条起加封：其前的记录被删除");
    if (const std::optional<JournalDisagreement> found = agreement.check(db))
        return broken(found->entryNo, "tables", found->explanation);
    return check;
}

std::vector<JournalEntry> readJournal(Database& db, const JournalFilter& filter) {
    std::string sql = "SELECT " + columns + " FROM journal WHERE 1";
    if (filter.since)
        sql += " AND occurred_at >= ?";
    if (filter.until)
        sql += " AND occurred_at <= ?";
    if (!filter.operatorNo.empty())
        sql += " AND (operator_no = ? OR reviewer = ?)";
    if (!filter.clientId.empty())
        sql += " AND client_id = ?";
    if (filter.fundAccount)
        sql += " AND fund_account = ?";
    sql += " ORDER BY entry_no";
    Statement s = db.prepare(sql);
    int index = 1;
    if (filter.since)
        s.bind(index++, *filter.since);
    if (filter.until)
        s.bind(index++, *filter.until);
    if (!filter.operatorNo.empty()) {
        s.bind(index++, filter.operatorNo);
        s.bind(index++, filter.operatorNo);
    }
    if (!filter.clientId.empty())
        s.bind(index++, filter.clientId);
    if (filter.fundAccount)
        s.bind(index++, *filter.fundAccount);
    std::vector<JournalEntry> entries;
    while (s.step())
        entries.push_back(readRow(s).entry);
    return entries;
}

} // namespace backoffice
