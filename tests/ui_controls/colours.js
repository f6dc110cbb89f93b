.pragma library

// Some items keep a colour at 8 bits a channel, others at 16: equal means equal at 8 bits.
function same(actual, expected) {
    const a = Qt.color(actual);
    const e = Qt.color(expected);
    return [[a.r, e.r], [a.g, e.g], [a.b, e.b], [a.a, e.a]].every(([x, y]) => Math.abs(x - y) <= 0.6 / 255);
}

function withAlpha(colour, alpha) {
    return Qt.rgba(colour.r, colour.g, colour.b, alpha);
}
