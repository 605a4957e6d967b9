#pragma once
// The counter's side of the host boundary: the communication object over a transport,
// the login that fills the session objects, and the application frame handed to the
// module.

#include "ARCom.h"
#include "AppFrame.h"
#include "DataContainer.h"
#include "Dictionary.h"
#include "HostPtr.h"
#include "OperatorWait.h"
#include "Transport.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace counter {

struct MenuFunction {
    std::int32_t menuCode;
    std::string caption;
};

class CounterHost {
public:
    explicit CounterHost(std::unique_ptr<Transport> transport);

    // Logs the operator in and fills "PersonalData", "MemConfig", "UserBranchs",
    // "UserFunctions" and "Dictionary". Empty on success, else the back office's message.
    std::string login(const std::string& operatorNo, const std::string& password,
                      const std::string& clientInput);

    IAppFrame* appFrame() const { return frame_.get(); }
    const std::vector<MenuFunction>& functions() const { return functions_; }
    const std::string& operatorName() const { return operatorName_; }
    std::int32_t branchNo() const { return branchNo_; }
    const std::string& branchName() const { return branchName_; }
    const ARCom& communication() const { return *com_.get(); }
    const OperatorWait& operatorWait() const { return *wait_; }

    // This workstation's hardware address, as "00-1A-2B-3C-4D-5E".
    static std::string workstationAddress();

private:
    // Sends a login request and gives the opened reply; failures raise EHostError.
    HostPtr<IUnpackerDisp> request(std::int32_t functionNo, const std::string& operatorNo,
                                   const std::string& password);
    static std::string errorText(HostPtr<IUnpackerDisp>& reply);

    HostPtr<ARCom> com_;
    HostPtr<AppFrame> frame_;
    HostPtr<DataContainer> personal_;
    HostPtr<MemConfig> config_;
    HostPtr<Dictionary> dictionary_;
    std::shared_ptr<OperatorWait> wait_;
    std::vector<MenuFunction> functions_;
    std::string operatorName_;
    std::int32_t branchNo_ = 0;
    std::string branchName_;
};

} // namespace counter
