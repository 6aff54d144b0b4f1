"""Runs the installer on a demo Vantrel 1.30 in a Wine prefix.

With a display ($DISPLAY) the installer is yours to click through; without
one it runs under Xvfb, presses Install and Finish by itself and leaves
screenshots of its window, Ready and Completed, at 96 and at 144 DPI (the
README shows them). Either way the script then shows what the installer did."""

import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import winehost  # noqa: E402

TITLE = "Install Vantrel Live Update"
UPDATE_LST = """Vantrel,WEB-130,WEB-131,WEB-120,WEB-140,WEB-110
START
FOLDER,SYSTEM
FILE,TVKCOM.DLL
FOLDER,SERVER
FILE,TvkUpdt.exe,README.TXT
FOLDER,SYS
FILE,TVKTYPES.TLB
END
"""


def payload():
    files = {name: winehost.payload(name) for name in ("TVKCOM.dll", "TvkUpdt.exe", "TVKTYPES.TLB")}
    files["README.TXT"] = b"Vantrel Live Update\r\n"
    return files


DPIS = (96, 144)


def window_shot(host, png_path):
    """A screenshot of the installer's window alone."""
    screen = png_path + ".screen.png"
    host.screenshot(screen)
    left, top, right, bottom = host.dump(TITLE)["rect"]
    subprocess.run(["convert", screen, "-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage", png_path],
                   check=True)
    os.remove(screen)


def run_by_itself(host, out, dpi):
    host.wait_window(TITLE, 20000)
    time.sleep(0.5)
    window_shot(host, os.path.join(out, f"ready-{dpi}.png"))
    host.click(TITLE, "Install")
    deadline = time.monotonic() + 120
    while not host.dump(TITLE).find(cls="Button", text="Finish"):
        if time.monotonic() > deadline:
            raise RuntimeError("the install did not complete")
        time.sleep(0.5)
    # Wine's shell opens the new Start-menu group in a window of its own; close it.
    try:
        host.wait_window("Vantrel - Ver 1.30", 5000)
        host.close_window("Vantrel - Ver 1.30")
        host.wait_gone("Vantrel - Ver 1.30", 5000)
    except winehost.UiaError:
        pass
    time.sleep(0.5)
    window_shot(host, os.path.join(out, f"completed-{dpi}.png"))
    host.click(TITLE, "Finish")
    host.wait_gone(TITLE, 20000)


def exists(unix_path):
    """Whether the file exists, its name compared without regard to case,
    as Windows does (the installer writes listed names in upper case)."""
    folder, name = os.path.split(unix_path)
    return os.path.isdir(folder) and name.lower() in (n.lower() for n in os.listdir(folder))


def report(host, out):
    print("\nWhat the installer did:")
    for path in (r"C:\Vantrel\TvkUpdt.exe", r"C:\Vantrel\README.TXT", r"C:\Vantrel\Sys\TVKTYPES.TLB",
                 r"C:\windows\system32\TVKCOM.DLL"):
        print(f"  {path}: {'present' if exists(host.unix_path(path)) else 'MISSING'}")
    ini = open(host.unix_path(r"C:\Vantrel\Sys\TOVASK.INI"), encoding="cp1252").read()
    print("  TOVASK.INI:\n    " + "\n    ".join(ini.split()))
    menu = os.path.join(host.drive_c, "users")
    for base, _, files in os.walk(menu):
        for name in files:
            if name.endswith(".lnk") and "Vantrel" in base:
                print("  Start-menu item:", os.path.relpath(os.path.join(base, name), host.drive_c))
    print(f"\nPrefix kept for inspection: {host.prefix}")
    shots = [f"{out}/{state}-{dpi}.png" for dpi in DPIS for state in ("ready", "completed")]
    if all(os.path.exists(shot) for shot in shots):
        print("Screenshots:", ", ".join(shots))


def main():
    out = os.environ["E2E_WORK"]
    interactive = os.environ.get("E2E_USE_DISPLAY") == "1"
    os.environ["E2E_KEEP"] = "1"
    for old in os.listdir(out):  # the prefix kept by the previous demo
        if old.startswith("demo-"):
            shutil.rmtree(os.path.join(out, old), ignore_errors=True)
    with winehost.WineHost("demo") as host:
        winehost.set_host_setting(host, r"C:\Vantrel")
        installer = winehost.make_package(host, r"C:\VantrelUpdate", UPDATE_LST, payload())
        for dpi in (None,) if interactive else DPIS:
            winehost.make_host_product(host, version="1.30")  # afresh for each run
            if dpi:
                host.set_dpi(dpi)
            process = host.start(host.unix_path(installer), cwd=host.unix_path(r"C:\VantrelUpdate"))
            if interactive:
                print("The installer is running on your display; close it to see what it did.")
                process.wait(3600)
            else:
                run_by_itself(host, out, dpi)
        report(host, out)


if __name__ == "__main__":
    main()
