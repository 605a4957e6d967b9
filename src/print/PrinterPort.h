#pragma once
// The direct port: raw bytes to a local printer device, with the port status in the form
// of the PC printer service's status byte (bit 0 time-out, bit 3 I/O error, bit 4 selected,
// bit 5 paper out, bit 6 acknowledge, bit 7 not busy). The device stands behind a small
// seam so that tests script the status and read the bytes written.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TPrinterPort {
public:
    virtual ~TPrinterPort() = default;
    // The status byte.
    virtual std::uint8_t Status() = 0;
    // Prints one byte; false when the printer did not take it (the next status says why).
    virtual bool Print(std::uint8_t byte) = 0;
};

// The device of voucher printers on a USB cable.
inline constexpr char defaultPrinterDevice[] = "/dev/usb/lp0";

// Why a printer device did not open: the device, the system's call and its error number.
struct TPortError {
    std::string device;
    std::string operation;
    int code = 0;

    // The operator's words: which device, and why in words ("没有这个设备").
    std::string OperatorText() const;
    // The system's own words, for the details.
    std::string SystemText() const;
};

// Opens a printer device: a parallel port through ppdev (/dev/parport*) or a printer class
// device (/dev/usb/lp*, /dev/lp*). A plain file (made when missing, outside /dev) or a
// device without a printer's status (/dev/null) stands for the port: always ready, the
// bytes appended. Null, with `error` set, when it cannot be opened.
using TPortOpener =
    std::function<std::unique_ptr<TPrinterPort>(const std::string& device, TPortError& error)>;
std::unique_ptr<TPrinterPort> OpenPrinterPort(const std::string& device, TPortError& error);
// Replaces the way devices are opened (tests); null puts the real devices back.
void SetPortOpener(TPortOpener opener);

// The port the port routines write to; null when none is open.
void SetActivePort(TPrinterPort* port);

// Polls the port for up to one second; when it is still not ready, asks whether to retry:
// OK gives false, Cancel raises a silent abort with the status message.
bool PrinterReady();
void PortWriteChar(std::uint8_t byte);
void PortWrite(const std::string& bytes);
void PortWriteLine(const std::string& bytes);
// The status byte of a parallel port's status register (ppdev, the line printer driver).
std::uint8_t StatusOfParallelPort(std::uint8_t statusRegister);
// The status byte of a printer class device's port status (paper empty, select, not error).
std::uint8_t StatusOfUsbPrinter(std::uint8_t portStatus);
// The operator's message for a status byte; empty when the printer is ready.
std::string PortStatusMessage(std::uint8_t status);
