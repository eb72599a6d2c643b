#!/usr/bin/env python3
"""Times whole runs of the program on a large registry (1,000 USBSTOR device-type keys with one instance each,
every instance with its class and its four dates as Windows 8 and later keep them, 3,000 USBSTOR interface
entries, 500 USB devices of which 50 are UAS drives, 60 SCSI disks of which 50 are those drives, each with a
disk interface entry) and, on the same prefix and Wine server, `reg query KEY /s` over the five keys the
program reads. Prints both figures and their ratio. Not a test.

  python3 tools/bench_run.py [--devices N] [--instances K] [--repeats R] [EXE...]
      N device-type keys (1,000) of K instances each (1); EXE by default build/win64/vestigia.exe; several
      EXEs (a build before a change and after it) take turns in every round, beside the same reg query, so
      their ratios come from one run on one machine load; median of R rounds (3); the prefix goes to
      build/bench
"""

import argparse, os, pathlib, statistics, subprocess, sys, time

ROOT = pathlib.Path(__file__).resolve().parents[1]
# The run's time zone and code page, read from the file that the bash scripts source too.
RUN = dict(line.split("=", 1) for line in (ROOT / "tools" / "run.env").read_text().splitlines()
           if line and not line.startswith("#"))
ARGS = argparse.ArgumentParser()
ARGS.add_argument("--devices", type=int, default=1000)
ARGS.add_argument("--instances", type=int, default=1)
ARGS.add_argument("--repeats", type=int, default=3)
ARGS.add_argument("exe", nargs="*", default=[ROOT / "build" / "win64" / "vestigia.exe"])
ARGS = ARGS.parse_args()
EXES = [pathlib.Path(exe).resolve() for exe in ARGS.exe]
PREFIX = ROOT / "build" / "bench" / "prefix"
KEYS = [r"SYSTEM\CurrentControlSet\Enum\USBSTOR",
        r"SYSTEM\CurrentControlSet\Control\DeviceClasses\{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
        r"SYSTEM\CurrentControlSet\Control\DeviceClasses\{53f56308-b6bf-11d0-94f2-00a0c91efb8b}",
        r"SYSTEM\CurrentControlSet\Enum\USB", r"SYSTEM\CurrentControlSet\Enum\SCSI"]
DEVICES, INSTANCES, USB_DEVICES, UAS_DRIVES, INTERNAL_DISKS = ARGS.devices, ARGS.instances, 500, 50, 10
REPEATS = ARGS.repeats
ENTRIES = 3 * DEVICES


def section(path, values=""):
    """A system.reg section of a key written 2020-01-01 00:00:00 UTC."""
    return "[%s] 1577836800\n#time=1d5c03669a5c000\n%s\n" % (path.replace("\\", "\\\\"), values)


