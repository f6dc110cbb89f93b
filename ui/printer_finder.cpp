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
    connect(&search_, &discovery::PrinterSearch::finished, this, [this] {
        const auto& late = search_.answeredLate();
        if (!late.empty()) {
            QStringList addresses;
            for (const auto& address : late) {
                addresses << address.toString();
            }
            addNotice(QStringLiteral("Answered too slowly to be listed: %1 (type the address "
                                     "above to connect)")
                          .arg(addresses.join(QStringLiteral(", "))));
        }
        emit finished();
    });
    connect(&search_, &discovery::PrinterSearch::notice, this, &PrinterFinder::addNotice);
}

void PrinterFinder::addNotice(const QString& text) {
    notice_ += (notice_.isEmpty() ? QString() : QStringLiteral("\n")) + text;
    emit noticeChanged();
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
    // Cleared first: the search may give its first notice while it starts.
    if (!notice_.isEmpty()) {
        notice_.clear();
        emit noticeChanged();
    }
    beginResetModel();
    search_.start(options_);
    endResetModel();
    emit countChanged();
    emit progressChanged();
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
        return printer->endpoint() + QStringLiteral(" · ") + printer->sourceText() +
               (printer->offSubnet ? QStringLiteral(" · not on this computer's networks")
                                   : QString());
    default:
        return {};
    }
}

QHash<int, QByteArray> PrinterFinder::roleNames() const {
    return {{addressRole, "address"}, {portRole, "port"},   {nameRole, "name"},
            {sourceRole, "source"},   {titleRole, "title"}, {detailRole, "detail"}};
}

} // namespace ui
