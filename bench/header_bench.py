"""Python's email.header on the values bench/header_bench.lua wrote (it runs this):
    python3 header_bench.py <values file> <rounds>
Each line of the file is `name <TAB> hex(value) <TAB> hex(mime.header's encoding)`.
Prints `name <TAB> encode microseconds <TAB> decode microseconds` per value: the
best round of CPU time for Header(value, "utf-8").encode() and for
str(make_header(decode_header(encoding)))."""
import sys
import time
from email.header import Header, decode_header, make_header

path, rounds = sys.argv[1], int(sys.argv[2])


def best(run):
    fastest = float("inf")
    for _ in range(rounds):
        calls, start = 0, time.process_time()
        while True:
            for _ in range(20):
                run()
            calls += 20
            elapsed = time.process_time() - start
            if elapsed >= 0.1:
                break
        fastest = min(fastest, elapsed / calls)
    return fastest * 1e6


with open(path) as lines:
    for line in lines:
        name, value, encoded = line.rstrip("\n").split("\t")
        value = bytes.fromhex(value).decode("utf-8")
        encoded = bytes.fromhex(encoded).decode("ascii")
        # (with no encoded word in it, the text comes back folded as it is)
        assert str(make_header(decode_header(encoded))).replace("\r\n", "") == value
        encode = best(lambda: Header(value, "utf-8", header_name="Subject").encode())
        decode = best(lambda: str(make_header(decode_header(encoded))))
        print("%s\t%.2f\t%.2f" % (name, encode, decode))
