#include "BizForm.h"

#include "ApplicationWindow.h"
#include "EventBarrier.h"
#include "KeyPreview.h"
#include "MessageDialogs.h"
#include "TCustomQzEdit.h"
#include "TQZIDEdit.h"
#include "TQzBitBtn.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCalendarWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QWheelEvent>
#include <QWindow>

TBizFormBase::TBizFormBase(QWidget* parent) : QWidget(parent) {
    // An error out of any handler of the module reaches the operator in the error dialog.
    static const bool barrierShowsErrors = [] {
        EventBarrier::setErrorSink([](const EventBarrier::ErrorReport& r) {
            ShowError(QString::fromStdString(r.text), QString::fromStdString(r.detail));
        });
        return true;
    }();
    (void)barrierShowsErrors;
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    resize(459, 310);
    // Key preview: the form sees every key of its controls first.
    qApp->installEventFilter(this);
}

TBizFormBase::~TBizFormBase() {
    qApp->removeEventFilter(this);
    releaseHostWindow();
}

void TBizFormBase::releaseHostWindow() {
    // The form's own window is a child of the stand-in: taken out first, it is not
    // destroyed with it.
    if (hostWindow_ && windowHandle() && windowHandle()->parent() == hostWindow_.get())
        windowHandle()->setParent(nullptr);
    hostWindow_.reset();
}

void TBizFormBase::AttachToHost(std::int32_t menuCode, WindowHandle parentWindow,
                                WindowHandle closeNotifyWindow, IAppFrame* appFrame) {
    appFrame_ = HostPtr<IAppFrame>(appFrame);
    arcom_.reset();
    packer_.reset();
    reader_.reset();
    storage_.reset();
    dictionary_.reset();
    menuCode_ = menuCode;
    releaseHostWindow();
    QWidget* host = parentWindow ? QWidget::find(static_cast<WId>(parentWindow)) : nullptr;
    if (!ApplicationWindow() && host)
        SetApplicationWindow(host->window());
    if (host) {
        setParent(host);
    } else if (parentWindow) {
        // A window of another process: embed through the platform's foreign window.
        // (on Windows the host's HWND).
        hostWindow_.reset(QWindow::fromWinId(static_cast<WId>(parentWindow)));
        if (hostWindow_) {
            winId();
            windowHandle()->setParent(hostWindow_.get());
        }
    }
    closeNotifyWindow_ = closeNotifyWindow;
    bindEvents();
    HostAttached();
    // The host may give the form all the room its window has: a form laid out by hand
    // keeps the size it was designed at; one with a layout takes the room, never less than
    // its design, so that a smaller window scrolls.
    if (layout())
        setMinimumSize(size());
    else
        setFixedSize(size());
}

void TBizFormBase::bindEvents() {
    OnSending = [this](std::int32_t id, std::int32_t total, std::int32_t progress) {
        DoSending(id, total, progress);
    };
    OnReceiving = [this](std::int32_t id, std::int32_t total, std::int32_t progress) {
        DoReceiving(id, total, progress);
    };
    OnReply = [this](std::int32_t id, const Variant& pack) { DoReply(id, pack); };
    OnSubscribe = [this](std::int32_t id, std::int32_t no, const Variant& pack) {
        DoSubscribe(id, no, pack);
    };
    OnPush = [this](std::int32_t id, std::int32_t fn, const Variant& pack) {
        DoPush(id, fn, pack);
    };
    OnError = [this](std::int32_t id, std::int32_t no, const QString& text) {
        DoError(id, no, text);
    };
}

IARCom* TBizFormBase::GetARCom() {
    if (!arcom_ && appFrame_) {
        try {
            HostPtr<IUnknown> object;
            check(appFrame_->GetObject("ARCom", object.put()), "GetObject(ARCom)");
            arcom_ = object.as<IARCom>("ARCom as IARCom");
        } catch (const std::exception&) {
            arcom_.reset(); // no communication object: the caller gets none
        }
    }
    return arcom_.get();
}

