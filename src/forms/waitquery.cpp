#include "waitquery.h"

#include "ui_waitquery.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QPointer>

namespace {

QPointer<TfrmWaitQuery>& popup() {
    static QPointer<TfrmWaitQuery> p;
    return p;
}

// "楷体_GB2312", or the first font here that shows Chinese.
QFont captionFont() {
    QFont font;
    const QStringList families = QFontDatabase::families();
    for (const QString& f :
         {QStringLiteral("楷体_GB2312"), QStringLiteral("KaiTi"), QStringLiteral("AR PL UKai CN"),
          QStringLiteral("WenQuanYi Micro Hei")}) {
        if (families.contains(f)) {
            font.setFamily(f);
            break;
        }
    }
    if (font.family().isEmpty() || !families.contains(font.family())) {
        for (const QString& f : families) {
            if (QFontDatabase::writingSystems(f).contains(QFontDatabase::SimplifiedChinese)) {
                font.setFamily(f);
                break;
            }
        }
    }
    font.setPixelSize(24);
    font.setBold(true);
    return font;
}

void colour(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(role, c);
    w->setPalette(p);
}

} // namespace

TfrmWaitQuery::TfrmWaitQuery() : ui_(std::make_unique<Ui::TfrmWaitQuery>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    const QFont font = captionFont();
    ui_->Label1->setFont(font);
    ui_->Label2->setFont(font);
    ui_->Label2->raise(); // the front label over its shadow
}

TfrmWaitQuery::~TfrmWaitQuery() = default;

void TfrmWaitQuery::setText(const QString& text) {
    ui_->Label1->setText(text);
    ui_->Label2->setText(text);
    setWindowTitle(text);
}

void TfrmWaitQuery::showEvent(QShowEvent* event) {
    FormShow();
    QWidget::showEvent(event);
}

void TfrmWaitQuery::FormShow() {
    // A missing or bad animation only leaves the popup without it.
    if (ui_->Animate1->setFileName(
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Wait.avi"))))
        ui_->Animate1->setActive(true);
    if (style_ == 2) {
        colour(ui_->Label1, QPalette::WindowText, Qt::black);
        colour(ui_->Label2, QPalette::WindowText, QColor(128, 0, 0));
        colour(this, QPalette::Window, QColor(0, 128, 128));
    } else {
        colour(ui_->Label1, QPalette::WindowText, Qt::white);
        colour(ui_->Label2, QPalette::WindowText, QColor(0, 0, 255));
        colour(this, QPalette::Window, QApplication::palette().color(QPalette::Button));
    }
}

TfrmWaitQuery* WaitQuery() {
    return popup();
}

void ShowWaitQuery(const QString& text, int style) {
    CloseWaitQuery();
    auto* p = new TfrmWaitQuery;
    popup() = p;
    p->setText(text);
    p->setStyle(style);
    if (QWidget* host = QApplication::activeWindow())
        p->move(host->geometry().center() - p->rect().center());
    p->show();
    p->repaint(); // painted at once: the query that follows blocks the event loop
}

void CloseWaitQuery() {
    delete popup().data();
    popup() = nullptr;
}

WaitQueryGuard::WaitQueryGuard(const QString& text) {
    ShowWaitQuery(text, 1);
}

WaitQueryGuard::~WaitQueryGuard() {
    CloseWaitQuery();
}
