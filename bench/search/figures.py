"""Search figures of one converted page: word recall, word-pair recall and the median highlight
overlap, printed as "words pairs iou".

    figures.py TRUTH.txt EXTRACTED.txt BBOX.html LAYOUT.xml

TRUTH is the page's true text, EXTRACTED what `pdftotext` gives, BBOX what `pdftotext -bbox`
gives (points), LAYOUT the layout document KVOOCR leaves for a 300-dpi rendering of the page
(its words' boxes in layout units: the rendering's pixels scaled to just fit 2480 x 3507).
"""
import html
import re
import statistics
import sys
import xml.etree.ElementTree as ElementTree
from collections import Counter

DPI = 300


def tokens(text):
    """Case-folded runs of letters and digits, in order."""
    return [t.casefold() for t in re.findall(r"[^\W_]+", text)]


def recall(reference, found):
    ref, got = Counter(reference), Counter(found)
    total = sum(ref.values())
    return sum(min(n, got[k]) for k, n in ref.items()) / total if total else 0.0


def pairs(words):
    return list(zip(words, words[1:]))


def iou(a, b):
    x0, y0 = max(a[0], b[0]), max(a[1], b[1])
    x1, y1 = min(a[2], b[2]), min(a[3], b[3])
    inter = max(0.0, x1 - x0) * max(0.0, y1 - y0)
    union = (a[2] - a[0]) * (a[3] - a[1]) + (b[2] - b[0]) * (b[3] - b[1]) - inter
    return inter / union if union > 0 else 0.0


def key(text):
    return "".join(tokens(text))


def extracted_boxes(path):
    """The words pdftotext places, in pixels at DPI, and the page's size in pixels."""
    scale = DPI / 72.0
    text = open(path, encoding="utf-8").read()
    page = re.search(r'<page width="([\d.]+)" height="([\d.]+)"', text)
    size = (float(page.group(1)) * scale, float(page.group(2)) * scale) if page else (2480, 3507)
    boxes = {}
    pattern = re.compile(r'<word xMin="([-\d.]+)" yMin="([-\d.]+)" xMax="([-\d.]+)" yMax="([-\d.]+)">(.*?)</word>')
    for m in pattern.finditer(text):
        box = tuple(float(v) * scale for v in m.groups()[:4])
        boxes.setdefault(key(html.unescape(m.group(5))), []).append(box)
    return boxes, size


def engine_boxes(path, size):
    """The words of a layout document, in pixels of a page of `size`."""
    scale = min(2480 / size[0], 3507 / size[1])
    words = []
    for word in ElementTree.parse(path).getroot().findall("word"):
        rect = word.find("RECT")
        try:
            top, left, bottom, right = (float(rect.get(a)) / scale for a in ("top", "left", "bottom", "right"))
        except (TypeError, ValueError):
            continue
        if key(word.get("text", "")):
            words.append((key(word.get("text")), (left, top, right, bottom)))
    return words


def main():
    truth, extracted, bbox, layout = sys.argv[1:5]
    reference = tokens(open(truth, encoding="utf-8").read())
    found = tokens(open(extracted, encoding="utf-8").read())
    placed, size = extracted_boxes(bbox)
    try:
        recognised = engine_boxes(layout, size)
    except (OSError, ElementTree.ParseError):
        recognised = []
    overlaps = [max(iou(box, p) for p in placed[k]) for k, box in recognised if k in placed]
    median = f"{statistics.median(overlaps):.2f}" if overlaps else "-"
    print(f"{recall(reference, found):.2f} {recall(pairs(reference), pairs(found)):.2f} {median}")


main()
