#pragma once
// A print service of the test's own: a CUPS scheduler with its own configuration folder,
// listening on a loopback port and a socket of its own, started and stopped by the test.
// Its one queue prints into PDF files (cups-pdf), which the test reads back as text.

#include <QProcess>
#include <QSizeF>
#include <QString>
#include <QTemporaryDir>

#include <string>

class PrivateCups {
public:
    // Starts the scheduler; `error()` says why when it did not start.
    PrivateCups();
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    bool running() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }
    // The address clients use (CUPS_SERVER).
    QString server() const;

    // Adds the PDF queue as the default printer.
    bool AddPdfQueue();
    // Removes every queue.
    bool RemoveQueues();
    // The PDF queue refuses new jobs, with the reason given.
    bool RefuseJobs(const QString& reason);
    // The PDF queue takes jobs but holds them, with the reason given.
    bool StopQueue(const QString& reason);
    struct Pdf {
        QString text;
        // Points, as the page is seen (turned by its rotation).
        QSizeF pageSize;
    };
    // The PDF that the PDF queue wrote for a job whose title holds `title`, waiting for it
    // up to the time given; empty text when none came. The PDF is removed.
    Pdf TakePdf(const QString& title, int timeoutMs);

private:
    bool admin(const QStringList& arguments);
    bool runAdmin(const QString& program, const QStringList& arguments);

    QTemporaryDir dir_;
    QProcess cupsd_;
    QString error_;
    int port_ = 0;
};
