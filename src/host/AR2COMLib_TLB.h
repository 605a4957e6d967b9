#pragma once
// The host's communication library: the communication object and its event sink.

#include "BIZ1PACKETLib_TLB.h"
#include "HostTypes.h"
#include "Variant.h"

// The events a communication object raises to a sink: thirteen slots in all, the three of
// the base, the four dispatch slots, then these six.
struct IARComEvents : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4132, {0x81, 0x10, 0, 0, 0, 0, 0, 0x02}};

    virtual HRESULT MARLO_STDCALL OnSending(std::int32_t lPacketID, std::int32_t lTotal,
                                            std::int32_t lProgress) = 0;
    virtual HRESULT MARLO_STDCALL OnReceiving(std::int32_t lPacketID, std::int32_t lTotal,
                                              std::int32_t lProgress) = 0;
    virtual HRESULT MARLO_STDCALL OnReply(std::int32_t lPacketID, const Variant& varPack) = 0;
    virtual HRESULT MARLO_STDCALL OnSubscribe(std::int32_t lPacketID, std::int32_t lSubscribeNo,
                                              const Variant& varPack) = 0;
    virtual HRESULT MARLO_STDCALL OnPush(std::int32_t lPacketID, std::int32_t lFunctionNo,
                                         const Variant& varPack) = 0;
    virtual HRESULT MARLO_STDCALL OnError(std::int32_t lPacketID, std::int32_t lErrorNo,
                                          const char* strError) = 0;

protected:
    ~IARComEvents() = default;
};

struct IARCom : IDispatch {
    static constexpr Guid iid{0x4D524C01, 0x0601, 0x4132, {0x81, 0x10, 0, 0, 0, 0, 0, 0x01}};

    // Sends a packed request; the packet id (an integer variant) names its reply. The flag
    // is the host's own and is passed on unchanged.
    virtual HRESULT MARLO_STDCALL Send(const Variant& data, std::int32_t flag,
                                       Variant* packetId) = 0;
    // Waits up to timeoutMs for the reply of that packet; hr::timeout when none came. A
    // packet id is received at most once.
    virtual HRESULT MARLO_STDCALL Receive(const Variant& packetId, std::int32_t timeoutMs,
                                          Variant* reply) = 0;
    // Empties the packer and starts a request of that function in it.
    virtual HRESULT MARLO_STDCALL InitRequest(std::int32_t functionNo, IPackerDisp* packer) = 0;
    // Stops raising events to that sink; a sink that was never attached is not an error.
    virtual HRESULT MARLO_STDCALL DetachSink(IUnknown* sink) = 0;

protected:
    ~IARCom() = default;
};
