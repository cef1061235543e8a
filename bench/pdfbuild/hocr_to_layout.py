#!/usr/bin/python3
"""Turns Tesseract's hOCR of one page into the builder's layout document (pagewords/sections/
section/line with a font child), coordinates scaled to a 2480 x 3507 box as the OCR program
does. Used by the benchmark when the OCR program is not built.

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


root = ET.parse(sys.argv[1]).getroot()
page = next(e for e in root.iter(XHTML + "div") if e.get("class") == "ocr_page")
width, height = (int(v) for v in title_value(page, "bbox")[2:4])
scale = min(2480 / width, 3507 / height)

layout = ET.Element("pagewords", text="")
section = ET.SubElement(ET.SubElement(layout, "sections"), "section")
for span in root.iter(XHTML + "span"):
    if span.get("class") not in LINE_CLASSES:
        continue
    words = ["".join(w.itertext()).strip() for w in span.iter(XHTML + "span") if w.get("class") == "ocrx_word"]
    text = " ".join(w for w in words if w)
    if not text:
        continue
    left, top, right, bottom = (round(int(v) * scale) for v in title_value(span, "bbox"))
    x_size = float((title_value(span, "x_size") or ["40"])[0])
    # The line height holds ascenders and descenders: about 4/3 of the font size.
    size = round(x_size * 0.75 * 72 / 300 * scale * 4) / 4
    line = ET.SubElement(section, "line", top=str(top), left=str(left), bottom=str(bottom), right=str(right), text=text)
    ET.SubElement(line, "font", fontstyle="normal", fontfamily="Times", fontsize=f"{size:g}", fontserif="thin")
ET.ElementTree(layout).write(sys.argv[2], encoding="utf-8")
print(len(section))
