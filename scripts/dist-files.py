#!/usr/bin/env python3
"""What scripts/make-dist.sh makes of the staged program folder.

    dist-files.py nsh STAGE OUT.nsh     the installer's file lists (an NSIS include)
    dist-files.py zip STAGE OUT.zip EPOCH FOLDER
                                        the portable zip: STAGE's files below FOLDER/

Both list STAGE's files in one order (sorted by path), so the installer installs and the
uninstaller removes exactly the same files. The zip is reproducible: entries in that order,
each with the time EPOCH (seconds since 1970, UTC), fixed permissions and no extra fields.
"""

import os
import sys
import time
import zipfile


def staged(stage):
    """(relative folder, [file names]) for every folder below STAGE, sorted; '' is the top."""
    folders = []
    for root, dirs, files in os.walk(stage):
        dirs.sort()
        rel = os.path.relpath(root, stage)
        folders.append(("" if rel == "." else rel, sorted(files)))
    folders.sort(key=lambda item: item[0])
    return folders


def nsis_string(text):
    # Inside double quotes NSIS expands $ and $\; the staged names use neither quotes nor $.
    if any(c in text for c in '"$`'):
        raise SystemExit("dist-files: a staged name NSIS cannot quote: " + text)
    return text


def win(rel):
    return rel.replace("/", "\\")


def write_nsh(stage, out):
    stage = os.path.abspath(stage)
    folders = staged(stage)
    total = 0
    lines = ["; Written by scripts/make-dist.sh from the staged program folder; do not edit.", ""]
    lines.append("!macro GLIMMERLY_INSTALL_FILES")
    for rel, files in folders:
        lines.append('  SetOutPath "$INSTDIR%s"' % ("\\" + nsis_string(win(rel)) if rel else ""))
        for name in files:
            path = os.path.join(stage, rel, name)
            total += os.path.getsize(path)
            lines.append('  File "%s"' % nsis_string(path))
    lines.append('  SetOutPath "$INSTDIR"')
    lines.append("!macroend")
    lines.append("")
    # Removal: files first, then the thumbnail caches the program writes into the starter
    # folders, then those folders, deepest first; RMDir without /r keeps anything the user
    # put there.
    lines.append("!macro GLIMMERLY_UNINSTALL_FILES")
    for rel, files in folders:
        base = "$INSTDIR" + ("\\" + nsis_string(win(rel)) if rel else "")
        for name in files:
            lines.append('  Delete "%s\\%s"' % (base, nsis_string(name)))
    for rel, _ in sorted(folders, key=lambda item: -item[0].count("/")):
        if not rel:
            continue
        base = "$INSTDIR\\" + nsis_string(win(rel))
        lines.append('  Delete "%s\\_thumbs.idx"' % base)
        lines.append('  Delete "%s\\_thumbs.ctl"' % base)
        lines.append('  RMDir "%s"' % base)
    lines.append("!macroend")
    lines.append("")
    lines.append("!define GLIMMERLY_SIZE_KB %d" % ((total + 1023) // 1024))
    with open(out, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")


def write_zip(stage, out, epoch, folder):
    date_time = time.gmtime(max(int(epoch), 315532800))[:6]  # zip times start in 1980
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for rel, files in staged(stage):
            prefix = folder + "/" + (rel + "/" if rel else "")
            info = zipfile.ZipInfo(prefix, date_time)
            info.external_attr = (0o40755 << 16) | 0x10
            info.create_system = 3
            z.writestr(info, b"")
            for name in files:
                with open(os.path.join(stage, rel, name), "rb") as f:
                    data = f.read()
                info = zipfile.ZipInfo(prefix + name, date_time)
                info.external_attr = 0o100644 << 16
                info.create_system = 3
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data, compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(tmp, out)


def main(argv):
    if len(argv) == 3 and argv[0] == "nsh":
        write_nsh(argv[1], argv[2])
    elif len(argv) == 5 and argv[0] == "zip":
        write_zip(argv[1], argv[2], argv[3], argv[4])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
