// marlo-voucher: the printer set-up tool. It shows the control codes that uservouc.ini
// gives, previews a voucher text and prints it as the preview's print button does.

#include "ClsPrint.h"
#include "ConsoleDialogs.h"
#include "Encoding.h"
#include "IniFile.h"
#include "ModuleLifecycle.h"
#include "Mshow.h"
#include "OutputFile.h"
#include "QZForm.h"
#include "QtChinese.h"
#include "SettingsCheck.h"
#include "Tools.h"
#include "YPrinter.h"
#include "ui_Mshow.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextEdit>

#include <cstdio>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string command;
    std::string file;
    std::string dir = ".";
    std::optional<std::string> out;
};

int usage() {
    std::cerr << "usage: marlo-voucher codes [--dir DIR]\n"
                 "       marlo-voucher preview FILE [--dir DIR]\n"
                 "       marlo-voucher print FILE [--dir DIR] [--out PATH]\n"
                 "DIR holds uservouc.ini (default: the current folder); --out answers the\n"
                 "file-name prompt of print method 2.\n";
    return 2;
}

std::optional<Options> parse(int argc, char** argv) {
    if (argc < 2)
        return std::nullopt;
    Options o;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--dir" || arg == "--out") && i + 1 < argc) {
            (arg == "--dir" ? o.dir : o.out.emplace()) = argv[++i];
        } else if (arg.rfind("--", 0) != 0 && o.file.empty()) {
            o.file = arg;
        } else {
            return std::nullopt;
        }
    }
    const bool needsFile = o.command == "preview" || o.command == "print";
    if (!needsFile && o.command != "codes")
        return std::nullopt;
    if (needsFile == o.file.empty() || (o.out && o.command != "print"))
        return std::nullopt;
    return o;
}

std::string withSeparator(const std::string& dir) {
    return !dir.empty() && dir.back() == '/' ? dir : dir + "/";
}

void printCode(const char* name, const std::string& bytes) {
    std::cout << name << ':';
    for (char c : bytes)
        std::cout << ' ' << static_cast<unsigned>(static_cast<unsigned char>(c));
    std::cout << '\n';
}

// What the file gives: its name, or that there is none and the defaults apply; then every
// finding of the check on the standard error.
void tellSettings(const std::string& dir, const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.exists()) {
        const bool folder = QFileInfo(QString::fromStdString(dir)).isDir();
        std::cout << "settings: no uservouc.ini in " << dir << (folder ? "" : " (no such folder)")
                  << "; the defaults apply\n";
        return;
    }
    std::cout << "settings: " << path << std::endl;
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    for (const std::string& finding : CheckVoucherSettings(
             std::string_view(bytes.data(), static_cast<std::size_t>(bytes.size()))))
        std::cerr << "warning: uservouc.ini " << finding << '\n';
}

int codes(const Options& o) {
    const std::string path = withSeparator(o.dir) + "uservouc.ini";
    tellSettings(o.dir, path);
    const TPrnCtrl ctrl{TIniFile(path)};
    std::cout << "type: " << ctrl.printType << '\n' << "typecode: " << ctrl.typeCode << '\n';
    printCode("init", ctrl.initCode);
    printCode("autolink", ctrl.autoLinkCode);
    printCode("doublesize", ctrl.doubleSizeCode);
    printCode("resetsize", ctrl.resetSizeCode);
    printCode("cut", ctrl.cutCode);
    printCode("pagelength", ctrl.pageLengthCmd);
    printCode("pageend", ctrl.pageEndCmd);
    printCode("leftmargin", ctrl.leftMarginCmd);
    // These codes are what the settings give the automatic voucher; print never sends them.
    std::cout << "note: print does not send these codes. Straight to the device (PrintMethod=1)\n"
                 "      it sends the driver's EPSON init code 27 64 28 38 whatever PRINTTYPE\n"
                 "      says; the system printer (0) and a file (2) get the text only.\n";
    return 0;
}

QString voucherText(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(path + ": " + file.errorString().toStdString());
    const QByteArray bytes = file.readAll();
    return QString::fromStdString(DecodeTextFile(std::string_view(bytes.data(), bytes.size())));
}

// The module's life for the length of the run, as a host gives it.
class ModuleRun {
public:
    explicit ModuleRun(const std::string& dir) {
        ModuleLifecycle::instance().init(nullptr);
        CommonInfo().currentDir = withSeparator(dir);
    }
    ~ModuleRun() { ModuleLifecycle::instance().uninit(); }
    ModuleRun(const ModuleRun&) = delete;
    ModuleRun& operator=(const ModuleRun&) = delete;
};

int preview(const Options& o) {
    const QString text = voucherText(o.file);
    const ModuleRun run(o.dir);
    frmShow()->ui().rtfShow->setPlainText(text);
    frmShow()->exec();
    return 0;
}

int print(const Options& o) {
    const QString text = voucherText(o.file);
    auto owned = std::make_unique<ConsoleDialogs>(
        o.out ? std::optional<QString>(QString::fromStdString(*o.out)) : std::nullopt);
    ConsoleDialogs& dialogs = *owned;
    MessageDialogs::install(std::move(owned));
    SetOutputFilePrompt([&dialogs](const QString& caption, const QString& prompt, QString& name) {
        return dialogs.inputQuery(caption, prompt, name);
    });
    const ModuleRun run(o.dir);
    frmShow()->ui().rtfShow->setPlainText(text);
    // A print that ends its document has printed; one that stopped quietly before (a
    // question answered No, no file name, no printer) has not.
    bool ended = false;
    GetYPrinter().OnEndDoc = [&ended](TYPrinter&) { ended = true; };
    frmShow()->btnPrintClick();
    if (!ended) {
        const std::string& reason = dialogs.StopReason();
        std::cerr << "marlo-voucher: nothing was printed"
                  << (reason.empty() ? std::string() : ": " + reason) << '\n';
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options)
        return usage();
    try {
        if (options->command == "codes")
            return codes(*options);
        // Printing needs no screen: without one the toolkit draws offscreen.
        if (options->command == "print" && qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        QApplication::setApplicationDisplayName(QStringLiteral("marlo-voucher"));
        LoadQtChinese(app);
        return options->command == "preview" ? preview(*options) : print(*options);
    } catch (const EDetailedError& e) {
        // The module's words, then the system's on a line of their own.
        std::cerr << "marlo-voucher: " << e.what() << '\n';
        if (!e.detail().empty())
            std::cerr << "details: " << e.detail() << '\n';
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "marlo-voucher: " << e.what() << '\n';
        return 1;
    }
}
