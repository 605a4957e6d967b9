#include "CounterHost.h"

#include "BIZ1PACKETLib_TLB.h"
#include "protocol/Numbers.h"

#include <QDir>
#include <QNetworkInterface>

namespace counter {

namespace {

constexpr std::int32_t loginFunction = protocol::function::login;
constexpr std::int32_t branchesFunction = protocol::function::operatorBranches;
constexpr std::int32_t functionsFunction = protocol::function::operatorFunctions;
constexpr std::int32_t dictionaryFunction = protocol::function::dictionary;
constexpr std::int32_t timeoutMs = 10000;

void setField(HostPtr<IPackerDisp>& packer, const char* name, const Variant& value) {
    HostPtr<IFieldDisp> field;
    check(packer->Field(Variant(name), field.put()), "Field");
    check(field->SetValue(value), "SetValue");
}

Variant value(HostPtr<IUnpackerDisp>& reader, const char* name) {
    HostPtr<IFieldDisp> field;
    check(reader->Field(Variant(name), field.put()), "Field");
    Variant v;
    check(field->Value(&v), "Value");
    return v;
}

bool atEnd(HostPtr<IUnpackerDisp>& reader) {
    bool eof = true;
    check(reader->Eof(&eof), "Eof");
    return eof;
}

} // namespace

CounterHost::CounterHost(std::unique_ptr<Transport> transport)
    : com_(HostPtr<ARCom>::adopt(new ARCom(std::move(transport)))),
      frame_(HostPtr<AppFrame>::adopt(new AppFrame)),
      personal_(HostPtr<DataContainer>::adopt(new DataContainer)),
      config_(HostPtr<MemConfig>::adopt(new MemConfig)),
      dictionary_(HostPtr<Dictionary>::adopt(new Dictionary)),
      wait_(std::make_shared<OperatorWait>()) {
    frame_->setObject("ARCom", static_cast<IARCom*>(com_.get()));
    // While a request waits, the counter's windows paint (the wait popup and its animation)
    // and its timers run; operator input of the wait is thrown away.
    // The module may keep the communication object beyond this host: it shares the wait.
    const std::shared_ptr<OperatorWait> wait = wait_;
    ARCom::WaitPump pump;
    pump.begins = [wait] { wait->begins(); };
    pump.pump = [wait] { wait->pump(); };
    pump.ends = [wait] { wait->ends(); };
    com_->setWaitPump(std::move(pump), std::chrono::milliseconds(15));
}

std::string CounterHost::workstationAddress() {
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (i.flags().testFlag(QNetworkInterface::IsLoopBack) || i.hardwareAddress().isEmpty())
            continue;
        return i.hardwareAddress().replace(':', '-').toStdString();
    }
    return "00-00-00-00-00-00";
}

HostPtr<IUnpackerDisp> CounterHost::request(std::int32_t functionNo, const std::string& operatorNo,
                                            const std::string& password) {
    auto packer = createHostObject<IPackerDisp>(CLSID_Packer, "new host packer");
    check(com_->InitRequest(functionNo, packer.get()), "InitRequest");
    setField(packer, "op_branch_no", Variant(std::int64_t{branchNo_}));
    setField(packer, "operator_no", Variant(operatorNo));
    setField(packer, "op_station", Variant(workstationAddress()));
    setField(packer, "op_entrust_way", Variant("4"));
    setField(packer, "function_id", Variant(std::int64_t{functionNo}));
    setField(packer, "password", Variant(password));
    check(packer->Finish(), "Finish");
    Variant data;
    check(packer->GetData(&data), "GetData");
    Variant id;
    check(com_->Send(data, 1000, &id), "Send");
    Variant reply;
    check(com_->Receive(id, timeoutMs, &reply), "Receive");
    auto reader = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    check(reader->Open(reply), "Open");
    return reader;
}

std::string CounterHost::errorText(HostPtr<IUnpackerDisp>& reply) {
    std::int32_t code = 0;
    check(reply->ReturnCode(&code), "ReturnCode");
    if (code == 0)
        return {};
    const std::string info = value(reply, "error_info").toText();
    return info.empty() ? "登录失败，返回码 " + std::to_string(code) : info;
}

std::string CounterHost::login(const std::string& operatorNo, const std::string& password,
                               const std::string& clientInput) {
    auto who = request(loginFunction, operatorNo, password);
    if (std::string error = errorText(who); !error.empty())
        return error;
    operatorName_ = value(who, "operator_name").toText();
    branchNo_ = value(who, "branch_no").toInt32();
    personal_->SetValue("BranchNo", Variant(std::int64_t{branchNo_}));
    personal_->SetValue("OperCode", Variant(operatorNo));
    personal_->SetValue("Password", Variant(password));
    personal_->SetValue("OperName", Variant(operatorName_));
    personal_->SetValue("OperatorKind", value(who, "operator_kind"));
    personal_->SetValue("MAC", Variant(workstationAddress()));
    personal_->SetValue("ClientInput", Variant(clientInput));
    personal_->SetValue("MainBranchNo", value(who, "main_branch_no"));
    config_->set("CurrentDir", Variant(QDir::currentPath().toStdString()));

    auto branches = request(branchesFunction, operatorNo, password);
    auto functions = request(functionsFunction, operatorNo, password);
    auto dictionary = request(dictionaryFunction, operatorNo, password);
    for (auto* reply : {&branches, &functions, &dictionary}) {
        if (std::string error = errorText(*reply); !error.empty())
            return error;
    }
    functions_.clear();
    for (check(functions->First(), "First"); !atEnd(functions); check(functions->Next(), "Next"))
        functions_.push_back(
            {value(functions, "menu_code").toInt32(), value(functions, "caption").toText()});
    for (check(dictionary->First(), "First"); !atEnd(dictionary); check(dictionary->Next(), "Next"))
        dictionary_->add(value(dictionary, "dict_name").toText(),
                         value(dictionary, "item_key").toText(),
                         value(dictionary, "caption").toText());
    branchName_.clear();
    for (check(branches->First(), "First"); !atEnd(branches); check(branches->Next(), "Next")) {
        if (value(branches, "branch_no").toText() == std::to_string(branchNo_))
            branchName_ = value(branches, "branch_name").toText();
    }
    check(branches->First(), "First");
    check(functions->First(), "First");

    frame_->setObject("PersonalData", static_cast<IDataContainer*>(personal_.get()));
    frame_->setObject("MemConfig", static_cast<IMemConfig*>(config_.get()));
    frame_->setObject("Dictionary", static_cast<IEntry*>(dictionary_.get()));
    frame_->setObject("UserBranchs", branches.get());
    frame_->setObject("UserFunctions", functions.get());
    return {};
}

} // namespace counter
