#pragma once
// The operator's session context that every business form shares.

#include "ClsBranch.h"
#include "ClsBusiness.h"
#include "ClsDict.h"
#include "ClsFunction.h"

#include <cstdint>
#include <memory>
#include <string>

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
