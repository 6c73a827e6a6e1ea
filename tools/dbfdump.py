#!/usr/bin/python3
# Prints a DBF table as a third-party reader (Debian's python3-dbf) sees it, in the dump format
# of tests/fixtures/README.md. Used by the tests to check that tables this run-time writes read
# the same in another program. Exit code 3 when python3-dbf is not installed.
import sys

try:
    import dbf
except ImportError:
    sys.stderr.write("python3-dbf is not installed\n")
    sys.exit(3)


def text(value, codepage):
    raw = value.encode(codepage) if isinstance(value, str) else bytes(value)
    raw = raw.rstrip(b" ")
    out = []
    for c in raw:
        if c < 0x20 or c > 0x7E or c in (0x22, 0x5C):
            out.append("\\x%02X" % c)
        else:
            out.append(chr(c))
    return '"' + "".join(out) + '"'


def value(v, ftype, dec, codepage):
    if v is None:
        return "NULL"
    if ftype in ("C", "M"):
        return text(v, codepage)
    if ftype == "L":
        return "T" if v else "F"
    if ftype == "D":
        return "%04d%02d%02d" % (v.year, v.month, v.day)
    if ftype in ("N", "F"):
        if dec > 0:
            return "%.*f" % (dec, v)
        return "%d" % v
    return str(v)


def main(path):
    codepage = "cp437"
    table = dbf.Table(path, codepage=codepage)
    table.open(dbf.READ_ONLY)
    with open(path, "rb") as f:
        version = f.read(1)[0]
    name = path.replace("\\", "/").split("/")[-1]
    print("TABLE %s" % name)
    print("VERSION 0x%02X" % version)
    fields = []
    for fname in table.field_names:
        info = table.field_info(fname)
        ftype = chr(info.field_type) if isinstance(info.field_type, int) else str(info.field_type)[0]
        fields.append((fname.upper(), ftype, info.length, info.decimal))
    print("FIELDS %d" % len(fields))
    for fname, ftype, length, dec in fields:
        print("FIELD %s %s %d %d" % (fname, ftype, length, dec))
    print("RECORDS %d" % len(table))
    for i, rec in enumerate(table, 1):
        parts = ["REC %d DEL=%d" % (i, 1 if dbf.is_deleted(rec) else 0)]
        for k, (fname, ftype, length, dec) in enumerate(fields):
            try:
                v = rec[k]
            except Exception as e:  # what a damaged value looks like to this reader
                parts.append("%s=ERR(%s)" % (fname, type(e).__name__))
                continue
            parts.append("%s=%s" % (fname, value(v, ftype, dec, codepage)))
        print(" ".join(parts))
    table.close()


if __name__ == "__main__":
    main(sys.argv[1])
