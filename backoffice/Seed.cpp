#include "Seed.h"

#include "JournalKey.h"
#include "Passwords.h"

#include <stdexcept>

namespace backoffice {

extern const char schemaSql[];
extern const char trainingSql[];

const TrainingOperator trainingOperators[4] = {
    {"1001", "张敏", "1", 8, false, "pass1001"},
    {"1002", "李复核", "1", 8, true, "pass1002"},
    {"1003", "王主管", "2", 9, true, "pass1003"},
    {"1004", "赵柜员", "1", 8, false, "pass1004"},
};

namespace {

void addOperators(Database& db) {
    Statement op = db.prepare("INSERT INTO operator (operator_no, operator_name, operator_kind, "
                              "branch_no, can_review, password_hash) VALUES (?, ?, ?, ?, ?, ?)");
    for (const TrainingOperator& o : trainingOperators) {
        op.bind(1, o.operatorNo)
            .bind(2, o.name)
            .bind(3, o.kind)
            .bind(4, std::int64_t{o.branchNo})
            .bind(5, std::int64_t{o.canReview ? 1 : 0})
            .bind(6, Passwords::hash(o.password));
        op.run();
        op.reset();
        grantMenuFunctions(db, o.operatorNo);
    }
}

// The training set's reference data, without its clients.
void addReferenceData(Database& db) {
    db.exec(trainingSql);
    db.exec("DELETE FROM vip_client; DELETE FROM bank_card; DELETE FROM fund_card; "
            "DELETE FROM stock_holder; DELETE FROM fund_account; DELETE FROM client;");
}

// Review statuses are checked by their table since this version. SQLite adds a check only
// to a table built anew: the old one is renamed, the new one made from the schema, the
// processes copied (one outside the statuses stops the upgrade), and the old one dropped
// with its indexes, which the schema then makes for the new one. Process numbers go on
// from where they stood.
void checkReviewStatuses(Database& db) {
    Transaction t(db);
    const std::int64_t lastProcess = [&] {
        Statement s = db.prepare("SELECT seq FROM sqlite_sequence WHERE name = 'review_process'");
        return s.step() ? s.integer(0) : std::int64_t{0};
    }();
    db.exec("ALTER TABLE review_process RENAME TO review_process_unchecked");
    db.exec(schemaSql);
    db.exec("INSERT INTO review_process (process_id, function_id, operator_no, fund_account, "
            "default_reviewer, reviewer, status, created_at, request_fields, approved_at, "
            "wrong_reviews) SELECT process_id, function_id, operator_no, fund_account, "
            "default_reviewer, reviewer, status, created_at, request_fields, approved_at, "
            "wrong_reviews FROM review_process_unchecked");
    db.exec("DROP TABLE review_process_unchecked");
    db.exec(schemaSql);
    db.prepare("UPDATE sqlite_sequence SET seq = max(seq, ?) WHERE name = 'review_process'")
        .bind(1, lastProcess)
        .run();
    if (db.changes() == 0 && lastProcess > 0)
        db.prepare("INSERT INTO sqlite_sequence (name, seq) VALUES ('review_process', ?)")
            .bind(1, lastProcess)
            .run();
    t.commit();
}

} // namespace

void grantMenuFunctions(Database& db, const std::string& operatorNo) {
    static const struct {
        std::int64_t code;
        const char* caption;
    } functions[] = {{730101, "VIP快速客户信息主动同步"},
                     {730102, "VIP客户开户"},
                     {730103, "VIP客户销户"},
                     {730104, "VIP客户修改"},
                     {730105, "VIP快速交易客户信息"}};
    Statement fn = db.prepare("INSERT INTO operator_function VALUES (?, ?, ?)");
    for (const auto& f : functions) {
        fn.bind(1, operatorNo).bind(2, f.code).bind(3, f.caption);
        fn.run();
        fn.reset();
    }
}

void createSchema(Database& db) {
    db.exec(schemaSql);
}

void upgradeSchema(Database& db) {
    const auto hasColumn = [&](const char* table, const char* column) {
        Statement s = db.prepare(std::string("SELECT 1 FROM pragma_table_info('") + table +
                                 "') WHERE name = ?");
        s.bind(1, std::string_view(column));
        return s.step();
    };
    if (hasColumn("review_process", "process_id") && !hasColumn("review_process", "request_fields"))
        db.exec("ALTER TABLE review_process ADD COLUMN request_fields TEXT NOT NULL DEFAULT '';"
                "ALTER TABLE review_process ADD COLUMN approved_at INTEGER NOT NULL DEFAULT 0;");
    if (hasColumn("operator", "operator_no") && !hasColumn("operator", "disabled"))
        db.exec("ALTER TABLE operator ADD COLUMN disabled INTEGER NOT NULL DEFAULT 0");
    if (hasColumn("review_process", "process_id") && !hasColumn("review_process", "wrong_reviews"))
        db.exec("ALTER TABLE review_process ADD COLUMN wrong_reviews INTEGER NOT NULL DEFAULT 0");
    if (hasColumn("password_guess", "guess_id") && !hasColumn("password_guess", "cleared"))
        db.exec("ALTER TABLE password_guess ADD COLUMN cleared INTEGER NOT NULL DEFAULT 0");
    const auto unchecked = [&] {
        Statement s = db.prepare("SELECT sql FROM sqlite_master WHERE name = 'review_process'");
        return s.step() && s.text(0).find("CHECK") == std::string::npos;
    };
    if (unchecked())
        checkReviewStatuses(db);
    // The lock of earlier versions gave way to throttling, and the count per address to
    // counts of the guesses themselves.
    db.exec("DROP TABLE IF EXISTS password_failure; DROP TABLE IF EXISTS guess_source");
    createSchema(db);
}

void seedTraining(Database& db) {
    createSchema(db);
    Transaction t(db);
    db.exec(trainingSql);
    addOperators(db);
    t.commit();
    makeJournalKey(db);
}

void seedEmpty(Database& db) {
    createSchema(db);
    Transaction t(db);
    addReferenceData(db);
    t.commit();
    makeJournalKey(db);
}

void seedGenerated(Database& db, std::int64_t clients, int vipPercent) {
    if (clients < 1 || clients > 1'000'000)
        throw std::invalid_argument("clients must be 1 to 1,000,000");
    createSchema(db);
    Transaction t(db);
    addReferenceData(db);
    addOperators(db);

    static const std::int64_t branches[] = {8, 9, 10};
    static const char* surnames[] = {"张", "王", "李", "赵", "陈", "刘", "杨", "黄"};
    static const char* given[] = {"伟", "芳", "娜", "敏", "静", "强", "磊", "洋", "艳", "军"};
    Statement client = db.prepare(
        "INSERT INTO client (client_id, branch_no, dev_branch_no, client_name, id_kind, id_no, "
        "open_date, client_status, risk_level) VALUES (?, ?, ?, ?, '0', ?, 20200101, ?, ?)");
    Statement account = db.prepare(
        "INSERT INTO fund_account (fund_account, client_id, branch_no, main_flag, client_group, "
        "room_code, en_entrust_way, open_date, fundacct_status, discount_rate) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, 20200101, ?, ?)");
    Statement holder = db.prepare("INSERT INTO stock_holder VALUES ('1', ?, ?)");
    Statement vip = db.prepare("INSERT INTO vip_client VALUES (?, ?, ?, ?, 20200101, '1001')");
    std::int64_t nextAccount = 10'000'000;
    for (std::int64_t i = 0; i < clients; ++i) {
        const std::string clientId = std::to_string(2'000'000 + i);
        const std::int64_t branch = branches[i % 3];
        std::string name = surnames[i % 8];
        name.append(given[(i / 8) % 10]);
        std::string idNo = "44030119900101";
        idNo.append(std::to_string(1000 + i % 9000));
        // Every 50th client and every 40th account are in some abnormal state.
        client.bind(1, clientId)
            .bind(2, branch)
            .bind(3, branch)
            .bind(4, name)
            .bind(5, idNo)
            .bind(6, i % 50 == 49 ? "1" : "0")
            .bind(7, i % 5 + 1);
        client.run();
        client.reset();
        const bool isVip = (i % 100) < vipPercent;
        const int accountsOfClient = i % 3 == 0 ? 2 : 1;
        for (int a = 0; a < accountsOfClient; ++a) {
            const std::int64_t fundAccount = nextAccount++;
            const bool main = a == 0;
            const double rate = main && isVip ? 0.5 + static_cast<double>(i % 50) / 100.0 : 1.0;
            account.bind(1, fundAccount)
                .bind(2, clientId)
                .bind(3, branch)
                .bind(4, main ? "1" : "0")
                .bind(5, std::int64_t{i % 3})
                .bind(6, std::int64_t{i % 4})
                .bind(7, main && isVip ? "014Z" : "014")
                .bind(8, i % 40 == 39 && !main ? "1" : "0")
                .bind(9, rate);
            account.run();
            account.reset();
            if (main) {
                std::string stockAccount = "A";
                stockAccount.append(std::to_string(100'000'000 + i));
                holder.bind(1, stockAccount).bind(2, fundAccount);
                holder.run();
                holder.reset();
                if (isVip) {
                    vip.bind(1, fundAccount).bind(2, clientId).bind(3, branch).bind(4, rate);
                    vip.run();
                    vip.reset();
                }
            }
        }
    }
    t.commit();
    makeJournalKey(db);
}

} // namespace backoffice
