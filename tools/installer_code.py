"""The installer's own code as the publishing tools call it: the development
build's verify_release.exe (the installer's reader, rules, signature check and
transfers), run under Wine in the build's private prefix."""
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def build_dir():
    return os.environ.get("KESTRELUME_BUILD_DIR") or os.path.join(ROOT, "build", "dev")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_built(tool):
    """Builds verify_release.exe and its Wine prefix when they are missing."""
    build = build_dir()
    prefix = os.environ.get("KESTRELUME_WINEPREFIX") or os.path.join(build, "wineprefix")
    exe = os.path.join(build, "verify_release.exe")
    if not os.path.exists(exe) or not os.path.exists(os.path.join(prefix, ".ready")):
        print("%s: building verify_release.exe (dev preset) first" % tool, file=sys.stderr)
        steps = [[os.path.join(ROOT, "tools", "install-deps")], ["cmake", "--preset", "dev"],
                 ["cmake", "--build", "--preset", "dev", "--target", "verify_release", "kestrelume_wineprefix"]]
        for step in steps:
            if subprocess.run(step, cwd=ROOT, stdout=subprocess.DEVNULL).returncode != 0:
                sys.exit("%s: %s failed" % (tool, " ".join(step)))
    return prefix, exe


def run(tool, arguments):
    """verify_release's exit code and output lines."""
    prefix, exe = ensure_built(tool)
    result = subprocess.run([os.path.join(ROOT, "tools", "wine-run"), prefix, exe] + arguments,
                            capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if result.returncode == 2:
        sys.exit("%s: %s" % (tool, result.stderr.strip()))
    return result.returncode, result.stdout.splitlines()


def key_arguments(keys):
    return ["--keys", ";".join(keys)]


def value(lines, label):
    """The text after "label:" on the first line that has it, or None."""
    for line in lines:
        if line.startswith(label + ":"):
            return line[len(label) + 1:].strip()
    return None


def values(lines, label):
    return [line[len(label) + 1:].strip() for line in lines if line.startswith(label + ":")]
