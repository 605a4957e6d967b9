#pragma once
// The module-wide objects of voucher printing over the module's life: the preview form is
// made when the module starts (it needs the application object); the driver, the page
// arguments and the automatic voucher are made on first use. All are freed when it stops.

void CreatePrintObjects();
void FreePrintObjects();