IPackerDisp* TBizFormBase::GetPacker() {
    if (!packer_)
        packer_ = createHostObject<IPackerDisp>(CLSID_Packer, "new host packer");
    return packer_.get();
}

IUnpackerDisp* TBizFormBase::GetReader() {
    if (!reader_)
        reader_ = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    return reader_.get();
}

namespace {
template <class T> HostPtr<T> frameObject(const HostPtr<IAppFrame>& frame, const char* name) {
    if (!frame)
        throw EHostError(std::string("GetObject(") + name + ")", hr::nullPointer);
    HostPtr<IUnknown> object;
    check(frame->GetObject(name, object.put()), (std::string("GetObject(") + name + ")").c_str());
    return object.as<T>(name);
}
} // namespace

IDataContainer* TBizFormBase::GetStorage() {
    if (!storage_)
        storage_ = frameObject<IDataContainer>(appFrame_, "PersonalData");
    return storage_.get();
}

IEntry* TBizFormBase::GetDictionary() {
    if (!dictionary_)
        dictionary_ = frameObject<IEntry>(appFrame_, "Dictionary");
    return dictionary_.get();
}

HRESULT TBizFormBase::EventSink::QueryInterface(const Guid&, void** object) {
    if (object)
        *object = this;
    return hr::ok;
}

namespace {
// Passes an event to the form's handler, when one is assigned, through the barrier.
template <class Handler, class... Args>
HRESULT passOn(const Handler& handler, const Args&... args) {
    EventBarrier::run([&] {
        if (handler)
            handler(args...);
    });
    return hr::ok;
}
} // namespace

HRESULT TBizFormBase::EventSink::OnSending(std::int32_t id, std::int32_t total,
                                           std::int32_t progress) {
    return passOn(form_.OnSending, id, total, progress);
}

HRESULT TBizFormBase::EventSink::OnReceiving(std::int32_t id, std::int32_t total,
                                             std::int32_t progress) {
    return passOn(form_.OnReceiving, id, total, progress);
}

HRESULT TBizFormBase::EventSink::OnReply(std::int32_t id, const Variant& pack) {
    return passOn(form_.OnReply, id, pack);
}

HRESULT TBizFormBase::EventSink::OnSubscribe(std::int32_t id, std::int32_t no,
                                             const Variant& pack) {
    return passOn(form_.OnSubscribe, id, no, pack);
}

HRESULT TBizFormBase::EventSink::OnPush(std::int32_t id, std::int32_t fn, const Variant& pack) {
    return passOn(form_.OnPush, id, fn, pack);
}

HRESULT TBizFormBase::EventSink::OnError(std::int32_t id, std::int32_t no, const char* text) {
    return passOn(form_.OnError, id, no, QString::fromUtf8(text ? text : ""));
}

namespace {

// A tab sheet, a panel or a group box: the containers whose controls Enter and the
// arrows keep to.
bool isContainer(const QWidget* w) {
    if (!w)
        return false;
    return qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QStackedWidget*>(w->parentWidget()) ||
           w->metaObject() == &QFrame::staticMetaObject ||
           w->metaObject() == &QWidget::staticMetaObject;
}

// Controls that use the arrow keys themselves: lists, grids, trees, calendars.
bool usesArrows(const QWidget* w) {
    return qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QCalendarWidget*>(w);
}

bool canFocus(const QWidget* w, const QWidget* form) {
    return w->isEnabled() && w->isVisibleTo(form) && w->focusPolicy() != Qt::NoFocus;
}

// The identifier edit whose exchange box the control is; none for any other control.
TQZIDEdit* exchangeBoxOf(const QWidget* w) {
    auto* edit = w ? qobject_cast<TQZIDEdit*>(w->parentWidget()) : nullptr;
    return edit && edit->exchangeBox() == w ? edit : nullptr;
}

// The container a control belongs to in the tab order. The exchange box sits inside its
// identifier edit but is a control of the edit's own container.
QWidget* tabParent(const QWidget* w) {
    if (TQZIDEdit* edit = exchangeBoxOf(w))
        return edit->parentWidget();
    return w->parentWidget();
}

} // namespace

