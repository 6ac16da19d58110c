"""Python's C codecs (binascii, behind base64 and quopri) and coreutils base64 on
the bytes that bench.lua wrote. Run by bench/run.sh:
    python3 py_bench.py <data directory> <results file>
Appends tab-separated lines: tool  function  chunk  implementation  MB/s."""
import binascii
import os
import shutil
import subprocess
import sys
import time

data_dir, results_path = sys.argv[1], sys.argv[2]
rounds = int(os.environ.get("BENCH_ROUNDS", "5"))
tool = "Python %d.%d" % sys.version_info[:2]

codecs = {
    "b64": lambda b: binascii.b2a_base64(b, newline=False),
    "unb64": binascii.a2b_base64,   # skips bytes outside the alphabet, as unb64 does
    "qp": binascii.b2a_qp,          # quopri.encodestring's C path
    "unqp": binascii.a2b_qp,        # quopri.decodestring's C path
}
chunkings = [("2 KiB", 2048), ("64 KiB", 65536), ("8 MiB", 8 * 1024 * 1024)]


def best_seconds(run):
    best = float("inf")
    for _ in range(rounds):
        reps, elapsed = 1, 0.0
        while True:
            start = time.process_time()
            for _ in range(reps):
                run()
            elapsed = time.process_time() - start
            if elapsed >= 0.05:
                break
            reps *= 2
        best = min(best, elapsed / reps)
    return best


with open(results_path, "a") as results:
    print("%s binascii: MB/s of input (best of %d)" % (tool, rounds))
    for name, codec in codecs.items():
        data = open(os.path.join(data_dir, name + ".bin"), "rb").read()
        line = 78  # the Base64 text is in lines of 76 characters and CR LF
        if name == "unb64":
            # a2b_base64 refuses a chunk that does not hold whole quartets: chunks
            # of whole lines, as close to the size as lines allow.
            data = data[:len(data) - len(data) % line]
        for label, size in chunkings:
            if name == "unb64":
                size -= size % line
            chunks = [data[i:i + size] for i in range(0, len(data), size)]

            def run():
                for c in chunks:
                    codec(c)
            rate = len(data) / 1e6 / best_seconds(run)
            results.write("%s\t%s\t%s\tpython\t%.1f\n" % (tool, name, label, rate))
            print("%-6s %-7s %9.0f" % (name, label, rate))

    base64_tool = shutil.which("base64")
    if base64_tool:
        for name, args in (("b64", [base64_tool, "-w0"]), ("unb64", [base64_tool, "-d", "-i"])):
            path = os.path.join(data_dir, name + ".bin")
            best = float("inf")
            for _ in range(rounds):
                with open(path, "rb") as source, open(os.devnull, "wb") as sink:
                    start = time.perf_counter()
                    subprocess.run(args, stdin=source, stdout=sink, check=True)
                    best = min(best, time.perf_counter() - start)
            rate = os.path.getsize(path) / 1e6 / best
            results.write("coreutils\t%s\t8 MiB\tcoreutils\t%.1f\n" % (name, rate))
            print("coreutils base64 %s, 8 MiB through a process: %.0f MB/s" % (name, rate))
