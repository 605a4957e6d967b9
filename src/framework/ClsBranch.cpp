#include "ClsBranch.h"

#include "Tools.h"

namespace {
Variant fieldValue(IUnpackerDisp* set, const char* name) {
    HostPtr<IFieldDisp> field;
    check(set->Field(Variant(name), field.put()), "UserBranchs.Field");
    Variant value;
    check(field->Value(&value), "UserBranchs.Value");
    return value;
}
} // namespace

void TBranchList::FillBranches(QStringList& list, const std::string& branchKinds) const {
    if (!branches_)
        return;
    const std::string kinds = [&] {
        std::string k = branchKinds;
        std::erase_if(k, [](char c) { return static_cast<unsigned char>(c) <= 32; });
        return k;
    }();
    check(branches_->First(), "UserBranchs.First");
    bool eof = true;
    for (check(branches_->Eof(&eof), "UserBranchs.Eof"); !eof;
         check(branches_->Eof(&eof), "UserBranchs.Eof")) {
        if (!kinds.empty()) {
            const char kind = FirstChar(VariantToText(fieldValue(branches_.get(), "branch_type")));
            if (kinds.find(kind) == std::string::npos) {
                check(branches_->Next(), "UserBranchs.Next");
                continue;
            }
        }
        const std::string no = VariantToText(fieldValue(branches_.get(), "branch_no"));
        const std::string name = VariantToText(fieldValue(branches_.get(), "branch_name"));
        list << QString::fromStdString(no + "|" + name);
        check(branches_->Next(), "UserBranchs.Next");
    }
}
