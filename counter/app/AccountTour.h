#pragma once
// The tour's way through the account forms (730101-730104), as an operator goes: keys into
// the focused control, clicks on the identifier edit's switch label, picks from the fund
// account list with the arrows and Enter. Every message box and the review dialog that
// come up are noted and pictured, then answered as the step wants.

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace counter {

class AccountTour {
public:
    using Note = std::function<void(const QString& line)>;
    using Save = std::function<void(QWidget& widget, const QString& name)>;

    // `form` is the tab page holding the module's form; `window` is what pictures show.
    AccountTour(QWidget& window, QWidget& form, Note note, Save save);

    // 730101: each input way, a client not in the normal state, a pick among a client's
    // fund accounts, a sync request of each type.
    void syncSteps();
    // 730102-730104: the VIP status check, the request of the mode, and for an open under
    // 0.50 the counter review (refused once, then granted; and cancelled).
    void vipSteps(int menuCode);

private:
    QWidget* control(const char* name) const;
    // A key to whatever has the focus, as the keyboard sends it.
    void key(int code, const QString& text = QString(), Qt::KeyboardModifiers mods = {});
    void type(const QString& text);
    void click(QWidget* widget);
    // Switches the identifier edit to the kind with that caption.
    void switchTo(const QString& caption);
    // Types an entry into the identifier edit and presses Enter.
    void identify(const QString& caption, const QString& entry);
    // Picks the offered fund account at that row.
    void pick(int row);
    // Tab to "确定" and Enter, when it is enabled.
    void confirm();
    // Runs the action; message boxes it raises are noted, pictured once under `picture`
    // when given, and closed with OK. A review dialog is handed to `review`.
    void answering(const std::function<void()>& action, const QString& picture = QString(),
                   const std::function<void(QWidget& dialog)>& review = {});
    // The reviewer signs with his password (after a wrong one when `refuseFirst`) and
    // confirms; the dialog is pictured under `picture` when given.
    std::function<void(QWidget&)> reviewer(const QString& picture, bool refuseFirst);
    std::function<void(QWidget&)> cancelReview();
    void typeRate(const QString& rate);
    QString rateText() const;
    // A picture of the window with the fund account list the identifier edit offers.
    void saveWithList(const QString& name);
    // The seven value labels of the client panel, as one line.
    QString panelLine() const;

    QWidget& window_;
    QWidget& form_;
    Note note_;
    Save save_;
};

} // namespace counter
