#include "HostObjectsFixture.h"

#include "AR2COMLib_TLB.h"
#include "AppFrame.h"
#include "DataContainer.h"
#include "Dictionary.h"

TEST(SessionObjects, PersonalDataGivesWhatWasSetAndFailsForUnknownKeys) {
    auto data = HostPtr<counter::DataContainer>::adopt(new counter::DataContainer);
    check(data->SetValue("BranchNo", Variant(std::int64_t{8})), "SetValue");
    check(data->SetValue("OperCode", Variant("1001")), "SetValue");
    Variant value;
    check(data->GetValue("BranchNo", &value), "GetValue");
    EXPECT_EQ(value, Variant(std::int64_t{8}));
    EXPECT_EQ(data->GetValue("MAC", &value), hr::notFound);
    EXPECT_EQ(data->GetValue(nullptr, &value), hr::nullPointer);
}

TEST(SessionObjects, MemConfigIsReadOnlyForTheModule) {
    auto config = HostPtr<counter::MemConfig>::adopt(new counter::MemConfig);
    config->set("CurrentDir", Variant("/srv/counter"));
    Variant value;
    check(config->GetValue("CurrentDir", &value), "GetValue");
    EXPECT_EQ(value.toText(), "/srv/counter");
    EXPECT_EQ(config->GetValue("Other", &value), hr::notFound);
}

TEST(SessionObjects, DictionaryFindsAndCaptions) {
    auto dictionary = HostPtr<counter::Dictionary>::adopt(new counter::Dictionary);
    dictionary->add("branch_no", "8", "深圳营业部");
    dictionary->add("id_kind", "0", "身份证");

    HostPtr<IUnknown> found;
    check(dictionary->Find("branch_no", found.put()), "Find");
    EXPECT_TRUE(found);
    check(dictionary->Find("x", found.put()), "Find");
    EXPECT_FALSE(found);

    std::string caption = "previous";
    check(dictionary->Caption("branch_no", "8", &caption), "Caption");
    EXPECT_EQ(caption, "深圳营业部");
    check(dictionary->Caption("branch_no", "9", &caption), "Caption");
    EXPECT_EQ(caption, "");
}

TEST(SessionObjects, AppFrameHandsOutItsObjectsByName) {
    auto frame = HostPtr<counter::AppFrame>::adopt(new counter::AppFrame);
    auto data = HostPtr<counter::DataContainer>::adopt(new counter::DataContainer);
    frame->setObject("PersonalData", data.get());

    HostPtr<IUnknown> object;
    check(frame->GetObject("PersonalData", object.put()), "GetObject");
    HostPtr<IDataContainer> storage = object.as<IDataContainer>("as storage");
    EXPECT_EQ(static_cast<void*>(storage.get()), static_cast<void*>(data.get()));
    EXPECT_THROW(object.as<IARCom>("as communication"), EHostError);
    EXPECT_EQ(frame->GetObject("ARCom", object.put()), hr::notFound);

    frame->setObject("PersonalData", nullptr);
    EXPECT_EQ(frame->GetObject("PersonalData", object.put()), hr::notFound);
}