QWidget* TBizFormBase::nextControl(QWidget* container, QWidget* from, bool forward) const {
    // All controls under the container, in tab order.
    // An identifier edit's exchange box comes right before its edit, as it shows.
    QList<QWidget*> controls;
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (!container->isAncestorOf(w) || exchangeBoxOf(w))
            continue;
        if (auto* edit = qobject_cast<TQZIDEdit*>(w))
            controls << edit->exchangeBox();
        controls << w;
    }
    if (controls.isEmpty())
        return nullptr;
    const qsizetype n = controls.size();
    qsizetype at = controls.indexOf(from);
    if (at < 0)
        at = forward ? n - 1 : 0;
    for (qsizetype step = 1; step <= n; ++step) {
        const qsizetype i = ((at + (forward ? step : -step)) % n + n) % n;
        QWidget* w = controls.at(i);
        if (canFocus(w, this) && (w->focusPolicy() & Qt::TabFocus) && tabParent(w) == container)
            return w;
    }
    return nullptr;
}

void TBizFormBase::MoveFocus(bool forward, bool fromTabOrEnter) {
    QWidget* active = QApplication::focusWidget();
    if (!active || !isAncestorOf(active))
        return;
    if (!fromTabOrEnter && usesArrows(active))
        return;
    const auto next = [&]() -> QWidget* {
        QWidget* parent = tabParent(active);
        QWidget* found = nullptr;
        if (parent != this && isContainer(parent))
            found = nextControl(parent, active, forward);
        return found ? found : nextControl(const_cast<TBizFormBase*>(this), active, forward);
    };
    // The entry is checked before the focus moves on: a refusal keeps the operator in the
    // edit. Checked only while the focus leaves, the toolkit would finish the move to the
    // next control after the refusal had put the focus back. Going to the edit's own
    // exchange box is not leaving the edit.
    QWidget* found = next();
    if (auto* edit = qobject_cast<TCustomQzEdit*>(active);
        edit && fromTabOrEnter && edit->validatesOnLeave() && !edit->isAncestorOf(found)) {
        if (!edit->validateEntry() || QApplication::focusWidget() != active)
            return;
        found = next(); // the check may have enabled a control (确定)
    }
    if (found)
        found->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

int TBizFormBase::WheelScroll(int position, int range, int increment, int delta) {
    const auto signedDelta = static_cast<std::int16_t>(delta);
    const int next = position - (signedDelta / 120) * increment;
    return std::clamp(next, 0, range);
}

bool TBizFormBase::eventFilter(QObject* watched, QEvent* event) {
    // A key is down from its press to its release, wherever the release goes.
    if (event->type() == QEvent::KeyRelease) {
        const auto* released = static_cast<QKeyEvent*>(event);
        if (!released->isAutoRepeat() && released->key() == previewedKey_)
            previewedKeyDown_ = false;
        return QWidget::eventFilter(watched, event);
    }
    // A key goes to the focus widget first, then up its parents while unhandled: it is
    // previewed once, at the focus widget.
    if (event->type() != QEvent::KeyPress || watched != QApplication::focusWidget() ||
        !isAncestorOf(static_cast<QWidget*>(watched)))
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    // One press acts once. A press that no widget accepted (Enter in an edit) has been seen
    // to reach the focus widget a second time, with the same key and time stamp: acted on
    // again, it moved the operator on past a refusal, or showed the refusal twice. On a busy
    // machine its release can come first, so a press from the window system is known by its
    // time stamp alone; a synthesized one (time stamp 0) only while its key is down.
    const bool samePress = key->key() == previewedKey_ && key->timestamp() == previewedKeyTime_ &&
                           (previewedKeyDown_ || key->timestamp() != 0);
    if (!key->isAutoRepeat() && samePress)
        return true;
    previewedKey_ = key->key();
    previewedKeyTime_ = key->timestamp();
    previewedKeyDown_ = !key->isAutoRepeat();
    const KeyPreview::Scope previewing(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    bool consumed = false;
    EventBarrier::run([&] {
        if (mods == Qt::NoModifier) {
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                if (auto* button = qobject_cast<TQzBitBtn*>(QApplication::focusWidget()))
                    button->Click();
                else if (auto* plain = qobject_cast<QPushButton*>(QApplication::focusWidget()))
                    plain->click();
                else
                    MoveFocus(true, true);
                break;
            case Qt::Key_Tab:
                MoveFocus(true, true);
                consumed = true; // the focus has moved; the toolkit must not move it again
                break;
            case Qt::Key_Down:
            case Qt::Key_Up:
                // The arrows only move the focus: a combo box's value changes through its
                // drop-down (Alt+Down), never by walking the form; a button does not pass
                // them on to the window, out of the form. Lists and grids keep them.
                consumed = !usesArrows(QApplication::focusWidget());
                MoveFocus(key->key() == Qt::Key_Down, false);
                break;
            case Qt::Key_Left:
            case Qt::Key_Right:
                // On a button the toolkit would move the focus along the window's chain.
                consumed = qobject_cast<QAbstractButton*>(QApplication::focusWidget()) != nullptr;
                break;
            default:
                break;
            }
        } else if (mods == Qt::ShiftModifier && key->key() == Qt::Key_Backtab) {
            MoveFocus(false, true);
            consumed = true;
        }
        // Every key goes on to the form's own handling, also one that moved the focus; a
        // consumed key just goes no further, to the control or the toolkit.
        FormKeyDown(key);
    });
    return consumed;
}

QWidget* TBizFormBase::firstControl() const {
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
        if (isAncestorOf(w) && canFocus(w, this))
            return w;
    }
    return nullptr;
}

