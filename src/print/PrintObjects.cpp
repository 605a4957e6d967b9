#include "PrintObjects.h"

#include "Autoprt.h"
#include "Mshow.h"
#include "PageArgS.h"
#include "YPrinter.h"

void CreatePrintObjects() {
    CreatePreviewForm();
}

void FreePrintObjects() {
    FreePreviewForm();
    FreeAutoPrt();
    FreePageArg();
    FreeYPrinter();
}
