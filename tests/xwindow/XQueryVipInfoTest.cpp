// The VIP list at its end, in the X window: keyed through with PgDn and Down, the last row
// stays current and highlighted, and the list stops asking once a page came back short.
#include "XFormTest.h"

#include "QueryVipInfo.h"
#include "TQZListViewEx.h"
#include "ui_QueryVipInfo.h"

#include <QItemSelectionModel>

namespace {

class XQueryVipInfoTest : public XFormTest<TfrmQueryVipInfo> {
protected:
    TQZListViewEx& list() { return *form->ui().lvVipClientInfo; }
    bool lastRowCurrentAndHighlighted() {
        const int last = list().rowCount() - 1;
        return list().ItemIndex() == last &&
               list().selectionModel()->isRowSelected(last, QModelIndex());
    }
};

} // namespace

TEST_F(XQueryVipInfoTest, AtTheEndTheLastRowStaysAndNothingMoreIsAsked) {
    openForm(730105);
    ASSERT_TRUE(xwindow::click(&list()));
    ASSERT_TRUE(xwindow::waitFor([&] { return list().hasFocus(); }));
    // Paged through to the end: the training data's VIP clients in pages of 30, the last
    // one short.
    for (int i = 0; i < 20 && (list().moreWanted() || !lastRowCurrentAndHighlighted()); ++i)
        ASSERT_TRUE(xwindow::keys({"Next", "Next", "Next"}));
    ASSERT_TRUE(lastRowCurrentAndHighlighted());
    const int rows = list().rowCount();
    ASSERT_NE(rows % 30, 0);
    const std::size_t pages = requestsOf(730004).size();
    EXPECT_EQ(pages, static_cast<std::size_t>(rows / 30 + 1));

    ASSERT_TRUE(xwindow::keys({"Down", "Down", "Next"}));
    xwindow::spin(200);
    EXPECT_TRUE(lastRowCurrentAndHighlighted());
    EXPECT_EQ(requestsOf(730004).size(), pages);
    const QRect lastRow = list().visualRect(list().model()->index(rows - 1, 0));
    EXPECT_TRUE(list().viewport()->rect().contains(lastRow)) << "the last row is out of sight";
    EXPECT_FALSE(xwindow::grabWindow(form, "x-730105-end").isEmpty());

    ASSERT_TRUE(xwindow::keys({"Up"}));
    EXPECT_TRUE(xwindow::waitFor([&] { return list().ItemIndex() == rows - 2; }));

    // F5 fills the list again from its first page, and paging works again.
    ASSERT_TRUE(xwindow::keys({"F5"}));
    ASSERT_TRUE(xwindow::waitFor([&] { return requestsOf(730004).size() == pages + 1; }));
    EXPECT_EQ(list().rowCount(), 30);
    EXPECT_TRUE(list().moreWanted());
}
