#include "discovery/found_printers.hpp"

#include <algorithm>

namespace discovery {

QString FoundPrinter::endpoint() const {
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

QString FoundPrinter::sourceText() const {
    QStringList names;
    if (sources.testFlag(Source::mdns)) {
        names << QStringLiteral("mdns");
    }
    if (sources.testFlag(Source::probe)) {
        names << QStringLiteral("probe");
    }
    return names.join(QLatin1Char(','));
}

std::optional<FoundPrinters::Change> FoundPrinters::add(const QHostAddress& address, quint16 port,
                                                        Source source, const QString& name,
                                                        bool offSubnet) {
    const auto it = std::find_if(printers_.begin(), printers_.end(), [&](const auto& printer) {
        return printer.port == port && printer.address.isEqual(address);
    });
    if (it == printers_.end()) {
        printers_.push_back({address, port, name, source, offSubnet});
        return Change{printers_.size() - 1, true};
    }
    const bool newName = !name.isEmpty() && it->name != name;
    const bool newSource = !it->sources.testFlag(source);
    if (!newName && !newSource) {
        return std::nullopt;
    }
    if (newName) {
        it->name = name;
    }
    it->sources |= source;
    return Change{static_cast<std::size_t>(it - printers_.begin()), false};
}

} // namespace discovery
