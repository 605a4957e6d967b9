#pragma once
// Menu code to form: which form class serves each of the five menu codes, and the one
// module-wide reference per form class.

#include "CLIENTSILib_TLB.h"
#include "HostTypes.h"

#include <QPointer>
#include <QWidget>

class TQZFormBase;

#include <cstdint>

enum class FormClass { ClientSyncReq, Clientmodi, QueryVipInfo };

struct MenuFunction {
    std::uint32_t menuCode;
    FormClass formClass;
    const char* caption;
    // Creates the form with no owner; null while the form class is not in the module.
    TQZFormBase* (*create)();
};

// The menu function of that code, or null.
const MenuFunction* FindMenuFunction(std::uint32_t menuCode);

// The reference to the last form of the class. It is a guarded pointer: a form that has
// closed (and so freed itself) reads as none.
QPointer<QWidget>& FormReference(FormClass formClass);

// What BizEntry does behind its exception barrier.
WindowHandle OpenMenuFunction(std::uint32_t menuCode, WindowHandle parentWindow,
                              WindowHandle closeNotifyWindow, IAppFrame* appFrame,
                              std::int32_t showOnly);

// Creates a form of the menu function with `create`, remembers it as the reference of its
// class and runs the framework initialisation. Any error destroys the form and gives 0.
WindowHandle OpenForm(const MenuFunction& function, TQZFormBase* (*create)(),
                      WindowHandle parentWindow, WindowHandle closeNotifyWindow,
                      IAppFrame* appFrame);
