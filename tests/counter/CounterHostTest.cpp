#include "HostObjectsFixture.h"

#include "CounterHost.h"
#include "EmbeddedTransport.h"
#include "STORAGELib_TLB.h"

#include "protocol/Service.h"

#include <QTemporaryDir>

namespace {

class CounterHostTest : public HostObjectsTest {
protected:
    void SetUp() override {
        HostObjectsTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        host = std::make_unique<counter::CounterHost>(
            std::make_unique<counter::EmbeddedTransport>(std::shared_ptr<protocol::PacketService>(
                protocol::openBackOfficeService(dir.filePath("office.db").toStdString()))));
    }

    template <class T> HostPtr<T> object(const char* name) {
        HostPtr<IUnknown> found;
        check(host->appFrame()->GetObject(name, found.put()), name);
        return found.as<T>(name);
    }

    QTemporaryDir dir;
    std::unique_ptr<counter::CounterHost> host;
};

} // namespace

TEST_F(CounterHostTest, LoginFillsTheSessionObjectsTheModuleReads) {
    EXPECT_EQ(host->login("1001", "wrong", "1"), "操作员[1001]密码错误");
    HostPtr<IUnknown> none;
    EXPECT_EQ(host->appFrame()->GetObject("PersonalData", none.put()), hr::notFound);

    ASSERT_EQ(host->login("1001", "pass1001", "6"), "");
    auto personal = object<IDataContainer>("PersonalData");
    const auto read = [&](const char* key) {
        Variant v;
        check(personal->GetValue(key, &v), key);
        return v;
    };
    EXPECT_EQ(read("BranchNo"), Variant(std::int64_t{8}));
    EXPECT_EQ(read("OperCode"), Variant("1001"));
    EXPECT_EQ(read("Password"), Variant("pass1001"));
    EXPECT_EQ(read("OperName"), Variant("张敏"));
    EXPECT_EQ(read("OperatorKind"), Variant("1"));
    EXPECT_EQ(read("ClientInput"), Variant("6"));
    EXPECT_EQ(read("MainBranchNo"), Variant(std::int64_t{1}));
    EXPECT_EQ(read("MAC").toText().size(), 17u);

    auto config = object<IMemConfig>("MemConfig");
    Variant dirValue;
    check(config->GetValue("CurrentDir", &dirValue), "CurrentDir");
    EXPECT_FALSE(dirValue.toText().empty());

    auto branches = object<IUnpackerDisp>("UserBranchs");
    EXPECT_EQ(count(&IUnpackerDisp::RecordCount, branches), 4);
    EXPECT_EQ(get(branches, Variant("branch_name")), Variant("总部"));
    EXPECT_EQ(get(branches, Variant("branch_type")), Variant("0"));
    auto functions = object<IUnpackerDisp>("UserFunctions");
    EXPECT_EQ(count(&IUnpackerDisp::RecordCount, functions), 5);
    ASSERT_EQ(host->functions().size(), 5u);
    EXPECT_EQ(host->functions()[4].menuCode, 730105);

    auto dictionary = object<IEntry>("Dictionary");
    std::string caption;
    check(dictionary->Caption("fundacct_status", "2", &caption), "Caption");
    EXPECT_EQ(caption, "挂失");
    object<IARCom>("ARCom");
}
