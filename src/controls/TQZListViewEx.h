#pragma once
// The list view of the query forms: a table over reply packets. Each column is named by
// its caption, the reply field it shows; SetData appends a reply's records as rows. A
// column can show dictionary captions. Scrolling or keying past the last row asks for the
// next page (OnGetNewPage).

#include "CLIENTUILib_TLB.h"
#include "HostPtr.h"
#include "Variant.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;

// The rows of the list: every field of each record, the field names kept once per page.
class TListViewModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TListViewModel(QObject* parent = nullptr);

    void setColumns(const QStringList& captions, const std::vector<int>& widths);
    // Appends the records of the packet; the number of rows added.
    int append(const Variant& packet);
    void clear();
    // The value of that field in that row's record; empty when the record has no such field.
    Variant masterData(int row, const std::string& field) const;
    void setTranslate(int column, bool on);
    void setDictionary(IEntry* dictionary);
    // The dictionary of the host that gives a field name its caption in words.
    static constexpr const char* fieldNameDictionary = "field_name";
    // The header of a column: the dictionary's caption of its field name, else the name.
    QString headerCaption(int column) const;
    // Whether the operator scrolling past the end asks for more.
    void setMoreWanted(bool on) { moreWanted_ = on; }
    bool moreWanted() const { return moreWanted_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

    std::function<void()> needMore;

private:
    struct Page {
        std::vector<std::string> fields;
        std::vector<int> columnField; // per column: the index in fields, or -1
    };
    struct Row {
        std::uint32_t page;
        std::vector<Variant> values;
    };
    QString display(int row, int column) const;

    QStringList captions_;
    std::vector<bool> translate_;
    std::vector<Page> pages_;
    std::vector<Row> rows_;
    HostPtr<IEntry> dictionary_;
    bool moreWanted_ = true;
};

class TQZListViewEx : public QTableView {
    Q_OBJECT
public:
    explicit TQZListViewEx(QWidget* parent = nullptr);

    // (Sender, two ignored arguments): the next page is wanted.
    std::function<void(QObject* sender, int, int)> OnGetNewPage;

    void setColumns(const QStringList& captions, const std::vector<int>& widths);
    // Appends the reply packet's records after row `startRow` (the rows shown so far).
    void SetData(int startRow, int, int, int, int, const Variant& packet, const QString&);
    void SetTranslateFields(int column, bool on);
    Variant GetMasterData(int row, const std::string& field) const;
    void setDictionary(IEntry* dictionary);
    void Clear();

    int rowCount() const;
    int columnCount() const;
    int ItemIndex() const;
    void setItemIndex(int row);
    void setTotalCaption(const QString& caption);
    // The line below the table that shows the total; the form places it. Without one the
    // total is only counted.
    void setTotalBar(QLabel* bar);
    // Whether keying or scrolling past the last row asks for the next page; the form turns
    // it off at the list's end (a short page), and Clear turns it on again.
    void setMoreWanted(bool on);
    bool moreWanted() const;
    QString totalText() const;
    QWidget* totalBar() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void updateGeometries() override;

private:
    void askForMore();
    void showFocus(bool focused);
    // Runs the operator's key or click; a page wanted meanwhile is fetched afterwards.
    void operatorMove(const std::function<void()>& move);
    // The total's text in its bar; nothing is laid out again for it.
    void updateTotal();

    TListViewModel* model_;
    QLabel* total_ = nullptr;
    QString totalCaption_;
    bool asking_ = false;
    bool moving_ = false;
    bool wanted_ = false;
};
