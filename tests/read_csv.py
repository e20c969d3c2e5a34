#!/usr/bin/python3
"""Reads a CSV file with Python's csv module, as a spreadsheet or a script would, and prints its
rows as one JSON list of lists of strings. Exits 1 with the parser's message when it refuses."""
import csv
import json
import sys


def main(path):
    with open(path, newline="", encoding="utf-8") as file:
        try:
            rows = list(csv.reader(file, strict=True))
        except csv.Error as error:
            print(f"{path}: {error}", file=sys.stderr)
            return 1
    json.dump(rows, sys.stdout)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
