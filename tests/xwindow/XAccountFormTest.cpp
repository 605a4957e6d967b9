// The account forms driven through the X server: keys typed and clicks made by xdotool.
#include "XFormTest.h"

#include "Clientmodi.h"
#include "TQzEdit.h"
#include "ui_Clientmodi.h"

namespace {

using XClientmodiTest = XFormTest<TfrmClientmodi>;

} // namespace

TEST_F(XClientmodiTest, KeysTypedThroughTheXServerIdentifyTheClient) {
    openForm(730102);
    enterByKeys("80000001");
    ASSERT_TRUE(xwindow::waitFor([&] { return !form->ui().lbCustName->text().isEmpty(); }));
    EXPECT_EQ(form->ui().lbFundAcco->text(), "80000001");
    EXPECT_TRUE(xwindow::waitFor([&] { return form->ui().hedDicrate->hasFocus(); }));
    EXPECT_FALSE(xwindow::grabWindow(form, "x-730102-client").isEmpty());
}
