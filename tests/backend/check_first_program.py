#!/usr/bin/env python3
"""Builds the first native program (first_program.kep), runs it and reads
its headers back with readelf.

Usage: check_first_program.py KEP0 WORKDIR
Checks the output text, exit status 42, the file size, and with readelf the
ELF header and the one loadable segment. Exits 1 on any difference.
"""
import os
import re
import shutil
import subprocess
import sys

MESSAGE = "Hello from the KEP back end: café ✓\n"


def main():
    kep0, workdir = sys.argv[1], sys.argv[2]
    image = os.path.join(workdir, "first_program")
    build = subprocess.run([kep0, "tests/backend/first_program.kep", image],
                           capture_output=True, text=True)
    if build.returncode != 0:
        print("FAIL first program: kep0 ended with %d: %s" % (build.returncode, build.stderr.strip()))
        return 1
    layout = dict(zip(*[iter(build.stdout.split())] * 2))
    code, data, main_offset, size = (int(layout[k]) for k in ("code", "data", "main", "file"))
    failures = []

    def expect(what, got, want):
        if got != want:
            failures.append("%s: got %r, want %r" % (what, got, want))

    expect("file size", os.path.getsize(image), 0x78 + code + data)
    expect("reported size", size, 0x78 + code + data)
    expect("mode", oct(os.stat(image).st_mode & 0o777), oct(0o755))
    run = subprocess.run([image], capture_output=True)
    expect("exit status", run.returncode, 42)
    expect("output", run.stdout.decode("utf-8", "replace"), MESSAGE)
    expect("error output", run.stderr, b"")

    if shutil.which("readelf"):
        text = subprocess.run(["readelf", "-h", "-l", image], check=True,
                              capture_output=True, text=True).stdout
        fields = dict(re.findall(r"^\s+([^:\n]+):\s+(.*?)\s*$", text, re.M))
        for name, want in [
            ("Magic", "7f 45 4c 46 02 01 01 00 00 00 00 00 00 00 00 00"),
            ("Class", "ELF64"),
            ("Data", "2's complement, little endian"),
            ("Type", "EXEC (Executable file)"),
            ("Machine", "Advanced Micro Devices X86-64"),
            ("Entry point address", hex(0x400078 + main_offset)),
            ("Start of program headers", "64 (bytes into file)"),
            ("Start of section headers", "0 (bytes into file)"),
            ("Flags", "0x0"),
            ("Size of this header", "64 (bytes)"),
            ("Size of program headers", "56 (bytes)"),
            ("Number of program headers", "1"),
            ("Size of section headers", "0 (bytes)"),
            ("Number of section headers", "0"),
            ("Section header string table index", "0"),
        ]:
            expect("readelf " + name, fields.get(name), want)
        segments = re.findall(r"^\s+(\w+)\s+(0x[0-9a-f]+) (0x[0-9a-f]+) (0x[0-9a-f]+)\s*\n"
                              r"\s+(0x[0-9a-f]+) (0x[0-9a-f]+)\s+(.+?)\s+(0x[0-9a-f]+)\s*$", text, re.M)
        expect("readelf segments", [(s[0], int(s[1], 16), int(s[2], 16), int(s[3], 16), int(s[4], 16),
                                     int(s[5], 16), s[6], int(s[7], 16)) for s in segments],
               [("LOAD", 0, 0x400000, 0x400000, size, size, "R E", 0x1000)])
        checked = "output, status 42, readelf -h -l"
    else:
        checked = "output, status 42 (readelf not found: headers not read back)"
    for failure in failures:
        print("FAIL first program: " + failure)
    if failures:
        return 1
    print("first native program: %s (code %d, data %d, main at %d)" % (checked, code, data, main_offset))
    return 0


if __name__ == "__main__":
    sys.exit(main())
