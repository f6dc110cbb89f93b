#pragma once

#include <QFlags>
#include <QHostAddress>
#include <QString>

#include <optional>
#include <vector>

namespace discovery {

// Where a printer was seen.
enum class Source { mdns = 1, probe = 2 };
Q_DECLARE_FLAGS(Sources, Source)

struct FoundPrinter {
    QHostAddress address; // IPv4
    quint16 port = 0;
    QString name; // the DNS-SD service name; empty when only the probe saw it
    Sources sources;
    // Outside every network this computer is directly connected to: announced with an address
    // only a router could reach, if anything can.
    bool offSubnet = false;

    QString endpoint() const;   // "10.0.0.7:9100"
    QString sourceText() const; // "mdns", "probe" or "mdns,probe"
};

// The printers found so far, one per address and port, in the order first seen.
class FoundPrinters {
public:
    struct Change {
        std::size_t index;
        bool added; // false: a known printer learnt a name or a source
    };

    // Merges one sighting; nothing when it tells nothing new.
    std::optional<Change> add(const QHostAddress& address, quint16 port, Source source,
                              const QString& name = {}, bool offSubnet = false);
    void clear() { printers_.clear(); }

    const std::vector<FoundPrinter>& printers() const { return printers_; }

private:
    std::vector<FoundPrinter> printers_;
};

} // namespace discovery

Q_DECLARE_OPERATORS_FOR_FLAGS(discovery::Sources)
