#!/usr/bin/env python3
"""A document whose first 64 KB are ASCII and whose later lines are CP949 is read as the whole
of it says: its export is the one made with the code page named. Usage: late_code_page.py TOOL
"""
import os
import subprocess
import sys
import tempfile


def run(tool, *args):
    result = subprocess.run([tool, *args], capture_output=True, check=False)
    return result.returncode, result.stdout, result.stderr.decode(errors="replace")


def main():
    tool = sys.argv[1]
    head = "<SAMI><BODY>\n" + "".join(
        f"<SYNC Start={i * 1000}><P>line {i} in plain ASCII\n" for i in range(3000))
    assert len(head) > 64 * 1024
    tail = "".join(f"<SYNC Start={(3000 + i) * 1000}><P>한국어 줄 {i}\n" for i in range(20))
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "late.smi")
        with open(path, "wb") as out:
            out.write(head.encode("ascii") + tail.encode("cp949") + b"</BODY></SAMI>\n")
        code, detected, said = run(tool, "export", path, "--format", "srt")
        named_code, named, _ = run(tool, "export", path, "--format", "srt",
                                   "--code-page", "windows-949")
        failures = []
        if code != 0 or named_code != 0:
            failures.append(f"exit codes {code} and {named_code}")
        if "reading it as windows-949" not in said:
            failures.append(f"no detection message: {said!r}")
        if detected != named:
            failures.append("the export differs from the one with the code page named")
        if "한국어 줄 19".encode() not in detected:
            failures.append("the last Korean line is missing")
        _, info, _ = run(tool, "info", path)
        if b"encoding: windows-949 (detected" not in info:
            failures.append(f"info says {info.decode(errors='replace')!r}")
        for failure in failures:
            print(failure)
        return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
