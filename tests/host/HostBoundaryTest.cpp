#include "BIZ1PACKETLib_TLB.h"
#include "HostClasses.h"
#include "HostPtr.h"

#include <gtest/gtest.h>

namespace {

class HostClassesRegistered : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(counter::registerHostClasses(), hr::ok); }
    void TearDown() override { counter::unregisterHostClasses(); }
};

} // namespace

TEST_F(HostClassesRegistered, CreatesObjectsByClassIdAsAskedInterface) {
    HostPtr<IPackerDisp> packer = createHostObject<IPackerDisp>(CLSID_Packer, "new packer");
    ASSERT_TRUE(packer);
    // The same object answers as IUnknown and IDispatch, but not as an unpacker.
    HostPtr<IUnknown> unknown = packer.as<IUnknown>("query");
    EXPECT_TRUE(unknown);
    EXPECT_THROW(packer.as<IUnpackerDisp>("query"), EHostError);
    // A packer is not an unpacker class either.
    EXPECT_THROW(createHostObject<IUnpackerDisp>(CLSID_Packer, "new"), EHostError);
}

TEST_F(HostClassesRegistered, UnregisteredClassRaisesWithOperationAndStatus) {
    counter::unregisterHostClasses();
    try {
        createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
        FAIL() << "no error raised";
    } catch (const EHostError& e) {
        EXPECT_EQ(e.operation(), "new host unpacker");
        EXPECT_EQ(e.status(), hr::classNotRegistered);
        EXPECT_STREQ(e.what(), "new host unpacker failed with status 0x80040154");
    }
}

TEST(Check, PassesSuccessAndRaisesFailure) {
    EXPECT_NO_THROW(check(hr::ok, "x"));
    EXPECT_NO_THROW(check(hr::falseOk, "x"));
    EXPECT_THROW(check(hr::timeout, "Receive"), EHostError);
}

TEST(HostPtr, ReleasesItsReferenceOnEveryPath) {
    ASSERT_EQ(counter::registerHostClasses(), hr::ok);
    IPackerDisp* raw = nullptr;
    {
        HostPtr<IPackerDisp> packer = createHostObject<IPackerDisp>(CLSID_Packer, "new");
        raw = packer.get();
        raw->AddRef(); // a reference of the test's own, to watch the count
        HostPtr<IPackerDisp> copy = packer;
        HostPtr<IPackerDisp> moved = std::move(copy);
        EXPECT_FALSE(copy);
        try {
            HostPtr<IPackerDisp> inFlight = moved;
            throw std::runtime_error("unwind");
        } catch (const std::runtime_error&) {
        }
    }
    EXPECT_EQ(raw->Release(), 0u); // only the test's own reference was left
    counter::unregisterHostClasses();
}
