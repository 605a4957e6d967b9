// The journal against someone who can write the database file but not read its key: forged
// entries with hashes computed as the documentation says, cut tails with the sequence set back,
// an emptied journal, and changes written straight into the tables. What only a checkpoint kept
// elsewhere finds, and the checkpoints the server logs while it serves.

#include "BackOfficeFixture.h"

#include "BackOfficeProcess.h"
#include "Journal.h"
#include "JournalKey.h"

#include <sodium.h>

#include <fstream>

namespace journal = backoffice::journal;
using namespace std::chrono_literals;

namespace {

std::string hex(const unsigned char* bytes, std::size_t size) {
    std::string out(size * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), bytes, size);
    out.pop_back();
    return out;
}

// The hash as the journal's documentation gives it: BLAKE2b of 32 bytes over prev_hash and the
// fifteen content columns as text, each led by its length in 8 bytes, least significant first;
// keyed with the key file's key when one is given.
std::string documentedHash(const std::vector<std::string>& values, const std::string& keyHex) {
    unsigned char key[32];
    std::size_t keyLength = 0;
    if (!keyHex.empty())
        sodium_hex2bin(key, sizeof key, keyHex.data(), keyHex.size(), nullptr, &keyLength, nullptr);
    crypto_generichash_state state;
    unsigned char out[32];
    crypto_generichash_init(&state, keyLength ? key : nullptr, keyLength, sizeof out);
    for (const std::string& value : values) {
        unsigned char length[8];
        std::uint64_t n = value.size();
        for (unsigned char& byte : length) {
            byte = static_cast<unsigned char>(n & 0xff);
            n >>= 8;
        }
        crypto_generichash_update(&state, length, sizeof length);
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(value.data()),
                                  value.size());
    }
    crypto_generichash_final(&state, out, sizeof out);
    return hex(out, sizeof out);
}

constexpr char contentColumns[] =
    "entry_no, occurred_at, event, operator_no, op_branch_no, op_station, source, function_id, "
    "client_id, fund_account, rate_before, rate_after, process_id, reviewer, detail";

// A forger's rewrite: every entry from `from` on gets the hash of its content as it now stands,
// chained to the one before, as the documentation says to compute it (without the key, which
// the forger cannot read, unless a key is given to prove the documentation right).
void rechain(backoffice::Database& db, std::int64_t from, const std::string& keyHex = {}) {
    std::string prev(64, '0');
    backoffice::Statement rows = db.prepare(std::string("SELECT ") + contentColumns +
                                            ", entry_hash FROM journal ORDER BY entry_no");
    std::vector<std::pair<std::int64_t, std::string>> rewritten;
    while (rows.step()) {
        if (rows.integer(0) < from) {
            prev = rows.text(15);
            continue;
        }
        std::vector<std::string> values{prev};
        for (int i = 0; i < 15; ++i)
            values.push_back(rows.text(i));
        prev = documentedHash(values, keyHex);
        rewritten.emplace_back(rows.integer(0), prev);
    }
    std::string previous;
    for (const auto& [no, hash] : rewritten) {
        if (previous.empty()) {
            backoffice::Statement p = db.prepare("SELECT entry_hash FROM journal WHERE entry_no < "
                                                 "? ORDER BY entry_no DESC LIMIT 1");
            p.bind(1, no);
            previous = p.step() ? p.text(0) : std::string(64, '0');
        }
        db.prepare("UPDATE journal SET prev_hash = ?, entry_hash = ? WHERE entry_no = ?")
            .bind(1, previous)
            .bind(2, hash)
            .bind(3, no)
            .run();
        previous = hash;
    }
}

std::string keyOf(const std::string& databasePath) {
    std::ifstream in(backoffice::journalKeyPath(databasePath));
    for (std::string line; std::getline(in, line);)
        if (line.rfind("key=", 0) == 0)
            return line.substr(4);
    return {};
}

} // namespace

