import QtQuick
import QtTest
import PrinterConfig.Controls

TestCase {
    name: "PaperBackground"

    PaperBackground { id: paper; width: 300 }

    function test_ruled_lines_data() {
        return [
            { tag: "height 0", height: 0, lines: 0 },
            { tag: "height 1", height: 1, lines: 1 },
            { tag: "height 6", height: 6, lines: 1 },
            { tag: "height 7", height: 7, lines: 2 },
            { tag: "height 700", height: 700, lines: 117 },
        ];
    }

    // Checked on the drawn path, not only on the exposed positions.
    function test_ruled_lines(data) {
        paper.height = data.height;
        const drawn = findChild(paper, "rules").paths;
        compare(paper.rulePositions.length, data.lines);
        compare(drawn.length, data.lines);
        for (let i = 0; i < drawn.length; ++i) {
            const [start, end] = drawn[i];
            compare(start.y, 6 * i, "line " + i);
            compare(end.y, start.y);
            compare(start.x, 0);
            compare(end.x, paper.width);
            verify(start.y < data.height, "line " + i + " is above the bottom edge");
        }
    }
}
