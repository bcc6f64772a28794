#!/usr/bin/env python3
"""Compares encoder cases with the GNU assembler.

Reads lines MODE|BYTES|INSTRUCTION (from encoder_cases.kep) on standard
input. Every instruction is assembled with `as` after its own label; the
label addresses split the section's bytes (`objcopy -O binary`) into one
slice per case, so each case is compared on its own.
  exact:  the slice must equal BYTES.
  decode: BYTES must decode (objdump) to exactly one instruction spanning
          all of them, with the same text as the assembler's own encoding,
          and be one byte longer than it: both forms the assembler cannot
          be made to choose (REX.W 81 /n id for rax, C1 /n 1) carry one byte
          more than its choice (REX.W 05/2D/3D id, D1 /n).
Exits 1 and lists the differences when any case differs.
"""
import re
import subprocess
import sys
import tempfile
from pathlib import Path


def run(*args):
    subprocess.run(args, check=True)


def assemble(workdir, name, lines):
    """Assembles `lines` (each after a label cN) and returns the section's
    bytes and the label offsets."""
    source = workdir / (name + ".s")
    obj = workdir / (name + ".o")
    raw = workdir / (name + ".bin")
    body = [".intel_syntax noprefix", ".text"]
    for i, line in enumerate(lines):
        body.append("c%d: %s" % (i, line))
    body.append("c%d:" % len(lines))
    source.write_text("\n".join(body) + "\n")
    run("as", "-o", str(obj), str(source))
    run("objcopy", "-O", "binary", "-j", ".text", str(obj), str(raw))
    symbols = subprocess.run(["nm", str(obj)], check=True, capture_output=True, text=True).stdout
    offsets = {}
    for line in symbols.splitlines():
        value, _, label = line.split()
        offsets[int(label[1:])] = int(value, 16)
    return raw.read_bytes(), [offsets[i] for i in range(len(lines) + 1)]


def decodings(workdir, name, lines):
    """Instruction texts per case, from objdump of `lines` assembled after
    labels: a List of Lists of (length, text)."""
    _, offsets = assemble(workdir, name, lines)
    listing = subprocess.run(
        ["objdump", "-d", "-M", "intel", "--no-show-raw-insn", str(workdir / (name + ".o"))],
        check=True, capture_output=True, text=True).stdout
    starts = []
    for line in listing.splitlines():
        match = re.match(r"\s*([0-9a-f]+):\s+(.*)$", line)
        if match:
            starts.append((int(match.group(1), 16), normalize(match.group(2))))
    result = [[] for _ in lines]
    for k, (address, text) in enumerate(starts):
        end = starts[k + 1][0] if k + 1 < len(starts) else offsets[-1]
        case = max(i for i in range(len(lines)) if offsets[i] <= address)
        result[case].append((end - address, text))
    return result


def normalize(text):
    """objdump text with every number in decimal: `shl rax,1` and
    `shl rax,0x1` decode the same operation."""
    text = re.sub(r"\s+", " ", text.split("#")[0].strip())
    return re.sub(r"\b0x([0-9a-f]+)\b", lambda m: str(int(m.group(1), 16)), text)


def main():
    cases = []
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line:
            mode, hexbytes, instruction = line.split("|")
            cases.append((mode, bytes.fromhex(hexbytes), instruction))
    exact = [c for c in cases if c[0] == "exact"]
    decode = [c for c in cases if c[0] == "decode"]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        workdir = Path(tmp)
        code, offsets = assemble(workdir, "exact", [c[2] for c in exact])
        for i, (_, want, instruction) in enumerate(exact):
            gas = code[offsets[i]:offsets[i + 1]]
            if gas != want:
                failures.append("%s: KEP %s, as %s" % (instruction, want.hex(" ").upper(), gas.hex(" ").upper()))
        ours = decodings(workdir, "kep", [".byte " + ", ".join(str(b) for b in c[1]) for c in decode])
        theirs = decodings(workdir, "gas", [c[2] for c in decode])
        for (_, want, instruction), mine, gas in zip(decode, ours, theirs):
            if (len(mine) != 1 or mine[0][0] != len(want) or len(gas) != 1
                    or mine[0][1] != gas[0][1] or len(want) != gas[0][0] + 1):
                failures.append("%s: KEP %s decodes as %s, as gives %s" % (instruction, want.hex(" ").upper(), mine, gas))
    for failure in failures[:50]:
        print("FAIL " + failure)
    print("binutils comparison: %d byte-exact, %d by decoding, %d failed"
          % (len(exact), len(decode), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
