#include "C_Marlo.h"
#include "ModuleLifecycle.h"
#include "ModuleResources.h"
#include "QZForm.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

class Lifecycle : public ::testing::Test {
protected:
    void TearDown() override {
        while (ModuleLifecycle::instance().initCount() > 0)
            BizUninit();
    }
    static bool listsAlive() {
        const TRCommonInfo& info = CommonInfo();
        return info.dictionary && info.businessList && info.branchList && info.functions;
    }
    static bool listsGone() {
        const TRCommonInfo& info = CommonInfo();
        return !info.dictionary && !info.businessList && !info.branchList && !info.functions;
    }
    static std::string readResource(const std::string& name) {
        QFile file(QString::fromStdString(ModuleResourcePath(name)));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return file.readAll().trimmed().toStdString();
    }
};

// Counts the references the module takes on the host it is given.
struct CountingHost final : IUnknown {
    int refs = 1;
    int maxRefs = 1;
    HRESULT MARLO_STDCALL QueryInterface(const Guid&, void**) override { return hr::noInterface; }
    std::uint32_t MARLO_STDCALL AddRef() override {
        maxRefs = std::max(maxRefs, ++refs);
        return static_cast<std::uint32_t>(refs);
    }
    std::uint32_t MARLO_STDCALL Release() override { return static_cast<std::uint32_t>(--refs); }
};

} // namespace

TEST_F(Lifecycle, TwoInitsNeedTwoUninits) {
    BizInit(0, TEST_RESOURCE_LIBRARY, nullptr, 0);
    auto* dictionary = CommonInfo().dictionary.get();
    BizInit(0, TEST_RESOURCE_LIBRARY, nullptr, 0);
    EXPECT_EQ(ModuleLifecycle::instance().initCount(), 2);
    EXPECT_EQ(CommonInfo().dictionary.get(), dictionary); // later calls only count
    EXPECT_EQ(readResource("probe.txt"), "from the resource library");

    BizUninit();
    EXPECT_TRUE(ResourceLibraryLoaded());
    EXPECT_TRUE(listsAlive());

    BizUninit();
    EXPECT_FALSE(ResourceLibraryLoaded());
    EXPECT_TRUE(listsGone());
    EXPECT_FALSE(QFile::exists(":/c_marlo_library/probe.txt"));
}

TEST_F(Lifecycle, MissingResourceLibraryIsIgnored) {
    BizInit(0, "/nonexistent/C_Marlo.rcc", nullptr, 0);
    EXPECT_FALSE(ResourceLibraryLoaded());
    EXPECT_TRUE(listsAlive());
    EXPECT_EQ(ModuleResourcePath("probe.txt"), ":/c_marlo/probe.txt");
    BizUninit();
    EXPECT_TRUE(listsGone());

    // A file that is not a resource library is ignored the same way.
    BizInit(0, __FILE__, nullptr, 0);
    EXPECT_FALSE(ResourceLibraryLoaded());
    BizInit(0, nullptr, nullptr, 0);
    EXPECT_EQ(ModuleLifecycle::instance().initCount(), 2);
}

TEST_F(Lifecycle, UninitWithoutInitStaysAtZeroAndInitStartsAfresh) {
    BizUninit();
    BizUninit();
    EXPECT_EQ(ModuleLifecycle::instance().initCount(), 0);
    EXPECT_TRUE(listsGone());
    BizInit(0, TEST_RESOURCE_LIBRARY, nullptr, 0);
    EXPECT_EQ(ModuleLifecycle::instance().initCount(), 1);
    EXPECT_TRUE(listsAlive());
    EXPECT_TRUE(ResourceLibraryLoaded());
}

TEST_F(Lifecycle, HostReferenceIsHeldOnlyForTheCall) {
    CountingHost host;
    BizInit(0, nullptr, &host, 0);
    EXPECT_EQ(host.maxRefs, 2);
    EXPECT_EQ(host.refs, 1);
}
