#include "PrinterPort.h"

#include "MessageDialogs.h"
#include "PrintErrors.h"

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#include <winspool.h>
#else
#include <linux/lp.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

constexpr std::uint8_t timeOutBit = 0x01;
constexpr std::uint8_t ioErrorBit = 0x08;
constexpr std::uint8_t selectedBit = 0x10;
constexpr std::uint8_t paperOutBit = 0x20;
constexpr std::uint8_t ackBit = 0x40;
constexpr std::uint8_t notBusyBit = 0x80;

// How long a byte may wait for the device before the port reports a time-out.
constexpr auto byteWait = std::chrono::seconds(1);

#if !defined(_WIN32)
// A printer device file. The parallel port's status register and the printer class's
// port status share one layout; the register's nError (bit 3) and nAck (bit 6) are active
// low and come out inverted in the status byte, as the PC printer service gives them.
// Writes do not block: a byte the device does not take within a second is a time-out.
class TDevicePort final : public TPrinterPort {
public:
    enum class Kind { ParallelPort, LineDevice, UsbPrinter };

    TDevicePort(int fd, Kind kind) : fd_(fd), kind_(kind) {}
    ~TDevicePort() override {
        if (kind_ == Kind::ParallelPort)
            ioctl(fd_, PPRELEASE);
        close(fd_);
    }
    TDevicePort(const TDevicePort&) = delete;
    TDevicePort& operator=(const TDevicePort&) = delete;

    std::uint8_t Status() override {
        std::uint8_t status = 0;
        if (kind_ == Kind::ParallelPort) {
            unsigned char reg = 0;
            if (ioctl(fd_, PPRSTATUS, &reg) == 0)
                status = StatusOfParallelPort(reg);
            else
                status = ioErrorBit;
        } else {
            int reg = 0;
            if (ioctl(fd_, LPGETSTATUS, &reg) != 0) {
                status = ioErrorBit;
            } else if (kind_ == Kind::LineDevice) {
                status = StatusOfParallelPort(static_cast<std::uint8_t>(reg));
            } else {
                status = StatusOfUsbPrinter(static_cast<std::uint8_t>(reg));
            }
        }
        status |= pending_;
        pending_ = 0;
        return status;
    }

    bool Print(std::uint8_t byte) override {
        const auto deadline = std::chrono::steady_clock::now() + byteWait;
        for (;;) {
            const ssize_t n = write(fd_, &byte, 1);
            if (n == 1)
                return true;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                pending_ = ioErrorBit;
                return false;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                pending_ = timeOutBit;
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        }
    }

private:
    int fd_;
    Kind kind_;
    // A failure of the last byte, reported by the next status.
    std::uint8_t pending_ = 0;
};

#endif

// A file standing for the port: a plain file or a device that is no printer (/dev/null).
// It is always ready and takes the bytes at its end, so that the raw bytes a printer would
// get can be captured; a byte it cannot write is an I/O error of the next status.
class TFilePort final : public TPrinterPort {
public:
    explicit TFilePort(int fd) : fd_(fd) {}
    ~TFilePort() override { close(fd_); }
    TFilePort(const TFilePort&) = delete;
    TFilePort& operator=(const TFilePort&) = delete;

    std::uint8_t Status() override {
        const std::uint8_t status = notBusyBit | selectedBit | pending_;
        pending_ = 0;
        return status;
    }

    bool Print(std::uint8_t byte) override {
        for (;;) {
            const ssize_t n = write(fd_, &byte, 1);
            if (n == 1)
                return true;
            if (n < 0 && errno == EINTR)
                continue;
            pending_ = ioErrorBit;
            return false;
        }
    }

private:
    int fd_;
    std::uint8_t pending_ = 0;
};

#if defined(_WIN32)
// A printer of the spooler, fed raw: the bytes go to the printer as they are, past its
// driver, as they would down the cable. The job ends when the port closes. The spooler
// takes every byte at once, so the port is ready unless a write failed.
class TSpoolerPort final : public TPrinterPort {
public:
    explicit TSpoolerPort(HANDLE printer) : printer_(printer) {}
    ~TSpoolerPort() override {
        EndPagePrinter(printer_);
        EndDocPrinter(printer_);
        ClosePrinter(printer_);
    }
    TSpoolerPort(const TSpoolerPort&) = delete;
    TSpoolerPort& operator=(const TSpoolerPort&) = delete;

