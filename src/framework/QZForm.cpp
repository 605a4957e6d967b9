#include "QZForm.h"

TRCommonInfo& CommonInfo() {
    static TRCommonInfo info;
    return info;
}
