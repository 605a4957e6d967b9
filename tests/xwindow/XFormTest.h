#pragma once
// A module form on the embedded training back office, shown in the X window and driven
// with keys and clicks through the X server.

#include "XSession.h"
#include "forms/AccountFormFixture.h"

template <class Form> class XFormTest : public AccountFormTest<Form> {
protected:
    void openForm(std::int32_t menuCode) {
        this->open(menuCode);
        ASSERT_TRUE(xwindow::activate(this->form));
    }

    // Clicks into the identifier edit, types the entry and presses Enter.
    void enterByKeys(const QString& entry) {
        ASSERT_TRUE(xwindow::click(&this->edit()));
        ASSERT_TRUE(xwindow::waitFor([&] { return this->edit().hasFocus(); }));
        ASSERT_TRUE(xwindow::keys({"ctrl+a", "BackSpace"}));
        ASSERT_TRUE(xwindow::type(entry));
        ASSERT_TRUE(xwindow::keys({"Return"}));
    }

    // Every request sent so far, of any function.
    std::size_t requestCount() {
        QFile file(this->transcript);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return static_cast<std::size_t>(file.readAll().count("\"dir\":\"request\""));
    }
};
