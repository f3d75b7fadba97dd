#!/usr/bin/python3
"""Builds a deterministic tree of N files for the benchmarks: about ten files a folder, folders
breadth first down to eight levels, names mixed Japanese and ASCII (all of them CP932-mappable, so
the reference pipeline through iconv sees the same text). Usage: maketree.py N DIR"""

import os
import random
import sys

ASCII = ["report", "photo", "data", "backup", "music", "notes", "invoice", "draft", "scan", "track"]
JAPANESE = ["写真", "資料", "報告書", "音楽", "議事録", "見積書", "請求書", "日記", "設計図", "ﾃﾞｰﾀ"]
EXTS = [".txt", ".jpg", ".pdf", ".xlsx", ".mp3", ".doc", ".csv", ".png", ".zip", ""]


def build(total, root):
    rng = random.Random(20261208)
    folders_needed = max(1, total // 10)
    branching = 2
    while sum(branching ** i for i in range(8)) < folders_needed:
        branching += 1
    os.makedirs(root)
    queue = [(root, 1)]
    folders = [root]
    head = 0
    while len(folders) < folders_needed and head < len(queue):
        parent, level = queue[head]
        head += 1
        if level >= 8:
            continue
        for b in range(branching):
            if len(folders) >= folders_needed:
                break
            words = JAPANESE if rng.random() < 0.4 else ASCII
            path = os.path.join(parent, f"{rng.choice(words)}_{b:02}")
            os.mkdir(path)
            folders.append(path)
            queue.append((path, level + 1))
    made = 0
    for i, folder in enumerate(folders):
        count = total // len(folders) + (1 if i < total % len(folders) else 0)
        for j in range(count):
            words = JAPANESE if rng.random() < 0.4 else ASCII
            name = f"{rng.choice(words)}{j:03} {rng.randrange(10000)}{rng.choice(EXTS)}"
            fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
            os.ftruncate(fd, rng.randrange(1 << 20))
            os.close(fd)
            made += 1
    # One stamp for the whole tree keeps repeated runs comparable.
    return made, len(folders)


if __name__ == "__main__":
    n, where = int(sys.argv[1]), sys.argv[2]
    files, folders = build(n, where + ".part")
    os.rename(where + ".part", where)
    print(f"{where}: {files} files in {folders} folders")
