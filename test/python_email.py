"""Python's email package on the other side of mime.header (run by header_test.lua).
usage: python3 python_email.py SEED COUNT < lines
Each input line is `text|param <TAB> hex(value) <TAB> hex(field body)`: what
mime.header wrote for the value. Every reader here must give the value back;
a line `FAIL ...` says which did not. Then COUNT random values are written by
Python's writers, one line `text|param <TAB> hex(bytes Python reads) <TAB>
hex(field body)` each, for mime.header to read."""
import email
import email.policy
import random
import sys
from email.header import Header, decode_header, make_header
from email.message import EmailMessage, Message


def message(lines):
    return "\r\n".join(lines) + "\r\n\r\n"


def read_text(body):
    unfolded = body.replace("\r\n", "")
    raw = body if "=?" in body else unfolded  # with no encoded word it comes back as it is
    parsed = email.message_from_string(message(["Subject: " + body]), policy=email.policy.default)
    return {"policy": str(parsed["Subject"]), "decode_header": str(make_header(decode_header(raw))),
            "decode_header unfolded": str(make_header(decode_header(unfolded)))}


def read_param(body):
    field = "Content-Disposition: attachment;\r\n " + body
    modern = email.message_from_string(message([field]), policy=email.policy.default)
    legacy = email.message_from_string(message([field]))
    return {"policy": modern.get_filename(),
            "params": modern["Content-Disposition"].params["filename"],
            "compat32": legacy.get_filename()}


for line in sys.stdin:
    kind, value, body = line.rstrip("\n").split("\t")
    value, body = bytes.fromhex(value).decode("utf-8"), bytes.fromhex(body).decode("ascii")
    for reader, result in (read_text if kind == "text" else read_param)(body).items():
        if result != value:
            print("FAIL %s %s: %r reads as %r" % (kind, reader, body, result))

# A field body as Python's writers fold it, lines joined by CR LF.
def field_body(msg, name):
    text = msg.as_bytes(policy=msg.policy.clone(linesep="\r\n")).decode("ascii")
    head = text.split("\r\n\r\n")[0]
    body = None
    for line in head.split("\r\n"):
        if body is None:
            if line.startswith(name + ": "):
                body = line[len(name) + 2:]
        elif line[:1] in (" ", "\t"):
            body += "\r\n" + line
        else:
            break
    return body


def emit(kind, expected, body):
    print("%s\t%s\t%s" % (kind, expected.hex(), body.encode("ascii").hex()))


rng = random.Random(int(sys.argv[1]))
pieces = ["a", "Zo", "word", " ", " ", "(", ")", '"', "=?", "?=", "_", "=", ",", ";", "\\", "'",
          "%", "\u00e9", "\u00df", "\u20ac", "\U0001F600", "\u65e5\u672c"]
for _ in range(int(sys.argv[2])):
    value = "".join(rng.choice(pieces) for _ in range(rng.randrange(1, 60))).strip() or "x"
    latin = "".join(c for c in value if ord(c) < 256) or "x"
    emit("text", value.encode(), Header(value, "utf-8", header_name="Subject").encode())
    emit("text", latin.encode("latin-1"), Header(latin, "iso-8859-1").encode())
    msg = EmailMessage()
    msg["Subject"] = value
    body = field_body(msg, "Subject")
    emit("text", read_text(body)["policy"].encode(), body)
    msg = EmailMessage()
    msg.set_content(b"x", "application", "octet-stream", filename=value)
    emit("param", value.encode(), field_body(msg, "Content-Disposition"))
    msg = Message()
    msg.add_header("Content-Disposition", "attachment", filename=("utf-8", "", value))
    emit("param", value.encode(), field_body(msg, "Content-Disposition"))
