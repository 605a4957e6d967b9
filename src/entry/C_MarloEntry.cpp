#include "C_MarloEntry.h"

#include "ClientSyncReq.h"
#include "Clientmodi.h"
#include "QZForm.h"
#include "QueryVipInfo.h"

#include <array>
#include <memory>

namespace {

// The forms join this table as they come into the module.
const std::array<MenuFunction, 5> menuFunctions{{
    {730101, FormClass::ClientSyncReq, "VIP快速客户信息主动同步",
     []() -> TQZFormBase* { return new TfrmClientSyncReq; }},
    {730102, FormClass::Clientmodi, "VIP客户开户",
     []() -> TQZFormBase* { return new TfrmClientmodi; }},
    {730103, FormClass::Clientmodi, "VIP客户开户",
     []() -> TQZFormBase* { return new TfrmClientmodi; }},
    {730104, FormClass::Clientmodi, "VIP客户开户",
     []() -> TQZFormBase* { return new TfrmClientmodi; }},
    {730105, FormClass::QueryVipInfo, "VIP快速交易客户信息",
     []() -> TQZFormBase* { return new TfrmQueryVipInfo; }},
}};

} // namespace

const MenuFunction* FindMenuFunction(std::uint32_t menuCode) {
    for (const MenuFunction& f : menuFunctions) {
        if (f.menuCode == menuCode)
            return &f;
    }
    return nullptr;
}

QPointer<QWidget>& FormReference(FormClass formClass) {
    static std::array<QPointer<QWidget>, 3> references;
    return references[static_cast<std::size_t>(formClass)];
}

WindowHandle OpenMenuFunction(std::uint32_t menuCode, WindowHandle parentWindow,
                              WindowHandle closeNotifyWindow, IAppFrame* appFrame,
                              std::int32_t showOnly) {
    const MenuFunction* function = FindMenuFunction(menuCode);
    if (function == nullptr)
        return 0;
    QPointer<QWidget>& reference = FormReference(function->formClass);
    if (showOnly != 0) {
        // A form that has closed since is not touched: there is nothing to show. A business
        // form chosen again starts afresh.
        if (auto* form = qobject_cast<TBizFormBase*>(reference.data())) {
            form->ChosenAgain();
        } else if (reference) {
            reference->show();
            reference->raise();
        }
        return 0;
    }
    if (function->create == nullptr)
        return 0;
    return OpenForm(*function, function->create, parentWindow, closeNotifyWindow, appFrame);
}

WindowHandle OpenForm(const MenuFunction& function, TQZFormBase* (*create)(),
                      WindowHandle parentWindow, WindowHandle closeNotifyWindow,
                      IAppFrame* appFrame) {
    try {
        std::unique_ptr<TQZFormBase> form(create());
        form->setWindowTitle(QString::fromUtf8(function.caption));
        FormReference(function.formClass) = form.get();
        form->InitFromHost(static_cast<std::int32_t>(function.menuCode), parentWindow,
                           closeNotifyWindow, appFrame);
        return static_cast<WindowHandle>(form.release()->winId());
    } catch (...) {
        return 0; // the half-made form is gone with its unique_ptr
    }
}
