#pragma once

#include "discovery/avahi_browser.hpp"
#include "discovery/found_printers.hpp"
#include "discovery/port_probe.hpp"
#include "discovery/subnets.hpp"

#include <QObject>
#include <QTimer>

namespace discovery {

struct SearchOptions {
    bool mdns = true;
    bool probe = true;
    // Empty: the host's directly connected networks (connectedSubnets).
    std::vector<Subnet> subnets;
    ProbeOptions probeOptions;
    // How long DNS-SD may take to settle before the search ends without it.
    std::chrono::milliseconds mdnsLimit{5000};
};

// One search for printers: DNS-SD and the port probe side by side, their sightings merged by
// address and port. It ends when the probe has tried every address and DNS-SD has settled (or
// its limit has passed). A search finds candidates only; it never connects to one for use.
//
// DNS-SD sightings of a loopback, multicast, broadcast or zero address are left out (no printer
// on the network can be reached there; a connection would reach this computer or nothing) and
// counted in a notice; an address outside the directly connected networks is listed, marked
// offSubnet.
class PrinterSearch : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        searched,        // at least one source looked (nothing found is still an answer)
        nothingSearched, // DNS-SD unavailable or off, and no probe: the list means nothing
        failed,          // the probe failed on this computer (failure says why)
    };

    explicit PrinterSearch(QObject* parent = nullptr);

    // Starts over: the list is emptied, a search still running is cancelled.
    void start(const SearchOptions& options);
    void cancel();

    bool running() const { return running_; }
    const std::vector<FoundPrinter>& printers() const { return found_.printers(); }
    int tried() const { return probe_.tried(); }
    int total() const { return probe_.total(); }
    // How the last finished search went.
    Outcome outcome() const { return outcome_; }
    // Addresses that accepted a connection only after the probe's time-out: not listed.
    const std::vector<QHostAddress>& answeredLate() const { return probe_.answeredLate(); }

    // The addresses a probe of `options` tries: the subnets' hosts, or those of the directly
    // connected networks without the host's own addresses.
    static std::vector<QHostAddress> probeAddresses(const SearchOptions& options,
                                                    const QList<QNetworkInterface>& interfaces);

signals:
    void printerAdded(int index);
    void printerChanged(int index);
    void progress(int tried, int total);
    // Something the user should know, each said once: a source that could not search, what
    // DNS-SD reported but could not be listed, why nothing was searched.
    void notice(const QString& text);
    void runningChanged();
    void finished();

private:
    void add(const QHostAddress& address, quint16 port, Source source, const QString& name = {});
    void dnsSdUnavailable(const QString& reason);
    void dnsSdTimedOut();
    void noteWhatDnsSdLeftOut();
    void finishIfDone();
    void finish(Outcome outcome);

    AvahiBrowser avahi_;
    PortProbe probe_;
    FoundPrinters found_;
    QTimer mdnsLimit_;
    QList<QNetworkInterface> interfaces_;
    QStringList leftOut_; // DNS-SD sightings with an address no printer can have
    bool running_ = false;
    bool mdns_ = false;
    bool probing_ = false; // the probe has addresses to try
    bool optionsProbe_ = false;
    Outcome outcome_ = Outcome::searched;
};

} // namespace discovery
