#include "AccountTour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace counter {

namespace {

int keyOf(QChar c) {
    if (c.isDigit())
        return Qt::Key_0 + c.digitValue();
    if (c.isLetter() && c.unicode() < 128)
        return Qt::Key_A + (c.toUpper().unicode() - 'A');
    if (c == QLatin1Char('.'))
        return Qt::Key_Period;
    return Qt::Key_unknown;
}

} // namespace

AccountTour::AccountTour(QWidget& window, QWidget& form, Note note, Save save)
    : window_(window), form_(form), note_(std::move(note)), save_(std::move(save)) {}

QWidget* AccountTour::control(const char* name) const {
    return form_.findChild<QWidget*>(QString::fromLatin1(name));
}

void AccountTour::key(int code, const QString& text, Qt::KeyboardModifiers mods) {
    // The keyboard belongs to the dialog on top, else to the counter's window: a dialog
    // that has closed hands it back.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner && !QApplication::activePopupWidget())
        owner = &window_;
    if (owner && QApplication::activeWindow() != owner)
        QApplication::setActiveWindow(owner);
    QWidget* target = QApplication::focusWidget();
    if (!target)
        return;
    QKeyEvent press(QEvent::KeyPress, code, mods, text);
    QApplication::sendEvent(target, &press);
    if (QWidget* now = QApplication::focusWidget()) {
        QKeyEvent release(QEvent::KeyRelease, code, mods, text);
        QApplication::sendEvent(now, &release);
    }
    QApplication::processEvents();
}

void AccountTour::type(const QString& text) {
    for (const QChar c : text)
        key(keyOf(c), QString(c));
}

void AccountTour::click(QWidget* widget) {
    if (!widget)
        return;
    const QPointF at = QPointF(widget->rect().center());
    const QPointF global = QPointF(widget->mapToGlobal(widget->rect().center()));
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
    QApplication::processEvents();
}

void AccountTour::switchTo(const QString& caption) {
    auto* label = qobject_cast<QLabel*>(control("lbQzID"));
    for (int i = 0; label && i < 6 && label->text() != caption; ++i)
        click(label);
}

void AccountTour::identify(const QString& caption, const QString& entry) {
    switchTo(caption);
    if (QWidget* edit = control("hedQzID"))
        edit->setFocus(Qt::MouseFocusReason);
    key(Qt::Key_A, QString(), Qt::ControlModifier); // select what the edit holds
    type(entry);
    key(Qt::Key_Return);
}

void AccountTour::pick(int row) {
    auto* list = form_.findChild<QListWidget*>();
    if (!list || !list->isVisible()) {
        note_(QStringLiteral("  no fund accounts offered"));
        return;
    }
    QStringList offered;
    for (int i = 0; i < list->count(); ++i)
        offered << list->item(i)->text();
    note_(QStringLiteral("  fund accounts offered: %1, picking %2")
              .arg(offered.join(QLatin1Char(' ')), offered.value(row)));
    for (int i = 0; i < row; ++i)
        key(Qt::Key_Down);
    key(Qt::Key_Return);
}

void AccountTour::confirm() {
    QWidget* ok = control("btnOk");
    if (!ok || !ok->isEnabled()) {
        note_(QStringLiteral("  确定 is not available: the panel shows no accepted client"));
        return;
    }
    for (int i = 0; i < 8 && QApplication::focusWidget() != ok; ++i)
        key(Qt::Key_Tab);
    key(Qt::Key_Return);
}

void AccountTour::answering(const std::function<void()>& action, const QString& picture,
                            const std::function<void(QWidget& dialog)>& review) {
    bool pictured = picture.isEmpty();
    bool busy = false;
    bool reviewed = !review;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!reviewed && modal && modal->isVisible() &&
            modal->objectName() == QLatin1String("TfrmFaceAudit")) {
            reviewed = true;
            // Acted on from a timer of its own, so that this one answers the message boxes
            // the review raises meanwhile (a timer does not fire inside its own handler).
            QPointer<QWidget> dialog = modal;
            QTimer::singleShot(0, &timer, [&review, dialog] {
                if (dialog)
                    review(*dialog);
            });
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (busy || !box || !box->isVisible())
            return;
        busy = true;
        QString text = box->text();
        text.replace(QStringLiteral("\n\r"), QStringLiteral(" / "));
        note_(QStringLiteral("  %1: %2").arg(box->windowTitle(), text));
        if (!pictured) {
            save_(*box, picture);
            pictured = true;
        }
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
        busy = false;
    });
    timer.start();
    action();
    timer.stop();
}

