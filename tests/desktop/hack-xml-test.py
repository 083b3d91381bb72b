#!/usr/bin/env python3
"""The XScreenSaver hack description, tools/xscreensaver/chaos-trails.xml:
it parses, names the program XScreenSaver will start (chaos-trails, the
link to trails beside it in the build), asks for a GL visual, and every
command line it can produce is one the program accepts: each is run for two
frames on the root window of a virtual display.

    hack-xml-test.py XML CHAOS_TRAILS_PROGRAM
"""
import os
import shlex
import subprocess
import sys
import xml.etree.ElementTree as ElementTree


def option_variants(root):
    """The argument lists the settings dialog can add, one per setting."""
    variants = []
    for element in root.iter():
        if element.tag == "boolean":
            for key in ("arg-set", "arg-unset"):
                if element.get(key):
                    variants.append(shlex.split(element.get(key)))
        elif element.tag == "number":
            variants.append(shlex.split(element.get("arg").replace("%", element.get("default", "1"))))
        elif element.tag == "option" and element.get("arg-set"):
            variants.append(shlex.split(element.get("arg-set")))
    return variants


def main():
    xml_path, program = sys.argv[1], sys.argv[2]
    failures = []
    root = ElementTree.parse(xml_path).getroot()
    if root.tag != "screensaver":
        failures.append("the root element is <%s>, want <screensaver>" % root.tag)
    if root.get("name") != "chaos-trails" or os.path.basename(program) != "chaos-trails":
        failures.append("the hack is named %r; XScreenSaver starts the program of that name" % root.get("name"))
    if not root.get("_label"):
        failures.append("no _label for the list of hacks")
    if root.get("gl") != "yes":
        failures.append("no gl=\"yes\": XScreenSaver would not give the hack a GL visual")
    description = root.find("_description")
    if description is None or len(description.text.split()) < 10:
        failures.append("no description")
    command = []
    for element in root.findall("command"):
        command += shlex.split(element.get("arg"))
    if "-root" not in command:
        failures.append("the command does not draw on the root window (-root)")

    usage = subprocess.run([program, "--help"], capture_output=True, text=True).stdout
    variants = option_variants(root)
    if not variants:
        failures.append("no settings")
    for variant in [[]] + variants:
        for argument in variant:
            if argument.startswith("-") and "-" + argument.lstrip("-") not in usage.replace("--", "-"):
                failures.append("%s is not in the program's usage" % argument)
        line = [program] + command + variant + ["-frames", "2"]
        environment = dict(os.environ, ASAN_OPTIONS="detect_leaks=0")
        environment.pop("XSCREENSAVER_WINDOW", None)
        ran = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 320x200x24"] + line, capture_output=True,
                             text=True, env=environment, timeout=120)
        shown = " ".join(line[1:])
        if ran.returncode != 0 or "2 frames and" not in ran.stdout:
            failures.append("'%s' exited %d: %s%s" % (shown, ran.returncode, ran.stdout, ran.stderr))
        elif "into the root window" not in ran.stdout:
            failures.append("'%s' did not draw on the root window: %s" % (shown, ran.stdout))
        else:
            print("ok: chaos-trails %s" % shown)
    for failure in failures:
        print("FAILED: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
