#pragma once
// Host objects as the module sees them: created through the class registry and read
// through the interfaces.

#include "BIZ1PACKETLib_TLB.h"
#include "HostClasses.h"
#include "HostPtr.h"

#include <gtest/gtest.h>

#include <string>

class HostObjectsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(counter::registerHostClasses(), hr::ok); }
    void TearDown() override { counter::unregisterHostClasses(); }

    static HostPtr<IPackerDisp> newPacker() {
        return createHostObject<IPackerDisp>(CLSID_Packer, "new packer");
    }
    static HostPtr<IUnpackerDisp> newUnpacker() {
        return createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new unpacker");
    }

    template <class Object> static void set(Object& o, const char* name, const Variant& value) {
        HostPtr<IFieldDisp> field;
        check(o->Field(Variant(name), field.put()), "Field");
        check(field->SetValue(value), "SetValue");
    }
    template <class Object> static Variant get(Object& o, const Variant& nameOrIndex) {
        HostPtr<IFieldDisp> field;
        check(o->Field(nameOrIndex, field.put()), "Field");
        Variant value;
        check(field->Value(&value), "Value");
        return value;
    }
    template <class Object> static std::string nameOf(Object& o, std::int64_t index) {
        HostPtr<IFieldDisp> field;
        check(o->Field(Variant(index), field.put()), "Field");
        std::string name;
        check(field->Name(&name), "Name");
        return name;
    }
    static Variant packed(HostPtr<IPackerDisp>& packer) {
        check(packer->Finish(), "Finish");
        Variant data;
        check(packer->GetData(&data), "GetData");
        return data;
    }
    static std::int32_t count(HRESULT (MARLO_STDCALL IUnpackerDisp::*op)(std::int32_t*),
                              HostPtr<IUnpackerDisp>& u) {
        std::int32_t n = -1;
        check(((*u.get()).*op)(&n), "count");
        return n;
    }
    static bool eof(HostPtr<IUnpackerDisp>& u) {
        bool at = false;
        check(u->Eof(&at), "Eof");
        return at;
    }
};
