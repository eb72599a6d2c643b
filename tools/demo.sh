#!/usr/bin/env bash
# Builds the program and runs it once on a built-in sample registry (a few USB sticks and a USB DVD drive,
# filling all three report sections) in a demo Wine prefix under build/. Without a DISPLAY the run gets a
# private Xvfb, so the completion box is really shown; it is photographed and dismissed. Prints the report's
# path and the report converted to UTF-8.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# VESTIGIA_BUILD picks another build directory of the win64 preset (default build/win64).
build=${VESTIGIA_BUILD:-$root/build/win64}
tools/setup.sh
cmake --preset win64 -B "$build" >/dev/null
cmake --build "$build" --target vestigia
tools/wine-prefix.sh pristine "$build/wine/pristine"

VESTIGIA_BUILD=$build exec python3 - "$root" <<'PY'
import os, pathlib, subprocess, sys
root = pathlib.Path(sys.argv[1])
os.environ.setdefault("VESTIGIA_E2E_WORK", str(root / "build" / "demo"))
sys.path.insert(0, str(root / "tests" / "e2e"))
import harness, fixtures

prefix = harness.Prefix("prefix", fixtures.three_sections())
shot = harness.WORK / "message_box.png"
if os.environ.get("DISPLAY"):
    print("The box is on your display; press OK to finish.", flush=True)
    proc = prefix.start([harness.EXE], display=os.environ["DISPLAY"])
    code = proc.wait(timeout=3600)
    prefix.stop_server()
    files = prefix.desktop_files()
else:
    # Xvfb has no window manager to draw title bars, so the box is shown inside a small Wine desktop, which
    # draws its frame and caption; the screenshot is then cut to that desktop.
    DESKTOP = "560x240"
    with open(prefix.path / "user.reg", "a", encoding="ascii") as reg:
        reg.write('\n[Software\\\\Wine\\\\Explorer] 0\n"Desktop"="Default"\n'
                  '\n[Software\\\\Wine\\\\Explorer\\\\Desktops] 0\n"Default"="%s"\n' % DESKTOP)
    with harness.xvfb() as display:
        result = prefix.run(display=display, screenshot=shot)
    code, files = result.exit_code, result.files
    subprocess.run(["/usr/bin/convert", shot, "-crop", DESKTOP + "+0+0", "+repage", shot], check=True, timeout=60)
    print("screenshot of the box:", shot)
name = sorted(files)[-1] if files else None
print("exit code:", code)
if name is None:
    sys.exit("no report was written")
print("report:", prefix.desktop / name)
print("        (C:\\users\\Public\\Desktop\\%s inside the prefix)" % name)
print()
sys.stdout.write(files[name].decode("cp950").replace("\r\n", "\n"))
PY