    std::uint8_t Status() override {
        const std::uint8_t status = notBusyBit | selectedBit | pending_;
        pending_ = 0;
        return status;
    }

    bool Print(std::uint8_t byte) override {
        DWORD written = 0;
        if (WritePrinter(printer_, &byte, 1, &written) && written == 1)
            return true;
        pending_ = ioErrorBit;
        return false;
    }

private:
    HANDLE printer_;
    std::uint8_t pending_ = 0;
};

// The system's error of the last call, as the error numbers the operator's words know.
int lastErrorNumber() {
    switch (GetLastError()) {
    case ERROR_INVALID_PRINTER_NAME:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_PRINTER_ALREADY_EXISTS:
        return EBUSY;
    default:
        return EIO;
    }
}

std::unique_ptr<TPrinterPort> openDevice(const std::string& device, TPortError& error) {
    // A name with a drive ("C:\\capture.prn") is a capture file, made when it is not there
    // yet; any other name is a printer of the spooler.
    const bool captureFile = device.size() >= 2 && device[1] == ':';
    if (captureFile) {
        const int fd =
            _open(device.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (fd < 0) {
            error = {device, "open", errno};
            return nullptr;
        }
        return std::make_unique<TFilePort>(fd);
    }
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(device.c_str()), &printer, nullptr)) {
        error = {device, "OpenPrinter", lastErrorNumber()};
        return nullptr;
    }
    DOC_INFO_1A doc{};
    doc.pDocName = const_cast<char*>("voucher");
    doc.pDatatype = const_cast<char*>("RAW");
    if (StartDocPrinterA(printer, 1, reinterpret_cast<BYTE*>(&doc)) == 0) {
        error = {device, "StartDocPrinter", lastErrorNumber()};
        ClosePrinter(printer);
        return nullptr;
    }
    if (!StartPagePrinter(printer)) {
        error = {device, "StartPagePrinter", lastErrorNumber()};
        EndDocPrinter(printer);
        ClosePrinter(printer);
        return nullptr;
    }
    return std::make_unique<TSpoolerPort>(printer);
}
#else
std::unique_ptr<TPrinterPort> openDevice(const std::string& device, TPortError& error) {
    const bool parallel = device.rfind("/dev/parport", 0) == 0;
    // Outside /dev a name is a capture file, made when it is not there yet.
    const bool captureFile = device.rfind("/dev/", 0) != 0;
    const int fd = captureFile
                       ? open(device.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)
                       : open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = {device, "open", errno};
        return nullptr;
    }
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        fcntl(fd, F_SETFL, O_APPEND);
        return std::make_unique<TFilePort>(fd);
    }
    if (parallel) {
        int mode = IEEE1284_MODE_COMPAT;
        if (ioctl(fd, PPCLAIM) != 0 || ioctl(fd, PPSETMODE, &mode) != 0) {
            error = {device, "claim", errno};
            close(fd);
            return nullptr;
        }
        return std::make_unique<TDevicePort>(fd, TDevicePort::Kind::ParallelPort);
    }
    int status = 0;
    if (ioctl(fd, LPGETSTATUS, &status) != 0 && errno == ENOTTY) {
        // A device without a printer's status (/dev/null): bytes go to it as to a file.
        fcntl(fd, F_SETFL, 0);
        return std::make_unique<TFilePort>(fd);
    }
    const bool usb = device.rfind("/dev/usb/", 0) == 0;
    return std::make_unique<TDevicePort>(fd, usb ? TDevicePort::Kind::UsbPrinter
                                                 : TDevicePort::Kind::LineDevice);
}

#endif

TPortOpener& opener() {
    static TPortOpener o;
    return o;
}

TPrinterPort*& activePort() {
    static TPrinterPort* port = nullptr;
    return port;
}