void AccountTour::saveWithList(const QString& name) {
    QApplication::processEvents();
    QPixmap picture = window_.grab();
    auto* list = form_.findChild<QListWidget*>();
    if (list && list->isVisible()) {
        QPainter painter(&picture);
        painter.drawPixmap(window_.mapFromGlobal(list->mapToGlobal(QPoint(0, 0))), list->grab());
    }
    // Shown beside the popup list without taking the focus, which would close the list.
    QLabel shown(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    shown.setAttribute(Qt::WA_ShowWithoutActivating);
    shown.setPixmap(picture);
    shown.resize(picture.size());
    save_(shown, name);
}

QString AccountTour::panelLine() const {
    QStringList texts;
    for (const char* name : {"lbFundAcco", "lbCustName", "lbIDKind", "lbID", "lbCustGroup",
                             "lbRoomCode", "lbStatus"}) {
        auto* label = form_.findChild<QLabel*>(QString::fromLatin1(name));
        texts << (label ? label->text() : QStringLiteral("?"));
    }
    return texts.join(QLatin1Char(' ')).trimmed();
}

void AccountTour::syncSteps() {
    window_.activateWindow();
    QApplication::setActiveWindow(&window_);
    auto* edit = qobject_cast<QLineEdit*>(control("hedQzID"));
    auto* types = qobject_cast<QComboBox*>(control("hcbOpType"));
    if (!edit || !types) {
        note_(QStringLiteral("  no identification panel on the form"));
        return;
    }
    const auto shown = [&](const QString& way, const QString& entry) {
        note_(QStringLiteral("  %1 %2 -> edit %3, panel: %4")
                  .arg(way, entry, edit->text(), panelLine()));
    };
    const auto send = [&](const QString& code) {
        types->setFocus(Qt::TabFocusReason);
        // The box searches what is typed within the keyboard interval: the code alone.
        QThread::msleep(static_cast<unsigned long>(QApplication::keyboardInputInterval() + 50));
        type(code);
        note_(QStringLiteral("  sync type %1, 确定").arg(types->currentText()));
        answering([&] { confirm(); });
        note_(QStringLiteral("  after the request: edit \"%1\", panel \"%2\", 确定 %3")
                  .arg(edit->text(), panelLine(),
                       control("btnOk")->isEnabled() ? QStringLiteral("enabled")
                                                     : QStringLiteral("disabled")));
    };

    confirm(); // nothing identified yet
    answering([&] { identify(QStringLiteral("资产账号"), QStringLiteral("080000001")); });
    shown(QStringLiteral("资产账号"), QStringLiteral("080000001"));
    save_(window_, QStringLiteral("730101-asset-account"));
    send(QStringLiteral("0"));

    answering([&] {
        switchTo(QStringLiteral("股东账号"));
        edit->setFocus(Qt::MouseFocusReason);
        key(Qt::Key_PageDown); // 深A
        identify(QStringLiteral("股东账号"), QStringLiteral("123"));
    });
    shown(QStringLiteral("股东账号 深A"), QStringLiteral("123"));
    save_(window_, QStringLiteral("730101-shareholder-account"));
    send(QStringLiteral("1"));

    answering([&] { identify(QStringLiteral("资金卡号"), QStringLiteral("6200003")); });
    shown(QStringLiteral("资金卡号"), QStringLiteral("6200003"));
    save_(window_, QStringLiteral("730101-fund-card"));

    answering([&] { identify(QStringLiteral("银行卡号"), QStringLiteral("6222000011112222")); });
    shown(QStringLiteral("银行卡号"), QStringLiteral("6222000011112222"));
    save_(window_, QStringLiteral("730101-bank-card"));

    answering([&] { identify(QStringLiteral("客户编号"), QStringLiteral("100001")); });
    note_(QStringLiteral("  客户编号 100001 -> edit %1").arg(edit->text()));
    saveWithList(QStringLiteral("730101-client-number"));
    answering([&] { pick(1); });
    shown(QStringLiteral("客户编号"), QStringLiteral("100001"));
    save_(window_, QStringLiteral("730101-picked-fund-account"));
    send(QStringLiteral("2"));

    // Clients the panel refuses: a lost fund account, then a frozen client.
    answering([&] { identify(QStringLiteral("资产账号"), QStringLiteral("80000005")); },
              QStringLiteral("730101-status-message"));
    shown(QStringLiteral("资产账号"), QStringLiteral("80000005"));
    save_(window_, QStringLiteral("730101-abnormal-status"));
    confirm();
    answering([&] { identify(QStringLiteral("资产账号"), QStringLiteral("80000004")); });
    shown(QStringLiteral("资产账号"), QStringLiteral("80000004"));
    confirm();
}

std::function<void(QWidget&)> AccountTour::reviewer(const QString& picture, bool refuseFirst) {
    return [this, picture, refuseFirst](QWidget& dialog) {
        auto* operatorNo = dialog.findChild<QLineEdit*>(QStringLiteral("hedOperator"));
        auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("hedPassword"));
        QWidget* ok = dialog.findChild<QWidget*>(QStringLiteral("hbtnOK"));
        if (!operatorNo || !password || !ok) {
            note_(QStringLiteral("  the review dialog lacks its controls"));
            return;
        }
        note_(QStringLiteral("  review dialog \"%1\": reviewer %2")
                  .arg(dialog.windowTitle(), operatorNo->text()));
        if (refuseFirst) {
            password->setFocus(Qt::MouseFocusReason);
            type(QStringLiteral("wrong"));
            key(Qt::Key_Return);
            note_(QStringLiteral("  after a wrong password the review dialog is %1")
                      .arg(dialog.isVisible() ? QStringLiteral("still open")
                                              : QStringLiteral("closed")));
        }
        password->setFocus(Qt::MouseFocusReason);
        key(Qt::Key_A, QString(), Qt::ControlModifier);
        type(QStringLiteral("pass%1").arg(operatorNo->text()));
        if (!picture.isEmpty())
            save_(dialog, picture);
        key(Qt::Key_Return);
        note_(
            QStringLiteral("  reviewer %1 signs with his password, 确认").arg(operatorNo->text()));
        click(ok);
    };
}

