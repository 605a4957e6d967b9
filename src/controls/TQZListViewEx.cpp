#include "TQZListViewEx.h"

#include "BIZ1PACKETLib_TLB.h"
#include "EventBarrier.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QSignalBlocker>

#include <utility>

TListViewModel::TListViewModel(QObject* parent) : QAbstractTableModel(parent) {}

void TListViewModel::setColumns(const QStringList& captions, const std::vector<int>&) {
    beginResetModel();
    captions_ = captions;
    translate_.assign(static_cast<std::size_t>(captions.size()), false);
    pages_.clear();
    rows_.clear();
    endResetModel();
}

int TListViewModel::append(const Variant& packet) {
    auto reader = createHostObject<IUnpackerDisp>(CLSID_Unpacker, "new host unpacker");
    check(reader->Open(packet), "Open");
    std::int32_t fields = 0;
    std::int32_t records = 0;
    check(reader->FieldCount(&fields), "FieldCount");
    check(reader->RecordCount(&records), "RecordCount");
    if (records <= 0)
        return 0;
    Page page;
    std::vector<HostPtr<IFieldDisp>> fieldObjects;
    for (std::int32_t f = 0; f < fields; ++f) {
        HostPtr<IFieldDisp> field;
        check(reader->Field(Variant(std::int64_t{f}), field.put()), "Field");
        std::string name;
        check(field->Name(&name), "Name");
        page.fields.push_back(std::move(name));
        fieldObjects.push_back(std::move(field));
    }
    for (const QString& caption : captions_) {
        const auto it = std::find(page.fields.begin(), page.fields.end(), caption.toStdString());
        page.columnField.push_back(
            it == page.fields.end() ? -1 : static_cast<int>(it - page.fields.begin()));
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + records - 1);
    pages_.push_back(std::move(page));
    const auto pageIndex = static_cast<std::uint32_t>(pages_.size() - 1);
    bool eof = false;
    for (check(reader->First(), "First"); hr::succeeded(reader->Eof(&eof)) && !eof;
         check(reader->Next(), "Next")) {
        Row row{pageIndex, {}};
        row.values.resize(fieldObjects.size());
        for (std::size_t f = 0; f < fieldObjects.size(); ++f)
            check(fieldObjects[f]->Value(&row.values[f]), "Value");
        rows_.push_back(std::move(row));
    }
    endInsertRows();
    return records;
}

void TListViewModel::clear() {
    beginResetModel();
    pages_.clear();
    rows_.clear();
    endResetModel();
}

Variant TListViewModel::masterData(int row, const std::string& field) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return {};
    const Row& r = rows_[static_cast<std::size_t>(row)];
    const Page& page = pages_[r.page];
    for (std::size_t f = 0; f < page.fields.size(); ++f) {
        if (page.fields[f] == field)
            return r.values[f];
    }
    return {};
}

void TListViewModel::setTranslate(int column, bool on) {
    if (column < 0 || column >= static_cast<int>(translate_.size()))
        return;
    translate_[static_cast<std::size_t>(column)] = on;
    if (!rows_.empty())
        emit dataChanged(index(0, column), index(rowCount() - 1, column));
}

void TListViewModel::setDictionary(IEntry* dictionary) {
    dictionary_ = HostPtr<IEntry>(dictionary);
    if (!captions_.isEmpty())
        emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(captions_.size()) - 1);
}

QString TListViewModel::headerCaption(int column) const {
    const QString name = captions_.at(column);
    std::string caption;
    if (dictionary_ &&
        hr::succeeded(
            dictionary_->Caption(fieldNameDictionary, name.toStdString().c_str(), &caption)) &&
        !caption.empty())
        return QString::fromStdString(caption);
    return name;
}

int TListViewModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TListViewModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QString TListViewModel::display(int row, int column) const {
    const Row& r = rows_[static_cast<std::size_t>(row)];
    const int field = pages_[r.page].columnField[static_cast<std::size_t>(column)];
    if (field < 0)
        return {};
    const Variant& value = r.values[static_cast<std::size_t>(field)];
    std::string text = value.kind() == Variant::Kind::Real
                           ? QString::number(value.real(), 'f', 2).toStdString()
                           : value.toText();
    if (translate_[static_cast<std::size_t>(column)] && dictionary_) {
        // A column shows the dictionary's caption where the dictionary has one.
        const std::string name = captions_.at(column).toStdString();
        HostPtr<IUnknown> found;
        std::string caption;
        if (hr::succeeded(dictionary_->Find(name.c_str(), found.put())) && found &&
            hr::succeeded(dictionary_->Caption(name.c_str(), text.c_str(), &caption)) &&
            !caption.empty())
            text = caption;
    }
    return QString::fromStdString(text);
}

QVariant TListViewModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return display(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) {
        const Row& r = rows_[static_cast<std::size_t>(index.row())];
        const int field = pages_[r.page].columnField[static_cast<std::size_t>(index.column())];
        const bool number = field >= 0 && !translate_[static_cast<std::size_t>(index.column())] &&
                            r.values[static_cast<std::size_t>(field)].kind() != Variant::Kind::Text;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

QVariant TListViewModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    // The column stays bound to its field by the caption; the header shows the field's
    // caption in words where the host's dictionary has one.
    return section >= 0 && section < captions_.size() ? QVariant(headerCaption(section))
                                                      : QVariant();
}

bool TListViewModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && moreWanted_ && !rows_.empty();
}

void TListViewModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid() && needMore)
        needMore();
}

