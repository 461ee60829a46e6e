#!/usr/bin/env python3
"""Runs a host scenario and compares what the host wrote with the answers
the Linux host gave.

    run_scenario.py SCENARIO.jsonl EXPECTED.json WORKDIR [--update] -- COMMAND...

COMMAND (the host, e.g. `marlune host` or `wine marlune.exe host`) runs in a
fresh WORKDIR holding a two-character voice pack, with the scenario's
requests on stdin. Compared: every line it writes, in order, and the texts
of the log it leaves; not compared (the targets' differences): the times
("t"), and the platform layer's debug texts, which Windows does not hand
to a host, and the code page 936 reading of a message box's bytes that
are not GBK text (the bytes are compared). --update writes EXPECTED from
this run instead.
"""
import json
import os
import shutil
import struct
import subprocess
import sys


def write_wav(path, samples):
    data = b"".join(struct.pack("<h", s) for s in samples)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt ")
        f.write(struct.pack("<IHHIIHH", 16, 1, 1, 8000, 16000, 2, 16))
        f.write(b"data" + struct.pack("<I", len(data)) + data)


def write_pack(work):
    """你 -> wav\\ni3.wav, 好 -> wav\\hao3.wav: 0.2 s tones each."""
    os.makedirs(os.path.join(work, "wav"), exist_ok=True)
    index = b""
    for char, name in (("你", "ni3"), ("好", "hao3")):
        index += char.encode("gbk") + b"\0 " + name.encode() + b"\0"
        write_wav(os.path.join(work, "wav", name + ".wav"), [(i % 16) * 800 - 6000 for i in range(1600)])
    with open(os.path.join(work, "hanzi.dat"), "wb") as f:
        f.write(index)
    # A greeting the scenarios play by file name: 0.5 s.
    write_wav(os.path.join(work, "greeting.wav"), [3000 if i % 20 < 10 else -3000 for i in range(4000)])


def log_texts(work):
    """The texts of the log entries (stamp and separator taken off), as UTF-8."""
    out = []
    for name in sorted(os.listdir(work)):
        if not name.endswith("modem.txt"):
            continue
        data = open(os.path.join(work, name), "rb").read()
        for entry in data.split(b"\r\n\t"):
            if not entry:
                continue
            colon = entry.find(b" :")
            out.append((entry[colon + 2:] if colon >= 0 else entry).decode("gbk", "replace"))
    return out


def valid_gbk(hex_bytes):
    try:
        bytes.fromhex(hex_bytes).decode("gbk")
        return True
    except ValueError:
        return False


def normal(line):
    j = json.loads(line)
    if "debug" in j:
        return None
    j.pop("t", None)
    box = j.get("messagebox")
    if isinstance(box, dict):
        # Bytes that are no GBK text (the Big5 notice) read as GBK differently
        # on each target: such a box is compared by its bytes.
        for field in ("caption", "text"):
            if not valid_gbk(box.get(field + "_bytes", "")):
                box.pop(field, None)
    if isinstance(j.get("result"), dict):
        j["result"].pop("t", None)
    return j


def main():
    argv = sys.argv[1:]
    split = argv.index("--")
    own, command = argv[:split], argv[split + 1:]
    update = "--update" in own
    scenario, expected_path, work = [a for a in own if a != "--update"]
    if os.path.exists(command[0]):
        command[0] = os.path.abspath(command[0])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    write_pack(work)
    with open(scenario, "rb") as f:
        requests = f.read()
    run = subprocess.run(command, input=requests, cwd=work, capture_output=True, timeout=120)
    lines = [l for l in run.stdout.decode("utf-8", "replace").splitlines() if l.strip()]
    got = {"output": [n for n in (normal(l) for l in lines) if n is not None], "log": log_texts(work)}
    if run.returncode != 0:
        print("host exited with", run.returncode, run.stderr.decode("utf-8", "replace"))
        return 1
    if update:
        with open(expected_path, "w", encoding="utf-8") as f:
            json.dump(got, f, ensure_ascii=False, indent=1)
            f.write("\n")
        print("wrote", expected_path)
        return 0
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    failures = 0
    for what in ("output", "log"):
        e, g = expected[what], got[what]
        for i in range(max(len(e), len(g))):
            if i >= len(e) or i >= len(g) or e[i] != g[i]:
                print(f"{what} line {i + 1}:\n  expected {json.dumps(e[i], ensure_ascii=False) if i < len(e) else '(nothing)'}"
                      f"\n  got      {json.dumps(g[i], ensure_ascii=False) if i < len(g) else '(nothing)'}")
                failures += 1
                break
    print(os.path.basename(scenario), "ok" if not failures else "FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