std::function<void(QWidget&)> AccountTour::cancelReview() {
    return [this](QWidget& dialog) {
        note_(QStringLiteral("  review dialog \"%1\": 取消").arg(dialog.windowTitle()));
        click(dialog.findChild<QWidget*>(QStringLiteral("hbtnCancel")));
    };
}

void AccountTour::typeRate(const QString& rate) {
    QWidget* edit = control("hedDicrate");
    if (!edit)
        return;
    edit->setFocus(Qt::MouseFocusReason);
    key(Qt::Key_A, QString(), Qt::ControlModifier);
    type(rate);
    key(Qt::Key_Return);
}

QString AccountTour::rateText() const {
    auto* edit = form_.findChild<QLineEdit*>(QStringLiteral("hedDicrate"));
    return edit ? edit->text() : QString();
}

void AccountTour::vipSteps(int menuCode) {
    window_.activateWindow();
    QApplication::setActiveWindow(&window_);
    if (!control("hedQzID") || !control("hedDicrate")) {
        note_(QStringLiteral("  no identification panel on the form"));
        return;
    }
    auto* hint = form_.findChild<QLabel*>(QStringLiteral("Hinttxt"));
    auto* modi = form_.findChild<QWidget*>(QStringLiteral("TfrmClientmodi"));
    note_(QStringLiteral("  form \"%1\", hint \"%2\", rate %3")
              .arg(modi ? modi->windowTitle() : QString(), hint ? hint->text() : QString(),
                   control("hedDicrate")->isVisibleTo(&form_) ? QStringLiteral("shown")
                                                              : QStringLiteral("hidden")));
    const QString code = QString::number(menuCode);
    const auto identified = [&](const QString& entry) {
        answering([&] { identify(QStringLiteral("资产账号"), entry); });
        note_(QStringLiteral("  资产账号 %1 -> panel: %2, rate %3, 确定 %4")
                  .arg(entry, panelLine(), rateText(),
                       control("btnOk")->isEnabled() ? QStringLiteral("enabled")
                                                     : QStringLiteral("disabled")));
    };
    const auto confirmed = [&](const std::function<void(QWidget&)>& review = {}) {
        answering([&] { confirm(); }, QString(), review);
        note_(QStringLiteral("  after the request: panel \"%1\", rate %2, 确定 %3")
                  .arg(panelLine(), rateText(),
                       control("btnOk")->isEnabled() ? QStringLiteral("enabled")
                                                     : QStringLiteral("disabled")));
    };

    if (menuCode == 730102) {
        identified(QStringLiteral("80000003")); // already VIP
        identified(QStringLiteral("80000001"));
        save_(window_, code + QStringLiteral("-client"));
        typeRate(QStringLiteral("0.85"));
        note_(QStringLiteral("  open at %1").arg(rateText()));
        confirmed();
        // Under 0.50 a second operator reviews: once refused, then granted.
        identified(QStringLiteral("80000002"));
        typeRate(QStringLiteral("0.45"));
        note_(QStringLiteral("  open at %1").arg(rateText()));
        confirmed(reviewer(code + QStringLiteral("-review"), true));
        // The same for 孙八, the review cancelled: nothing is opened.
        identified(QStringLiteral("80000007"));
        typeRate(QStringLiteral("0.45"));
        note_(QStringLiteral("  open at %1").arg(rateText()));
        confirmed(cancelReview());
        identified(QStringLiteral("80000007"));
    } else if (menuCode == 730103) {
        identified(QStringLiteral("80000007")); // not VIP
        identified(QStringLiteral("80000001"));
        save_(window_, code + QStringLiteral("-client"));
        confirmed(reviewer(QString(), false)); // every close is reviewed
        identified(QStringLiteral("80000001"));
    } else if (menuCode == 730104) {
        identified(QStringLiteral("80000008"));
        save_(window_, code + QStringLiteral("-client"));
        typeRate(QStringLiteral("0.75"));
        note_(QStringLiteral("  modify to %1").arg(rateText()));
        confirmed();
        identified(QStringLiteral("80000008"));
        typeRate(QStringLiteral("0"));
        note_(QStringLiteral("  modify to %1").arg(rateText()));
        confirmed();
        identified(QStringLiteral("80000007")); // not VIP
    }
}

} // namespace counter
