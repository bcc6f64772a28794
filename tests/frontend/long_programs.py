"""Writes the programs of the long-input table into the directory given as
argument: NAME.kep for each case, as bytes. Each must go through kep0, the
driver under kep0 and the native compiler in bounded time and memory with
the same report, or, for the programs whose name starts with "ok_", the
same output. Long lines, deep brackets and long literals once cost the
front end time or memory quadratic in their length; the cut and stray
UTF-8 sequences once made the native compiler fail or read a letter."""
import sys

CASES = {
    # A diagnostic shows a line of 40,000 characters, its caret far right.
    "long_line_diagnostic": b"x = " + b"1 + " * 10000 + b"$",
    # The nesting limit is reported long before the brackets end.
    "parens_90000": b"x = " + b"(" * 90000 + b"1" + b")" * 90000,
    "unclosed_90000": b"x = " + b"(" * 90000,
    "ok_literal_200000": b'x = "' + "a\u00e9".encode() * 100000 + b'"\nprint len(x), x[199999]',
    "ok_literal_escapes": b'x = "' + b"a\\n" * 80000 + b'"\nprint len(x)',
    "ok_tuv_literal": b'x = t"' + b"ab" * 50000 + b"{len('xy')}" + b'cd{{}}' * 5000 + b'"\nprint len(x), x[100000:100004]',
    "unterminated_literal": b'x = "' + b"a" * 80000,
    # UTF-8 sequences cut short by the end of the text, in a comment and in
    # code, and bytes that are no lead byte inside names.
    "ok_cut_sequence_in_comment": b"print 1 # caf\xc3",
    "cut_sequence_in_code": b"print 1\n\xc3",
    "cut_sequence_in_literal": b'print "caf\xc3',
    "stray_continuation_in_name": b"fu\xc1nction fa(x)\n    return x\nend",
    "overlong_letter_in_name": b"name_on\xc1\xa5 = 1",
    "sequence_swallows_line_feed": b"a\x80\nprint 2",
    "ok_malformed_bytes_in_literal": b'print "t\xc3\xe2\xa9xt", len("\xe0e,")',
}
for name, text in CASES.items():
    with open(f"{sys.argv[1]}/{name}.kep", "wb") as f:
        f.write(text + b"\n")
