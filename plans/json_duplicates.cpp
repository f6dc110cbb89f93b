#include "plans/json_duplicates.hpp"

#include <QSet>
#include <vector>

namespace plans {
namespace {

// One open object or array, with the path that leads to it.
struct Level {
    bool object = false;
    QString path;
    QSet<QString> keys;
    QString lastKey;
    bool expectingKey = false;
    int index = 0;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        return (c | 0x20) - 'a' + 10;
    }
    return -1;
}

// The JSON string that starts at json[at] (the opening quote), decoded; `at` ends past its
// closing quote. Escapes are decoded as Qt decodes them, so "wi\u0066i" is the key "wifi".
QString readString(QByteArrayView json, qsizetype& at) {
    QString text;
    qsizetype run = ++at;
    const auto flush = [&] { text += QString::fromUtf8(json.sliced(run, at - run)); };
    while (at < json.size() && json[at] != '"') {
        if (json[at] != '\\') {
            ++at;
            continue;
        }
        flush();
        const char escaped = at + 1 < json.size() ? json[at + 1] : '\0';
        at += 2;
        switch (escaped) {
        case 'b':
            text += QChar(u'\b');
            break;
        case 'f':
            text += QChar(u'\f');
            break;
        case 'n':
            text += QChar(u'\n');
            break;
        case 'r':
            text += QChar(u'\r');
            break;
        case 't':
            text += QChar(u'\t');
            break;
        case 'u': {
            char16_t unit = 0;
            for (int i = 0; i < 4 && at < json.size() && hexDigit(json[at]) >= 0; ++i, ++at) {
                unit = static_cast<char16_t>(unit * 16 + hexDigit(json[at]));
            }
            text += QChar(unit);
            break;
        }
        default:
            text += QLatin1Char(escaped);
            break; // \" \\ \/
        }
        run = at;
    }
    flush();
    ++at;
    return text;
}

} // namespace

QStringList duplicateKeyPaths(QByteArrayView json) {
    QStringList duplicates;
    std::vector<Level> open;
    // The path of the value that starts next.
    const auto valuePath = [&open]() -> QString {
        if (open.empty()) {
            return {};
        }
        const Level& level = open.back();
        if (!level.object) {
            return QStringLiteral("%1[%2]").arg(level.path).arg(level.index);
        }
        return level.path.isEmpty() ? level.lastKey : level.path + u'.' + level.lastKey;
    };
    for (qsizetype at = 0; at < json.size();) {
        switch (json[at]) {
        case '"': {
            const QString text = readString(json, at);
            if (!open.empty() && open.back().object && open.back().expectingKey) {
                Level& level = open.back();
                level.lastKey = text;
                level.expectingKey = false;
                if (level.keys.contains(text)) {
                    duplicates.append(valuePath());
                }
                level.keys.insert(text);
            }
            continue;
        }
        case '{':
        case '[': {
            Level level;
            level.object = json[at] == '{';
            level.expectingKey = level.object;
            level.path = valuePath();
            open.push_back(std::move(level));
            break;
        }
        case '}':
        case ']':
            if (!open.empty()) {
                open.pop_back();
            }
            break;
        case ',':
            if (!open.empty()) {
                open.back().expectingKey = open.back().object;
                ++open.back().index;
            }
            break;
        default:
            break;
        }
        ++at;
    }
    return duplicates;
}

} // namespace plans
