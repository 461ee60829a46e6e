#!/usr/bin/env python3
"""Compiler launcher that gives clang g++'s -fexec-charset=GBK.

clang takes only UTF-8 as the execution character set. For a compile whose
flags ask for GBK this launcher preprocesses the source with the same flags
(the dependency file is written then), rewrites every non-ASCII character of
the ordinary narrow string and character literals as the octal escapes of
its GBK bytes (raw literals holding such characters become ordinary ones;
u8, u, U and L literals are left as they are, as g++ leaves them), and
compiles the result. Any other compile runs unchanged.
"""
import os
import subprocess
import sys

GBK_FLAG = "-fexec-charset=GBK"
DROPPED = {GBK_FLAG, "-finput-charset=UTF-8"}
DEP_FLAGS_WITH_VALUE = {"-MF", "-MT", "-MQ"}
DEP_FLAGS = {"-MD", "-MMD"}
PREFIXES = {"u8", "u", "U", "L"}


def gbk_escapes(text):
    out = []
    for ch in text:
        if ord(ch) < 0x80:
            out.append(ch)
        else:
            out.extend("\\%03o" % b for b in ch.encode("gbk"))
    return "".join(out)


def ordinary_from_raw(body):
    out = []
    for ch in body:
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\r":
            out.append("\\r")
        else:
            out.append(ch)
    return gbk_escapes("".join(out))


def transcode(src):
    out = []
    i, n = 0, len(src)
    at_line_start = True
    while i < n:
        c = src[i]
        if at_line_start and c == "#":  # line markers and pragmas
            j = src.find("\n", i)
            j = n if j < 0 else j
            out.append(src[i:j])
            i = j
            continue
        if c == "\n":
            at_line_start = True
            out.append(c)
            i += 1
            continue
        if c in " \t":
            out.append(c)
            i += 1
            continue
        at_line_start = False
        if c.isalpha() or c == "_":
            j = i
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            word = src[i:j]
            if j < n and src[j] == '"' and word.endswith("R") and word[:-1] in PREFIXES | {""}:
                # raw literal R"delim( ... )delim"
                open_paren = src.index("(", j)
                delim = src[j + 1:open_paren]
                close = src.index(")" + delim + '"', open_paren)
                body = src[open_paren + 1:close]
                end = close + len(delim) + 2
                if word == "R" and any(ord(ch) >= 0x80 for ch in body):
                    out.append('"' + ordinary_from_raw(body) + '"')
                else:
                    out.append(src[i:end])
                i = end
                continue
            if j < n and src[j] in "\"'" and word in PREFIXES:
                end = literal_end(src, j)
                out.append(src[i:end])
                i = end
                continue
            out.append(word)
            i = j
            continue
        if c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] in "_.'" or
                             (src[j] in "+-" and src[j - 1] in "eEpP")):
                j += 1
            out.append(src[i:j])
            i = j
            continue
        if c in "\"'":
            end = literal_end(src, i)
            out.append(c + gbk_escapes(src[i + 1:end - 1]) + c)
            i = end
            continue
        out.append(c)
        i += 1
    return "".join(out)


def literal_end(src, start):
    quote = src[start]
    j = start + 1
    while src[j] != quote:
        j += 2 if src[j] == "\\" else 1
    return j + 1


def main(argv):
    compiler, args = argv[0], argv[1:]
    if GBK_FLAG not in args:
        os.execvp(compiler, argv)
    args = [a for a in args if a not in DROPPED]
    out_index = args.index("-o") + 1
    obj = args[out_index]
    source = args[args.index("-c") + 1]
    language = "cpp-output" if source.endswith(".c") else "c++-cpp-output"
    pre = obj + ".utf8.ii"
    gbk = obj + ".gbk.ii"

    pre_args = list(args)
    pre_args[out_index] = pre
    pre_args[pre_args.index("-c")] = "-E"
    r = subprocess.run([compiler] + pre_args)
    if r.returncode != 0:
        return r.returncode
    with open(pre, encoding="utf-8") as f:
        text = f.read()
    with open(gbk, "w", encoding="utf-8") as f:
        f.write(transcode(text))

    compile_args = []
    skip = False
    for a in args:
        if skip:
            skip = False
            continue
        if a in DEP_FLAGS_WITH_VALUE:
            skip = True
            continue
        if a in DEP_FLAGS:
            continue
        compile_args.append(a)
    c = compile_args.index("-c")
    compile_args[c + 1:c + 2] = ["-x", language, gbk]
    r = subprocess.run([compiler, "-Wno-unused-command-line-argument"] + compile_args)
    for tmp in (pre, gbk):
        try:
            os.remove(tmp)
        except OSError:
            pass
    return r.returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