// Twelve entries: six modifies of 80000003, four syncs, then two wrong passwords of 1004.
class JournalForgeryTest : public BackOfficeTest {
protected:
    void SetUp() override {
        BackOfficeTest::SetUp();
        for (const char* rate : {"0.60", "0.70", "0.80", "0.90", "0.75", "0.65"}) {
            ASSERT_EQ(call(730003, {{"branch_no", std::int64_t{8}},
                                    {"fund_account", std::int64_t{80000003}},
                                    {"discount_rate", std::string(rate)}})
                          .code(),
                      0);
        }
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(call(730000, {{"branch_no", std::int64_t{8}},
                                    {"fund_account", std::int64_t{80000001}},
                                    {"sync_type", std::int64_t{i % 3}}})
                          .code(),
                      0);
        backoffice::Session stranger;
        stranger.source = "10.0.0.9";
        for (int i = 0; i < 2; ++i)
            Reply(office->office.handle(stranger, loginPacket("1004", "wrong")));
        office.reset();
        db = std::make_unique<backoffice::Database>(path);
        ASSERT_EQ(backoffice::journalHead(*db).entryNo, 12);
    }
    Outcome verify(const Arguments& more = {}) {
        db.reset(); // the command has the file to itself, as after the sqlite3 tool
        Outcome r = backofficeRun(Arguments{"journal", "verify", "--db", path} + more);
        db = std::make_unique<backoffice::Database>(path);
        return r;
    }
    std::unique_ptr<backoffice::Database> db;
};

TEST_F(JournalForgeryTest, EveryHashIsTheDocumentedKeyedHashOfItsEntry) {
    const std::string key = keyOf(path);
    ASSERT_EQ(key.size(), 64u);
    const std::string before = backoffice::journalHead(*db).hash;
    rechain(*db, 1, key);
    EXPECT_EQ(backoffice::journalHead(*db).hash, before);
    const Outcome r = verify();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("已校验12条记录"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("已加密钥"), std::string::npos) << r.out;
}

// Whoever recomputes the chain without the key makes hashes that do not hold, wherever he
// starts: an edit in the middle, an approval appended, the tail replaced.
TEST_F(JournalForgeryTest, AChainRecomputedWithoutTheKeyBreaksWhereTheForgeryStarts) {
    db->exec("UPDATE journal SET rate_after = '0.10' WHERE entry_no = 5");
    db->exec("UPDATE journal SET rate_before = '0.10' WHERE entry_no = 6");
    rechain(*db, 5);
    Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("第5条记录处断开"), std::string::npos) << r.out;
}

TEST_F(JournalForgeryTest, AForgedApprovalAppendedIsFound) {
    db->exec("INSERT INTO journal (occurred_at, event, operator_no, op_branch_no, op_station, "
             "source, function_id, client_id, fund_account, rate_before, rate_after, process_id, "
             "reviewer, detail, prev_hash, entry_hash) VALUES (strftime('%s','now'), "
             "'review_approved', '1001', 8, '00-1A-2B', 'local', 730001, '100001', 80000001, '', "
             "'', 7, '1002', '', '', '')");
    rechain(*db, 13);
    const Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("第13条记录处断开"), std::string::npos) << r.out;
}

TEST_F(JournalForgeryTest, TheLastTenReplacedByForgedOnesAreFound) {
    db->exec("DELETE FROM journal WHERE entry_no > 2");
    db->exec("UPDATE sqlite_sequence SET seq = 2 WHERE name = 'journal'");
    for (int i = 0; i < 10; ++i)
        db->exec(
            "INSERT INTO journal (occurred_at, event, operator_no, op_branch_no, op_station, "
            "source, function_id, client_id, fund_account, rate_before, rate_after, "
            "process_id, reviewer, detail, prev_hash, entry_hash) VALUES (0, 'password_wrong', "
            "'1004', 8, '', '10.0.0.9', 100001, '', 0, '', '', 0, '', '', '', '')");
    rechain(*db, 3);
    const Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("第3条记录处断开"), std::string::npos) << r.out;
}

// Cuts the chain itself cannot see: the tables still hold what the removed entries recorded.
TEST_F(JournalForgeryTest, AJournalCutWithItsSequenceIsFoundByTheTables) {
    // The last ten, with the sequence set back to the entry left last.
    db->exec("DELETE FROM journal WHERE entry_no > 2; "
             "UPDATE sqlite_sequence SET seq = 2 WHERE name = 'journal'");
    Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("数据表与日志不符"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("资金账户80000003在第2条记录（VIP修改）之后应为0.70，表中为0.65"),
              std::string::npos)
        << r.out;
}

