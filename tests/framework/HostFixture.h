#pragma once
// A host as the forms see it: the real host objects of the counter behind an application
// frame, with a scripted communication object.

#include "ARCom.h"
#include "AppFrame.h"
#include "DataContainer.h"
#include "Dictionary.h"
#include "HostClasses.h"
#include "HostPtr.h"
#include "ScriptedTransport.h"
#include "protocol/Packet.h"

#include <gtest/gtest.h>

#include <vector>

// Session storage that remembers the order keys are read in.
class RecordingStorage final : public counter::HostObject<IDataContainer> {
public:
    HRESULT MARLO_STDCALL SetValue(const char* key, const Variant& value) override {
        return inner->SetValue(key, value);
    }
    HRESULT MARLO_STDCALL GetValue(const char* key, Variant* value) override {
        reads.push_back(key);
        return inner->GetValue(key, value);
    }
    HostPtr<counter::DataContainer> inner =
        HostPtr<counter::DataContainer>::adopt(new counter::DataContainer);
    std::vector<std::string> reads;
};

struct Branch {
    const char* no;
    std::string name;
    const char* type;
};

inline Variant branchPacket(const std::vector<Branch>& branches) {
    protocol::PacketWriter w(100002, 0);
    w.addField("branch_no", protocol::FieldType::Text);
    w.addField("branch_name", protocol::FieldType::Text);
    w.addField("branch_type", protocol::FieldType::Text);
    for (const Branch& b : branches) {
        w.beginRecord();
        w.text(b.no);
        w.text(b.name);
        w.text(b.type);
    }
    std::string out;
    w.finish(out);
    return Variant::fromBytes(out);
}

class HostFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(counter::registerHostClasses(), hr::ok);
        script = std::make_shared<counter::Script>();
        arcom = HostPtr<counter::ARCom>::adopt(
            new counter::ARCom(std::make_unique<counter::ScriptedTransport>(script)));
        storage = HostPtr<RecordingStorage>::adopt(new RecordingStorage);
        config = HostPtr<counter::MemConfig>::adopt(new counter::MemConfig);
        dictionary = HostPtr<counter::Dictionary>::adopt(new counter::Dictionary);
        frame = HostPtr<counter::AppFrame>::adopt(new counter::AppFrame);
        config->set("CurrentDir", Variant("/srv/counter"));
        setSession("8", "1001", "pw", "张敏", "00-1A", "1", "6", "1");
        dictionary->add("branch_no", "8", "深圳营业部");
        dictionary->add("id_kind", "0", "身份证");
        branches = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "unpacker");
        check(branches->Open(branchPacket({{"1", "总部", "0"},
                                           {"8", "深圳营业部", "1"},
                                           {"10", std::string("北京\0营业部", 13), "2"}})),
              "Open");
        frame->setObject("ARCom", static_cast<IARCom*>(arcom.get()));
        frame->setObject("PersonalData", static_cast<IDataContainer*>(storage.get()));
        frame->setObject("MemConfig", static_cast<IMemConfig*>(config.get()));
        frame->setObject("Dictionary", static_cast<IEntry*>(dictionary.get()));
        frame->setObject("UserBranchs", branches.get());
    }
    void TearDown() override { counter::unregisterHostClasses(); }

    void setSession(const char* branchNo, const char* oper, const char* password, const char* name,
                    const char* mac, const char* kind, const char* input, const char* mainBranch) {
        const auto number = [](const char* text) {
            try {
                return Variant(std::int64_t{std::stoll(text)});
            } catch (...) {
                return Variant(text);
            }
        };
        storage->SetValue("BranchNo", number(branchNo));
        storage->SetValue("OperCode", Variant(oper));
        storage->SetValue("Password", Variant(password));
        storage->SetValue("OperName", Variant(name));
        storage->SetValue("MAC", Variant(mac));
        storage->SetValue("OperatorKind", Variant(kind));
        storage->SetValue("ClientInput", Variant(input));
        storage->SetValue("MainBranchNo", number(mainBranch));
    }

    std::shared_ptr<counter::Script> script;
    HostPtr<counter::ARCom> arcom;
    HostPtr<RecordingStorage> storage;
    HostPtr<counter::MemConfig> config;
    HostPtr<counter::Dictionary> dictionary;
    HostPtr<IUnpackerDisp> branches;
    HostPtr<counter::AppFrame> frame;
};
