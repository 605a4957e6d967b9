#include "HostFixture.h"

#include "ClsBranch.h"
#include "ClsDict.h"

TEST_F(HostFixture, FillBranchesByKindInRecordOrderCutAtNul) {
    TBranchList list;
    list.connect(branches.get());
    QStringList lines{QStringLiteral("kept")};
    list.FillBranches(lines, "01");
    EXPECT_EQ(lines, (QStringList{"kept", "1|总部", "8|深圳营业部"}));
    lines.clear();
    list.FillBranches(lines, " \t");
    EXPECT_EQ(lines, (QStringList{"1|总部", "8|深圳营业部", "10|北京"}));
}

TEST_F(HostFixture, CaptionsByCharacterAndByNumber) {
    dictionary->add("room_code", "12", "十二号室");
    dictionary->add("asset_prop", "A", "A类");
    TDictionary captions;
    captions.connect(dictionary.get(), storage.get());
    std::string caption = "previous";
    captions.Caption("x", 5, caption);
    EXPECT_EQ(caption, "previous"); // no such dictionary: unchanged
    captions.Caption("room_code", 12, caption);
    EXPECT_EQ(caption, "十二号室");
    captions.Caption("asset_prop", 'A', caption);
    EXPECT_EQ(caption, "A类");
    captions.Caption("room_code", -12, caption);
    EXPECT_EQ(caption, ""); // a dictionary without that item: its empty caption
}
