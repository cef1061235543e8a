#!/usr/bin/python3
"""Turns Tesseract's hOCR of one page into the builder's layout document (a section per line,
its line with a font child, and a word with its RECT, baseline and line reach for each word),
coordinates scaled to a 2480 x 3507 box as the OCR program does. Used by the benchmark when the
OCR program is not built.

    hocr_to_layout.py PAGE.hocr OUT.xml
"""
import re
import sys
import xml.etree.ElementTree as ET

XHTML = "{http://www.w3.org/1999/xhtml}"
LINE_CLASSES = {"ocr_line", "ocr_textfloat", "ocr_header", "ocr_caption"}


def title_value(element, key):
    match = re.search(key + r" ([^;]+)", element.get("title", ""))
    return match.group(1).split() if match else None


def word_text(element):
    return "".join(element.itertext()).strip()


root = ET.parse(sys.argv[1]).getroot()
page = next(e for e in root.iter(XHTML + "div") if e.get("class") == "ocr_page")
width, height = (int(v) for v in title_value(page, "bbox")[2:4])
scale = min(2480 / width, 3507 / height)


def scaled(value):
    return str(round(value * scale))


layout = ET.Element("pagewords", text="")
sections = ET.SubElement(layout, "sections")
words = []
for span in root.iter(XHTML + "span"):
    if span.get("class") not in LINE_CLASSES:
        continue
    spans = [w for w in span.iter(XHTML + "span") if w.get("class") == "ocrx_word" and word_text(w)]
    if not spans:
        continue
    number = str(len(sections))
    left, top, right, bottom = (int(v) for v in title_value(span, "bbox"))
    x_size = float((title_value(span, "x_size") or ["40"])[0])
    descent = float((title_value(span, "x_descenders") or ["0"])[0])
    slope, offset = (float(v) for v in (title_value(span, "baseline") or ["0", "0"]))
    # The line height holds ascenders and descenders: about 4/3 of the font size.
    font = dict(fontstyle="normal", fontfamily="Times", fontsize=f"{round(x_size * 0.75 * 72 / 300 * scale * 4) / 4:g}",
                fontserif="thin")
    line = ET.SubElement(ET.SubElement(sections, "section"), "line", top=scaled(top), left=scaled(left),
                         bottom=scaled(bottom), right=scaled(right), text=" ".join(word_text(w) for w in spans))
    ET.SubElement(line, "font", **font)
    for w in spans:
        x0, y0, x1, y1 = (int(v) for v in title_value(w, "bbox"))
        # hOCR's baseline: slope and offset from the line box's bottom-left corner.
        base = [bottom + offset + slope * (x - left) for x in (x0, x1)]
        words.append((word_text(w), font, dict(line=number, top=scaled(y0), left=scaled(x0), bottom=scaled(y1),
                                                right=scaled(x1), block="0", paragraph="0",
                                                baseline=" ".join(scaled(v) for v in (x0, base[0], x1, base[1])),
                                                ascent=scaled(x_size - descent), descent=scaled(descent))))
for text, font, rect in words:
    word = ET.SubElement(layout, "word", text=text)
    ET.SubElement(word, "font", **font)
    ET.SubElement(word, "RECT", **rect)
ET.ElementTree(layout).write(sys.argv[2], encoding="utf-8")
print(len(sections))
