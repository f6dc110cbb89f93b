#include "ui/printer_finder.hpp"

#include "discovery/escaped_text.hpp"

namespace ui {

PrinterFinder::PrinterFinder(QObject* parent) : QAbstractListModel(parent) {
    connect(&search_, &discovery::PrinterSearch::printerAdded, this, [this](int row) {
        // The search appends: the new row is always the last one.
        beginInsertRows({}, row, row);
        endInsertRows();
        emit countChanged();
    });
    connect(&search_, &discovery::PrinterSearch::printerChanged, this,
            [this](int row) { emit dataChanged(index(row), index(row)); });
    connect(&search_, &discovery::PrinterSearch::progress, this, &PrinterFinder::progressChanged);
    connect(&search_, &discovery::PrinterSearch::runningChanged, this,
            &PrinterFinder::searchingChanged);
    connect(&search_, &discovery::PrinterSearch::finished, this, &PrinterFinder::finished);
    connect(&search_, &discovery::PrinterSearch::notice, this, [this](const QString& text) {
        notice_ = text;
        emit noticeChanged();
    });
}

QString PrinterFinder::progressText() const {
    if (!searching()) {
        return {};
    }
    if (total() == 0 || tried() == total()) {
        return QStringLiteral("Looking for printers…");
    }
    return QStringLiteral("Probing %1 of %2 addresses…").arg(tried()).arg(total());
}

void PrinterFinder::start() {
    beginResetModel();
    search_.start(options_);
    endResetModel();
    emit countChanged();
    emit progressChanged();
    if (!notice_.isEmpty()) {
        notice_.clear();
        emit noticeChanged();
    }
}

void PrinterFinder::cancel() {
    search_.cancel();
    emit progressChanged();
}

const discovery::FoundPrinter* PrinterFinder::printerAt(int row) const {
    const auto& printers = search_.printers();
    return row >= 0 && row < count() ? &printers[static_cast<std::size_t>(row)] : nullptr;
}

int PrinterFinder::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant PrinterFinder::data(const QModelIndex& index, int role) const {
    const auto* printer = printerAt(index.row());
    if (!printer) {
        return {};
    }
    switch (role) {
    case addressRole:
        return printer->address.toString();
    case portRole:
        return printer->port;
    case nameRole:
        return discovery::escapedText(printer->name);
    case sourceRole:
        return printer->sourceText();
    case titleRole:
        return printer->name.isEmpty() ? printer->address.toString()
                                       : discovery::escapedText(printer->name);
    case detailRole:
        return printer->endpoint() + QStringLiteral(" · ") + printer->sourceText();
    default:
        return {};
    }
}

QHash<int, QByteArray> PrinterFinder::roleNames() const {
    return {{addressRole, "address"}, {portRole, "port"},   {nameRole, "name"},
            {sourceRole, "source"},   {titleRole, "title"}, {detailRole, "detail"}};
}

} // namespace ui
