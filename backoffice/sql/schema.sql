-- The back office's tables. Codes are one-character texts; dates are integers yyyymmdd.
CREATE TABLE IF NOT EXISTS branch (
    branch_no   INTEGER PRIMARY KEY,
    branch_name TEXT NOT NULL,
    branch_type TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS operator (
    operator_no   TEXT PRIMARY KEY,
    operator_name TEXT NOT NULL,
    operator_kind TEXT NOT NULL,
    branch_no     INTEGER NOT NULL REFERENCES branch(branch_no),
    can_review    INTEGER NOT NULL DEFAULT 0,
    password_hash TEXT NOT NULL,
    -- 1: disabled; every request of his is refused and his sessions end. An operator
    -- added without a password (password_hash empty) cannot log in until one is set.
    disabled      INTEGER NOT NULL DEFAULT 0
);
-- The menu functions each operator may use.
CREATE TABLE IF NOT EXISTS operator_function (
    operator_no TEXT NOT NULL REFERENCES operator(operator_no),
    menu_code   INTEGER NOT NULL,
    caption     TEXT NOT NULL,
    PRIMARY KEY (operator_no, menu_code)
);
CREATE TABLE IF NOT EXISTS client (
    client_id         TEXT PRIMARY KEY,
    branch_no         INTEGER NOT NULL REFERENCES branch(branch_no),
    dev_branch_no     INTEGER NOT NULL,
    client_card       TEXT NOT NULL DEFAULT '',
    client_name       TEXT NOT NULL,
    corp_client_group INTEGER NOT NULL DEFAULT 0,
    asset_prop        TEXT NOT NULL DEFAULT '0',
    client_sex        TEXT NOT NULL DEFAULT '0',
    nationality       TEXT NOT NULL DEFAULT '0',
    foreign_flag      TEXT NOT NULL DEFAULT '0',
    id_kind           TEXT NOT NULL DEFAULT '0',
    id_no             TEXT NOT NULL,
    id_begindate      INTEGER NOT NULL DEFAULT 0,
    id_term           INTEGER NOT NULL DEFAULT 0,
    risk_level        INTEGER NOT NULL DEFAULT 0,
    open_date         INTEGER NOT NULL,
    cancel_date       INTEGER NOT NULL DEFAULT 0,
    client_status     TEXT NOT NULL DEFAULT '0'
);
CREATE TABLE IF NOT EXISTS fund_account (
    fund_account     INTEGER PRIMARY KEY,
    client_id        TEXT NOT NULL REFERENCES client(client_id),
    branch_no        INTEGER NOT NULL REFERENCES branch(branch_no),
    fund_card        TEXT NOT NULL DEFAULT '',
    main_flag        TEXT NOT NULL DEFAULT '0',
    client_group     INTEGER NOT NULL DEFAULT 0,
    room_code        INTEGER NOT NULL DEFAULT 0,
    asset_prop       TEXT NOT NULL DEFAULT '0',
    fare_kind_str    TEXT NOT NULL DEFAULT '',
    en_entrust_way   TEXT NOT NULL DEFAULT '',
    client_rights    TEXT NOT NULL DEFAULT '',
    restriction      TEXT NOT NULL DEFAULT '',
    open_trades      TEXT NOT NULL DEFAULT '',
    profit_flag      TEXT NOT NULL DEFAULT '0',
    bank_no          TEXT NOT NULL DEFAULT '',
    open_date        INTEGER NOT NULL,
    cancel_date      INTEGER NOT NULL DEFAULT 0,
    fundacct_status  TEXT NOT NULL DEFAULT '0',
    discount_rate    REAL NOT NULL DEFAULT 1.0,
    organ_flag       TEXT NOT NULL DEFAULT '0',
    organ_audit_date TEXT NOT NULL DEFAULT '',
    square_flag      TEXT NOT NULL DEFAULT '0',
    product_flag     TEXT NOT NULL DEFAULT '0',
    remark           TEXT NOT NULL DEFAULT ''
);
CREATE INDEX IF NOT EXISTS fund_account_by_client ON fund_account(client_id);
-- Shareholder accounts by exchange: 1, 2, D, H, F1-F4.
CREATE TABLE IF NOT EXISTS stock_holder (
    exchange_type TEXT NOT NULL,
    stock_account TEXT NOT NULL,
    fund_account  INTEGER NOT NULL REFERENCES fund_account(fund_account),
    PRIMARY KEY (exchange_type, stock_account)
);
CREATE TABLE IF NOT EXISTS fund_card (
    fund_card    TEXT PRIMARY KEY,
    fund_account INTEGER NOT NULL REFERENCES fund_account(fund_account)
);
CREATE TABLE IF NOT EXISTS bank_card (
    bank_no      TEXT NOT NULL,
    bank_account TEXT NOT NULL,
    fund_account INTEGER NOT NULL REFERENCES fund_account(fund_account),
    PRIMARY KEY (bank_no, bank_account)
);
-- Configuration 1129 is the account number width.
CREATE TABLE IF NOT EXISTS sys_config (
    config_no  INTEGER NOT NULL,
    branch_no  INTEGER NOT NULL,
    int_config INTEGER NOT NULL,
    PRIMARY KEY (config_no, branch_no)
);
CREATE TABLE IF NOT EXISTS dictionary (
    dict_name TEXT NOT NULL,
    item_key  TEXT NOT NULL,
    caption   TEXT NOT NULL,
    PRIMARY KEY (dict_name, item_key)
);
CREATE TABLE IF NOT EXISTS vip_client (
    fund_account  INTEGER PRIMARY KEY REFERENCES fund_account(fund_account),
    client_id     TEXT NOT NULL,
    branch_no     INTEGER NOT NULL,
    discount_rate REAL NOT NULL,
    open_date     INTEGER NOT NULL,
    operator_no   TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS vip_client_by_branch ON vip_client(branch_no, fund_account);
CREATE TABLE IF NOT EXISTS sync_request (
    serial_no    INTEGER PRIMARY KEY AUTOINCREMENT,
    fund_account INTEGER NOT NULL,
    branch_no    INTEGER NOT NULL,
    sync_type    INTEGER NOT NULL,
    operator_no  TEXT NOT NULL,
    created_at   TEXT NOT NULL DEFAULT (datetime('now'))
);
-- A request of the function needs a second operator when there is a rule for it and,
-- for a rule with rate_below, the requested discount rate is under it.
CREATE TABLE IF NOT EXISTS review_rule (
    function_id INTEGER PRIMARY KEY,
    rate_below  REAL,
    description TEXT NOT NULL
);
-- status: where the process stands, one of the characters of ReviewStatus (Review.h);
-- wrong_reviews counts the wrong reviewer passwords that void a process.
-- request_fields is what was reviewed: the fields of the request that the back office
-- reads (header and function), never a password, as name=value in the request's order, at
-- most 2 KiB; the resend must carry the same.
-- approved_at is in seconds since 1970; an approval older than the configured age is
-- no longer honoured.
CREATE TABLE IF NOT EXISTS review_process (
    process_id       INTEGER PRIMARY KEY AUTOINCREMENT,
    function_id      INTEGER NOT NULL,
    operator_no      TEXT NOT NULL,
    fund_account     INTEGER NOT NULL,
    default_reviewer TEXT NOT NULL,
    reviewer         TEXT NOT NULL DEFAULT '',
    status           TEXT NOT NULL DEFAULT '0' CHECK (status IN ('0', '1', '2', '3', '4', '5')),
    created_at       TEXT NOT NULL DEFAULT (datetime('now')),
    request_fields   TEXT NOT NULL DEFAULT '',
    approved_at      INTEGER NOT NULL DEFAULT 0,
    wrong_reviews    INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS review_process_by_request
    ON review_process(operator_no, function_id, status);
-- An operator's reviews waiting for a reviewer.
CREATE INDEX IF NOT EXISTS review_process_by_operator ON review_process(operator_no, status);
-- Approvals that may have expired unused.
CREATE INDEX IF NOT EXISTS review_process_by_approval ON review_process(status, approved_at);
-- Password guesses that failed or are being checked, one row each, by the address they
-- came from (an IPv6 address's /64). Within the window they are counted per address and
-- operator (cleared: that operator's right password from the address cleared the count
-- since), per address, and per operator from all addresses together. Times are
-- milliseconds since 1970.
CREATE TABLE IF NOT EXISTS password_guess (
    guess_id    INTEGER PRIMARY KEY AUTOINCREMENT,
    operator_no TEXT NOT NULL,
    source      TEXT NOT NULL,
    at_ms       INTEGER NOT NULL,
    cleared     INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS password_guess_by_operator ON password_guess(operator_no, at_ms);
CREATE INDEX IF NOT EXISTS password_guess_by_source ON password_guess(source, at_ms);
-- Where each operator's password verified: such an address still has a small allowance
-- when strangers have used up the operator's guesses.
CREATE TABLE IF NOT EXISTS operator_source (
    operator_no TEXT NOT NULL,
    source      TEXT NOT NULL,
    last_at_ms  INTEGER NOT NULL,
    PRIMARY KEY (operator_no, source)
);
-- Every change and every event of the four-eyes rule and of password checking, written in
-- the transaction of what it records. occurred_at is in seconds since 1970; rates are texts
-- "0.45" (empty when the entry sets none); process_id is the review process (0: none);
-- op_station is the workstation the counter names, source the address the server saw.
-- entry_hash covers the entry's content and prev_hash, the hash of the entry before it
-- (all zeros for the first): an entry edited, removed or inserted breaks the chain there.
-- Numbers come from AUTOINCREMENT, so entries removed from the end leave a gap too.
CREATE TABLE IF NOT EXISTS journal (
    entry_no     INTEGER PRIMARY KEY AUTOINCREMENT,
    occurred_at  INTEGER NOT NULL,
    event        TEXT NOT NULL,
    operator_no  TEXT NOT NULL,
    op_branch_no INTEGER NOT NULL,
    op_station   TEXT NOT NULL,
    source       TEXT NOT NULL,
    function_id  INTEGER NOT NULL,
    client_id    TEXT NOT NULL,
    fund_account INTEGER NOT NULL,
    rate_before  TEXT NOT NULL,
    rate_after   TEXT NOT NULL,
    process_id   INTEGER NOT NULL,
    reviewer     TEXT NOT NULL,
    detail       TEXT NOT NULL,
    prev_hash    TEXT NOT NULL,
    entry_hash   TEXT NOT NULL
);
-- Set once the journal is sealed with a key: a journal that was sealed is never given a new
-- key in silence when its key file is missing.
CREATE TABLE IF NOT EXISTS journal_key (
    keyed_from INTEGER NOT NULL
);
