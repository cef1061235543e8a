"""Compares Ghostscript's page devices for the PDF splitter: render time and page bitmap size,
what the OCR finds on the page (tesseract, one thread), and how large the page is once
compressed losslessly (as a PNG of the same device, standing in for the image the searchable
PDF embeds). On ccitt.pdf the words are also checked against linn.txt.

usage: python3 bench/pdfsplit/devices.py"""
import collections
import os
import re
import subprocess
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CORPUS = os.path.normpath(os.path.join(ROOT, "..", "shared", "corpus"))
DEVICES = [("bmp16", "png16"), ("bmpgray", "pnggray"), ("bmpmono", "pngmono"), ("bmp16m", "png16m")]
DOCUMENTS = ["ccitt.pdf", "c02-22.pdf"]


def words_of(text):
    return re.findall(r"[a-z0-9]+", text.lower())


def render(device, pdf, output):
    started = time.monotonic()
    subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-sDEVICE=" + device, "-r300",
                    "-sOutputFile=" + output, pdf], check=True, stderr=subprocess.DEVNULL)
    return time.monotonic() - started


def recognise(bitmap):
    environment = dict(os.environ, OMP_THREAD_LIMIT="1")
    tsv = subprocess.run(["tesseract", bitmap, "-", "tsv"], capture_output=True, text=True,
                         env=environment).stdout
    words, confidences = [], []
    for line in tsv.splitlines()[1:]:
        fields = line.split("\t")
        if len(fields) == 12 and fields[11].strip() and float(fields[10]) >= 0:
            words.append(fields[11])
            confidences.append(float(fields[10]))
    return words, (sum(confidences) / len(confidences) if confidences else 0.0)


def main():
    truth = collections.Counter(words_of(open(os.path.join(CORPUS, "linn.txt")).read()))
    print("%-10s %-8s %8s %11s %11s %6s %6s %7s" %
          ("document", "device", "render s", "bitmap MB", "lossless MB", "words", "conf", "recall"))
    with tempfile.TemporaryDirectory(prefix="kvo-bench-devices-") as work:
        for document in DOCUMENTS:
            pdf = os.path.join(CORPUS, document)
            for device, png_device in DEVICES:
                bitmap = os.path.join(work, device + ".bmp")
                png = os.path.join(work, device + ".png")
                seconds = render(device, pdf, bitmap)
                render(png_device, pdf, png)
                words, confidence = recognise(bitmap)
                recall = ""
                if document == "ccitt.pdf":
                    found = collections.Counter(words_of(" ".join(words)))
                    hits = sum(min(count, found[word]) for word, count in truth.items())
                    recall = "%.3f" % (hits / sum(truth.values()))
                print("%-10s %-8s %8.2f %11.2f %11.2f %6d %6.1f %7s" %
                      (document, device, seconds, os.path.getsize(bitmap) / 1e6,
                       os.path.getsize(png) / 1e6, len(words), confidence, recall), flush=True)


if __name__ == "__main__":
    main()
