import QtQuick
import QtQuick.Shapes

// The window background: a diagonal paper gradient, a faint accent glow from the bottom-right
// corner, and ruled lines like a receipt roll. One Shape, so a resize re-tessellates a few
// paths instead of creating or destroying items.
Shape {
    id: paper

    readonly property real ruleSpacing: 6
    // Rounded corners: the gradients and the rules stay inside them (a card, the sheet).
    property real radius: 0
    // y of every ruled line; none at or below the bottom edge.
    readonly property var rulePositions: {
        const ys = [];
        for (let y = 0; y < height; y += ruleSpacing)
            ys.push(y);
        return ys;
    }

    // How far in from either side the paper starts at height y: nothing but in the corners.
    function inset(y) {
        const r = Math.min(radius, width / 2, height / 2);
        const fromEdge = Math.min(y, height - y);
        if (r <= 0 || fromEdge >= r)
            return 0;
        const dy = r - fromEdge;
        return r - Math.sqrt(r * r - dy * dy);
    }

    readonly property var outline: {
        if (radius <= 0)
            return [Qt.point(0, 0), Qt.point(width, 0), Qt.point(width, height),
                    Qt.point(0, height), Qt.point(0, 0)];
        const r = Math.min(radius, width / 2, height / 2);
        const corners = [[width - r, r, -90], [width - r, height - r, 0], [r, height - r, 90],
                         [r, r, 180]];
        const points = [];
        for (const [cx, cy, start] of corners) {
            for (let step = 0; step <= 8; ++step) {
                const angle = (start + step * 90 / 8) * Math.PI / 180;
                points.push(Qt.point(cx + r * Math.cos(angle), cy + r * Math.sin(angle)));
            }
        }
        points.push(points[0]);
        return points;
    }

    asynchronous: true
    Accessible.ignored: true

    ShapePath {
        strokeColor: "transparent"
        fillGradient: LinearGradient {
            x1: 0; y1: 0
            x2: paper.width; y2: paper.height
            GradientStop { position: 0; color: Theme.paper }
            GradientStop { position: 0.5; color: Theme.paperShade }
            GradientStop { position: 1; color: Qt.rgba(0.90, 0.91, 0.90, 1) }
        }
        PathPolyline { path: paper.outline }
    }

    ShapePath {
        strokeColor: "transparent"
        fillGradient: RadialGradient {
            centerX: paper.width; centerY: paper.height; centerRadius: 520
            focalX: paper.width; focalY: paper.height; focalRadius: 40
            GradientStop { position: 0; color: "transparent" }
            GradientStop { position: 1; color: Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.06) }
        }
        PathPolyline { path: paper.outline }
    }

    ShapePath {
        strokeColor: Qt.rgba(0, 0, 0, 0.015)
        strokeWidth: 1
        fillColor: "transparent"
        PathMultiline {
            objectName: "rules"
            paths: paper.rulePositions.map(y => [Qt.point(paper.inset(y), y),
                                                 Qt.point(paper.width - paper.inset(y), y)])
        }
    }
}
