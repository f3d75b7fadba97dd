"""Shared helpers of the benchmarks: tree set-up, timing with peak memory, medians."""

import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
KARTOMA = os.path.join(ROOT, "build", "kartoma")
TREES = os.path.join(HERE, "trees")
OUT = os.path.join(HERE, "out")


def tree(files):
    """The generated tree of `files` files, made on first use and reused afterwards."""
    path = os.path.join(TREES, f"t{files}")
    if not os.path.isdir(path):
        os.makedirs(TREES, exist_ok=True)
        if os.path.exists(path + ".part"):
            shutil.rmtree(path + ".part")
        subprocess.run([sys.executable, os.path.join(HERE, "maketree.py"), str(files), path], check=True)
    os.makedirs(OUT, exist_ok=True)
    return path


def measure(argv, shell=False):
    """Runs a command once: (seconds, peak resident memory in bytes of the largest process)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, shell=shell, stdout=subprocess.DEVNULL if not shell else None)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise SystemExit(f"failed ({proc.returncode}): {argv}")
    return seconds, usage.ru_maxrss * 1024


def drop_caches():
    """Empties the page, inode and dentry caches (root only): the next run reads from the disk."""
    subprocess.run(["sync"], check=True)
    with open("/proc/sys/vm/drop_caches", "w") as f:
        f.write("3\n")


def compare(label, ours, reference, runs, before=None):
    """Times both commands alternately `runs` times after one warm-up each (`before` is called ahead of
    every run); prints medians and ratio."""
    def run(argv):
        if before is not None:
            before()
        return measure(argv, shell=isinstance(argv, str))

    run(ours)
    run(reference)
    a, b, mem_a, mem_b = [], [], [], []
    for _ in range(runs):
        t, m = run(ours)
        a.append(t)
        mem_a.append(m)
        t, m = run(reference)
        b.append(t)
        mem_b.append(m)
    ma, mb = statistics.median(a), statistics.median(b)
    print(f"{label}: kartoma {ma:.3f} s (peak {max(mem_a) / 2**20:.1f} MiB), "
          f"reference {mb:.3f} s (peak {max(mem_b) / 2**20:.1f} MiB), ratio {ma / mb:.2f}")
    return ma, mb, max(mem_a), max(mem_b)


def c_tool(name, header, package, libs):
    """Builds bench/NAME.c against `libs` (installing `package` when `header` is missing and root)."""
    exe = os.path.join(ROOT, "build", "bench", name)
    src = os.path.join(HERE, name + ".c")
    if not os.path.exists(header):
        if os.geteuid() != 0:
            raise SystemExit(f"bench needs {package}: apt-get install -y {package}")
        subprocess.run(["apt-get", "install", "-y", "-qq", package], check=True)
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        os.makedirs(os.path.dirname(exe), exist_ok=True)
        subprocess.run(["cc", "-O2", "-o", exe, src, *libs], check=True)
    return exe


def xlsxwriter_tool():
    """Builds the libxlsxwriter reference program."""
    return c_tool("xlsxwriter_rows", "/usr/include/xlsxwriter.h", "libxlsxwriter-dev", ["-lxlsxwriter"])
