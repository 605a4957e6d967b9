#pragma once
// A back office on a fresh copy of the training database, and requests built as the
// module builds them.

#include "BackOffice.h"
#include "Seed.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
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

// The standard header of a request by `operatorNo`, then the given fields.
inline Fields header(std::int32_t functionNo, const std::string& operatorNo = "1001") {
    return {{"op_branch_no", std::int64_t{8}},        {"operator_no", operatorNo},
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

class BackOfficeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        templateDir = new QTemporaryDir;
        backoffice::Database db(templatePath(), true);
        backoffice::seedTraining(db);
    }
    static void TearDownTestSuite() {
        delete templateDir;
        templateDir = nullptr;
    }
    static std::string templatePath() { return templateDir->filePath("template.db").toStdString(); }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("office.db").toStdString();
        std::filesystem::copy_file(templatePath(), path);
        office = std::make_unique<backoffice::BackOffice>(path);
    }

    Reply call(std::int32_t functionNo, const Fields& extra, const std::string& operatorNo = "1001",
               const std::string& password = "") {
        Fields fields = header(functionNo, operatorNo);
        if (!password.empty())
            fields.insert(fields.begin() + 3, {"op_password", password});
        fields.insert(fields.end(), extra.begin(), extra.end());
        return Reply(office->handle(buildPacket(functionNo, fields)));
    }

    std::int64_t count(const std::string& sql) {
        backoffice::Statement s = office->database().prepare(sql);
        return s.step() ? s.integer(0) : -1;
    }

    inline static QTemporaryDir* templateDir = nullptr;
    QTemporaryDir dir;
    std::string path;
    std::unique_ptr<backoffice::BackOffice> office;
};