def registry():
    """Three entries per device, two disk and one CD-ROM; every tenth names a device without a type key."""
    text = "".join(section(key) for key in KEYS)
    for i in range(DEVICES):
        name = KEYS[0] + "\\Disk&Ven_Bench%04d&Prod_Stick&Rev_1.00" % i
        text += section(name)
        for k in range(INSTANCES):
            instance = name + "\\%012d&%d" % (i, k)
            text += section(instance, '"FriendlyName"="Bench Stick %d USB Device"\n"DeviceDesc"="Disk drive"\n'
                                      '"ClassGUID"="{4d36e967-e325-11ce-bfc1-08002be10318}"\n' % i)
            # Its install, first install, last arrival and last removal dates (2019-08-26).
            text += "".join(section(instance + "\\Properties\\{83da6326-97a6-4088-9453-a1923f573b29}\\%04X" % pid,
                                    "@=hex(ffff0010):00,50,90,66,03,5c,d5,01\n") for pid in range(100, 104))
    for j in range(ENTRIES):
        device = "Disk&Ven_Bench%04d&Prod_Stick&Rev_1.00" % (j // 3) if j % 10 else "Disk&Ven_Gone%04d&Prod_X" % j
        key = KEYS[2 if j % 3 == 2 else 1]
        entry = key + "\\##?#USBSTOR#%s#%012d&%d#%s" % (device, j // 3, j % 3, key[-38:])
        text += section(entry, '"DeviceInstance"="USBSTOR"\n') + section(entry + "\\#")
    return text + uas_registry()


def instance_values(service, container, description):
    """An instance key's values as Windows writes them, the service and container among a dozen others."""
    return ('"DeviceDesc"="%s"\n"LocationInformation"="Port_#0001.Hub_#0002"\n"Capabilities"=dword:00000084\n'
            '"Address"=dword:00000001\n"ContainerID"="%s"\n"HardwareID"=hex(7):55,00,00,00,00,00\n'
            '"CompatibleIDs"=hex(7):55,00,00,00,00,00\n"ClassGUID"="{36fc9e60-c465-11cf-8056-444553540000}"\n'
            '"Service"="%s"\n"Driver"="{36fc9e60-c465-11cf-8056-444553540000}\\\\0001"\n"Mfg"="@usb.inf,%%m%%;(Std)"\n'
            '"ConfigFlags"=dword:00000000\n' % (description, container, service))


def uas_registry():
    """USB devices, every tenth a UAS drive with its own container; SCSI disks, the first 50 those drives'."""
    container = lambda i: "{%08x-0000-5000-8000-%012x}" % (i, i)
    text = ""
    for i in range(USB_DEVICES):
        device = KEYS[3] + "\\VID_%04X&PID_%04X" % (0x1000 + i, i)
        uas = i % 10 == 0
        text += section(device) + section(device + "\\SERIAL%06d" % i, instance_values(
            "UASPStor" if uas else "HidUsb", container(i), "@usb.inf,%usb%;USB Device"))
    for i in range(UAS_DRIVES + INTERNAL_DISKS):
        name = "Disk&Ven_Bench%02d&Prod_SSD" % i
        text += section(KEYS[4] + "\\" + name) + section(KEYS[4] + "\\%s\\000000" % name, instance_values(
            "disk", container(10 * i) if i < UAS_DRIVES else "{00000000-0000-0000-FFFF-FFFFFFFFFFFF}",
            "@disk.inf,%disk_devdesc%;Disk drive") + '"FriendlyName"="Bench %d SCSI Disk Device"\n' % i)
        entry = KEYS[1] + "\\##?#SCSI#%s#000000#%s" % (name, KEYS[1][-38:])
        text += section(entry, '"DeviceInstance"="SCSI"\n') + section(entry + "\\#")
    return text


def main():
    env = dict(os.environ, WINEPREFIX=str(PREFIX), TZ=RUN["RUN_TIMEZONE"], VESTIGIA_CODEPAGE=RUN["RUN_CODEPAGE"])
    wine = lambda *args: subprocess.run([ROOT / "tools" / "wine-run.sh", *args], env=env, check=True,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
    pristine = ROOT / "build" / "win64" / "wine" / "pristine"
    subprocess.run([ROOT / "tools" / "wine-prefix.sh", "pristine", pristine], check=True)
    subprocess.run([ROOT / "tools" / "wine-prefix.sh", "copy", pristine, PREFIX], check=True)
    with open(PREFIX / "system.reg", "a", encoding="ascii") as reg:
        reg.write("\n" + registry())
    desktop = PREFIX / "drive_c" / "users" / "Public" / "Desktop"
    subprocess.run(["wineserver", "-p"], env=env, check=True)
    try:
        wine("cmd.exe", "/c", "exit")  # starts Wine's services, which then keep no pipe of ours
        runs, queries = {exe: [] for exe in EXES}, []
        for _ in range(REPEATS):
            for exe in EXES:
                start = time.monotonic()
                wine(exe)
                runs[exe].append(time.monotonic() - start)
                reports = list(desktop.iterdir())
                size = reports[0].stat().st_size
                for report in reports:
                    report.unlink()
            start = time.monotonic()
            for key in KEYS:
                wine("reg", "query", "HKLM\\" + key, "/s")
            queries.append(time.monotonic() - start)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
    query = statistics.median(queries)
    print("registry: %d USBSTOR device-type keys of %d instances, %d USBSTOR interface entries, %d USB devices, "
          "%d SCSI disks (%d UAS); report %d bytes" % (DEVICES, INSTANCES, ENTRIES, USB_DEVICES,
                                                      UAS_DRIVES + INTERNAL_DISKS, UAS_DRIVES, size))
    print("reg query /s, 5 keys: %.2f s (median of %d: %s)" % (query, REPEATS, ", ".join("%.2f" % q for q in queries)))
    for exe in EXES:
        run = statistics.median(runs[exe])
        print("%s whole run:  %.2f s (median of %d: %s); ratio run / reg query: %.2f"
              % (exe, run, REPEATS, ", ".join("%.2f" % r for r in runs[exe]), run / query))


if __name__ == "__main__":
    main()
