#pragma once

#include <QByteArrayView>
#include <QStringList>

namespace plans {

// The key paths that occur twice in one object of a JSON text ("wifi", "mqtt.broker.port",
// "list[2].name"), each time it occurs again, in the order of the text. QJsonDocument keeps the
// last of two equal keys without a word, so a profile could say one thing and send another; this
// reads the text Qt has already accepted as JSON, comparing keys as Qt decodes them.
QStringList duplicateKeyPaths(QByteArrayView json);

} // namespace plans
