#pragma once
// The object model that host and module share: status codes, interface ids and the two
// base interfaces every host object derives from.

#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define MARLO_STDCALL __stdcall
#else
#define MARLO_STDCALL
#endif

#if defined(_WIN32)
#define MARLO_DECL_EXPORT __declspec(dllexport)
#define MARLO_DECL_IMPORT __declspec(dllimport)
#else
#define MARLO_DECL_EXPORT __attribute__((visibility("default")))
#define MARLO_DECL_IMPORT __attribute__((visibility("default")))
#endif

#if defined(MARLO_RUNTIME_BUILD)
#define MARLO_RUNTIME_API MARLO_DECL_EXPORT
#else
#define MARLO_RUNTIME_API MARLO_DECL_IMPORT
#endif

#if defined(_WIN32)
// The platform's own status type (a 32-bit long), which its headers declare too.
using HRESULT = long;
#else
using HRESULT = std::int32_t;
#endif

// A window handle is a native window id; pointer-sized so that every platform's ids fit.
using WindowHandle = std::uintptr_t;

namespace hr {
constexpr HRESULT ok = 0;
constexpr HRESULT falseOk = 1;
constexpr HRESULT notImplemented = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT noInterface = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT nullPointer = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT fail = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT invalidArg = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT typeMismatch = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT badIndex = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT classNotRegistered = static_cast<HRESULT>(0x80040154u);
// The host's own failures.
constexpr HRESULT notFound = static_cast<HRESULT>(0x80041001u);
constexpr HRESULT timeout = static_cast<HRESULT>(0x80041002u);
constexpr HRESULT malformedPacket = static_cast<HRESULT>(0x80041003u);
constexpr HRESULT transportBroken = static_cast<HRESULT>(0x80041004u);
constexpr HRESULT unknownPacket = static_cast<HRESULT>(0x80041005u);
constexpr HRESULT notOpen = static_cast<HRESULT>(0x80041006u);

constexpr bool failed(HRESULT status) {
    return status < 0;
}
constexpr bool succeeded(HRESULT status) {
    return status >= 0;
}
} // namespace hr

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    friend bool operator==(const Guid& a, const Guid& b) {
        return std::memcmp(&a, &b, sizeof(Guid)) == 0;
    }
};

struct IUnknown {
    static constexpr Guid iid{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    virtual HRESULT MARLO_STDCALL QueryInterface(const Guid& iid, void** object) = 0;
    virtual std::uint32_t MARLO_STDCALL AddRef() = 0;
    virtual std::uint32_t MARLO_STDCALL Release() = 0;

protected:
    ~IUnknown() = default;
};

// The four dispatch slots. No host object of ours is called by name, so implementations
// answer them with notImplemented; they exist to keep every later slot where it belongs.
struct IDispatch : IUnknown {
    static constexpr Guid iid{0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

    virtual HRESULT MARLO_STDCALL GetTypeInfoCount(std::uint32_t* count) = 0;
    virtual HRESULT MARLO_STDCALL GetTypeInfo(std::uint32_t index, std::uint32_t locale,
                                              void** typeInfo) = 0;
    virtual HRESULT MARLO_STDCALL GetIDsOfNames(const Guid& reserved, const char** names,
                                                std::uint32_t count, std::uint32_t locale,
                                                std::int32_t* dispIds) = 0;
    virtual HRESULT MARLO_STDCALL Invoke(std::int32_t dispId, const Guid& reserved,
                                         std::uint32_t locale, std::uint16_t flags, void* params,
                                         void* result, void* exceptionInfo,
                                         std::uint32_t* argError) = 0;

protected:
    ~IDispatch() = default;
};

// The four dispatch slots of an object nobody calls by name: each answers notImplemented.
template <class Interface> struct NoDispatch : Interface {
    HRESULT MARLO_STDCALL GetTypeInfoCount(std::uint32_t* count) override {
        if (count)
            *count = 0;
        return hr::notImplemented;
    }
    HRESULT MARLO_STDCALL GetTypeInfo(std::uint32_t, std::uint32_t, void**) override {
        return hr::notImplemented;
    }
    HRESULT MARLO_STDCALL GetIDsOfNames(const Guid&, const char**, std::uint32_t, std::uint32_t,
                                        std::int32_t*) override {
        return hr::notImplemented;
    }
    HRESULT MARLO_STDCALL Invoke(std::int32_t, const Guid&, std::uint32_t, std::uint16_t, void*,
                                 void*, void*, std::uint32_t*) override {
        return hr::notImplemented;
    }

protected:
    ~NoDispatch() = default;
};
