#pragma once
// A back office on a fresh copy of the training database, and requests built as the
// module builds them.

#include "BackOffice.h"
#include "Seed.h"

#include <gtest/gtest.h>

#include "TemporaryDir.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

using Value = std::variant<std::int64_t, double, std::string>;
using Fields = std::vector<std::pair<std::string, Value>>;

inline std::string buildPacket(std::int32_t functionNo, const Fields& fields) {
    protocol::PacketWriter w(functionNo, 0);
    for (const auto& [name, value] : fields) {
        w.addField(name, std::holds_alternative<std::int64_t>(value) ? protocol::FieldType::Integer
                         : std::holds_alternative<double>(value)     ? protocol::FieldType::Real
                                                                     : protocol::FieldType::Text);
    }
    w.beginRecord();
    for (const auto& [name, value] : fields) {
        if (const auto* i = std::get_if<std::int64_t>(&value))
            w.integer(*i);
        else if (const auto* d = std::get_if<double>(&value))
            w.real(*d);
        else
            w.text(std::get<std::string>(value));
    }
    std::string out;
    w.finish(out);
    return out;
}

// The branch of a training operator (8 for any other).
inline std::int64_t branchOf(const std::string& operatorNo) {
    for (const backoffice::TrainingOperator& o : backoffice::trainingOperators) {
        if (operatorNo == o.operatorNo)
            return o.branchNo;
    }
    return 8;
}

// The standard header of a request by `operatorNo`, then the given fields.
inline Fields header(std::int32_t functionNo, const std::string& operatorNo = "1001") {
    return {{"op_branch_no", branchOf(operatorNo)},   {"operator_no", operatorNo},
            {"user_type", std::string("1")},          {"op_station", std::string("00-1A-2B")},
            {"op_entrust_way", std::string("4")},     {"menu_id", std::int64_t{730102}},
            {"function_id", std::int64_t{functionNo}}};
}

// A decoded reply that keeps its bytes.
struct Reply {
    explicit Reply(std::string bytes) : bytes_(std::move(bytes)) {
        EXPECT_EQ(view.decode(bytes_), protocol::DecodeStatus::Ok);
    }
    std::int32_t code() const { return view.returnCode(); }
    std::size_t rows() const { return view.recordCount(); }
    std::size_t at(const char* name) const {
        const auto i = view.indexOf(name);
        EXPECT_GE(i, 0) << name;
        return static_cast<std::size_t>(i);
    }
    std::string text(const char* name, std::size_t row = 0) const {
        return std::string(view.text(row, at(name)));
    }
    std::int64_t integer(const char* name, std::size_t row = 0) const {
        return view.integer(row, at(name));
    }
    double real(const char* name, std::size_t row = 0) const { return view.real(row, at(name)); }
    std::int64_t errorNo() const { return integer("error_no"); }
    std::string info() const { return text("error_info"); }

    std::string bytes_;
    protocol::PacketView view;
};

// The n-th (from 1) of a reply text's comma-separated parts, as in a review demand's
// "<text>,<process id>,<default reviewer>".
inline std::string partOf(const std::string& text, int n) {
    std::size_t begin = 0;
    for (int i = 1; i < n; ++i) {
        begin = text.find(',', begin);
        if (begin == std::string::npos)
            return {};
        ++begin;
    }
    return text.substr(begin, text.find(',', begin) - begin);
}

// The login request of an operator, as the counter sends it.
inline std::string loginPacket(const std::string& operatorNo, const std::string& password) {
    Fields fields = header(100001, operatorNo);
    fields[0].second = std::int64_t{0}; // the counter knows no branch before the login
    fields.push_back({"password", password});
    return buildPacket(100001, fields);
}

// A request that needs a session and no password: configuration 1129, the account number
// width, as the counter's first look-up asks it.
inline std::string configRequest(const std::string& operatorNo = "1001") {
    Fields fields = header(105006, operatorNo);
    fields.push_back({"branch_no", std::int64_t{8}});
    fields.push_back({"config_no", std::int64_t{1129}});
    return buildPacket(105006, fields);
}

// The training password of an operator, or nothing for an unknown one.
inline std::string trainingPassword(const std::string& operatorNo) {
    for (const backoffice::TrainingOperator& o : backoffice::trainingOperators) {
        if (operatorNo == o.operatorNo)
            return o.password;
    }
    return {};
}

// The back office as one counter sees it once operator 1001 has logged in on it.
class CounterOffice {
public:
    explicit CounterOffice(const std::string& path) : office(path) {
        Reply login(office.handle(session, loginPacket("1001", "pass1001")));
        EXPECT_EQ(login.code(), 0);
    }
    std::string handle(std::string_view packet) { return office.handle(session, packet); }
    backoffice::Database& database() { return office.database(); }

    backoffice::BackOffice office;
    backoffice::Session session;
};

class BackOfficeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        templateDir = new TemporaryDir;
        backoffice::Database db(templatePath(), true);
        backoffice::seedTraining(db);
    }
    static void TearDownTestSuite() {
        delete templateDir;
        templateDir = nullptr;
    }
    static std::string templatePath() { return templateDir->filePath("template.db"); }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("office.db");
        std::filesystem::copy_file(templatePath(), path);
        office = std::make_unique<CounterOffice>(path);
    }

    // A request of the operator on his own counter's session, which logs him in first
    // (with his training password, or the one given for an operator without one). When that
    // login is refused, its reply is the answer.
    Reply call(std::int32_t functionNo, const Fields& extra, const std::string& operatorNo = "1001",
               const std::string& password = "") {
        backoffice::Session& session =
            operatorNo == "1001" ? office->session : sessions[operatorNo];
        if (!session.open()) {
            const std::string known = trainingPassword(operatorNo);
            Reply login(office->office.handle(
                session, loginPacket(operatorNo, known.empty() ? password : known)));
            if (login.code() != 0)
                return login;
        }
        Fields fields = header(functionNo, operatorNo);
        if (!password.empty())
            fields.insert(fields.begin() + 3, {"op_password", password});
        fields.insert(fields.end(), extra.begin(), extra.end());
        return Reply(office->office.handle(session, buildPacket(functionNo, fields)));
    }

    std::int64_t count(const std::string& sql) {
        backoffice::Statement s = office->database().prepare(sql);
        return s.step() ? s.integer(0) : -1;
    }

    inline static TemporaryDir* templateDir = nullptr;
    TemporaryDir dir;
    std::string path;
    std::unique_ptr<CounterOffice> office;
    std::map<std::string, backoffice::Session> sessions;
};
