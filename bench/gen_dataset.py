#!/usr/bin/env python3
"""Writes the benchmark's datasets, the same bytes on every run (fixed seeds).

  many:  about 20,000 files and 150 MB in nested folders: compressible text, incompressible
         .jpg/.zip/.mp3, documents, a few empty files, names with blanks and umlauts
  large: a few files totalling 2 GB

Usage: gen_dataset.py many|large FOLDER
"""
import os
import random
import sys

WORDS = ("Sicherung Archiv Datei Ordner Rechnung Kunde Angebot Auftrag Lieferung Betrag "
         "Datum Zeit Bericht Übersicht Prüfung Größe Straße Müller Schäfer Köln München "
         "the of and to in is for on that with backup archive folder invoice customer "
         "0 1 2 3 4 5 6 7 8 9 10 100 2024 2025 2026 EUR USD ; , . : - / =").split()


def text_block(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14))) + "\r\n"
        out.append(line)
        n += len(line.encode("utf-8"))
    return "".join(out).encode("utf-8")[:size]


def noise(rng, size):
    return rng.randbytes(size)


def document(rng, size):
    # Office-like: text runs between binary runs, compresses to about half.
    parts = []
    n = 0
    while n < size:
        k = rng.randint(512, 8192)
        parts.append(text_block(rng, k) if rng.random() < 0.6 else noise(rng, k))
        n += k
    return b"".join(parts)[:size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    # A fixed date, so archives of two runs compare.
    os.utime(path, (1733000000, 1733000000))


def many(root):
    rng = random.Random(20261208)
    folder_names = ["Projekte", "Kunden Archiv", "Büro", "Fotos 2025", "Musik", "Verträge",
                    "Übersichten", "src", "docs", "Alte Daten"]
    folders = [""]
    for _ in range(400):
        parent = rng.choice(folders)
        if parent.count("/") >= 5:
            continue
        folders.append(os.path.join(parent, rng.choice(folder_names) + " %d" % rng.randint(1, 99)))
    total = 0
    count = 20000
    for i in range(count):
        folder = rng.choice(folders)
        r = rng.random()
        if i % 1000 == 0:
            name, data = "leer %d.txt" % i, b""
        elif r < 0.55:
            size = int(rng.paretovariate(1.3) * 1200)
            name = rng.choice(["Brief", "notiz", "Größenübersicht", "log", "readme", "Straße"]) + \
                " %d.%s" % (i, rng.choice(["txt", "csv", "log", "xml", "cpp", "html"]))
            data = text_block(rng, min(size, 400000))
        elif r < 0.80:
            size = int(rng.paretovariate(1.5) * 4200)
            name = "Bild Nr %d.%s" % (i, rng.choice(["jpg", "jpg", "zip", "mp3", "png", "gif"]))
            data = noise(rng, min(size, 2000000))
        else:
            size = int(rng.paretovariate(1.4) * 4000)
            name = "Dokument für Kunde %d.%s" % (i, rng.choice(["doc", "xls", "pdf", "odt"]))
            data = document(rng, min(size, 1000000))
        write(os.path.join(root, folder, name), data)
        total += len(data)
    print("many: %d files, %.1f MB" % (count, total / 1e6))


def large(root):
    rng = random.Random(2026)
    block_text = text_block(rng, 4 << 20)
    block_noise = noise(rng, 4 << 20)
    block_doc = document(rng, 4 << 20)
    # (name, total bytes, block): blocks of 4 MiB repeat, which deflate's 32 KiB window
    # cannot see, so compression work stays realistic.
    files = [("Datenbank Sicherung.log", 900 << 20, block_text),
             ("Mitschnitt Konzert.mp3", 500 << 20, block_noise),
             ("Übersicht Dokumente.doc", 400 << 20, block_doc),
             ("Rohdaten.bin", 248 << 20, block_noise)]
    total = 0
    for name, size, block in files:
        path = os.path.join(root, name)
        os.makedirs(root, exist_ok=True)
        with open(path, "wb") as f:
            left = size
            while left > 0:
                k = min(left, len(block))
                f.write(block[:k])
                left -= k
        os.utime(path, (1733000000, 1733000000))
        total += size
    print("large: %d files, %.2f GB" % (len(files), total / 1e9))


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("many", "large"):
        sys.exit(__doc__)
    {"many": many, "large": large}[sys.argv[1]](sys.argv[2])
