#pragma once
// TBizFormBase: the root of every business form. It lives inside a host window, keeps the
// host's application frame, hands out the host objects (cached per form), receives the
// communication events through its event sink, moves the focus with Enter and the arrow
// keys, scrolls with the wheel and tells the host when it closes.

#include "AR2COMLib_TLB.h"
#include "BIZ1PACKETLib_TLB.h"
#include "CLIENTSILib_TLB.h"
#include "CLIENTUILib_TLB.h"
#include "HostPtr.h"
#include "STORAGELib_TLB.h"

#include <QKeyEvent>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class TBizFormBase : public QWidget {
    Q_OBJECT
    // The host reads it by name: it knows the form only as a window.
    Q_PROPERTY(bool holdsUnsentInput READ HoldsUnsentInput)
public:
    explicit TBizFormBase(QWidget* parent = nullptr);
    ~TBizFormBase() override;

    void AttachToHost(std::int32_t menuCode, WindowHandle parentWindow,
                      WindowHandle closeNotifyWindow, IAppFrame* appFrame);

    std::int32_t menuCode() const { return menuCode_; }
    // The name of the client the form shows, for a reviewer to read; empty where the form
    // shows none.
    virtual QString ReviewClientName() const { return {}; }
    // The discount rate the client holds before the change the form sends, for a reviewer
    // to read beside the new one; empty where the form changes no rate.
    virtual QString ReviewRateBefore() const { return {}; }
    IAppFrame* appFrame() const { return appFrame_.get(); }

    // The cached host objects. Only the communication object's getter hides errors (it
    // gives none); the others raise them.
    IARCom* GetARCom();
    IPackerDisp* GetPacker();
    IUnpackerDisp* GetReader();
    IDataContainer* GetStorage();
    IEntry* GetDictionary();
    IARComEvents* GetSink() { return &sink_; }

    // The events of the communication object.
    std::function<void(std::int32_t lPacketID, std::int32_t lTotal, std::int32_t lProgress)>
        OnSending;
    std::function<void(std::int32_t lPacketID, std::int32_t lTotal, std::int32_t lProgress)>
        OnReceiving;
    std::function<void(std::int32_t lPacketID, const Variant& varPack)> OnReply;
    std::function<void(std::int32_t lPacketID, std::int32_t lSubscribeNo, const Variant& varPack)>
        OnSubscribe;
    std::function<void(std::int32_t lPacketID, std::int32_t lFunctionNo, const Variant& varPack)>
        OnPush;
    std::function<void(std::int32_t lPacketID, std::int32_t lErrorNo, const QString& strError)>
        OnError;
    std::function<void(const QString& strFileName, std::int32_t lResult)> OnTFtpReceived;
    std::function<void(const QString& strFileName, std::int32_t lResult)> OnTFtpSent;
    std::function<void(const QString& strOrigName, std::int32_t lAccessMode,
                       const QString& strFileName)>
        OnTFtpAccess;

    // Moves the focus to the next (or previous) control, as Enter, Tab and the arrows do.
    void MoveFocus(bool forward, bool fromTabOrEnter);

    // The function was chosen again from the host's menu while its form is open: the form
    // comes forward and starts afresh at its starting control, what it holds kept.
    void ChosenAgain();
    // True while the form holds input the operator has not sent yet; the host asks before
    // anything closes the form unasked.
    virtual bool HoldsUnsentInput() const { return false; }

    // The new scroll position for a wheel turn: delta is a signed 16-bit value.
    static int WheelScroll(int position, int range, int increment, int delta);

protected:
    // Called last in AttachToHost; each business form loads its data here.
    virtual void HostAttached() {}
    virtual void DoSending(std::int32_t, std::int32_t, std::int32_t) {}
    virtual void DoReceiving(std::int32_t, std::int32_t, std::int32_t) {}
    virtual void DoReply(std::int32_t, const Variant&) {}
    virtual void DoSubscribe(std::int32_t, std::int32_t, const Variant&) {}
    virtual void DoPush(std::int32_t, std::int32_t, const Variant&) {}
    virtual void DoError(std::int32_t, std::int32_t, const QString&) {}
    // The form's own close handling, before the framework's.
    virtual void FormClose() {}
    // The form's own key handling, after the focus moves of Enter, Tab and the arrows.
    virtual void FormKeyDown(QKeyEvent*) {}
    // Where the form starts when its function is chosen again: the first control in tab
    // order that can take the focus, unless the form names another.
    virtual QWidget* StartingControl() const { return firstControl(); }

    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The event sink: a dispatch table inside the form. It answers any interface query
    // with itself, counts no references (the form owns it), refuses the dispatch slots
    // and passes each event to the form's handler.
    class EventSink final : public NoDispatch<IARComEvents> {
    public:
        explicit EventSink(TBizFormBase& form) : form_(form) {}
        HRESULT MARLO_STDCALL QueryInterface(const Guid& iid, void** object) override;
        std::uint32_t MARLO_STDCALL AddRef() override { return 2; }
        std::uint32_t MARLO_STDCALL Release() override { return 1; }
        HRESULT MARLO_STDCALL OnSending(std::int32_t, std::int32_t, std::int32_t) override;
        HRESULT MARLO_STDCALL OnReceiving(std::int32_t, std::int32_t, std::int32_t) override;
        HRESULT MARLO_STDCALL OnReply(std::int32_t, const Variant&) override;
        HRESULT MARLO_STDCALL OnSubscribe(std::int32_t, std::int32_t, const Variant&) override;
        HRESULT MARLO_STDCALL OnPush(std::int32_t, std::int32_t, const Variant&) override;
        HRESULT MARLO_STDCALL OnError(std::int32_t, std::int32_t, const char*) override;

    private:
        TBizFormBase& form_;
    };

    QWidget* nextControl(QWidget* container, QWidget* from, bool forward) const;
    // The first control in tab order that can take the focus, tab stop or not.
    QWidget* firstControl() const;

    void bindEvents();
    void releaseHostWindow();

    // The host's window when it belongs to another process or toolkit (a native window the
    // form is embedded in); the form owns this stand-in and lets go of it before it goes.
    std::unique_ptr<QWindow> hostWindow_;
    WindowHandle closeNotifyWindow_ = 0;
    std::int32_t menuCode_ = 0;
    // The key press the form previewed last, by its key and time stamp, and whether that
    // key is still down.
    int previewedKey_ = 0;
    std::uint64_t previewedKeyTime_ = 0;
    bool previewedKeyDown_ = false;
    HostPtr<IAppFrame> appFrame_;
    HostPtr<IARCom> arcom_;
    HostPtr<IPackerDisp> packer_;
    HostPtr<IUnpackerDisp> reader_;
    HostPtr<IDataContainer> storage_;
    HostPtr<IEntry> dictionary_;
    EventSink sink_{*this};
};