TPrinterPort& port() {
    if (activePort() == nullptr)
        throw EInOutError("打印机端口没有打开");
    return *activePort();
}

std::string hex2(std::uint8_t status) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", status);
    return text;
}

// The not-ready question: OK gives back to the caller, Cancel raises a silent abort
// carrying the status message.
void askRetry(const std::string& message) {
    const auto answer = MessageDialogs::current().show(
        MessageDialogs::Kind::Warning, QString::fromStdString(message + "\r\n继续重试？"),
        MessageDialogs::Buttons::OkCancel);
    if (answer != MessageDialogs::Answer::Ok)
        throw EAbort(message);
}

} // namespace

std::string TPortError::OperatorText() const {
    std::string reason;
    switch (code) {
    case ENOENT:
    case ENOTDIR:
        reason = "没有这个设备";
        break;
    case EACCES:
    case EPERM:
        reason = "没有使用这个设备的权限";
        break;
    case EBUSY:
        reason = "设备正被其他程序占用";
        break;
    case ENODEV:
    case ENXIO:
        reason = "设备没有连接";
        break;
    default:
        reason = "系统不能打开这个设备";
        break;
    }
    return "无法打开打印机端口 " + device + "：" + reason + "。";
}

std::string TPortError::SystemText() const {
    return operation + " " + device + ": " + std::strerror(code);
}

std::unique_ptr<TPrinterPort> OpenPrinterPort(const std::string& device, TPortError& error) {
    return opener() ? opener()(device, error) : openDevice(device, error);
}

void SetPortOpener(TPortOpener o) {
    opener() = std::move(o);
}

void SetActivePort(TPrinterPort* p) {
    activePort() = p;
}

std::uint8_t StatusOfParallelPort(std::uint8_t statusRegister) {
    return static_cast<std::uint8_t>((statusRegister & 0xF8) ^ (ioErrorBit | ackBit));
}

std::uint8_t StatusOfUsbPrinter(std::uint8_t portStatus) {
    // The printer class reports paper empty, select and not-error only; a device that
    // answers is not busy.
    return static_cast<std::uint8_t>(((portStatus & 0x38) ^ ioErrorBit) | notBusyBit);
}

std::string PortStatusMessage(std::uint8_t status) {
    const bool timeOut = status & timeOutBit;
    const bool ioError = status & ioErrorBit;
    const bool selected = status & selectedBit;
    const bool paperOut = status & paperOutBit;
    if (timeOut)
        return "打印机超时！（" + hex2(status) + "）";
    if (selected && paperOut && ioError)
        return "打印机缺纸！（" + hex2(status) + "）";
    if ((selected && paperOut) || ioError)
        return "打印机没有联机！（" + hex2(status) + "）";
    return {};
}

bool PrinterReady() {
    TPrinterPort& p = port();
    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
    std::string message;
    for (;;) {
        std::uint8_t status = p.Status();
        // Busy while acknowledging: the byte before is still being taken.
        while (!(status & notBusyBit) && (status & ackBit) && elapsed() <= std::chrono::seconds(1))
            status = p.Status();
        message = PortStatusMessage(status);
        if (message.empty())
            return true;
        if (elapsed() > std::chrono::seconds(1))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    askRetry(message);
    return false;
}

void PortWriteChar(std::uint8_t byte) {
    for (;;) {
        while (!PrinterReady()) {
        }
        if (port().Print(byte))
            return;
        // The printer said it was ready and did not take the byte. The port tells why only
        // in the next status, and a poll a moment later may well say "ready" again: asking
        // here keeps the operator's way out, where offering the byte again could go on for
        // ever.
        std::string message = PortStatusMessage(port().Status());
        if (message.empty())
            message = PortStatusMessage(timeOutBit);
        askRetry(message);
    }
}

void PortWrite(const std::string& bytes) {
    for (char c : bytes)
        PortWriteChar(static_cast<std::uint8_t>(c));
}

void PortWriteLine(const std::string& bytes) {
    PortWrite(bytes + "\r\n");
}
