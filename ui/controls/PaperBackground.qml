import QtQuick
import QtQuick.Shapes

// The window background: a diagonal paper gradient, a faint accent glow from the bottom-right
// corner, and ruled lines like a receipt roll. One Shape, so a resize re-tessellates a few
// paths instead of creating or destroying items.
Shape {
    id: paper

    readonly property real ruleSpacing: 6
    // y of every ruled line; none at or below the bottom edge.
    readonly property var rulePositions: {
        const ys = [];
        for (let y = 0; y < height; y += ruleSpacing)
            ys.push(y);
        return ys;
    }

    readonly property var outline: [Qt.point(0, 0), Qt.point(width, 0), Qt.point(width, height),
                                     Qt.point(0, height), Qt.point(0, 0)]

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
            paths: paper.rulePositions.map(y => [Qt.point(0, y), Qt.point(paper.width, y)])
        }
    }
}
