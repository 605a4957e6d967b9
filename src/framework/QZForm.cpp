#include "QZForm.h"

#include "ModuleResources.h"
#include "Tools.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QVBoxLayout>

TRCommonInfo& CommonInfo() {
    static TRCommonInfo info;
    return info;
}

namespace {

QLabel* shadowImage(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    // Decoded through the JPEG image plug-in.
    QImageReader reader(
        QString::fromStdString(ModuleResourcePath(std::string("shadows/") + name + ".jpg")), "jpg");
    label->setPixmap(QPixmap::fromImage(reader.read()));
    label->setScaledContents(true);
    return label;
}

QFrame* plainPanel(const char* name, QWidget* parent) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameShape(QFrame::NoFrame);
    return panel;
}

} // namespace

TQZFormBase::TQZFormBase(QWidget* parent) : TBizFormBase(parent) {
    RightPanel = plainPanel("RightPanel", this);
    RightTopSpace = plainPanel("RightTopSpace", RightPanel);
    RightTopShadow = shadowImage("RightTopShadow", RightPanel);
    RightShadow = shadowImage("RightShadow", RightPanel);
    auto* right = new QVBoxLayout(RightPanel);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    RightTopSpace->setFixedHeight(8);
    RightTopShadow->setFixedHeight(9);
    right->addWidget(RightTopSpace);
    right->addWidget(RightTopShadow);
    right->addWidget(RightShadow, 1);

    BottomPanel = plainPanel("BottomPanel", this);
    BottomLeftSpace = plainPanel("BottomLeftSpace", BottomPanel);
    BottomLeftShadow = shadowImage("BottomLeftShadow", BottomPanel);
    BottomShadow = shadowImage("BottomShadow", BottomPanel);
    BottomRightShadow = shadowImage("BottomRightShadow", BottomPanel);
    auto* bottom = new QHBoxLayout(BottomPanel);
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->setSpacing(0);
    BottomLeftSpace->setFixedWidth(8);
    BottomLeftShadow->setFixedWidth(10);
    BottomRightShadow->setFixedWidth(9);
    bottom->addWidget(BottomLeftSpace);
    bottom->addWidget(BottomLeftShadow);
    bottom->addWidget(BottomShadow, 1);
    bottom->addWidget(BottomRightShadow);
    FormCreate();
}

void TQZFormBase::FormCreate() {
    const int w = width();
    const int h = height();
    RightPanel->setGeometry(w - 2, 0, 8, h + 6);
    BottomPanel->setGeometry(0, h - 2, w + 6, 8);
    // A control paints only inside its form: of each strip only its first 2 pixels would
    // show, a thin line with the corner picture squeezed into it. A shadow that cannot show
    // whole is not drawn at all.
    RightPanel->setVisible(false);
    BottomPanel->setVisible(false);
}

void TQZFormBase::resizeEvent(QResizeEvent* event) {
    TBizFormBase::resizeEvent(event);
    FormCreate();
}

void TQZFormBase::InitFromHost(std::int32_t menuCode, WindowHandle parentWindow,
                               WindowHandle closeNotifyWindow, IAppFrame* appFrame) {
    if (!appFrame)
        throw EHostError("GetObject(MemConfig)", hr::nullPointer);
    HostPtr<IUnknown> object;
    check(appFrame->GetObject("MemConfig", object.put()), "GetObject(MemConfig)");
    auto config = object.as<IMemConfig>("MemConfig");
    Variant dir;
    check(config->GetValue("CurrentDir", &dir), "MemConfig.GetValue(CurrentDir)");
    CommonInfo().currentDir = dir.toText();
    AttachToHost(menuCode, parentWindow, closeNotifyWindow, appFrame);
}

Variant TQZFormBase::sessionValue(const char* key) {
    Variant value;
    check(GetStorage()->GetValue(key, &value),
          (std::string("PersonalData.GetValue(") + key + ")").c_str());
    return value;
}

void TQZFormBase::LoadSession() {
    TRCommonInfo& info = CommonInfo();
    info.branchNo = sessionValue("BranchNo").toInt32();
    info.operCode = sessionValue("OperCode").toText();
    info.password = sessionValue("Password").toText();
    info.operName = sessionValue("OperName").toText();
    info.mac = sessionValue("MAC").toText();
    info.operatorKind = FirstChar(sessionValue("OperatorKind").toText());
    info.clientInput = FirstChar(sessionValue("ClientInput").toText());
    info.mainBranchNo = sessionValue("MainBranchNo").toInt32();
    info.clientBranchNo = 0;
    if (info.dictionary)
        info.dictionary->connect(GetDictionary(), GetStorage());
    if (info.businessList)
        info.businessList->connect(GetDictionary());
    if (info.branchList)
        info.branchList->connect(UserBranchs());
    if (info.functions)
        info.functions->connect(UserFunctions());
}

char TQZFormBase::ClientInputKind() {
    return FirstChar(sessionValue("ClientInput").toText());
}

IUnpackerDisp* TQZFormBase::recordSet(HostPtr<IUnpackerDisp>& cache, const char* name) {
    if (!cache && appFrame()) {
        try {
            HostPtr<IUnknown> object;
            check(appFrame()->GetObject(name, object.put()), name);
            cache = object.as<IUnpackerDisp>(name);
        } catch (const std::exception&) {
            cache.reset(); // no record set: the next call tries again
        }
    }
    return cache.get();
}

IUnpackerDisp* TQZFormBase::UserFunctions() {
    return recordSet(userFunctions_, "UserFunctions");
}

IUnpackerDisp* TQZFormBase::UserBranchs() {
    return recordSet(userBranchs_, "UserBranchs");
}
