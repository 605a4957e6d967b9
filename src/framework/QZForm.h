#pragma once
// TQZFormBase: the framework form the business forms derive from. It adds the framework
// initialisation BizEntry runs, the loading of the operator's session into the one
// module-wide record TRCommonInfo, the host's two record sets, and drop shadows along the
// right and bottom edges.

#include "BizForm.h"
#include "ClsBranch.h"
#include "ClsBusiness.h"
#include "ClsDict.h"
#include "ClsFunction.h"

#include <cstdint>
#include <memory>
#include <string>

class QFrame;
class QLabel;

// The one module-wide record of the operator's session.
struct TRCommonInfo {
    std::int32_t branchNo = 0;
    std::string operCode;
    std::string operName;
    std::string password;
    std::string mac;
    char operatorKind = '\0';
    char clientInput = '\0';
    std::int32_t mainBranchNo = 0;
    // The branch of the last resolved account.
    std::int32_t clientBranchNo = 0;
    std::unique_ptr<TDictionary> dictionary;
    std::unique_ptr<TBusinessList> businessList;
    std::unique_ptr<TBranchList> branchList;
    std::unique_ptr<TFunctions> functions;
    std::string currentDir;
};

TRCommonInfo& CommonInfo();

class TQZFormBase : public TBizFormBase {
    Q_OBJECT
public:
    explicit TQZFormBase(QWidget* parent = nullptr);

    // What BizEntry runs right after creating the form; errors travel to BizEntry.
    void InitFromHost(std::int32_t menuCode, WindowHandle parentWindow,
                      WindowHandle closeNotifyWindow, IAppFrame* appFrame);
    // Fills TRCommonInfo from the session storage and connects the shared lists.
    void LoadSession();
    // "ClientInput" read afresh: its first character, NUL when empty.
    char ClientInputKind();

    // The host's record sets; none when the host has none (errors are not raised).
    IUnpackerDisp* UserFunctions();
    IUnpackerDisp* UserBranchs();

    // The branch of the account the form resolved last; sent as branch_no.
    std::int32_t currentClientBranchNo = 0;

    QFrame* rightPanel() const { return RightPanel; }
    QFrame* bottomPanel() const { return BottomPanel; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Places the shadows along the right and bottom edges.
    void FormCreate();
    IUnpackerDisp* recordSet(HostPtr<IUnpackerDisp>& cache, const char* name);
    Variant sessionValue(const char* key);

    QFrame* RightPanel;
    QFrame* RightTopSpace;
    QLabel* RightTopShadow;
    QLabel* RightShadow;
    QFrame* BottomPanel;
    QFrame* BottomLeftSpace;
    QLabel* BottomLeftShadow;
    QLabel* BottomShadow;
    QLabel* BottomRightShadow;
    HostPtr<IUnpackerDisp> userFunctions_;
    HostPtr<IUnpackerDisp> userBranchs_;
};
