#include "ModuleLifecycle.h"

#include "ModuleResources.h"
#include "PrintObjects.h"
#include "QZForm.h"

ModuleLifecycle& ModuleLifecycle::instance() {
    static ModuleLifecycle lifecycle;
    return lifecycle;
}

void ModuleLifecycle::init(const char* resourcePath) {
    if (initCount_ == 0) {
        // A missing or unreadable library is ignored: the module's own resources serve.
        if (resourcePath != nullptr)
            RegisterResourceLibrary(resourcePath);
        TRCommonInfo& info = CommonInfo();
        info.dictionary = std::make_unique<TDictionary>();
        info.businessList = std::make_unique<TBusinessList>();
        info.branchList = std::make_unique<TBranchList>();
        info.functions = std::make_unique<TFunctions>();
        CreatePrintObjects();
    }
    ++initCount_;
}

void ModuleLifecycle::uninit() {
    --initCount_;
    if (initCount_ < 0) {
        initCount_ = 0;
        return;
    }
    if (initCount_ != 0)
        return;
    UnregisterResourceLibrary();
    TRCommonInfo& info = CommonInfo();
    info.dictionary.reset();
    info.businessList.reset();
    info.branchList.reset();
    info.functions.reset();
    FreePrintObjects();
}