void TBizFormBase::showEvent(QShowEvent* event) {
    QWidget* active = QApplication::focusWidget();
    if (!active || !isAncestorOf(active)) {
        if (QWidget* first = firstControl())
            first->setFocus(Qt::OtherFocusReason);
    }
    QWidget::showEvent(event);
}

void TBizFormBase::ChosenAgain() {
    show();
    raise();
    // Left where the operator was (on 确定, say), the next keys would act on the business
    // of before: the form starts over at its first control, its text selected to be typed
    // over or checked again.
    QWidget* first = StartingControl();
    if (!first)
        return;
    first->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(first))
        edit->selectAll();
}

void TBizFormBase::closeEvent(QCloseEvent* event) {
    EventBarrier::run([this] { FormClose(); });
    setAttribute(Qt::WA_DeleteOnClose); // a closed form frees itself
    if (IARCom* com = GetARCom())
        com->DetachSink(&sink_);
    // Out of the host window, then the host is told.
    hide();
    setParent(nullptr);
    if (QWidget* notify =
            closeNotifyWindow_ ? QWidget::find(static_cast<WId>(closeNotifyWindow_)) : nullptr)
        QCoreApplication::postEvent(notify, new QCloseEvent);
    event->accept();
}

void TBizFormBase::wheelEvent(QWheelEvent* event) {
    // The host may show the form in a scroll area: that is what the wheel scrolls.
    QAbstractScrollArea* area = nullptr;
    for (QWidget* w = parentWidget(); w && !area; w = w->parentWidget())
        area = qobject_cast<QAbstractScrollArea*>(w);
    if (!area)
        return QWidget::wheelEvent(event);
    QScrollBar* bar = area->verticalScrollBar()->maximum() > 0     ? area->verticalScrollBar()
                      : area->horizontalScrollBar()->maximum() > 0 ? area->horizontalScrollBar()
                                                                   : nullptr;
    if (bar)
        bar->setValue(
            WheelScroll(bar->value(), bar->maximum(), bar->singleStep(), event->angleDelta().y()));
    event->accept();
}