TQZListViewEx::TQZListViewEx(QWidget* parent)
    : QTableView(parent), model_(new TListViewModel(this)) {
    setModel(model_);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    // Fixed row heights: nothing is measured over all rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(true);
    model_->needMore = [this] { askForMore(); };
    showFocus(false);
}

void TQZListViewEx::setColumns(const QStringList& captions, const std::vector<int>& widths) {
    model_->setColumns(captions, widths);
    for (std::size_t c = 0; c < widths.size(); ++c)
        setColumnWidth(static_cast<int>(c), widths[c]);
    updateTotal();
}

void TQZListViewEx::SetData(int, int, int, int, int, const Variant& packet, const QString&) {
    // Rows always go after the rows shown: the start row the forms pass is that count. A
    // page without rows is the end of the list: scrolling asks for no more until it is
    // filled again.
    if (model_->append(packet) == 0)
        model_->setMoreWanted(false);
    updateTotal();
}

void TQZListViewEx::SetTranslateFields(int column, bool on) {
    model_->setTranslate(column, on);
}

Variant TQZListViewEx::GetMasterData(int row, const std::string& field) const {
    return model_->masterData(row, field);
}

void TQZListViewEx::setDictionary(IEntry* dictionary) {
    model_->setDictionary(dictionary);
}

void TQZListViewEx::Clear() {
    model_->clear();
    model_->setMoreWanted(true);
    verticalScrollBar()->setValue(0); // a list filled again starts at its top
    updateTotal();
}

int TQZListViewEx::rowCount() const {
    return model_->rowCount();
}
int TQZListViewEx::columnCount() const {
    return model_->columnCount();
}
int TQZListViewEx::ItemIndex() const {
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void TQZListViewEx::setItemIndex(int row) {
    // Selecting a row does not scroll the view away from where the operator reads (and so
    // asks for no page either): the view hears nothing of the change but a repaint.
    {
        const QSignalBlocker quiet(selectionModel());
        selectionModel()->setCurrentIndex(
            model_->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    viewport()->update();
}

void TQZListViewEx::setMoreWanted(bool on) {
    model_->setMoreWanted(on);
}

bool TQZListViewEx::moreWanted() const {
    return model_->moreWanted();
}

void TQZListViewEx::setTotalCaption(const QString& caption) {
    totalCaption_ = caption;
    updateTotal();
}

void TQZListViewEx::setTotalBar(QLabel* bar) {
    total_ = bar;
    updateTotal();
}

QString TQZListViewEx::totalText() const {
    return QStringLiteral("%1：%2 条").arg(totalCaption_).arg(model_->rowCount());
}
QWidget* TQZListViewEx::totalBar() const {
    return total_;
}

void TQZListViewEx::updateTotal() {
    // The bar lies outside the table: the table lays out its rows and their numbers itself,
    // once per turn of the event loop however many pages came, and never under the bar.
    if (!total_)
        return;
    total_->setText(totalText());
    total_->setVisible(!totalCaption_.isEmpty());
}

void TQZListViewEx::updateGeometries() {
    QTableView::updateGeometries();
    // The row numbers are drawn afresh with the rows' new places: pages added while the
    // operator scrolls left them drawn where the rows had been.
    verticalHeader()->viewport()->update();
}

void TQZListViewEx::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    showFocus(true);
}

void TQZListViewEx::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    showFocus(false);
}

void TQZListViewEx::showFocus(bool focused) {
    // The selected row is the highlight colour while the list has the focus, and a grey one
    // with plain text while the focus is elsewhere.
    const QPalette base = QApplication::palette(this);
    QPalette p = palette();
    p.setColor(QPalette::Highlight, focused ? base.color(QPalette::Highlight)
                                            : base.color(QPalette::Button).darker(125));
    p.setColor(QPalette::HighlightedText,
               focused ? base.color(QPalette::HighlightedText) : base.color(QPalette::Text));
    setPalette(p);
}

void TQZListViewEx::askForMore() {
    if (moving_) {
        wanted_ = true; // once the operator's move is done
        return;
    }
    if (asking_)
        return;
    asking_ = true;
    EventBarrier::run([this] {
        if (OnGetNewPage)
            OnGetNewPage(this, 0, 0);
    });
    asking_ = false;
}

void TQZListViewEx::operatorMove(const std::function<void()>& move) {
    // The view asks for the next page as soon as a move shows the last row, in the middle
    // of the move; the page waits until the move is done. The form selects the first row
    // of every page it adds, but the operator goes on from the row the move reached, and
    // that row is both current and highlighted.
    moving_ = true;
    wanted_ = false;
    move();
    moving_ = false;
    if (!std::exchange(wanted_, false))
        return;
    const int row = ItemIndex();
    askForMore();
    if (row >= 0 && row < rowCount())
        setItemIndex(row);
}

void TQZListViewEx::keyPressEvent(QKeyEvent* event) {
    const bool down = event->key() == Qt::Key_Down || event->key() == Qt::Key_PageDown;
    if (down && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && rowCount() > 0 &&
        ItemIndex() == rowCount() - 1) {
        // Keying past the last row: the next page, and the operator goes on to its first row.
        // At the end of the list the last row stays current and highlighted, and nothing
        // is asked once the list knows it has no more.
        const int row = ItemIndex();
        if (model_->moreWanted())
            askForMore();
        const int next = row + 1 < rowCount() ? row + 1 : row;
        setItemIndex(next);
        updateGeometries(); // the scroll range of the new rows, before scrolling to one
        scrollTo(model_->index(next, 0));
        return;
    }
    operatorMove([&] { QTableView::keyPressEvent(event); });
}

void TQZListViewEx::mousePressEvent(QMouseEvent* event) {
    operatorMove([&] { QTableView::mousePressEvent(event); });
}
