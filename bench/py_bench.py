"""Python's C codecs (binascii, behind the base64 and quopri modules) and coreutils
base64 on the inputs that bench.lua wrote, for the cases and chunk sizes that the
first interpreter's run measured. Run by bench/run.sh, once for the chunked
cases and once, with the same fresh-memory setting as bench.lua's, for one call
over the whole input (and coreutils):
    python3 py_bench.py <data directory> <results file> chunks|whole
Appends tab-separated lines to the results file, as bench.lua does:
    rate  tool  function  kind  chunk  implementation  MB/s  -  spread"""
import binascii
import os
import shutil
import statistics
import subprocess
import sys
import time

data_dir, results_path, part = sys.argv[1], sys.argv[2], sys.argv[3]
rounds = max(1, int(os.environ.get("BENCH_ROUNDS", "5")))
minimum = float(os.environ.get("BENCH_MIN_MS", "20")) / 1000
pass_bytes = min(8 << 20, int(float(os.environ.get("BENCH_MIB", "4")) * (1 << 20)))
tool = "Python %d.%d" % sys.version_info[:2]

codecs = {
    "b64": lambda b: binascii.b2a_base64(b, newline=False),
    "unb64": binascii.a2b_base64,   # skips bytes outside the alphabet, as unb64 does
    "qp": binascii.b2a_qp,          # quopri.encodestring's C path
    "unqp": binascii.a2b_qp,        # quopri.decodestring's C path
}


def chunk_size(label):
    number, unit = label.split()
    return {"B": 1, "KiB": 1024, "MiB": 0}[unit] * int(number)


def seconds(run, reps):
    start = time.process_time()
    for _ in range(reps):
        run()
    return (time.process_time() - start) / reps


# The cases the first interpreter measured, in its order.
cases, seen, first_tool = [], set(), None
with open(results_path) as results:
    for line in results:
        fields = line.rstrip("\n").split("\t")
        if fields[0] != "rate" or fields[5] != "module":
            continue
        first_tool = first_tool or fields[1]
        key = tuple(fields[2:5])
        if fields[1] == first_tool and key not in seen:
            seen.add(key)
            if fields[2] in codecs and (fields[4] == "8 MiB") == (part == "whole"):
                cases.append(key)

inputs = {}
with open(results_path, "a") as results:
    if cases:
        print("%s binascii: MB/s of input (median of %d rounds)" % (tool, rounds))
    for name, kind, label in cases:
        if kind not in inputs:
            with open(os.path.join(data_dir, kind + ".bin"), "rb") as f:
                inputs[kind] = f.read()
        size = chunk_size(label)
        data = inputs[kind] if size == 0 else inputs[kind][:pass_bytes]
        size = size or len(data)
        if name == "unb64":
            # a2b_base64 refuses a chunk that ends inside a quartet: chunks of whole
            # lines (76 characters and CR LF) or of whole quartets, as close to the
            # size as that allows.
            unit = 78 if kind == "base64" else 4
            size = max(unit, size - size % unit)
            data = data[:len(data) - len(data) % unit]
        chunks = [data[i:i + size] for i in range(0, len(data), size)]
        codec = codecs[name]

        def run():
            for c in chunks:
                codec(c)
        reps = max(1, int(minimum / max(seconds(run, 1), 1e-6)) + 1)
        times = [seconds(run, reps) for _ in range(rounds)]
        t = statistics.median(times)
        spread = max(abs(x - t) / t for x in times)
        mb = len(data) / 1e6
        results.write("rate\t%s\t%s\t%s\t%s\tpython\t%.1f\t-\t%.3f\n" % (tool, name, kind, label, mb / t, spread))
        print("%-6s %-17s %-7s %9.0f" % (name, kind, label, mb / t))

    base64_tool = shutil.which("base64")
    for name, kind, args in (("b64", "binary", [base64_tool, "-w0"]),
                             ("unb64", "base64", [base64_tool, "-d", "-i"])):
        path = os.path.join(data_dir, kind + ".bin")
        if base64_tool and part == "whole" and (name, kind, "8 MiB") in seen:
            times = []
            for _ in range(rounds):
                with open(path, "rb") as source, open(os.devnull, "wb") as sink:
                    start = time.perf_counter()
                    subprocess.run(args, stdin=source, stdout=sink, check=True)
                    times.append(time.perf_counter() - start)
            t = statistics.median(times)
            rate = os.path.getsize(path) / 1e6 / t
            results.write("rate\tcoreutils\t%s\t%s\t8 MiB\tcoreutils\t%.1f\t-\t%.3f\n"
                          % (name, kind, rate, max(abs(x - t) / t for x in times)))
            print("coreutils base64 %s on %s, 8 MiB through a process: %.0f MB/s" % (name, kind, rate))