TEST_F(JournalForgeryTest, TheLastChangeRemovedWithItsSequenceRowIsFound) {
    // The last sync: entry 10 once the two wrong passwords after it are gone too.
    db->exec("DELETE FROM journal WHERE entry_no >= 10; "
             "DELETE FROM sqlite_sequence WHERE name = 'journal'");
    const Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("同步请求表与日志不符"), std::string::npos) << r.out;
}

TEST_F(JournalForgeryTest, AnEmptiedJournalOnADatabaseWithChangesIsABreak) {
    db->exec("DELETE FROM journal; DELETE FROM sqlite_sequence WHERE name = 'journal'");
    const Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_EQ(r.out.find("已校验0条记录"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("数据表与日志不符"), std::string::npos) << r.out;
}

TEST_F(JournalForgeryTest, ARateChangedStraightInTheTableIsFound) {
    db->exec("UPDATE vip_client SET discount_rate = 0.30 WHERE fund_account = 80000003");
    Outcome r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("资金账户80000003在第6条记录（VIP修改）之后应为0.65，表中为0.30"),
              std::string::npos)
        << r.out;

    // A client the journal never mentions, and a rate no counter can send.
    db->exec("UPDATE vip_client SET discount_rate = 0.65 WHERE fund_account = 80000003; "
             "DELETE FROM vip_client WHERE fund_account = 80000006");
    r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("表中有日志没有记载的"), std::string::npos) << r.out;
    db->exec("UPDATE vip_client SET discount_rate = 0.655 WHERE fund_account = 80000003");
    r = verify();
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("不是本系统写入的值"), std::string::npos) << r.out;
}

// Security events change no table: their removal is found only against a checkpoint kept
// elsewhere, and the checkpoint the command prints is one verify accepts.
TEST_F(JournalForgeryTest, ACutOnlyACheckpointFindsIsFoundAgainstIt) {
    db.reset();
    const Outcome taken = backofficeRun({"journal", "checkpoint", "--db", path});
    db = std::make_unique<backoffice::Database>(path);
    ASSERT_EQ(taken.exitCode, 0) << taken.err;
    const std::string checkpoint = taken.out.substr(0, taken.out.find('\n'));
    ASSERT_EQ(checkpoint, "12:" + backoffice::journalHead(*db).hash);
    Outcome r = verify({"--expect", checkpoint});
    EXPECT_EQ(r.exitCode, 0) << r.out;

    db->exec("DELETE FROM journal WHERE entry_no > 10; "
             "UPDATE sqlite_sequence SET seq = 10 WHERE name = 'journal'");
    r = verify();
    EXPECT_EQ(r.exitCode, 0) << "without a checkpoint the cut is not seen: " << r.out;
    r = verify({"--expect", checkpoint});
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("保存的检查点在第12条"), std::string::npos) << r.out;

    r = verify({"--expect", std::string("12:xyz")});
    EXPECT_EQ(r.exitCode, 2) << r.out;
}

TEST_F(JournalForgeryTest, AJournalSealedWithAKeyThatIsGoneIsNeitherCheckedNorContinued) {
    db.reset();
    std::filesystem::rename(backoffice::journalKeyPath(path), path + ".elsewhere");
    const Outcome r = backofficeRun({"journal", "verify", "--db", path});
    EXPECT_EQ(r.exitCode, 1) << r.out;
    EXPECT_NE(r.err.find("is missing"), std::string::npos) << r.err;
    EXPECT_THROW(backoffice::BackOffice{path}, backoffice::JournalKeyError);
    EXPECT_FALSE(std::filesystem::exists(backoffice::journalKeyPath(path)));
}

// The server logs the head of the chain while it serves and when it stops.
TEST_F(JournalForgeryTest, TheServerLogsCheckpointsWhileItServes) {
    const std::string head = backoffice::formatJournalCheckpoint(backoffice::journalHead(*db));
    db.reset();
    ServeProcess server({"--db", path, "--listen", "127.0.0.1:0", "--checkpoint-interval-s", "1"},
                        dir.filePath("serve.err"));
    ASSERT_NE(server.port(), 0) << server.errors();
    std::string err;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (err.find("journal checkpoint " + head) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(200ms);
        err = server.errors();
    }
    EXPECT_NE(err.find("journal checkpoint " + head), std::string::npos) << err;
}
