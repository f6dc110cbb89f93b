#pragma once

#include "discovery/printer_search.hpp"

#include <QAbstractListModel>
#include <QtQml/qqmlregistration.h>

namespace ui {

// The Network section's "Find Printers": a search of the local network (DNS-SD and the port
// probe) whose printers fill the list as they are found: "address", "port", "name", "source",
// "title" (the name, or the address when there is none) and "detail" (ADDRESS:PORT · source,
// and a mark for an address outside this computer's networks). Names are shown escaped
// (escapedText): control characters never reach the view. "notice" holds the search's notices,
// one per line.
class PrinterFinder : public QAbstractListModel {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(bool searching READ searching NOTIFY searchingChanged)
    Q_PROPERTY(int tried READ tried NOTIFY progressChanged)
    Q_PROPERTY(int total READ total NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)

public:
    enum Role {
        addressRole = Qt::UserRole + 1,
        portRole,
        nameRole,
        sourceRole,
        titleRole,
        detailRole
    };

    explicit PrinterFinder(QObject* parent = nullptr);

    int count() const { return static_cast<int>(search_.printers().size()); }
    bool searching() const { return search_.running(); }
    int tried() const { return search_.tried(); }
    int total() const { return search_.total(); }
    QString progressText() const;
    QString notice() const { return notice_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // What a search looks at; the window uses the defaults (port 9100, the directly connected
    // networks, DNS-SD on).
    void setOptions(const discovery::SearchOptions& options) { options_ = options; }
    const discovery::FoundPrinter* printerAt(int row) const;

    Q_INVOKABLE void start();
    Q_INVOKABLE void cancel();

signals:
    void countChanged();
    void searchingChanged();
    void progressChanged();
    void noticeChanged();
    void finished();

private:
    void addNotice(const QString& text);

    discovery::PrinterSearch search_;
    discovery::SearchOptions options_;
    QString notice_;
};

} // namespace ui
