#include "HostObjectsFixture.h"

#include "ARCom.h"
#include "ScriptedTransport.h"
#include "protocol/Packet.h"

#include <chrono>
#include <thread>

namespace {

std::string reply(std::int32_t functionNo, const std::string& marker) {
    protocol::PacketWriter w(functionNo, 0);
    w.addField("marker", protocol::FieldType::Text);
    w.beginRecord();
    w.text(marker);
    std::string out;
    w.finish(out);
    return out;
}

class ARComTest : public HostObjectsTest {
protected:
    void SetUp() override {
        HostObjectsTest::SetUp();
        script = std::make_shared<counter::Script>();
        arcom = new counter::ARCom(std::make_unique<counter::ScriptedTransport>(script));
        com = HostPtr<IARCom>::adopt(arcom);
        packer = newPacker();
        reader = newUnpacker();
    }

    Variant sendRequest(std::int32_t functionNo, const char* marker) {
        check(com->InitRequest(functionNo, packer.get()), "InitRequest");
        set(packer, "marker", Variant(marker));
        Variant id;
        check(com->Send(packed(packer), 1000, &id), "Send");
        return id;
    }

    std::string receivedMarker(const Variant& id, std::int32_t timeoutMs) {
        Variant data;
        check(com->Receive(id, timeoutMs, &data), "Receive");
        check(reader->Open(data), "Open");
        return get(reader, Variant("marker")).toText();
    }

    std::shared_ptr<counter::Script> script;
    counter::ARCom* arcom = nullptr;
    HostPtr<IARCom> com;
    HostPtr<IPackerDisp> packer;
    HostPtr<IUnpackerDisp> reader;
};

} // namespace

TEST_F(ARComTest, SendAndReceiveRecordTheRequest) {
    script->answer(reply(105006, "r1"), 105006);
    const Variant id = sendRequest(105006, "q1");
    EXPECT_EQ(receivedMarker(id, 1000), "r1");

    const auto requests = script->requests();
    ASSERT_EQ(requests.size(), 1u);
    protocol::PacketView sent;
    ASSERT_EQ(sent.decode(requests[0]), protocol::DecodeStatus::Ok);
    EXPECT_EQ(sent.functionNo(), 105006);
    EXPECT_EQ(sent.text(0, 0), "q1");
}

TEST_F(ARComTest, TimeoutAtTheDeadlineThenTheLateReplyIsDropped) {
    script->answerLater(reply(200086, "late"));
    script->answer(reply(200076, "second"));
    const Variant first = sendRequest(200086, "a");

    const auto start = std::chrono::steady_clock::now();
    Variant data;
    EXPECT_EQ(com->Receive(first, 150, &data), hr::timeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(150));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_THROW(check(com->Receive(first, 10, &data), "Receive again"), EHostError);

    const Variant second = sendRequest(200076, "b");
    EXPECT_NE(second, first); // packet ids are never reused
    script->releaseHeld();    // the first reply arrives now, too late
    EXPECT_EQ(arcom->droppedReplies(), 1u);
    EXPECT_EQ(receivedMarker(second, 1000), "second");
}

TEST_F(ARComTest, ReplyFromAnotherThreadWakesTheReceiver) {
    script->answerLater(reply(730004, "threaded"));
    const Variant id = sendRequest(730004, "q");
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        script->releaseHeld();
    });
    EXPECT_EQ(receivedMarker(id, 5000), "threaded");
    late.join();
    EXPECT_EQ(arcom->droppedReplies(), 0u);
}

TEST_F(ARComTest, IdsAreIncreasingAndUnknownIdsFail) {
    script->answer(reply(1, "x"));
    script->answer(reply(1, "y"));
    const Variant a = sendRequest(1, "x");
    const Variant b = sendRequest(1, "y");
    EXPECT_GT(b.integer(), a.integer());
    Variant data;
    EXPECT_EQ(com->Receive(Variant(std::int64_t{9999}), 10, &data), hr::unknownPacket);
    EXPECT_EQ(com->Receive(Variant("1"), 10, &data), hr::typeMismatch);
    EXPECT_EQ(receivedMarker(b, 100), "y");
    EXPECT_EQ(receivedMarker(a, 100), "x");
}

TEST_F(ARComTest, ScriptMismatchGivesAnErrorReplyNotASilentSuccess) {
    script->answer(reply(730001, "for 730001"), 730001);
    const Variant id = sendRequest(730002, "q");
    Variant data;
    check(com->Receive(id, 100, &data), "Receive");
    check(reader->Open(data), "Open");
    EXPECT_EQ(count(&IUnpackerDisp::ReturnCode, reader), -1);
}

TEST_F(ARComTest, SendRefusesWhatIsNotAPackedBuffer) {
    Variant id;
    EXPECT_EQ(com->Send(Variant("text"), 1000, &id), hr::typeMismatch);
    EXPECT_TRUE(id.isEmpty());
}

namespace {

// A sink that counts the replies raised to it.
class CountingSink final : public counter::HostObject<IARComEvents> {
public:
    int replies = 0;
    HRESULT MARLO_STDCALL OnSending(std::int32_t, std::int32_t, std::int32_t) override {
        return hr::ok;
    }
    HRESULT MARLO_STDCALL OnReceiving(std::int32_t, std::int32_t, std::int32_t) override {
        return hr::ok;
    }
    HRESULT MARLO_STDCALL OnReply(std::int32_t, const Variant&) override {
        ++replies;
        return hr::ok;
    }
    HRESULT MARLO_STDCALL OnSubscribe(std::int32_t, std::int32_t, const Variant&) override {
        return hr::ok;
    }
    HRESULT MARLO_STDCALL OnPush(std::int32_t, std::int32_t, const Variant&) override {
        return hr::ok;
    }
    HRESULT MARLO_STDCALL OnError(std::int32_t, std::int32_t, const char*) override {
        return hr::ok;
    }
};

} // namespace

TEST_F(ARComTest, DetachedSinkHearsNothingMore) {
    auto sink = HostPtr<CountingSink>::adopt(new CountingSink);
    ASSERT_EQ(arcom->attachSink(sink.get()), hr::ok);
    script->answer(reply(1, "a"));
    script->answer(reply(1, "b"));
    receivedMarker(sendRequest(1, "a"), 100);
    EXPECT_EQ(sink->replies, 1);
    EXPECT_EQ(com->DetachSink(sink.get()), hr::ok);
    EXPECT_EQ(arcom->sinkCount(), 0u);
    receivedMarker(sendRequest(1, "b"), 100);
    EXPECT_EQ(sink->replies, 1);
    EXPECT_EQ(com->DetachSink(sink.get()), hr::ok); // twice is harmless
}

namespace {

// A packer that is not the host's: the communication object has no hold on it.
class ForeignPacker final : public counter::HostObject<IPackerDisp> {
public:
    HRESULT MARLO_STDCALL Finish() override { return hr::ok; }
    HRESULT MARLO_STDCALL GetData(Variant*) override { return hr::notImplemented; }
    HRESULT MARLO_STDCALL Field(const Variant&, IFieldDisp**) override {
        return hr::notImplemented;
    }
};

} // namespace

TEST_F(ARComTest, InitRequestNeedsAPackerOfTheHost) {
    EXPECT_EQ(com->InitRequest(1, nullptr), hr::nullPointer);
    auto foreign = HostPtr<ForeignPacker>::adopt(new ForeignPacker);
    EXPECT_EQ(com->InitRequest(1, foreign.get()), hr::noInterface);
}
